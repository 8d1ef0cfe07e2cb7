// ReadChunk and WriteChunk: sector rounding, reported counts, end of file,
// failures, unbuffered I/O where the platform has it, and write-through
// destinations.
#include "engine/win32_file.h"
#include "platform/testing/fault_injection.h"
#include "tests/engine/primitives/primitives_test_support.h"
#include "tests/support/test_support.h"

#if QUILLMERE_POSIX_STANDIN
#include <fcntl.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using primitives_test::AlignedBuffer;
using primitives_test::OpenedFile;
using quillmere::OpenDestination;
using quillmere::OpenForVerify;
using quillmere::OpenSource;
using quillmere::ReadChunk;
using quillmere::WriteChunk;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

class BlockIo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(buffer.get(), nullptr);
    auto pattern = PatternBytes(kBufferSize, 21);
    std::memcpy(buffer.get(), pattern.data(), kBufferSize);
  }
  void TearDown() override { fault_injection::ResetFileFaults(); }

  static constexpr uint32_t kBufferSize = 16384;
  TempDir dir;
  AlignedBuffer buffer{kBufferSize, 4096};
};

struct RoundingCase {
  uint32_t length;
  uint32_t sector;
  uint64_t onDisk;
};

TEST_F(BlockIo, WriteCoversWholeSectorsButReportsOnlyTheLengthAsked) {
  const RoundingCase cases[] = {{1, 4096, 4096}, {4097, 4096, 8192}, {8192, 4096, 8192}};
  for (const RoundingCase& c : cases) {
    std::string path = dir.File("rounded-" + std::to_string(c.length) + ".bin");
    {
      OpenedFile dest(OpenDestination(path, 0));
      ASSERT_TRUE(dest->ok);
      uint32_t written = 0;
      uint32_t code = 99;
      ASSERT_TRUE(WriteChunk(dest->handle, buffer.get(), c.length, c.sector, written, code));
      EXPECT_EQ(written, c.length);
      EXPECT_EQ(code, 0u);
    }
    auto onDisk = ReadBytes(path);
    ASSERT_EQ(onDisk.size(), c.onDisk) << c.length;
    EXPECT_EQ(std::memcmp(onDisk.data(), buffer.get(), onDisk.size()), 0);
  }
}

TEST_F(BlockIo, WriteWithoutSectorSizeWritesExactlyTheLength) {
  std::string path = dir.File("exact.bin");
  HANDLE handle = CreateFileW(fs::path(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  uint32_t written = 0;
  uint32_t code = 99;
  EXPECT_TRUE(WriteChunk(handle, buffer.get(), 1000, 0, written, code));
  quillmere::CloseIfOpen(handle);
  EXPECT_EQ(written, 1000u);
  EXPECT_EQ(fs::file_size(path), 1000u);
}

TEST_F(BlockIo, ReadGivesTheFileThenZeroBytesAtItsEnd) {
  std::string path = dir.File("source.bin");
  auto content = PatternBytes(10000, 5);
  WriteBytes(path, content);
  OpenedFile source(OpenSource(path));
  ASSERT_TRUE(source->ok);
  uint32_t count = 0;
  uint32_t code = 99;
  ASSERT_TRUE(ReadChunk(source->handle, buffer.get(), kBufferSize, count, code));
  EXPECT_EQ(count, 10000u);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(std::memcmp(buffer.get(), content.data(), content.size()), 0);

  count = 99;
  code = 99;
  EXPECT_TRUE(ReadChunk(source->handle, buffer.get(), kBufferSize, count, code));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(code, 0u);
}

TEST_F(BlockIo, VerifyHandleReadsAnyLengthIntoAnyBuffer) {
  std::string path = dir.File("verify.bin");
  auto content = PatternBytes(3000, 6);
  WriteBytes(path, content);
  OpenedFile verify(OpenForVerify(path));
  ASSERT_TRUE(verify->ok);
  std::vector<uint8_t> plain(1001);
  uint32_t count = 0;
  uint32_t code = 0;
  ASSERT_TRUE(ReadChunk(verify->handle, plain.data() + 1, 1000, count, code));
  EXPECT_EQ(count, 1000u);
  EXPECT_EQ(std::memcmp(plain.data() + 1, content.data(), 1000), 0);
}

#if QUILLMERE_POSIX_STANDIN

bool FolderSupportsDirectIo(const std::string& folder) {
  std::string probe = folder + "/direct-probe";
  int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY | O_DIRECT, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

TEST_F(BlockIo, CopyHandlesAreUnbufferedWhereTheFileSystemAllowsIt) {
  if (!FolderSupportsDirectIo(dir.path().string())) {
    GTEST_SKIP() << "the temporary folder's file system has no direct I/O";
  }
  std::string path = dir.File("direct.bin");
  WriteBytes(path, PatternBytes(8192));
  {
    OpenedFile dest(OpenDestination(dir.File("out.bin"), 8192));
    ASSERT_TRUE(dest->ok);
    EXPECT_TRUE(fault_injection::HandleUsesDirectIo(dest->handle));
    uint32_t written = 0;
    uint32_t code = 0;
    ASSERT_TRUE(WriteChunk(dest->handle, buffer.get(), 8192, 4096, written, code));
    EXPECT_TRUE(fault_injection::HandleUsesDirectIo(dest->handle)) << "aligned write taken as is";
  }
  OpenedFile source(OpenSource(path));
  ASSERT_TRUE(source->ok);
  EXPECT_TRUE(fault_injection::HandleUsesDirectIo(source->handle));
  OpenedFile verify(OpenForVerify(path));
  ASSERT_TRUE(verify->ok);
  EXPECT_FALSE(fault_injection::HandleUsesDirectIo(verify->handle)) << "verification is buffered";
}

// A write of the copy is on the disk when it returns, whether the file
// system takes direct I/O or not: the destination's descriptor is
// synchronous either way.
TEST_F(BlockIo, DestinationWritesThroughWithOrWithoutDirectIo) {
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "direct I/O refused" : "direct I/O where the file system has it");
    fault_injection::RefuseDirectIo(refused);
    OpenedFile dest(OpenDestination(dir.File("through.bin"), 4096));
    ASSERT_TRUE(dest->ok);
    if (refused) {
      EXPECT_FALSE(fault_injection::HandleUsesDirectIo(dest->handle));
    }
    const int status = ::fcntl(fault_injection::HandleDescriptor(dest->handle), F_GETFL);
    ASSERT_GE(status, 0);
    EXPECT_NE(status & O_DSYNC, 0);
  }
}

#endif  // QUILLMERE_POSIX_STANDIN

TEST_F(BlockIo, FailedReadReportsTheCode) {
  std::string path = dir.File("failing.bin");
  WriteBytes(path, PatternBytes(4096));
  OpenedFile source(OpenSource(path));
  ASSERT_TRUE(source->ok);
  fault_injection::FailReads(1, 1, 1117);
  uint32_t count = 99;
  uint32_t code = 0;
  EXPECT_FALSE(ReadChunk(source->handle, buffer.get(), 4096, count, code));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(code, 1117u);
}

TEST_F(BlockIo, FailedWriteReportsNothingWrittenAndTheCode) {
  OpenedFile dest(OpenDestination(dir.File("full.bin"), 0));
  ASSERT_TRUE(dest->ok);
  fault_injection::FailWrites(1, 1, 112);
  uint32_t written = 99;
  uint32_t code = 0;
  EXPECT_FALSE(WriteChunk(dest->handle, buffer.get(), 4096, 4096, written, code));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(code, 112u);
}

TEST_F(BlockIo, ShortWriteIsReportedButNeverBeyondTheLengthAsked) {
  OpenedFile dest(OpenDestination(dir.File("short.bin"), 0));
  ASSERT_TRUE(dest->ok);
  uint32_t written = 0;
  uint32_t code = 0;
  fault_injection::ShortenWrites(1, 1, 100);
  EXPECT_TRUE(WriteChunk(dest->handle, buffer.get(), 4097, 4096, written, code));
  EXPECT_EQ(written, 100u);
  fault_injection::ShortenWrites(1, 1, 5000);
  EXPECT_TRUE(WriteChunk(dest->handle, buffer.get(), 4097, 4096, written, code));
  EXPECT_EQ(written, 4097u) << "the sector tail never counts";
}

}  // namespace
