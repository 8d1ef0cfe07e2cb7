#include "gui/style.h"

#include <imgui.h>

namespace quillmere {
namespace {

// An opaque colour from its 8-bit channels; each channel is the float
// nearest to n/255.
ImVec4 Opaque(int red, int green, int blue) {
  return ImVec4(red / 255.0f, green / 255.0f, blue / 255.0f, 1.0f);
}

void ApplyMetrics(ImGuiStyle& style) {
  style.WindowPadding = ImVec2(16.0f, 16.0f);
  style.WindowRounding = 0.0f;  // the panel fills the whole window
  style.PopupRounding = 6.0f;
  style.FramePadding = ImVec2(8.0f, 6.0f);
  style.FrameRounding = 4.0f;
  style.FrameBorderSize = 1.0f;  // draws ImGuiCol_Border round frames and buttons
  style.ItemSpacing = ImVec2(8.0f, 8.0f);
  style.ScrollbarRounding = 8.0f;
  style.GrabRounding = 4.0f;
}

void ApplyColours(ImVec4* colours) {
  const ImVec4 windowGrey = Opaque(243, 243, 243);
  const ImVec4 white = Opaque(255, 255, 255);
  const ImVec4 lineGrey = Opaque(224, 224, 224);

  colours[ImGuiCol_Text] = Opaque(26, 26, 26);
  colours[ImGuiCol_TextDisabled] = Opaque(138, 138, 138);
  colours[ImGuiCol_WindowBg] = windowGrey;
  colours[ImGuiCol_ChildBg] = windowGrey;
  colours[ImGuiCol_PopupBg] = white;
  colours[ImGuiCol_Border] = lineGrey;
  colours[ImGuiCol_FrameBg] = white;
  colours[ImGuiCol_FrameBgHovered] = Opaque(245, 245, 245);
  colours[ImGuiCol_FrameBgActive] = Opaque(235, 235, 235);
  colours[ImGuiCol_TitleBg] = windowGrey;
  colours[ImGuiCol_TitleBgActive] = windowGrey;
  colours[ImGuiCol_ScrollbarBg] = windowGrey;
  colours[ImGuiCol_ScrollbarGrab] = Opaque(192, 192, 192);
  colours[ImGuiCol_ScrollbarGrabHovered] = Opaque(166, 166, 166);
  colours[ImGuiCol_ScrollbarGrabActive] = Opaque(140, 140, 140);
  colours[ImGuiCol_Button] = white;
  colours[ImGuiCol_ButtonHovered] = Opaque(240, 240, 240);
  colours[ImGuiCol_ButtonActive] = lineGrey;
  colours[ImGuiCol_Separator] = lineGrey;
  colours[ImGuiCol_PlotHistogram] = Opaque(0, 120, 212);  // the progress bars' fill
  colours[ImGuiCol_TableHeaderBg] = Opaque(240, 240, 240);
  colours[ImGuiCol_TableBorderStrong] = lineGrey;
  colours[ImGuiCol_TableBorderLight] = Opaque(237, 237, 237);
  colours[ImGuiCol_TableRowBg] = white;
  colours[ImGuiCol_TableRowBgAlt] = Opaque(249, 249, 249);
}

}  // namespace

void ApplyStyle() {
  ImGui::StyleColorsLight();
  ImGuiStyle& style = ImGui::GetStyle();
  ApplyMetrics(style);
  ApplyColours(style.Colors);
}

}  // namespace quillmere
