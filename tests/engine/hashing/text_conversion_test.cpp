// The engine's UTF-8 <-> UTF-16 and path conversions.
#include "engine/text.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using quillmere::AppendFixed;
using quillmere::PathToUtf8;
using quillmere::Utf8ToPath;
using quillmere::Utf8ToWide;
using quillmere::WideToUtf8;

const WCHAR kReplacement = static_cast<WCHAR>(0xFFFD);
const char kReplacementUtf8[] = "\xEF\xBF\xBD";

TEST(TextConversion, EmptyInputGivesEmptyResult) {
  EXPECT_EQ(WideToUtf8(WideString()), "");
  EXPECT_EQ(Utf8ToWide(std::string()), WideString());
  EXPECT_TRUE(Utf8ToPath(std::string()).empty());
}

TEST(TextConversion, RoundTripsTextAcrossAllSequenceLengths) {
  // a, e with acute, a Vietnamese letter (3 bytes), a grinning face (4 bytes).
  const std::string utf8 = "a\xC3\xA9\xE1\xBB\x87\xF0\x9F\x98\x80";
  const WideString wide = {WCHAR('a'), WCHAR(0xE9), WCHAR(0x1EC7), WCHAR(0xD83D), WCHAR(0xDE00)};
  EXPECT_EQ(Utf8ToWide(utf8), wide);
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(TextConversion, EmbeddedNulEndsTheResult) {
  const std::string utf8("ab\0cd", 5);
  const WideString wide = {WCHAR('a'), WCHAR('b'), WCHAR(0), WCHAR('c'), WCHAR('d')};
  EXPECT_EQ(Utf8ToWide(utf8), QUILLMERE_WIDE("ab"));
  EXPECT_EQ(WideToUtf8(wide), "ab");
  EXPECT_EQ(Utf8ToPath(utf8), std::filesystem::path("ab"));
  // A leading NUL leaves nothing, not a lone terminator.
  EXPECT_EQ(Utf8ToWide(std::string("\0x", 2)), WideString());
}

TEST(TextConversion, UnpairedSurrogatesBecomeReplacementCharacters) {
  const WideString loneHigh = {WCHAR('x'), WCHAR(0xD800), WCHAR('y')};
  const WideString loneLow = {WCHAR(0xDC00)};
  const WideString swapped = {WCHAR(0xDE00), WCHAR(0xD83D)};
  EXPECT_EQ(WideToUtf8(loneHigh), std::string("x") + kReplacementUtf8 + "y");
  EXPECT_EQ(WideToUtf8(loneLow), kReplacementUtf8);
  EXPECT_EQ(WideToUtf8(swapped), std::string(kReplacementUtf8) + kReplacementUtf8);
}

// The check agrees with the conversion itself: a text has an unpaired
// surrogate exactly when its UTF-8 form does not lead back to it. A real
// U+FFFD converts exactly.
TEST(TextConversion, UnpairedSurrogateIsFoundExactlyWhereTheConversionReplaces) {
  const WCHAR high = WCHAR(0xD83D);
  const WCHAR low = WCHAR(0xDE00);
  const std::vector<WideString> texts = {
      {WCHAR('a'), high, low},  {high, low, high, low}, {kReplacement},
      {WCHAR('x'), high},       {low, WCHAR('y')},      {low, high},
      {high, high, low},        {high, low, low},       {WCHAR('a'), high, WCHAR('b')}};
  for (const WideString& text : texts) {
    const bool replaced = Utf8ToWide(WideToUtf8(text)) != text;
    EXPECT_EQ(quillmere::HasUnpairedSurrogate(text), replaced) << ::testing::PrintToString(text);
  }
}

TEST(TextConversion, MalformedUtf8BecomesReplacementCharacter) {
  const WideString expected = {WCHAR('a'), kReplacement, WCHAR('b')};
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), expected);
  EXPECT_EQ(Utf8ToWide("a\x80" "b"), expected);
}

#if QUILLMERE_POSIX_STANDIN
// The stand-in replaces each maximal invalid part of a sequence, as Windows does.
TEST(TextConversion, MalformedSequencesGiveOneReplacementPerInvalidPart) {
  auto replacements = [](size_t n) { return WideString(n, kReplacement); };
  EXPECT_EQ(Utf8ToWide("\xE1\xBB"), replacements(1));          // cut short at the end
  EXPECT_EQ(Utf8ToWide("\xE1\xBB" "a"), replacements(1) + QUILLMERE_WIDE("a"));
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), replacements(2));          // overlong NUL
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), replacements(3));      // encoded surrogate
  EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), replacements(4));  // past U+10FFFF
}
#endif

TEST(TextConversion, PathKeepsForwardSlashes) {
  const std::filesystem::path path = Utf8ToPath("dir/sub/file.txt");
  EXPECT_EQ(PathToUtf8(path), "dir/sub/file.txt");
  EXPECT_EQ(path.filename(), std::filesystem::path("file.txt"));
}

TEST(TextConversion, PathRoundTripsNonAsciiNames) {
  const std::string name = "th\xC6\xB0 m\xE1\xBB\xA5" "c/\xF0\x9F\x98\x80.txt";
  EXPECT_EQ(PathToUtf8(Utf8ToPath(name)), name);
}

#if QUILLMERE_NATIVE_PATHS_ARE_UTF8
// A file name that is not valid UTF-8 must still name its own file.
TEST(TextConversion, PathKeepsEveryByteOfNonUtf8Name) {
  testing_support::TempDir dir;
  const std::string name = "bad\xFF\xFE\xC0name";
  const std::string full = PathToUtf8(dir.path()) + "/" + name;
  const std::filesystem::path path = Utf8ToPath(full);
  EXPECT_EQ(path.native(), full);
  std::ofstream(path) << "x";
  ASSERT_TRUE(std::filesystem::exists(path));
  const auto entry = *std::filesystem::directory_iterator(dir.path());
  EXPECT_EQ(PathToUtf8(entry.path().filename()), name);
}
#endif

// The progress line's numbers: ties, carries into a new digit, values wider
// than their field, signs and the non-finite, and many percentages and
// speeds as a copy gives them, each as printf writes it.
TEST(FixedNumber, IsWhatPrintfWrites) {
  std::vector<double> values = {0.0, -0.0, 0.05, 0.25, 0.35, 0.45, 2.5, 9.95, 99.95, 99.96, 100.0,
                                100.0 / 3, 1234567.89, 1e20, -1.25,
                                std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t whole = random() % 100000000 + 1;
    values.push_back(static_cast<double>(random() % (whole + 1)) * 100.0 / static_cast<double>(whole));
    values.push_back(std::ldexp(static_cast<double>(random() % 100000000), -static_cast<int>(random() % 40)));
  }
  for (const double value : values) {
    for (const int width : {5, 7}) {
      char expected[512];
      std::snprintf(expected, sizeof expected, "%*.1f", width, value);
      std::string text = "x";
      AppendFixed(text, value, width, 1);
      ASSERT_EQ(text, std::string("x") + expected) << value;
    }
  }
}

}  // namespace
