// Failures: what is reported, what is repeated, what is left on disk, and
// that everything held is released on every way out.
#include "tests/engine/core/core_engine_test_support.h"

#include "engine/win32_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>

#if QUILLMERE_POSIX_STANDIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using quillmere::ABORT;
using quillmere::RETRY;
using quillmere::SKIP;
using quillmere_test::BlockOptions;
using quillmere_test::CallerOptions;
using quillmere_test::CoreEngineTest;
using quillmere_test::kKiB;
using quillmere_test::kSmallBlock;

// True when nothing holds the file open: an exclusive open of it succeeds.
// (The final-sizing primitive opens that way and, given the present size,
// changes nothing.)
bool NothingHoldsOpen(const std::string& path) {
  return quillmere::SetFinalSize(path, std::filesystem::file_size(quillmere::Utf8ToPath(path)));
}

void ExpectReport(const quillmere::CopyError& error, quillmere::CopyStage stage,
                  const std::string& path, int32_t code) {
  EXPECT_EQ(error.stage, stage);
  EXPECT_EQ(error.path, path);
  EXPECT_EQ(error.code, code);
  EXPECT_EQ(error.message, quillmere::FormatWin32Error(code));
}

TEST_F(CoreEngineTest, MissingSourceIsOneOpenReportAndNoDestination) {
  EXPECT_FALSE(Copy(CallerOptions()));
  ASSERT_EQ(errors.size(), 1u);
  ExpectReport(errors[0], quillmere::OPEN, source, 2);
  EXPECT_FALSE(std::filesystem::exists(quillmere::Utf8ToPath(destination)));
  EXPECT_TRUE(reports.empty());
}

TEST_F(CoreEngineTest, MissingDestinationFolderIsOpenReportNamingDestination) {
  MakeSource(10);
  destination = dir.File("no-such-folder/destination.bin");
  EXPECT_FALSE(Copy(CallerOptions()));
  ASSERT_EQ(errors.size(), 1u);
  ExpectReport(errors[0], quillmere::OPEN, destination, 3);
  EXPECT_TRUE(NothingHoldsOpen(source));
}

TEST_F(CoreEngineTest, SameFileByPathIsRefusedAndLeftUnchanged) {
  const std::vector<uint8_t> original = MakeSource(20 * kKiB);
  destination = source;
  answer = [](const quillmere::CopyError&) { return RETRY; };
  EXPECT_FALSE(Copy(CallerOptions()));
  ASSERT_EQ(errors.size(), 1u);
  ExpectReport(errors[0], quillmere::OPEN, source, 32);
  EXPECT_EQ(testing_support::ReadBytes(quillmere::Utf8ToPath(source)), original);
}

TEST_F(CoreEngineTest, SameFileByHardLinkIsRefusedAndLeftUnchanged) {
  const std::vector<uint8_t> original = MakeSource(20 * kKiB);
  std::filesystem::create_hard_link(quillmere::Utf8ToPath(source), quillmere::Utf8ToPath(destination));
  EXPECT_FALSE(Copy(CallerOptions()));
  ASSERT_EQ(errors.size(), 1u);
  ExpectReport(errors[0], quillmere::OPEN, destination, 32);
  EXPECT_EQ(testing_support::ReadBytes(quillmere::Utf8ToPath(source)), original);
}

TEST_F(CoreEngineTest, ErrorCallbackExceptionPassesThroughAndReleasesAll) {
  MakeSource(10);
  destination = source;  // the destination's open fails while the source is open
  answer = [](const quillmere::CopyError&) -> quillmere::ErrorAction {
    throw std::runtime_error("from callback");
  };
  EXPECT_THROW(Copy(CallerOptions()), std::runtime_error);
  EXPECT_TRUE(NothingHoldsOpen(source));
}

TEST_F(CoreEngineTest, ProgressCallbackExceptionPassesThroughAndReleasesAll) {
  MakeSource(3 * kSmallBlock);
  onReport = [](const quillmere::ProgressInfo&) { throw std::runtime_error("from progress"); };
  EXPECT_THROW(Copy(BlockOptions()), std::runtime_error);
  EXPECT_TRUE(NothingHoldsOpen(source));
  EXPECT_TRUE(NothingHoldsOpen(destination));
}

#if QUILLMERE_POSIX_STANDIN

constexpr DWORD kReadFault = 30;   // ERROR_READ_FAULT
constexpr DWORD kDiskFull = 112;   // ERROR_DISK_FULL

class CoreEngineRetry : public CoreEngineTest {
 protected:
  // Answers RETRY to every failure.
  void AlwaysRetry() {
    answer = [](const quillmere::CopyError&) { return RETRY; };
  }
};

TEST_F(CoreEngineRetry, ReadAnsweredRetryIsTriedThreeTimesThenGivenUp) {
  MakeSource(10 * kKiB);
  AlwaysRetry();
  fault_injection::FailReads(1, 100, kReadFault);
  EXPECT_FALSE(Copy(CallerOptions()));
  EXPECT_EQ(fault_injection::ReadCalls(), 3u);
  ASSERT_EQ(errors.size(), 3u);
  for (const quillmere::CopyError& error : errors) {
    ExpectReport(error, quillmere::READ, source, kReadFault);
  }
  EXPECT_TRUE(reports.empty());
  EXPECT_TRUE(NothingHoldsOpen(source));
  EXPECT_TRUE(NothingHoldsOpen(destination));
}

TEST_F(CoreEngineRetry, ReadAnsweredSkipOrAbortIsGivenUpAtOnce) {
  MakeSource(10 * kKiB);
  for (quillmere::ErrorAction action : {SKIP, ABORT, static_cast<quillmere::ErrorAction>(7)}) {
    errors.clear();
    fault_injection::ResetFileFaults();
    fault_injection::FailReads(1, 100, kReadFault);
    answer = [action](const quillmere::CopyError&) { return action; };
    EXPECT_FALSE(Copy(CallerOptions()));
    EXPECT_EQ(errors.size(), 1u) << "answer " << action;
    EXPECT_EQ(fault_injection::ReadCalls(), 1u);
  }
}

TEST_F(CoreEngineRetry, NoRepetitionWhenMaxRetriesIsZeroOrNegative) {
  MakeSource(10 * kKiB);
  AlwaysRetry();
  for (int32_t maxRetries : {0, -1, -2147483647 - 1}) {
    errors.clear();
    fault_injection::ResetFileFaults();
    fault_injection::FailReads(1, 100, kReadFault);
    EXPECT_FALSE(Copy(BlockOptions(kSmallBlock, true, maxRetries)));
    EXPECT_EQ(errors.size(), 1u) << "maxRetries " << maxRetries;
  }
}

TEST_F(CoreEngineRetry, EmptyErrorCallbackGivesUpWithoutRepeating) {
  MakeSource(10 * kKiB);
  fault_injection::FailReads(1, 100, kReadFault);
  quillmere::CoreEngine engine = MakeEngine(true, false);
  EXPECT_FALSE(engine.CopySingleFile(source, destination, CallerOptions()));
  EXPECT_EQ(fault_injection::ReadCalls(), 1u);
}

TEST_F(CoreEngineRetry, ReadSucceedingOnRepetitionCompletesTheCopy) {
  const std::vector<uint8_t> original = MakeSource(3 * kSmallBlock + 7);
  AlwaysRetry();
  fault_injection::FailReads(1, 2, kReadFault);
  ASSERT_TRUE(Copy(BlockOptions()));
  EXPECT_EQ(errors.size(), 2u);
  EXPECT_EQ(Destination(), original);
}

// Block 1: two failed reads, then two failed writes (separate counters);
// block 2 armed from the callback the same way (fresh counters).
TEST_F(CoreEngineRetry, ReadAndWriteCountersAreSeparateAndFreshPerBlock) {
  const std::vector<uint8_t> original = MakeSource(2 * kSmallBlock + 300);
  fault_injection::FailReads(1, 2, kReadFault);
  fault_injection::FailWrites(1, 2, kDiskFull);
  int seen = 0;
  answer = [&seen](const quillmere::CopyError&) {
    if (++seen == 4) {
      // Block 1's last failure. Counting from here: write 1 finishes block
      // 1; reads 1-2 and writes 2-3 are block 2's first attempts.
      fault_injection::FailReads(1, 2, kReadFault);
      fault_injection::FailWrites(2, 2, kDiskFull);
    }
    return RETRY;
  };
  ASSERT_TRUE(Copy(BlockOptions(kSmallBlock, false)));
  ASSERT_EQ(errors.size(), 8u);
  for (size_t i = 0; i < errors.size(); ++i) {
    const bool isRead = i % 4 < 2;
    ExpectReport(errors[i], isRead ? quillmere::READ : quillmere::WRITE,
                 isRead ? source : destination, isRead ? kReadFault : kDiskFull);
  }
  EXPECT_EQ(Destination(), original);
}

TEST_F(CoreEngineRetry, WriteAnsweredRetryIsTriedThreeTimesThenGivenUpLeavingPresizedFile) {
  const std::vector<uint8_t> original = MakeSource(3 * kSmallBlock);
  AlwaysRetry();
  fault_injection::FailWrites(2, 100, kDiskFull);
  EXPECT_FALSE(Copy(BlockOptions(kSmallBlock, false)));
  EXPECT_EQ(fault_injection::WriteCalls(), 4u);
  ASSERT_EQ(errors.size(), 3u);
  ExpectReport(errors[2], quillmere::WRITE, destination, kDiskFull);
  // Extended to the measured size at its opening; only block 1 written.
  const std::vector<uint8_t> left = Destination();
  ASSERT_EQ(left.size(), original.size());
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + kSmallBlock, left.begin()));
  EXPECT_TRUE(std::all_of(left.begin() + kSmallBlock, left.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(CoreEngineRetry, RepeatedWriteAfterPartialWriteResumesWhereItStopped) {
  const std::vector<uint8_t> original = MakeSource(kSmallBlock);
  fault_injection::ShortenWrites(1, 1, 16 * kKiB);
  fault_injection::FailWrites(2, 1, kDiskFull);
  AlwaysRetry();
  ASSERT_TRUE(Copy(BlockOptions(kSmallBlock, true, 1)));
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(Destination(), original);
}

TEST_F(CoreEngineRetry, PartialSuccessDoesNotResetWriteCounter) {
  MakeSource(kSmallBlock);
  fault_injection::FailWrites(1, 1, kDiskFull);
  answer = [](const quillmere::CopyError&) {
    // After the first failure: one partial write, then another failure.
    fault_injection::ShortenWrites(1, 1, 16 * kKiB);
    fault_injection::FailWrites(2, 1, kDiskFull);
    return RETRY;
  };
  EXPECT_FALSE(Copy(BlockOptions(kSmallBlock, true, 1)));
  EXPECT_EQ(errors.size(), 2u);
}

TEST_F(CoreEngineRetry, WriteOfNothingCountsAsWriteFault) {
  const std::vector<uint8_t> original = MakeSource(10 * kKiB);
  fault_injection::ShortenWrites(1, 1, 0);
  AlwaysRetry();
  ASSERT_TRUE(Copy(CallerOptions()));
  ASSERT_EQ(errors.size(), 1u);
  ExpectReport(errors[0], quillmere::WRITE, destination, 29);
  EXPECT_EQ(Destination(), original);
}

TEST_F(CoreEngineRetry, EndlessWritesOfNothingAreGivenUp) {
  MakeSource(10 * kKiB);
  fault_injection::ShortenWrites(1, 1000, 0);
  AlwaysRetry();
  EXPECT_FALSE(Copy(CallerOptions()));
  EXPECT_EQ(errors.size(), 3u);
  EXPECT_EQ(fault_injection::WriteCalls(), 3u);
}

// A write resumed after a partial write that is no whole number of sectors
// is raised to whole sectors from there, reaching past the block's end; the
// buffer carries room for that. The allocation itself has slack past its
// end, so every write is held to the block the engine asked for.
TEST_F(CoreEngineRetry, ResumedWriteOfOddLengthStaysInsideBuffer) {
  MakeSource(kSmallBlock);
  fault_injection::ShortenWrites(1, 1, 1000);
  std::vector<std::pair<const uint8_t*, DWORD>> writes;
  fault_injection::SetWriteHook([&](const void* data, DWORD length) {
    writes.emplace_back(static_cast<const uint8_t*>(data), length);
  });
  AlwaysRetry();
  // The stand-in takes the unaligned rest through a buffered fall-back.
  ASSERT_TRUE(Copy(BlockOptions(kSmallBlock, true, 0)));
  EXPECT_EQ(Destination(), testing_support::ReadBytes(source));
  const quillmere_test::AlignedBlock block = quillmere_test::LastAlignedBlock();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_GT(writes[1].first + writes[1].second, block.start + kSmallBlock)
      << "the resumed write should reach past the block";
  for (const auto& [data, length] : writes) {
    EXPECT_GE(data, block.start);
    EXPECT_LE(data + length, block.start + block.size)
        << "reaches " << (data + length) - (block.start + block.size) << " bytes past the block";
  }
}

// Where the file system refuses locks, this process's own handles still
// exclude each other: a copy onto its own source is refused, by path and by
// hard link, and the source keeps every byte; other copies go on.
TEST_F(CoreEngineTest, WithLocksRefusedACopyOntoItsOwnSourceIsStillRefused) {
  const std::vector<uint8_t> original = MakeSource(20 * kKiB);
  const std::string link = dir.File("link.bin");
  std::filesystem::create_hard_link(quillmere::Utf8ToPath(source), quillmere::Utf8ToPath(link));
  for (int refusal : {ENOLCK, EOPNOTSUPP}) {
    fault_injection::RefuseLocks(refusal);
    for (const std::string& target : {source, link}) {
      errors.clear();
      destination = target;
      EXPECT_FALSE(Copy(CallerOptions())) << target;
      ASSERT_EQ(errors.size(), 1u);
      ExpectReport(errors[0], quillmere::OPEN, target, 32);
      EXPECT_EQ(testing_support::ReadBytes(quillmere::Utf8ToPath(source)), original);
    }
    destination = dir.File("copy.bin");
    EXPECT_TRUE(Copy(CallerOptions())) << "an ordinary copy goes on";
  }
}

// Only disk files are copied. A device or a FIFO would give an empty
// "verified" copy (and a FIFO's data would be drained), a pseudo file that
// says it is empty but has content likewise, and a device destination would
// be written onto: each is refused before a byte moves.
TEST_F(CoreEngineTest, WhatIsNotADiskFileIsRefusedBeforeAByteMoves) {
  const std::string fifo = dir.File("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "queued", 6), 6);
  for (const std::string& special : {std::string("/dev/zero"), fifo}) {
    errors.clear();
    source = special;
    EXPECT_FALSE(Copy(CallerOptions()));
    ASSERT_EQ(errors.size(), 1u) << special;
    ExpectReport(errors[0], quillmere::OPEN, special, 50);
  }
  char left[16];
  EXPECT_EQ(::read(writer, left, sizeof left), 6) << "the FIFO's data was consumed";
  ::close(writer);

  errors.clear();
  source = "/proc/self/status";
  EXPECT_FALSE(Copy(CallerOptions()));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].stage, quillmere::READ);
  EXPECT_EQ(errors[0].code, 50);
  EXPECT_FALSE(std::filesystem::exists(quillmere::Utf8ToPath(destination)));

  errors.clear();
  source = dir.File("source.bin");
  MakeSource(100);
  destination = "/dev/null";
  EXPECT_FALSE(Copy(CallerOptions()));
  ASSERT_EQ(errors.size(), 1u);
  ExpectReport(errors[0], quillmere::OPEN, destination, 50);
  EXPECT_EQ(fault_injection::WriteCalls(), 0u);
}

TEST_F(CoreEngineTest, FinalSizeFailureReportsTheOpenCode) {
  MakeSource(10 * kKiB + 1);
  int writeOpens = 0;
  const std::string target = destination;
  fault_injection::SetOpenHook([&](const std::string& path, DWORD access) {
    // The second write open of the destination is the final sizing.
    if (path == target && (access & GENERIC_WRITE) && ++writeOpens == 2) {
      std::filesystem::remove(target);
    }
  });
  EXPECT_FALSE(Copy(CallerOptions()));
  ASSERT_EQ(errors.size(), 1u);
  ExpectReport(errors[0], quillmere::WRITE, destination, 2);
  EXPECT_EQ(reports.size(), 1u);  // the block that completed the file
}

TEST_F(CoreEngineTest, VerifyOpenFailureIsVerifyReport) {
  MakeSource(10 * kKiB);
  const std::string target = destination;
  fault_injection::SetOpenHook([&](const std::string& path, DWORD access) {
    if (path == target && access == GENERIC_READ) std::filesystem::remove(target);
  });
  answer = [](const quillmere::CopyError&) { return RETRY; };
  EXPECT_FALSE(Copy(CallerOptions()));
  ASSERT_EQ(errors.size(), 1u);
  ExpectReport(errors[0], quillmere::VERIFY, destination, 2);
}

TEST_F(CoreEngineTest, VerifyReadFailureIsNotRepeated) {
  MakeSource(10 * kKiB);
  fault_injection::FailReads(2, 100, kReadFault);  // read 1 copies, read 2 verifies
  answer = [](const quillmere::CopyError&) { return RETRY; };
  EXPECT_FALSE(Copy(CallerOptions()));
  ASSERT_EQ(errors.size(), 1u);
  ExpectReport(errors[0], quillmere::VERIFY, destination, kReadFault);
  EXPECT_EQ(fault_injection::ReadCalls(), 2u);
  EXPECT_TRUE(NothingHoldsOpen(destination));
}

TEST_F(CoreEngineTest, OneByteSourceIsOneReadAndOneWrite) {
  const std::vector<uint8_t> original = MakeSource(1);
  ASSERT_TRUE(Copy(BlockOptions(kSmallBlock, false)));
  EXPECT_EQ(fault_injection::ReadCalls(), 1u);
  EXPECT_EQ(fault_injection::WriteCalls(), 1u);
  EXPECT_EQ(Destination(), original);
}

TEST_F(CoreEngineTest, HasherSetUpFailureThrowsWithVerificationOnOrOff) {
  MakeSource(10 * kKiB);
  for (bool verify : {true, false}) {
    fault_injection::FailOpenProvider(true);
    try {
      Copy(BlockOptions(kSmallBlock, verify));
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "BCryptOpenAlgorithmProvider that bai");
    }
    fault_injection::ResetHashFaults();
    EXPECT_TRUE(NothingHoldsOpen(source));
    EXPECT_TRUE(NothingHoldsOpen(destination));
    EXPECT_TRUE(reports.empty());
  }
  fault_injection::FailCreateHash(true);
  EXPECT_THROW(Copy(CallerOptions()), std::runtime_error);
  EXPECT_EQ(fault_injection::OpenProviders(), 0);
  EXPECT_EQ(fault_injection::OpenHashes(), 0);
  EXPECT_TRUE(NothingHoldsOpen(destination));
}

#else

TEST(CoreEngineRetry, NeedsFaultSeam) {
  GTEST_SKIP() << "failure paths need the POSIX stand-in's fault-injection seam";
}

#endif

}  // namespace
