// The windowed program's one font and the glyphs it carries.
#pragma once

#include <imgui.h>

#include <cstddef>

namespace quillmere {

// Segoe UI at 18 pixels, from the file LocalFontFile (platform/win32.h)
// gives for this path; the library's default font takes its place where
// that file cannot be used.
constexpr const char* kWindowFontPath = "C:\\Windows\\Fonts\\segoeui.ttf";
constexpr float kWindowFontSize = 18.0f;

// The glyph ranges of the window's font. The font atlas keeps pointing at
// `ranges` until the Dear ImGui context is destroyed, so an instance must
// outlive that context.
struct GlyphRanges {
  ImFontGlyphRangesBuilder builder;
  ImVector<ImWchar> ranges;  // pairs of first and last code point, ended by 0
};

// Fills glyphs with the library's Vietnamese ranges (Latin, Vietnamese
// letters and tones) merged with General Punctuation, U+2000 to U+206F.
void BuildGlyphRanges(ImFontAtlas& atlas, GlyphRanges& glyphs);

// Adds exactly one font to atlas and returns it: the TrueType or OpenType
// file at path (a narrow path, as the library takes it) at sizePixels with
// ranges, when it can be read and holds a font the library can build;
// otherwise the library's default font. A missing, unreadable, empty,
// truncated or garbage file never reaches the library, whose loader stops
// the whole program on such a file. ranges must outlive the atlas.
ImFont* AddWindowFont(ImFontAtlas& atlas, const char* path, float sizePixels, const ImWchar* ranges);

// True when data holds a TrueType/OpenType font (or a collection whose first
// font is one) whose table directory, and the tables the library reads when
// it opens the font, lie inside data, and which the library's TrueType
// reader accepts.
bool IsUsableFontData(const unsigned char* data, std::size_t size);

}  // namespace quillmere
