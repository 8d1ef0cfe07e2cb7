// The main panel: the whole user interface of the windowed program.
#pragma once

#include "gui/copy_controller.h"

#include <cstdint>
#include <string>
#include <vector>

struct GLFWwindow;

namespace quillmere {

struct MainPanelState {
  std::vector<std::string> sources;  // UTF-8, in the order added
  int32_t selectedSource = -1;
  char destinationBuffer[1024] = {};
};

// Draws the panel between ImGui::Begin and ImGui::End and acts on its
// buttons. window owns the pickers and may be null.
void DrawMainPanel(GLFWwindow* window, CopyController& controller, MainPanelState& state);

// bytes as text with one decimal and a unit.
std::string FormatSize(uint64_t bytes);

}  // namespace quillmere
