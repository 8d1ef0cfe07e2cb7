#include "tests/gui/panel/panel_driver.h"

#include "gui/style.h"
#include "platform/win32.h"

#include <gtest/gtest.h>
#include <imgui_internal.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <thread>

namespace quillmere {
namespace {

std::vector<std::string>& TooltipList() {
  static std::vector<std::string> tooltips;
  return tooltips;
}

bool ItemsAreDisabled() { return (GImGui->CurrentItemFlags & ImGuiItemFlags_Disabled) != 0; }

void Record(DrawnWidget::Kind kind, std::string label, bool disabled, float fraction = 0.0f) {
  DrawnWidget widget{kind, std::move(label), ImGui::GetItemRectMin(), ImGui::GetItemRectMax(), disabled,
                     fraction};
  DrawnWidgets().push_back(std::move(widget));
}

// The library ends logged lines with the platform's line break (CR LF on
// Windows); the tests read them with LF.
std::string WithPlainLineBreaks(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

}  // namespace

std::vector<DrawnWidget>& DrawnWidgets() {
  static std::vector<DrawnWidget> widgets;
  return widgets;
}

PanelDriver::PanelDriver(CopyController& controller, MainPanelState& state)
    : controller_(controller), state_(state), context_(ImGui::CreateContext()) {
  // glyphs_ outlives the context: the destructor destroys the context
  // before any member goes.
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;  // a test leaves no imgui.ini behind
  ApplyStyle();
  BuildGlyphRanges(*io.Fonts, glyphs_);
  AddWindowFont(*io.Fonts, LocalFontFile(kWindowFontPath).c_str(), kWindowFontSize, glyphs_.ranges.Data);
  unsigned char* pixels = nullptr;
  int width = 0;
  int height = 0;
  io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);  // builds the atlas
  Frame();  // the panel window exists from here on, so the mouse can reach it
}

PanelDriver::~PanelDriver() { ImGui::DestroyContext(context_); }

void PanelDriver::Frame() {
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(kWidth, kHeight);
  io.DeltaTime = 1.0f / 60.0f;
  io.MousePos = mouse_;
  io.MouseDown[0] = mouseDown_;
  DrawnWidgets().clear();
  TooltipList().clear();

  ImGui::NewFrame();
  ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f), 0, ImVec2(0.0f, 0.0f));
  ImGui::SetNextWindowSize(io.DisplaySize, 0);
  ImGui::Begin("Quillmere", nullptr,
               ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                   ImGuiWindowFlags_NoCollapse);
  ImGui::LogToBuffer();
  DrawMainPanel(nullptr, controller_, state_);
  rendered_ = WithPlainLineBreaks(GImGui->LogBuffer.c_str());
  ImGui::LogFinish();
  ImGui::End();
  ImGui::Render();
}

const DrawnWidget* PanelDriver::Find(DrawnWidget::Kind kind, const std::string& label,
                                     int occurrence) const {
  for (const DrawnWidget& widget : DrawnWidgets()) {
    if (widget.kind == kind && widget.label == label && occurrence-- == 0) return &widget;
  }
  return nullptr;
}

bool PanelDriver::IsDisabled(DrawnWidget::Kind kind, const std::string& label) const {
  const DrawnWidget* widget = Find(kind, label);
  EXPECT_NE(widget, nullptr) << "not drawn: " << label;
  return widget == nullptr || widget->disabled;
}

void PanelDriver::MoveMouseTo(const DrawnWidget& widget) {
  mouse_ = ImVec2((widget.min.x + widget.max.x) / 2.0f, (widget.min.y + widget.max.y) / 2.0f);
}

void PanelDriver::Click(DrawnWidget::Kind kind, const std::string& label, int occurrence) {
  const DrawnWidget* widget = Find(kind, label, occurrence);
  ASSERT_NE(widget, nullptr) << "not drawn: " << label;
  MoveMouseTo(*widget);
  Frame();  // hovered
  mouseDown_ = true;
  Frame();  // pressed
  mouseDown_ = false;
  Frame();  // released over it: the click
}

void PanelDriver::Hover(DrawnWidget::Kind kind, const std::string& label, int occurrence) {
  const DrawnWidget* widget = Find(kind, label, occurrence);
  ASSERT_NE(widget, nullptr) << "not drawn: " << label;
  MoveMouseTo(*widget);
  Frame();
  Frame();
}

const std::vector<std::string>& PanelDriver::Tooltips() const { return TooltipList(); }

void PanelDriver::FramesUntilRunEnds() {
  while (controller_.running.load()) {
    Frame();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Frame();
}

}  // namespace quillmere

// ---- Linker wraps ----------------------------------------------------------------
// The test program is linked with --wrap for these Dear ImGui calls: the
// panel's calls land here, are recorded with the item's rectangle and
// whether it was disabled, and go on to the real call.
using quillmere::DrawnWidget;

extern "C" {

bool __real__ZN5ImGui6ButtonEPKcRK6ImVec2(const char* label, const ImVec2& size);
bool __wrap__ZN5ImGui6ButtonEPKcRK6ImVec2(const char* label, const ImVec2& size) {
  const bool disabled = quillmere::ItemsAreDisabled();
  const bool pressed = __real__ZN5ImGui6ButtonEPKcRK6ImVec2(label, size);
  quillmere::Record(DrawnWidget::Button, label, disabled);
  return pressed;
}

bool __real__ZN5ImGui10SelectableEPKcbiRK6ImVec2(const char* label, bool selected, int flags,
                                                 const ImVec2& size);
bool __wrap__ZN5ImGui10SelectableEPKcbiRK6ImVec2(const char* label, bool selected, int flags,
                                                 const ImVec2& size) {
  const bool disabled = quillmere::ItemsAreDisabled();
  const bool clicked = __real__ZN5ImGui10SelectableEPKcbiRK6ImVec2(label, selected, flags, size);
  quillmere::Record(DrawnWidget::Selectable, label, disabled);
  return clicked;
}

void __real__ZN5ImGui15TextUnformattedEPKcS1_(const char* text, const char* end);
void __wrap__ZN5ImGui15TextUnformattedEPKcS1_(const char* text, const char* end) {
  const bool disabled = quillmere::ItemsAreDisabled();
  __real__ZN5ImGui15TextUnformattedEPKcS1_(text, end);
  quillmere::Record(DrawnWidget::Text, end != nullptr ? std::string(text, end) : std::string(text),
                    disabled);
}

void __real__ZN5ImGui11ProgressBarEfRK6ImVec2PKc(float fraction, const ImVec2& size, const char* overlay);
void __wrap__ZN5ImGui11ProgressBarEfRK6ImVec2PKc(float fraction, const ImVec2& size, const char* overlay) {
  __real__ZN5ImGui11ProgressBarEfRK6ImVec2PKc(fraction, size, overlay);
  quillmere::Record(DrawnWidget::ProgressBar, overlay != nullptr ? overlay : "", false, fraction);
}

void __wrap__ZN5ImGui10SetTooltipEPKcz(const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  quillmere::TooltipList().push_back(text);
  va_start(args, format);
  ImGui::SetTooltipV(format, args);
  va_end(args);
}

}  // extern "C"
