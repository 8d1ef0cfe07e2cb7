// ReadFile, WriteFile, positioning and unbuffered I/O of the stand-in, and
// its fault seam.
#include "platform/testing/fault_injection.h"
#include "tests/platform/platform_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using platform_test::kExclusive;
using platform_test::Open;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

struct AlignedFree {
  void operator()(void* block) const { std::free(block); }
};
using AlignedBlock = std::unique_ptr<uint8_t, AlignedFree>;

AlignedBlock Aligned(size_t size) {
  void* block = nullptr;
  if (::posix_memalign(&block, 4096, size) != 0) return AlignedBlock();
  return AlignedBlock(static_cast<uint8_t*>(block));
}

// Whether the folder's file system takes O_DIRECT at all.
bool FolderSupportsDirectIo(const std::string& folder) {
  std::string probe = folder + "/direct-probe";
  int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY | O_DIRECT, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

class FileIo : public ::testing::Test {
 protected:
  void TearDown() override { fault_injection::ResetFileFaults(); }
  TempDir dir;
};

TEST_F(FileIo, UnbufferedFlagUsesDirectIoWhereTheFileSystemHasIt) {
  std::string path = dir.File("direct.bin");
  HANDLE writer = Open(path, GENERIC_WRITE, kExclusive, CREATE_ALWAYS,
                       FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  int flags = ::fcntl(fault_injection::HandleDescriptor(writer), F_GETFL);
  EXPECT_NE(flags & O_DSYNC, 0) << "write-through writes are synchronous";
  if (FolderSupportsDirectIo(dir.path().string())) {
    EXPECT_TRUE(fault_injection::HandleUsesDirectIo(writer));
    EXPECT_NE(flags & O_DIRECT, 0);
  } else {
    EXPECT_FALSE(fault_injection::HandleUsesDirectIo(writer));
  }
  CloseHandle(writer);

  HANDLE buffered = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN);
  ASSERT_NE(buffered, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(fault_injection::HandleUsesDirectIo(buffered));
  CloseHandle(buffered);
}

TEST_F(FileIo, UnbufferedReadGivesTheShortTailThenZeroAtTheEnd) {
  std::string path = dir.File("short.bin");
  auto content = PatternBytes(10000, 3);
  WriteBytes(path, content);
  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                       FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  AlignedBlock buffer = Aligned(16384);
  DWORD count = 99;
  ASSERT_TRUE(ReadFile(reader, buffer.get(), 16384, &count, nullptr));
  ASSERT_EQ(count, 10000u);
  EXPECT_EQ(std::memcmp(buffer.get(), content.data(), content.size()), 0);
  count = 99;
  EXPECT_TRUE(ReadFile(reader, buffer.get(), 16384, &count, nullptr));
  EXPECT_EQ(count, 0u);
  CloseHandle(reader);
}

TEST_F(FileIo, MisalignedTransfersOnUnbufferedHandleStillWork) {
  std::string path = dir.File("odd.bin");
  auto content = PatternBytes(5000, 4);
  HANDLE writer = Open(path, GENERIC_WRITE, kExclusive, CREATE_ALWAYS, FILE_FLAG_NO_BUFFERING);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(writer, content.data() + 1, 4999, &count, nullptr));
  EXPECT_EQ(count, 4999u);
  CloseHandle(writer);
  EXPECT_EQ(ReadBytes(path), std::vector<uint8_t>(content.begin() + 1, content.end()));

  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> back(300);
  ASSERT_TRUE(ReadFile(reader, back.data() + 1, 299, &count, nullptr));
  EXPECT_EQ(count, 299u);
  EXPECT_EQ(std::memcmp(back.data() + 1, content.data() + 1, 299), 0);
  CloseHandle(reader);
}

TEST_F(FileIo, PositionAndEndOfFileFollowTheHandle) {
  std::string path = dir.File("sized.bin");
  HANDLE handle = Open(path, GENERIC_WRITE, kExclusive, CREATE_ALWAYS);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  LARGE_INTEGER distance;
  distance.QuadPart = 10000;
  LARGE_INTEGER position;
  position.QuadPart = -1;
  ASSERT_TRUE(SetFilePointerEx(handle, distance, &position, FILE_BEGIN));
  EXPECT_EQ(position.QuadPart, 10000);
  ASSERT_TRUE(SetEndOfFile(handle));
  EXPECT_EQ(std::filesystem::file_size(path), 10000u);

  distance.QuadPart = -4000;
  ASSERT_TRUE(SetFilePointerEx(handle, distance, &position, FILE_END));
  EXPECT_EQ(position.QuadPart, 6000);
  ASSERT_TRUE(SetEndOfFile(handle));
  EXPECT_EQ(std::filesystem::file_size(path), 6000u);

  // A move to before the start fails with Windows' own code, from any
  // origin, and leaves the position where it was.
  distance.QuadPart = -1;
  EXPECT_FALSE(SetFilePointerEx(handle, distance, nullptr, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  distance.QuadPart = -6001;
  EXPECT_FALSE(SetFilePointerEx(handle, distance, nullptr, FILE_CURRENT));
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_FALSE(SetFilePointerEx(handle, distance, nullptr, FILE_END));
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  distance.QuadPart = 0;
  ASSERT_TRUE(SetFilePointerEx(handle, distance, &position, FILE_CURRENT));
  EXPECT_EQ(position.QuadPart, 6000);
  // Its descriptor is open for reading too where it can be; the handle
  // still may only write.
  char byte = 0;
  DWORD count = 7;
  distance.QuadPart = 0;
  ASSERT_TRUE(SetFilePointerEx(handle, distance, nullptr, FILE_BEGIN));
  EXPECT_FALSE(ReadFile(handle, &byte, 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(count, 0u);
  CloseHandle(handle);

  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(SetEndOfFile(reader));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(reader);
  EXPECT_EQ(std::filesystem::file_size(path), 6000u);
}

// SetEndOfFile cuts where the handle stands: reads and writes move it.
TEST_F(FileIo, ReadsAndWritesMoveThePlaceSetEndOfFileCutsAt) {
  std::string path = dir.File("moved.bin");
  WriteBytes(path, PatternBytes(100));
  HANDLE handle = Open(path, GENERIC_READ | GENERIC_WRITE, kExclusive, OPEN_EXISTING);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> bytes(30);
  DWORD count = 0;
  ASSERT_TRUE(ReadFile(handle, bytes.data(), 30, &count, nullptr));
  ASSERT_TRUE(SetEndOfFile(handle));
  EXPECT_EQ(std::filesystem::file_size(path), 30u);
  LARGE_INTEGER distance;
  distance.QuadPart = 10;
  ASSERT_TRUE(SetFilePointerEx(handle, distance, nullptr, FILE_BEGIN));
  ASSERT_TRUE(WriteFile(handle, "abcde", 5, &count, nullptr));
  ASSERT_TRUE(SetEndOfFile(handle));
  EXPECT_EQ(std::filesystem::file_size(path), 15u);
  CloseHandle(handle);
}

TEST_F(FileIo, SeamFailsTheArmedReadsAndCountsEveryCall) {
  std::string path = dir.File("seam.bin");
  WriteBytes(path, PatternBytes(300));
  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  fault_injection::FailReads(2, 1, ERROR_IO_DEVICE);
  char buffer[100];
  DWORD count = 7;
  EXPECT_TRUE(ReadFile(reader, buffer, 100, &count, nullptr));
  EXPECT_EQ(count, 100u);
  EXPECT_FALSE(ReadFile(reader, buffer, 100, &count, nullptr));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE);
  EXPECT_TRUE(ReadFile(reader, buffer, 100, &count, nullptr));
  EXPECT_EQ(count, 100u) << "the failed call read nothing";
  EXPECT_EQ(fault_injection::ReadCalls(), 3u);
  CloseHandle(reader);
}

TEST_F(FileIo, SeamFailsOrShortensTheArmedWrites) {
  std::string path = dir.File("seam-write.bin");
  HANDLE writer = Open(path, GENERIC_WRITE, kExclusive, CREATE_ALWAYS);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  auto data = PatternBytes(1000, 9);
  fault_injection::FailWrites(1, 1, ERROR_DISK_FULL);
  DWORD count = 5;
  EXPECT_FALSE(WriteFile(writer, data.data(), 1000, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(count, 0u);

  fault_injection::ShortenWrites(1, 2, 300);
  EXPECT_TRUE(WriteFile(writer, data.data(), 1000, &count, nullptr));
  EXPECT_EQ(count, 300u);
  fault_injection::ShortenWrites(1, 1, 0);
  EXPECT_TRUE(WriteFile(writer, data.data() + 300, 700, &count, nullptr));
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(WriteFile(writer, data.data() + 300, 700, &count, nullptr));
  EXPECT_EQ(count, 700u);
  EXPECT_EQ(fault_injection::WriteCalls(), 2u);
  CloseHandle(writer);
  EXPECT_EQ(ReadBytes(path), data);
}

}  // namespace
