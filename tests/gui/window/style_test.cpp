// The window's theme on a fresh Dear ImGui context: every metric and colour
// it sets, and everything else left as the light preset and the library's
// defaults have it.
#include "gui/style.h"

#include <imgui.h>

#include <gtest/gtest.h>

#include <set>

namespace {

struct ExpectedColour {
  ImGuiCol slot;
  const char* name;
  int red, green, blue;
};

// The theme's colour table, as 8-bit channels; every alpha is opaque.
const ExpectedColour kThemeColours[] = {
    {ImGuiCol_Text, "Text", 26, 26, 26},
    {ImGuiCol_TextDisabled, "TextDisabled", 138, 138, 138},
    {ImGuiCol_WindowBg, "WindowBg", 243, 243, 243},
    {ImGuiCol_ChildBg, "ChildBg", 243, 243, 243},
    {ImGuiCol_PopupBg, "PopupBg", 255, 255, 255},
    {ImGuiCol_Border, "Border", 224, 224, 224},
    {ImGuiCol_FrameBg, "FrameBg", 255, 255, 255},
    {ImGuiCol_FrameBgHovered, "FrameBgHovered", 245, 245, 245},
    {ImGuiCol_FrameBgActive, "FrameBgActive", 235, 235, 235},
    {ImGuiCol_TitleBg, "TitleBg", 243, 243, 243},
    {ImGuiCol_TitleBgActive, "TitleBgActive", 243, 243, 243},
    {ImGuiCol_ScrollbarBg, "ScrollbarBg", 243, 243, 243},
    {ImGuiCol_ScrollbarGrab, "ScrollbarGrab", 192, 192, 192},
    {ImGuiCol_ScrollbarGrabHovered, "ScrollbarGrabHovered", 166, 166, 166},
    {ImGuiCol_ScrollbarGrabActive, "ScrollbarGrabActive", 140, 140, 140},
    {ImGuiCol_Button, "Button", 255, 255, 255},
    {ImGuiCol_ButtonHovered, "ButtonHovered", 240, 240, 240},
    {ImGuiCol_ButtonActive, "ButtonActive", 224, 224, 224},
    {ImGuiCol_Separator, "Separator", 224, 224, 224},
    {ImGuiCol_PlotHistogram, "PlotHistogram", 0, 120, 212},
    {ImGuiCol_TableHeaderBg, "TableHeaderBg", 240, 240, 240},
    {ImGuiCol_TableBorderStrong, "TableBorderStrong", 224, 224, 224},
    {ImGuiCol_TableBorderLight, "TableBorderLight", 237, 237, 237},
    {ImGuiCol_TableRowBg, "TableRowBg", 255, 255, 255},
    {ImGuiCol_TableRowBgAlt, "TableRowBgAlt", 249, 249, 249},
};

// A Dear ImGui context of its own for each test.
class WindowStyle : public ::testing::Test {
 protected:
  void SetUp() override { context_ = ImGui::CreateContext(); }
  void TearDown() override { ImGui::DestroyContext(context_); }

 private:
  ImGuiContext* context_ = nullptr;
};

void ExpectVec2(const ImVec2& actual, float x, float y, const char* member) {
  EXPECT_EQ(actual.x, x) << member;
  EXPECT_EQ(actual.y, y) << member;
}

void ExpectThemeMetrics(const ImGuiStyle& style) {
  ExpectVec2(style.WindowPadding, 16.0f, 16.0f, "WindowPadding");
  EXPECT_EQ(style.WindowRounding, 0.0f);
  EXPECT_EQ(style.PopupRounding, 6.0f);
  ExpectVec2(style.FramePadding, 8.0f, 6.0f, "FramePadding");
  EXPECT_EQ(style.FrameRounding, 4.0f);
  EXPECT_EQ(style.FrameBorderSize, 1.0f);
  ExpectVec2(style.ItemSpacing, 8.0f, 8.0f, "ItemSpacing");
  EXPECT_EQ(style.ScrollbarRounding, 8.0f);
  EXPECT_EQ(style.GrabRounding, 4.0f);
}

void ExpectThemeColours(const ImGuiStyle& style) {
  for (const ExpectedColour& expected : kThemeColours) {
    const ImVec4& actual = style.Colors[expected.slot];
    // Exact: each channel is the float nearest to n/255.
    EXPECT_EQ(actual.x, static_cast<float>(expected.red / 255.0)) << expected.name;
    EXPECT_EQ(actual.y, static_cast<float>(expected.green / 255.0)) << expected.name;
    EXPECT_EQ(actual.z, static_cast<float>(expected.blue / 255.0)) << expected.name;
    EXPECT_EQ(actual.w, 1.0f) << expected.name;
  }
}

TEST_F(WindowStyle, SetsEveryMetricAndColourOfTheTheme) {
  quillmere::ApplyStyle();
  ExpectThemeMetrics(ImGui::GetStyle());
  ExpectThemeColours(ImGui::GetStyle());
}

TEST_F(WindowStyle, OverwritesWhateverTheStyleHeldBefore) {
  ImGuiStyle& style = ImGui::GetStyle();
  ImGui::StyleColorsDark();
  style.WindowRounding = 7.0f;
  style.WindowPadding = ImVec2(1.0f, 2.0f);
  style.FrameBorderSize = 0.0f;

  quillmere::ApplyStyle();

  ExpectThemeMetrics(style);
  ExpectThemeColours(style);
}

TEST_F(WindowStyle, LeavesUnlistedColoursAtTheLightPreset) {
  ImGuiStyle lightPreset;
  ImGui::StyleColorsLight(&lightPreset);
  quillmere::ApplyStyle();

  std::set<int> themed;
  for (const ExpectedColour& expected : kThemeColours) themed.insert(expected.slot);
  const ImGuiStyle& style = ImGui::GetStyle();
  for (int slot = 0; slot < ImGuiCol_COUNT; ++slot) {
    if (themed.count(slot) != 0) continue;
    const ImVec4& actual = style.Colors[slot];
    const ImVec4& preset = lightPreset.Colors[slot];
    EXPECT_TRUE(actual.x == preset.x && actual.y == preset.y && actual.z == preset.z && actual.w == preset.w)
        << ImGui::GetStyleColorName(slot) << " differs from the light preset";
  }
  // Named examples: the check mark and the selected list row keep the preset.
  EXPECT_EQ(style.Colors[ImGuiCol_CheckMark].z, lightPreset.Colors[ImGuiCol_CheckMark].z);
  EXPECT_EQ(style.Colors[ImGuiCol_Header].w, lightPreset.Colors[ImGuiCol_Header].w);
}

TEST_F(WindowStyle, LeavesUnlistedMetricsAtTheLibraryDefaults) {
  const ImGuiStyle defaults;
  quillmere::ApplyStyle();
  const ImGuiStyle& style = ImGui::GetStyle();
  EXPECT_EQ(style.WindowBorderSize, defaults.WindowBorderSize);
  EXPECT_EQ(style.ChildRounding, defaults.ChildRounding);
  EXPECT_EQ(style.PopupBorderSize, defaults.PopupBorderSize);
  EXPECT_EQ(style.ScrollbarSize, defaults.ScrollbarSize);
  EXPECT_EQ(style.GrabMinSize, defaults.GrabMinSize);
  EXPECT_EQ(style.TabRounding, defaults.TabRounding);
  EXPECT_EQ(style.ItemInnerSpacing.x, defaults.ItemInnerSpacing.x);
  EXPECT_EQ(style.IndentSpacing, defaults.IndentSpacing);
  EXPECT_EQ(style.Alpha, defaults.Alpha);
}

}  // namespace
