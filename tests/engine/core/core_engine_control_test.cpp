// Pause, skip and cancel, set before the call or from a second thread.
#include "tests/engine/core/core_engine_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using quillmere_test::BlockOptions;
using quillmere_test::CallerOptions;
using quillmere_test::CoreEngineTest;
using quillmere_test::kSmallBlock;
using Clock = std::chrono::steady_clock;

bool AllZero(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  return std::all_of(bytes.begin() + from, bytes.begin() + to, [](uint8_t b) { return b == 0; });
}

TEST_F(CoreEngineTest, SkipBeforeCallIsConsumedAndLeavesPresizedEmptyDestination) {
  const size_t size = 3 * kSmallBlock + 11;
  MakeSource(size);
  flags.skipRequested = true;
  EXPECT_FALSE(Copy(BlockOptions()));
  EXPECT_FALSE(flags.skipRequested.load());
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(reports.empty());
  const std::vector<uint8_t> left = Destination();
  ASSERT_EQ(left.size(), size);
  EXPECT_TRUE(AllZero(left, 0, size));
}

TEST_F(CoreEngineTest, SkipIsNotLookedAtForEmptySource) {
  MakeSource(0);
  flags.skipRequested = true;
  EXPECT_TRUE(Copy(CallerOptions()));
  EXPECT_TRUE(flags.skipRequested.load());
  EXPECT_EQ(reports.size(), 1u);
}

TEST_F(CoreEngineTest, CancelWithSkipStopsAndLeavesSkipSet) {
  MakeSource(10);
  flags.cancelRequested = true;
  flags.skipRequested = true;
  EXPECT_FALSE(Copy(CallerOptions()));
  EXPECT_TRUE(flags.skipRequested.load());
  EXPECT_TRUE(errors.empty());
  EXPECT_TRUE(reports.empty());
}

TEST_F(CoreEngineTest, CancelWhilePausedEndsWaitWithinASleep) {
  MakeSource(2 * kSmallBlock);
  flags.paused = true;
  std::atomic<bool> returned{false};
  Clock::time_point cancelledAt;
  std::thread controller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned.load()) << "the copy did not wait while paused";
    cancelledAt = Clock::now();
    flags.cancelRequested = true;
  });
  const bool copied = Copy(BlockOptions());
  const Clock::time_point endedAt = Clock::now();
  returned = true;
  controller.join();
  EXPECT_FALSE(copied);
  // One 50 ms step is due; allow a loaded machine plenty more.
  EXPECT_LT(endedAt - cancelledAt, std::chrono::seconds(5));
  EXPECT_TRUE(reports.empty());
  EXPECT_TRUE(AllZero(Destination(), 0, 2 * kSmallBlock));
}

TEST_F(CoreEngineTest, ResumeAfterPauseCompletesCopy) {
  const std::vector<uint8_t> original = MakeSource(2 * kSmallBlock + 1);
  flags.paused = true;
  std::thread controller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    flags.paused = false;
  });
  const bool copied = Copy(BlockOptions());
  controller.join();
  EXPECT_TRUE(copied);
  EXPECT_EQ(Destination(), original);
}

TEST_F(CoreEngineTest, SkipWhilePausedTakesEffectAtNextBlock) {
  const std::vector<uint8_t> original = MakeSource(2 * kSmallBlock);
  const bool copied = CopyWhileSkipArrivesDuringPause();
  EXPECT_FALSE(copied);
  EXPECT_FALSE(flags.skipRequested.load());
  const std::vector<uint8_t> left = Destination();
  ASSERT_EQ(left.size(), original.size());
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + kSmallBlock, left.begin()));
  EXPECT_TRUE(AllZero(left, kSmallBlock, left.size()));
}

TEST_F(CoreEngineTest, SkipWhilePausedBeforeLastBlockStaysForNextFile) {
  const std::vector<uint8_t> original = MakeSource(kSmallBlock - 100);
  const bool copied = CopyWhileSkipArrivesDuringPause();
  EXPECT_TRUE(copied);
  EXPECT_TRUE(flags.skipRequested.load());
  EXPECT_EQ(Destination(), original);
}

}  // namespace
