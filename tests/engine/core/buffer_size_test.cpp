#include "engine/buffer_size.h"

#include "tests/engine/core/core_engine_test_support.h"

#include <gtest/gtest.h>

namespace {

using quillmere::BufferAlignment;
using quillmere::ChooseBufferSize;
using quillmere_test::CallerOptions;
using quillmere_test::kMiB;

quillmere::CopyOptions DistinctSizes() {
  quillmere::CopyOptions options = CallerOptions();
  options.smallFileBufferSize = 1 * kMiB;
  options.largeFileBufferSize = 32 * kMiB;
  return options;
}

TEST(BufferSize, BandEdgesPickSmallMiddleAndLargeSizes) {
  const quillmere::CopyOptions options = DistinctSizes();
  EXPECT_EQ(ChooseBufferSize(0, 4096, options), 1 * kMiB);
  EXPECT_EQ(ChooseBufferSize(64 * kMiB, 4096, options), 1 * kMiB);
  EXPECT_EQ(ChooseBufferSize(64 * kMiB + 1, 4096, options), 8 * kMiB);
  EXPECT_EQ(ChooseBufferSize(512 * kMiB, 4096, options), 8 * kMiB);
  EXPECT_EQ(ChooseBufferSize(512 * kMiB + 1, 4096, options), 32 * kMiB);
  EXPECT_EQ(ChooseBufferSize(5ull << 30, 4096, options), 32 * kMiB);
}

TEST(BufferSize, CallerOptionsGiveFourEightAndSixteenMiB) {
  const quillmere::CopyOptions options = CallerOptions();
  EXPECT_EQ(ChooseBufferSize(1, 512, options), 4 * kMiB);
  EXPECT_EQ(ChooseBufferSize(100 * kMiB, 512, options), 8 * kMiB);
  EXPECT_EQ(ChooseBufferSize(600 * kMiB, 512, options), 16 * kMiB);
}

TEST(BufferSize, RaisedToNextSectorMultiple) {
  quillmere::CopyOptions options = CallerOptions();
  options.smallFileBufferSize = 1000000;
  options.largeFileBufferSize = 20000001;
  EXPECT_EQ(ChooseBufferSize(10, 4096, options), 1003520u);
  EXPECT_EQ(ChooseBufferSize(10, 512, options), 1000448u);
  EXPECT_EQ(ChooseBufferSize(10, 0, options), 1000000u);
  EXPECT_EQ(ChooseBufferSize(600 * kMiB, 4096, options), 20000768u);
  // The middle band's 8 MiB is a multiple of any power-of-two sector up to it.
  EXPECT_EQ(ChooseBufferSize(100 * kMiB, 4096, options), 8 * kMiB);
}

TEST(BufferSize, AlignmentIsSectorButAtLeast4096) {
  EXPECT_EQ(BufferAlignment(0), 4096u);
  EXPECT_EQ(BufferAlignment(512), 4096u);
  EXPECT_EQ(BufferAlignment(4096), 4096u);
  EXPECT_EQ(BufferAlignment(65536), 65536u);
}

}  // namespace
