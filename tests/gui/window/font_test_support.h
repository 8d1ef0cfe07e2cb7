// What the font tests read of a font atlas, in terms that hold for the
// Dear ImGui of Debian (1.86) and of the Windows build (1.92): 1.92 renamed
// the atlas's font sources and the font's size, and finds glyphs through the
// font's sources.
#pragma once

#include "gui/fonts.h"
#include "platform/win32.h"

#include <imgui.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace font_testing {

#if IMGUI_VERSION_NUM >= 19200
inline const ImVector<ImFontConfig>& SourcesOf(const ImFontAtlas& atlas) { return atlas.Sources; }
inline float SizeOf(const ImFont& font) { return font.LegacySize; }
inline bool HasGlyph(ImFont& font, ImWchar c) { return font.IsGlyphInFont(c); }
#else
inline const ImVector<ImFontConfig>& SourcesOf(const ImFontAtlas& atlas) { return atlas.ConfigData; }
inline float SizeOf(const ImFont& font) { return font.FontSize; }
inline bool HasGlyph(ImFont& font, ImWchar c) { return font.FindGlyphNoFallback(c) != nullptr; }
#endif

// The library's default font, one of its built-in Proggy fonts, and no other.
inline bool HoldsOnlyTheDefaultFont(const ImFontAtlas& atlas) {
  return atlas.Fonts.Size == 1 && SourcesOf(atlas).Size == 1 && std::strncmp(SourcesOf(atlas)[0].Name, "Proggy", 6) == 0;
}

// The file that stands for Segoe UI here, as the window finds it; empty
// when there is none.
inline std::string SystemFont() {
  const std::string path = LocalFontFile(quillmere::kWindowFontPath);
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::u8path(path), error) ? path : std::string();
}

}  // namespace font_testing
