// The window tests click by position from one table (tests/gui/window/
// panel_layout.h), on Linux and on the Windows build under Wine. The panel,
// laid out headless with the window's style and font, must put its controls
// where the table says, within the pixel or two by which library versions
// differ.
#include "tests/gui/panel/main_panel_fixture.h"
#include "tests/gui/window/panel_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace quillmere {
namespace {

namespace layout = window_testing::panel_layout;
using window_testing::Point;

void ExpectNear(const DrawnWidget* widget, Point expected, const std::string& label) {
  ASSERT_NE(widget, nullptr) << "not drawn: " << label;
  const float x = (widget->min.x + widget->max.x) / 2.0f;
  const float y = (widget->min.y + widget->max.y) / 2.0f;
  EXPECT_LE(std::abs(x - expected.x), 2.0f) << label << " stands at x " << x;
  EXPECT_LE(std::abs(y - expected.y), 2.0f) << label << " stands at y " << y;
}

TEST_F(MainPanelTest, ControlsStandWhereTheWindowTestsClick) {
  state.sources = {"/data/a", "/data/b"};
  panel.Frame();
  const std::vector<std::pair<std::string, Point>> buttons = {
      {"Add Files...", layout::kAddFiles},      {"Add Folders...", layout::kAddFolders},
      {"Remove Selected", layout::kRemoveSelected}, {"Clear All", layout::kClearAll},
      {"Choose Folder...##dst", layout::kChooseFolder}, {"Start", layout::kStart},
      {"Pause", layout::kPause},                {"Skip This File", layout::kSkip},
      {"Cancel", layout::kCancel}};
  for (const auto& [label, point] : buttons) ExpectNear(panel.Find(Kind::Button, label), point, label);
  for (int row = 0; row < 2; ++row) {
    const window_testing::Band band = layout::SourceRow(row);
    ExpectNear(panel.Find(Kind::Selectable, state.sources[row]), {(band.x0 + band.x1) / 2, (band.y0 + band.y1) / 2},
               state.sources[row]);
  }
}

}  // namespace
}  // namespace quillmere
