// The window's font: Segoe UI when it can be used, the library's default font
// for anything else. The library's own loader stops the program on a file it
// cannot read or parse, so every bad file here must be turned away before it
// reaches the atlas; a wrongly accepted file ends this test program.
#include "tests/gui/window/font_test_support.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace font_testing;
using testing_support::TempDir;
using testing_support::WriteBytes;

// Loads path the way the window does and checks that the default font took
// its place and that the atlas still builds.
void ExpectDefaultFontFor(const std::string& path) {
  quillmere::GlyphRanges glyphs;
  ImFontAtlas atlas;
  quillmere::BuildGlyphRanges(atlas, glyphs);
  ImFont* font = quillmere::AddWindowFont(atlas, path.c_str(), quillmere::kWindowFontSize, glyphs.ranges.Data);
  EXPECT_NE(font, nullptr);
  EXPECT_TRUE(HoldsOnlyTheDefaultFont(atlas));
  EXPECT_TRUE(atlas.Build());
}

void PutBe16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  bytes[at] = static_cast<uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<uint8_t>(value);
}

void PutBe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  PutBe16(bytes, at, value >> 16);
  PutBe16(bytes, at + 2, value & 0xFFFF);
}

// The start of a TrueType file: version 1.0 and tableCount table records.
std::vector<uint8_t> TrueTypeHeader(uint32_t tableCount, size_t totalSize) {
  std::vector<uint8_t> bytes(totalSize, 0);
  PutBe32(bytes, 0, 0x00010000);
  PutBe16(bytes, 4, tableCount);
  return bytes;
}

// Files that look like fonts at first sight but would send the library's
// reader outside the file.
std::vector<std::pair<std::string, std::vector<uint8_t>>> MalformedFonts() {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  files.emplace_back("empty", std::vector<uint8_t>());
  files.emplace_back("garbage", testing_support::PatternBytes(8192, 7));
  files.emplace_back("only a version tag", std::vector<uint8_t>{0, 1, 0, 0});
  // 200 table records announced, room for none.
  files.emplace_back("directory past the end", TrueTypeHeader(200, 64));
  std::vector<uint8_t> farTable = TrueTypeHeader(1, 256);
  std::memcpy(farTable.data() + 12, "cmap", 4);
  PutBe32(farTable, 12 + 8, 128);       // offset
  PutBe32(farTable, 12 + 12, 1 << 20);  // length: far past the end
  files.emplace_back("table past the end", farTable);
  std::vector<uint8_t> shortHead = TrueTypeHeader(1, 256);
  std::memcpy(shortHead.data() + 12, "head", 4);
  PutBe32(shortHead, 12 + 8, 64);
  PutBe32(shortHead, 12 + 12, 8);  // the reader looks 50 bytes in
  files.emplace_back("head table too short", shortHead);
  std::vector<uint8_t> collection(32, 0);
  std::memcpy(collection.data(), "ttcf", 4);
  PutBe32(collection, 4, 0x00010000);
  PutBe32(collection, 8, 1);
  PutBe32(collection, 12, 1u << 30);  // first font far past the end
  files.emplace_back("collection pointing past the end", collection);
  return files;
}

TEST(WindowFont, MissingFileGivesTheDefaultFont) {
  TempDir dir;
  ExpectDefaultFontFor(dir.File("segoeui.ttf"));
}

TEST(WindowFont, FolderInPlaceOfTheFileGivesTheDefaultFont) {
  TempDir dir;
  ExpectDefaultFontFor(dir.path().string());
}

TEST(WindowFont, MalformedFilesGiveTheDefaultFont) {
  TempDir dir;
  for (const auto& [name, bytes] : MalformedFonts()) {
    SCOPED_TRACE(name);
    const std::string path = dir.File("font.ttf");
    WriteBytes(path, bytes);
    EXPECT_FALSE(quillmere::IsUsableFontData(bytes.data(), bytes.size()));
    ExpectDefaultFontFor(path);
  }
}

TEST(WindowFont, TruncatedRealFontGivesTheDefaultFont) {
  const std::string font = SystemFont();
  if (font.empty()) GTEST_SKIP() << "no font stands for Segoe UI here";
  std::vector<uint8_t> bytes = testing_support::ReadBytes(font);
  bytes.resize(bytes.size() / 2);
  TempDir dir;
  WriteBytes(dir.File("half.ttf"), bytes);
  ExpectDefaultFontFor(dir.File("half.ttf"));
}

TEST(WindowFont, ReadableFontIsLoadedAtItsSizeWithVietnameseAndPunctuation) {
  const std::string path = SystemFont();
  if (path.empty()) GTEST_SKIP() << "no font stands for Segoe UI here";
  quillmere::GlyphRanges glyphs;
  ImFontAtlas atlas;
  quillmere::BuildGlyphRanges(atlas, glyphs);
  ImFont* font = quillmere::AddWindowFont(atlas, path.c_str(), quillmere::kWindowFontSize, glyphs.ranges.Data);
  ASSERT_NE(font, nullptr);
  EXPECT_FALSE(HoldsOnlyTheDefaultFont(atlas));
  ASSERT_EQ(atlas.Fonts.Size, 1);
  ASSERT_TRUE(atlas.Build());
  EXPECT_EQ(SizeOf(*font), 18.0f);
  EXPECT_TRUE(HasGlyph(*font, u'ạ'));  // U+1EA1, a Vietnamese tone mark
  EXPECT_TRUE(HasGlyph(*font, u'Đ'));
  EXPECT_TRUE(HasGlyph(*font, u'—'));  // U+2014, General Punctuation
#if IMGUI_VERSION_NUM < 19200
  // Before 1.92 the atlas bakes only the ranges; later ones load any glyph
  // of the file on demand and keep the ranges for old renderers only.
  EXPECT_FALSE(HasGlyph(*font, u'∑'));  // U+2211: outside the ranges
#endif
}

bool InRanges(const ImVector<ImWchar>& ranges, unsigned codePoint) {
  for (int i = 0; i + 1 < ranges.Size && ranges[i] != 0; i += 2) {
    if (ranges[i] <= codePoint && codePoint <= ranges[i + 1]) return true;
  }
  return false;
}

TEST(WindowFont, GlyphRangesAreVietnamesePlusGeneralPunctuation) {
  quillmere::GlyphRanges glyphs;
  ImFontAtlas atlas;
  quillmere::BuildGlyphRanges(atlas, glyphs);
  ASSERT_GT(glyphs.ranges.Size, 0);
  EXPECT_EQ(glyphs.ranges.back(), 0) << "the list ends with 0";
  for (unsigned codePoint : {0x20u, 0x7Eu, 0x102u, 0x110u, 0x1A0u, 0x1AFu, 0x1EA0u, 0x1EF9u, 0x2000u, 0x2026u, 0x206Fu}) {
    EXPECT_TRUE(InRanges(glyphs.ranges, codePoint)) << std::hex << codePoint;
  }
  for (unsigned codePoint : {0x1Fu, 0x1FFFu, 0x2070u, 0x2211u, 0x4E00u}) {
    EXPECT_FALSE(InRanges(glyphs.ranges, codePoint)) << std::hex << codePoint;
  }
}

}  // namespace
