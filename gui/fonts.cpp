#include "gui/fonts.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

// The TrueType reader that ships with Dear ImGui, compiled privately into
// this file (static functions) so the checks below use the same reader the
// font atlas uses, without clashing with the library's own copy.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#define STBTT_STATIC
#define STB_TRUETYPE_IMPLEMENTATION
#include <imstb_truetype.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace quillmere {
namespace {

// Larger than any real font file; a bigger file is not read at all.
constexpr std::size_t kMaxFontFileBytes = 64u * 1024u * 1024u;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads the whole file at path into bytes. False when it cannot be opened or
// read (a folder fails here too) or is larger than kMaxFontFileBytes.
bool ReadWholeFile(const char* path, std::vector<unsigned char>& bytes) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) return false;
  std::vector<unsigned char> chunk(64 * 1024);
  for (;;) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get());
    if (bytes.size() + got > kMaxFontFileBytes) return false;
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    if (got < chunk.size()) break;
  }
  return std::ferror(file.get()) == 0;
}

uint32_t Be16(const unsigned char* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t Be32(const unsigned char* p) { return (Be16(p) << 16) | Be16(p + 2); }

// Where the first font starts: 0 for a single font, the first entry of the
// offset table for a collection.
bool FirstFontOffset(const unsigned char* data, std::size_t size, uint64_t& offset) {
  if (size < 4) return false;
  if (std::memcmp(data, "ttcf", 4) != 0) {
    offset = 0;
    return true;
  }
  if (size < 16 || Be32(data + 8) == 0) return false;
  offset = Be32(data + 12);
  return true;
}

struct TableBounds {
  uint64_t offset = 0;
  uint64_t length = 0;
  bool present = false;
};

// The smallest lengths of the tables the TrueType reader reads at fixed
// places when it opens a font.
bool TableLongEnough(const unsigned char* tag, uint64_t length) {
  if (std::memcmp(tag, "head", 4) == 0) return length >= 54;
  if (std::memcmp(tag, "hhea", 4) == 0) return length >= 36;
  if (std::memcmp(tag, "maxp", 4) == 0) return length >= 6;
  if (std::memcmp(tag, "cmap", 4) == 0) return length >= 4;
  return true;
}

// Checks that the table directory at fontOffset and every table it lists lie
// inside data; notes where the character map is.
bool TableDirectoryInside(const unsigned char* data, std::size_t size, uint64_t fontOffset, TableBounds& cmap) {
  if (fontOffset + 12 > size) return false;
  const uint64_t tableCount = Be16(data + fontOffset + 4);
  if (fontOffset + 12 + 16 * tableCount > size) return false;
  for (uint64_t i = 0; i < tableCount; ++i) {
    const unsigned char* record = data + fontOffset + 12 + 16 * i;
    const TableBounds table{Be32(record + 8), Be32(record + 12), true};
    if (table.offset + table.length > size || !TableLongEnough(record, table.length)) return false;
    if (std::memcmp(record, "cmap", 4) == 0) cmap = table;
  }
  return true;
}

// Checks that the character map's encoding records, and the start of every
// subtable they point at, lie inside the character map.
bool CharacterMapInside(const unsigned char* data, const TableBounds& cmap) {
  if (!cmap.present) return false;
  const unsigned char* table = data + cmap.offset;
  const uint64_t recordCount = Be16(table + 2);
  if (4 + 8 * recordCount > cmap.length) return false;
  for (uint64_t i = 0; i < recordCount; ++i) {
    const uint64_t subtable = Be32(table + 4 + 8 * i + 4);
    if (subtable + 4 > cmap.length) return false;
  }
  return true;
}

}  // namespace

bool IsUsableFontData(const unsigned char* data, std::size_t size) {
  uint64_t fontOffset = 0;
  TableBounds cmap;
  if (data == nullptr || !FirstFontOffset(data, size, fontOffset)) return false;
  if (!TableDirectoryInside(data, size, fontOffset, cmap) || !CharacterMapInside(data, cmap)) return false;
  // The same two steps the atlas takes when it builds the font; either one
  // failing there stops the program.
  if (stbtt_GetFontOffsetForIndex(data, 0) != static_cast<int>(fontOffset)) return false;
  stbtt_fontinfo info;
  return stbtt_InitFont(&info, data, static_cast<int>(fontOffset)) != 0;
}

void BuildGlyphRanges(ImFontAtlas& atlas, GlyphRanges& glyphs) {
  static const ImWchar kGeneralPunctuation[] = {0x2000, 0x206F, 0};
  glyphs.builder.AddRanges(atlas.GetGlyphRangesVietnamese());
  glyphs.builder.AddRanges(kGeneralPunctuation);
  glyphs.builder.BuildRanges(&glyphs.ranges);
}

ImFont* AddWindowFont(ImFontAtlas& atlas, const char* path, float sizePixels, const ImWchar* ranges) {
  std::vector<unsigned char> bytes;
  if (ReadWholeFile(path, bytes) && IsUsableFontData(bytes.data(), bytes.size())) {
    // The atlas takes ownership of the copy and frees it with its allocator.
    // The bytes already checked are the bytes loaded: the file is read once.
    void* owned = IM_ALLOC(bytes.size());
    std::memcpy(owned, bytes.data(), bytes.size());
    ImFont* font = atlas.AddFontFromMemoryTTF(owned, static_cast<int>(bytes.size()), sizePixels, nullptr, ranges);
    if (font != nullptr) return font;
  }
  return atlas.AddFontDefault();
}

}  // namespace quillmere
