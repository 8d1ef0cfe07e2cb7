// Whole copies that succeed: contents, lengths, progress reports.
#include "tests/engine/core/core_engine_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

namespace {

using quillmere_test::BlockOptions;
using quillmere_test::CallerOptions;
using quillmere_test::CoreEngineTest;
using quillmere_test::kKiB;
using quillmere_test::kMiB;
using quillmere_test::kSmallBlock;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

class CoreEngineCopySizes : public CoreEngineTest,
                            public ::testing::WithParamInterface<size_t> {};

TEST_P(CoreEngineCopySizes, CopiesBytesExactlyAndLeavesSourceAlone) {
  const std::vector<uint8_t> original = MakeSource(GetParam());
  ASSERT_TRUE(Copy(BlockOptions()));
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(Destination(), original);
  EXPECT_EQ(testing_support::ReadBytes(quillmere::Utf8ToPath(source)), original);
}

INSTANTIATE_TEST_SUITE_P(Lengths, CoreEngineCopySizes,
                         ::testing::Values(0, 1, 4095, 4096, 4097, 5 * kSmallBlock,
                                           5 * kSmallBlock + 12345));

TEST_F(CoreEngineTest, OverwritesLongerExistingDestination) {
  testing_support::WriteBytes(destination, testing_support::PatternBytes(300 * kKiB, 99));
  const std::vector<uint8_t> original = MakeSource(10 * kKiB + 3);
  ASSERT_TRUE(Copy(BlockOptions()));
  EXPECT_EQ(Destination(), original);
}

TEST_F(CoreEngineTest, CopiesNonAsciiPaths) {
  source = Utf8File("ngu\xe1\xbb\x93n-\xc4\x91\xe1\xbb\x8f.bin");
  destination = Utf8File("\xc4\x91\xc3\xad" "ch \xe2\x9c\x93.bin");
  const std::vector<uint8_t> original = MakeSource(70 * kKiB);
  ASSERT_TRUE(Copy(BlockOptions()));
  EXPECT_EQ(Destination(), original);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().currentFile, source);
}

TEST_F(CoreEngineTest, EmptySourceGivesOneZeroOfZeroReport) {
  MakeSource(0);
  ASSERT_TRUE(Copy(CallerOptions()));
  EXPECT_EQ(std::filesystem::file_size(quillmere::Utf8ToPath(destination)), 0u);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].currentFile, source);
  EXPECT_EQ(reports[0].fileCopied, 0u);
  EXPECT_EQ(reports[0].fileSize, 0u);
  EXPECT_EQ(reports[0].speed, 0.0);
  EXPECT_EQ(reports[0].totalCopied, 0u);
  EXPECT_EQ(reports[0].totalBytes, 0u);
}

TEST_F(CoreEngineTest, OneByteSourceGivesOneReportOfOneByte) {
  MakeSource(1);
  ASSERT_TRUE(Copy(CallerOptions()));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].fileCopied, 1u);
  EXPECT_EQ(reports[0].fileSize, 1u);
  EXPECT_GE(reports[0].speed, 0.0);
  EXPECT_TRUE(std::isfinite(reports[0].speed));
}

TEST_F(CoreEngineTest, LastReportCompletesFileAndQueueFiguresStayZero) {
  const size_t size = 7 * kSmallBlock + 100;
  MakeSource(size);
  ASSERT_TRUE(Copy(BlockOptions()));
  ASSERT_FALSE(reports.empty());
  uint64_t previous = 0;
  for (const quillmere::ProgressInfo& report : reports) {
    EXPECT_EQ(report.currentFile, source);
    EXPECT_EQ(report.fileSize, size);
    EXPECT_GT(report.fileCopied, previous);
    EXPECT_TRUE(report.fileCopied == size || report.fileCopied % kSmallBlock == 0);
    EXPECT_EQ(report.totalCopied, 0u);
    EXPECT_EQ(report.totalBytes, 0u);
    EXPECT_GE(report.speed, 0.0);
    previous = report.fileCopied;
  }
  EXPECT_EQ(reports.back().fileCopied, size);
}

// Every report but the last waits out a whole interval since the previous
// one (or the start), however fast or slow the blocks come.
TEST_F(CoreEngineTest, ReportsAtMostOncePerIntervalBesidesTheLast) {
  const size_t size = 256 * 4 * kKiB;
  MakeSource(size);
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(Copy(BlockOptions(4 * kKiB, false)));
  const Clock::duration elapsed = Clock::now() - start;
  EXPECT_LE(reports.size(), 1 + static_cast<size_t>(elapsed / std::chrono::milliseconds(100)));
  EXPECT_EQ(reports.back().fileCopied, size);
}

// The speed is MiB over seconds since the previous report. The callback
// holds the engine after each report, so the time a report covers lies
// between that hold and what the test saw from the end of the hold before
// the previous report to this call. A pause at the start brings the first
// report before the last block.
TEST_F(CoreEngineTest, SpeedIsMiBPerSecondSinceThePreviousReport) {
  MakeSource(3 * kSmallBlock);
  const auto hold = std::chrono::milliseconds(120);
  std::vector<Clock::time_point> called;
  std::vector<Clock::time_point> resumed;
  onReport = [&](const quillmere::ProgressInfo&) {
    called.push_back(Clock::now());
    std::this_thread::sleep_for(hold);
    resumed.push_back(Clock::now());
  };
  flags.paused = true;
  const Clock::time_point start = Clock::now();
  std::thread controller([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    flags.paused = false;
  });
  const bool copied = Copy(BlockOptions(kSmallBlock, false));
  controller.join();
  ASSERT_TRUE(copied);

  uint64_t before = 0;
  for (size_t i = 0; i < reports.size(); ++i) {
    ASSERT_GT(reports[i].speed, 0.0) << i;
    const double mib = static_cast<double>(reports[i].fileCopied - before) / kMiB;
    const double covered = mib / reports[i].speed;
    const Clock::time_point earliest = i < 2 ? start : resumed[i - 2];
    EXPECT_LE(covered, Seconds(called[i] - earliest) + 1e-6) << i;
    if (i > 0) {
      EXPECT_GE(covered, Seconds(resumed[i - 1] - called[i - 1]) - 1e-6) << i;
    }
    before = reports[i].fileCopied;
  }
}

TEST_F(CoreEngineTest, CopiesWithoutAnyCallbacks) {
  const std::vector<uint8_t> original = MakeSource(3 * kSmallBlock + 1);
  quillmere::CoreEngine engine(nullptr, nullptr, &flags);
  ASSERT_TRUE(engine.CopySingleFile(source, destination, BlockOptions()));
  EXPECT_EQ(Destination(), original);
}

// A copy that comes back shorter than the source (cut by another program)
// fails with a report, never silently.
TEST_F(CoreEngineTest, VerifyCopyReportsALengthThatDiffersWithBothDigests) {
  const std::vector<uint8_t> original = MakeSource(5000);
  ASSERT_TRUE(Copy(CallerOptions()));
  quillmere::CoreEngine engine = MakeEngine();
  const std::string digest = quillmere_test::HexDigest(original);
  EXPECT_TRUE(engine.VerifyCopy(destination, original.size(), digest));
  EXPECT_FALSE(engine.VerifyCopy(destination, original.size() + 1, digest));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].stage, quillmere::VERIFY);
  EXPECT_EQ(errors[0].code, 0);
  EXPECT_EQ(errors[0].message, "Hash SHA-256 khong khop sau khi sao chep (nguon=" + digest +
                                   ", dich=" + digest + ")");
}

TEST_F(CoreEngineTest, VerifyCopyReportsMismatchWithBothDigests) {
  const std::vector<uint8_t> original = MakeSource(3 * 1024 * 1024 + 5);
  ASSERT_TRUE(Copy(CallerOptions()));
  quillmere::CoreEngine engine = MakeEngine();
  const std::string wrong(64, '0');
  EXPECT_FALSE(engine.VerifyCopy(destination, original.size(), wrong));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].stage, quillmere::VERIFY);
  EXPECT_EQ(errors[0].path, destination);
  EXPECT_EQ(errors[0].code, 0);
  EXPECT_EQ(errors[0].message, "Hash SHA-256 khong khop sau khi sao chep (nguon=" + wrong +
                                   ", dich=" + quillmere_test::HexDigest(original) + ")");
}

}  // namespace
