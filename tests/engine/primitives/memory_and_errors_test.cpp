// AllocateAligned, FreeAligned, CloseIfOpen and FormatWin32Error.
#include "engine/win32_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using quillmere::AllocateAligned;
using quillmere::FormatWin32Error;
using quillmere::FreeAligned;

TEST(AllocateAligned, GivesUsableBlocksOnTheRequestedBoundary) {
  for (uint64_t alignment : {1u, 2u, 8u, 16u, 512u, 4096u, 65536u}) {
    for (uint64_t size : {0u, 1u, 4095u, 12345u}) {
      void* block = AllocateAligned(size, alignment);
      ASSERT_NE(block, nullptr) << size << " @ " << alignment;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignment, 0u);
      std::memset(block, 0xA5, static_cast<size_t>(size));  // all of it belongs to us
      FreeAligned(block);
    }
  }
  FreeAligned(nullptr);
  quillmere::CloseIfOpen(nullptr);
}

TEST(AllocateAligned, RefusesBadAlignmentsAndSizesThatOverflow) {
  EXPECT_EQ(AllocateAligned(4096, 0), nullptr);
  EXPECT_EQ(AllocateAligned(4096, 3), nullptr);
  EXPECT_EQ(AllocateAligned(4096, 4097), nullptr);
  EXPECT_EQ(AllocateAligned(UINT64_MAX, 4096), nullptr);
  EXPECT_EQ(AllocateAligned(UINT64_MAX - 4000, 4096), nullptr);
  EXPECT_EQ(AllocateAligned(16, uint64_t{1} << 63), nullptr);
}

TEST(FormatWin32Error, KnownCodeGivesTheSystemTextWithoutTrailingLineBreaks) {
  std::string text = FormatWin32Error(2);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '\r');
  EXPECT_NE(text.back(), '\0');
  EXPECT_EQ(text.find("Unknown error"), std::string::npos);
#if QUILLMERE_POSIX_STANDIN
  EXPECT_EQ(text, std::strerror(ENOENT));
  EXPECT_EQ(FormatWin32Error(32), std::strerror(EBUSY));
#endif
}

TEST(FormatWin32Error, CodeWithoutTextGivesTheFallbackInSignedDecimal) {
  EXPECT_EQ(FormatWin32Error(123456), "Unknown error (123456)");
  EXPECT_EQ(FormatWin32Error(-5), "Unknown error (-5)");
  EXPECT_EQ(FormatWin32Error(INT32_MIN), "Unknown error (-2147483648)");
}

}  // namespace
