// Sizes as the panel shows them: one decimal and the largest unit, up to TB,
// that keeps the value below 1024 before rounding.
#include "gui/main_panel.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace quillmere {
namespace {

TEST(FormatSize, UsesOneDecimalAndTheLargestFittingUnit) {
  EXPECT_EQ(FormatSize(0), "0.0 B");
  EXPECT_EQ(FormatSize(1023), "1023.0 B");
  EXPECT_EQ(FormatSize(1024), "1.0 KB");
  EXPECT_EQ(FormatSize(1536), "1.5 KB");
  EXPECT_EQ(FormatSize(1048576), "1.0 MB");
  EXPECT_EQ(FormatSize(uint64_t{1} << 40), "1.0 TB");
}

TEST(FormatSize, ValueJustBelowTheNextUnitRoundsUpWithoutChangingUnit) {
  EXPECT_EQ(FormatSize(1048575), "1024.0 KB");
}

TEST(FormatSize, StopsAtTerabytes) {
  EXPECT_EQ(FormatSize(uint64_t{1} << 50), "1024.0 TB");
  EXPECT_EQ(FormatSize(UINT64_MAX), "16777216.0 TB");
}

}  // namespace
}  // namespace quillmere
