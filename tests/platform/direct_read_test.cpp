// Unbuffered reads that ask for far more than the file holds: the stand-in
// asks the kernel only for the rest of the file, so these check that no byte
// is lost at the end, in the middle, or when the file grows between reads.
#include "tests/platform/platform_test_support.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using platform_test::Open;
using testing_support::PatternBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

constexpr DWORD kBlock = 4 * 1024 * 1024;  // the copy engine's small-file block

struct AlignedFree {
  void operator()(void* block) const { std::free(block); }
};

class DirectRead : public ::testing::Test {
 protected:
  void SetUp() override {
    void* block = nullptr;
    ASSERT_EQ(::posix_memalign(&block, 4096, kBlock), 0);
    buffer.reset(static_cast<uint8_t*>(block));
  }

  HANDLE OpenUnbuffered(const std::string& path) {
    return Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN);
  }

  // One read of length bytes; the count, or -1 when it failed.
  long long ReadOnce(HANDLE handle, DWORD length) {
    DWORD count = 0;
    if (!ReadFile(handle, buffer.get(), length, &count, nullptr)) return -1;
    return count;
  }

  TempDir dir;
  std::unique_ptr<uint8_t, AlignedFree> buffer;
};

TEST_F(DirectRead, WholeBlockRequestGivesEveryByteOfAFileOfOddSizeThenZero) {
  for (size_t size : {size_t{65536}, size_t{65537}, size_t{200001}, size_t{1048576 + 12345}}) {
    SCOPED_TRACE(size);
    const std::string path = dir.File("odd-" + std::to_string(size) + ".bin");
    const auto content = PatternBytes(size, static_cast<uint32_t>(size));
    WriteBytes(path, content);
    HANDLE reader = OpenUnbuffered(path);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_EQ(ReadOnce(reader, kBlock), static_cast<long long>(size));
    EXPECT_EQ(std::memcmp(buffer.get(), content.data(), size), 0);
    EXPECT_EQ(ReadOnce(reader, kBlock), 0);
    CloseHandle(reader);
  }
}

TEST_F(DirectRead, RequestFromTheMiddleGivesTheRestOfTheFile) {
  const std::string path = dir.File("middle.bin");
  const auto content = PatternBytes(300000, 7);
  WriteBytes(path, content);
  HANDLE reader = OpenUnbuffered(path);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  ASSERT_EQ(ReadOnce(reader, 131072), 131072);
  ASSERT_EQ(ReadOnce(reader, kBlock), 300000 - 131072);
  EXPECT_EQ(std::memcmp(buffer.get(), content.data() + 131072, 300000 - 131072), 0);
  CloseHandle(reader);
}

TEST_F(DirectRead, BytesAppendedAfterAShortReadAreReadNext) {
  const std::string path = dir.File("growing.bin");
  const auto content = PatternBytes(200000, 9);
  WriteBytes(path, std::vector<uint8_t>(content.begin(), content.begin() + 70000));
  HANDLE reader = OpenUnbuffered(path);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  // Unbuffered reads start at whole sectors: go back to one before the end.
  ASSERT_EQ(ReadOnce(reader, kBlock), 70000);
  {
    std::ofstream append(path, std::ios::binary | std::ios::app);
    append.write(reinterpret_cast<const char*>(content.data()) + 70000, 130000);
  }
  LARGE_INTEGER start;
  start.QuadPart = 65536;
  ASSERT_TRUE(SetFilePointerEx(reader, start, nullptr, FILE_BEGIN));
  ASSERT_EQ(ReadOnce(reader, kBlock), 200000 - 65536);
  EXPECT_EQ(std::memcmp(buffer.get(), content.data() + 65536, 200000 - 65536), 0);
  CloseHandle(reader);
}

// The size a handle's open saw stops serving once the handle itself has
// changed the file: what it wrote is read back whole.
TEST_F(DirectRead, WhatTheHandleWroteIsReadBackWhole) {
  const std::string path = dir.File("written.bin");
  WriteBytes(path, PatternBytes(4096, 3));
  HANDLE handle = Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                       FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  const auto content = PatternBytes(3 * 65536, 11);
  std::memcpy(buffer.get(), content.data(), content.size());
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(handle, buffer.get(), static_cast<DWORD>(content.size()), &written, nullptr));
  LARGE_INTEGER start;
  start.QuadPart = 0;
  ASSERT_TRUE(SetFilePointerEx(handle, start, nullptr, FILE_BEGIN));
  std::memset(buffer.get(), 0, content.size());
  ASSERT_EQ(ReadOnce(handle, kBlock), static_cast<long long>(content.size()));
  EXPECT_EQ(std::memcmp(buffer.get(), content.data(), content.size()), 0);
  CloseHandle(handle);
}

}  // namespace
