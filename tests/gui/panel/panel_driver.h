// Drives the main panel on a headless Dear ImGui context: no window, no
// backend, just frames built and rendered to draw lists, with the mouse fed
// in by hand. The widgets the panel draws are recorded each frame (through
// linker wraps of the Dear ImGui calls, see CMakeLists.txt), so a test can
// find a button by its label, see whether it was disabled, and click it.
#pragma once

#include "gui/copy_controller.h"
#include "gui/fonts.h"
#include "gui/main_panel.h"

#include <imgui.h>

#include <string>
#include <vector>

namespace quillmere {

// One widget the panel drew in the last frame.
struct DrawnWidget {
  enum Kind { Button, Selectable, Text, ProgressBar } kind;
  std::string label;  // the full label or text, "##" suffixes included
  ImVec2 min, max;    // the item's rectangle in screen pixels
  bool disabled = false;
  float fraction = 0.0f;  // ProgressBar only
};

class PanelDriver {
 public:
  // A fresh context with the window's style and font and a 960 by 640
  // display, like the real window's.
  PanelDriver(CopyController& controller, MainPanelState& state);
  ~PanelDriver();
  PanelDriver(const PanelDriver&) = delete;
  PanelDriver& operator=(const PanelDriver&) = delete;

  // One frame with the full-window panel, as the window draws it.
  void Frame();

  // The widget of that kind and label in the last frame (the first, or the
  // one after `occurrence` others like it), or null.
  const DrawnWidget* Find(DrawnWidget::Kind kind, const std::string& label, int occurrence = 0) const;
  // Whether the last frame drew it disabled; fails the test when not drawn.
  bool IsDisabled(DrawnWidget::Kind kind, const std::string& label) const;
  bool IsButtonEnabled(const std::string& label) const { return !IsDisabled(DrawnWidget::Button, label); }

  // Presses and releases the left button over the widget, across three
  // frames, as a user's click; the last frame drawn is the one in which the
  // widget saw the click. Fails the test when it was not drawn.
  void Click(DrawnWidget::Kind kind, const std::string& label, int occurrence = 0);
  void ClickButton(const std::string& label) { Click(DrawnWidget::Button, label); }
  // Rests the mouse over the widget for two frames.
  void Hover(DrawnWidget::Kind kind, const std::string& label, int occurrence = 0);

  // Every text the last frame rendered, one piece per line.
  const std::string& RenderedText() const { return rendered_; }
  bool Shows(const std::string& text) const { return rendered_.find(text) != std::string::npos; }
  // The tooltips the last frame set.
  const std::vector<std::string>& Tooltips() const;

  // Frames until the controller's run has ended (the worker stored its
  // outcome and cleared running), then one more to show it.
  void FramesUntilRunEnds();

  static constexpr float kWidth = 960.0f;
  static constexpr float kHeight = 640.0f;

 private:
  void MoveMouseTo(const DrawnWidget& widget);

  CopyController& controller_;
  MainPanelState& state_;
  GlyphRanges glyphs_;  // the font atlas points at its ranges
  ImGuiContext* context_;
  ImVec2 mouse_{-1.0f, -1.0f};
  bool mouseDown_ = false;
  std::string rendered_;
};

// The widgets of the last frame (shared with the linker wraps).
std::vector<DrawnWidget>& DrawnWidgets();

}  // namespace quillmere
