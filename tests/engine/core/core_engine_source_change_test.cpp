// Files that change under the engine: a source that shrinks or grows after
// it was measured or is written while it is read, a destination altered
// before it is verified. And whether
// the copy's writes bypass the page cache.
#include "tests/engine/core/core_engine_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>

#if QUILLMERE_POSIX_STANDIN
#include "engine/win32_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using quillmere_test::BlockOptions;
using quillmere_test::CoreEngineTest;
using quillmere_test::kSmallBlock;
using quillmere_test::MismatchMessage;

class CoreEngineChangingFiles : public CoreEngineTest {
 protected:
  // Runs change once, when path is opened with exactly this access.
  void OnOpen(const std::string& path, DWORD access, std::function<void()> change) {
    fault_injection::SetOpenHook(
        [path, access, change, done = false](const std::string& opened, DWORD how) mutable {
          if (done || opened != path || how != access) return;
          done = true;
          change();
        });
  }

  // With timePutBack the writer sets the last-write time back to what it
  // was, so that only the size tells.
  void ExpectCopyFailsWhenSourceIsRewritten(size_t rewrittenSize, bool timePutBack = false) {
    MakeSource(3 * kSmallBlock);
    const std::filesystem::path path = quillmere::Utf8ToPath(source);
    const std::filesystem::file_time_type before =
        std::filesystem::last_write_time(path) - std::chrono::hours(1);
    std::filesystem::last_write_time(path, before);
    fault_injection::SetWriteHook(
        [path, rewrittenSize, timePutBack, before, done = false](const void*, DWORD) mutable {
          if (done) return;
          done = true;
          testing_support::WriteBytes(path, testing_support::PatternBytes(rewrittenSize, 99));
          if (timePutBack) std::filesystem::last_write_time(path, before);
        });
    EXPECT_FALSE(Copy(BlockOptions()));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].stage, quillmere::READ);
    EXPECT_EQ(errors[0].path, source);
    EXPECT_EQ(errors[0].code, 1006);
    EXPECT_EQ(errors[0].message,
              "File nguon da bi thay doi trong khi dang doc, ban sao khong dang tin cay");
  }

  std::vector<uint8_t> Head(const std::vector<uint8_t>& bytes, size_t length) {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + length);
  }
};

std::vector<uint8_t> Padded(std::vector<uint8_t> bytes, size_t length) {
  bytes.resize(length, 0);
  return bytes;
}

TEST_F(CoreEngineChangingFiles, SourceEndingEarlyIsCutToMeasuredSizeAndFailsVerification) {
  const size_t measured = 3 * kSmallBlock;
  const size_t shrunk = kSmallBlock + kSmallBlock / 2;
  const std::vector<uint8_t> original = MakeSource(measured);
  const std::string path = source;
  OnOpen(source, GENERIC_READ, [path, shrunk] { std::filesystem::resize_file(path, shrunk); });
  EXPECT_FALSE(Copy(BlockOptions()));
  const std::vector<uint8_t> expected = Padded(Head(original, shrunk), measured);
  EXPECT_EQ(Destination(), expected);
  for (const quillmere::ProgressInfo& report : reports) EXPECT_LT(report.fileCopied, measured);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].stage, quillmere::VERIFY);
  EXPECT_EQ(errors[0].path, destination);
  EXPECT_EQ(errors[0].code, 0);
  EXPECT_EQ(errors[0].message, MismatchMessage(Head(original, shrunk), expected));
}

TEST_F(CoreEngineChangingFiles, SourceEndingEarlyWithoutVerificationSucceeds) {
  const size_t measured = 2 * kSmallBlock + 10;
  const std::vector<uint8_t> original = MakeSource(measured);
  const std::string path = source;
  OnOpen(source, GENERIC_READ, [path] { std::filesystem::resize_file(path, 1000); });
  EXPECT_TRUE(Copy(BlockOptions(kSmallBlock, false)));
  EXPECT_EQ(Destination(), Padded(Head(original, 1000), measured));
  EXPECT_TRUE(errors.empty());
}

TEST_F(CoreEngineChangingFiles, GrowingSourceIsCutToMeasuredSizeAndFailsVerification) {
  const size_t measured = kSmallBlock + 5000;
  MakeSource(measured);
  const std::string path = source;
  OnOpen(source, GENERIC_READ, [path] {
    testing_support::WriteBytes(path, testing_support::PatternBytes(3 * kSmallBlock, 21));
  });
  EXPECT_FALSE(Copy(BlockOptions()));
  const std::vector<uint8_t> grown = testing_support::ReadBytes(source);
  // The second read brings a whole block; all of it was hashed.
  EXPECT_EQ(Destination(), Head(grown, measured));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].stage, quillmere::VERIFY);
  EXPECT_EQ(errors[0].message, MismatchMessage(Head(grown, 2 * kSmallBlock), Head(grown, measured)));
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().fileCopied, 2 * kSmallBlock);
}

TEST_F(CoreEngineChangingFiles, VerificationFindsDestinationAlteredAfterWriting) {
  const std::vector<uint8_t> original = MakeSource(2 * kSmallBlock + 77);
  const std::string path = destination;
  OnOpen(destination, GENERIC_READ, [path] {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(kSmallBlock + 3);
    const char byte = static_cast<char>(file.get());
    file.seekp(kSmallBlock + 3);
    file.put(static_cast<char>(byte ^ 0x5a));
  });
  EXPECT_FALSE(Copy(BlockOptions()));
  const std::vector<uint8_t> altered = Destination();
  ASSERT_EQ(altered.size(), original.size());
  ASSERT_NE(altered, original);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].stage, quillmere::VERIFY);
  EXPECT_EQ(errors[0].path, destination);
  EXPECT_EQ(errors[0].code, 0);
  EXPECT_EQ(errors[0].message, MismatchMessage(original, altered));
  EXPECT_EQ(testing_support::ReadBytes(source), original);
}

// Bytes added behind the copy's end fail it at any size: at a whole number
// of verification reads (1 MiB, and 0) no read of the measured size reaches
// them.
TEST_F(CoreEngineChangingFiles, VerificationFindsDestinationLengthenedAfterWriting) {
  for (const size_t size : {size_t{0}, size_t{quillmere_test::kMiB}, size_t{kSmallBlock + 5}}) {
    SCOPED_TRACE(size);
    errors.clear();
    const std::vector<uint8_t> original = MakeSource(size);
    const std::string path = destination;
    OnOpen(destination, GENERIC_READ, [path] {
      std::ofstream(path, std::ios::binary | std::ios::app) << "added by another program";
    });
    EXPECT_FALSE(Copy(BlockOptions()));
    const std::vector<uint8_t> lengthened = Destination();
    ASSERT_GT(lengthened.size(), size);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].stage, quillmere::VERIFY);
    EXPECT_EQ(errors[0].code, 0);
    EXPECT_EQ(errors[0].message, MismatchMessage(original, lengthened));
  }
}

#if QUILLMERE_POSIX_STANDIN
// Another program writes the source while it is read, between two blocks
// (the first write of the copy; on Windows the source's share mode keeps
// such a writer out): rewritten in place at its size, or grown.
// Its last-write time is set well back first, so that the rewrite moves it
// however coarse the file system's clock.
TEST_F(CoreEngineChangingFiles, SourceRewrittenWhileReadFailsAndIsNotVerified) {
  ExpectCopyFailsWhenSourceIsRewritten(3 * kSmallBlock);
}

TEST_F(CoreEngineChangingFiles, SourceGrownWhileReadFailsAndIsNotVerified) {
  ExpectCopyFailsWhenSourceIsRewritten(4 * kSmallBlock);
}

// The copy holds what was read, so its verification alone would pass it.
TEST_F(CoreEngineChangingFiles, SourceGrownWithItsTimePutBackFailsAndIsNotVerified) {
  ExpectCopyFailsWhenSourceIsRewritten(4 * kSmallBlock, true);
}

// Whether the volume takes unbuffered I/O: the stand-in falls back to
// buffered handles where it does not.
bool VolumeTakesDirectIo(const std::string& path) {
  quillmere::OpenResult opened = quillmere::OpenSource(path);
  const bool direct = opened.ok && fault_injection::HandleUsesDirectIo(opened.handle);
  quillmere::CloseIfOpen(opened.handle);
  return direct;
}

size_t CachedPages(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY);
  if (descriptor < 0) return SIZE_MAX;
  const size_t length = std::filesystem::file_size(path);
  void* mapping = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, descriptor, 0);
  ::close(descriptor);
  if (mapping == MAP_FAILED) return SIZE_MAX;
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((length + page - 1) / page);
  size_t cached = SIZE_MAX;
  if (::mincore(mapping, length, resident.data()) == 0) {
    cached = static_cast<size_t>(std::count_if(resident.begin(), resident.end(),
                                               [](unsigned char r) { return (r & 1) != 0; }));
  }
  ::munmap(mapping, length);
  return cached;
}

TEST_F(CoreEngineChangingFiles, WrittenDestinationIsNotInPageCache) {
  const std::vector<uint8_t> original = MakeSource(4 * kSmallBlock + 100);
  if (!VolumeTakesDirectIo(source)) {
    GTEST_SKIP() << "the temporary folder's file system does not take unbuffered I/O";
  }
  ASSERT_TRUE(Copy(BlockOptions(kSmallBlock, false)));
  EXPECT_EQ(CachedPages(destination), 0u);
  EXPECT_EQ(Destination(), original);
}

// A buffered read (a file system without direct I/O) leaves the rest of a
// sector as the buffer held it, here the first block's bytes: a source that
// ends early inside a sector must not carry them into the copy. It ends a
// few bytes into the second block's first sector, so that nearly all of that
// sector is stale, whatever its size (512 bytes, 4096).
TEST_F(CoreEngineChangingFiles, SourceEndingInsideASectorReadBufferedLeavesNoStaleBytes) {
  fault_injection::RefuseDirectIo(true);
  const size_t measured = 2 * kSmallBlock + 10;
  const size_t shrunk = kSmallBlock + 5;
  const std::vector<uint8_t> original = MakeSource(measured);
  const std::string path = source;
  OnOpen(source, GENERIC_READ, [path, shrunk] { std::filesystem::resize_file(path, shrunk); });
  EXPECT_TRUE(Copy(BlockOptions(kSmallBlock, false)));
  EXPECT_EQ(Destination(), Padded(Head(original, shrunk), measured));
  EXPECT_TRUE(errors.empty());
}

#endif

}  // namespace
