// Where the main panel's controls stand in the 960 by 640 window, drawn with
// the window's font at 18 px (DejaVu Sans standing for Segoe UI). The window
// on Linux (Debian's Dear ImGui) and the Windows build under Wine (its own
// Dear ImGui) place them within a pixel or two of each other, so one table
// serves the tests of both; every point is the middle of its control, far
// from its edges.
#pragma once

namespace window_testing {

struct Point {
  int x, y;
};

// A rectangle [x0, x1) by [y0, y1) of the window.
struct Band {
  int x0, y0, x1, y1;
};

namespace panel_layout {

constexpr Point kAddFiles{519, 91};
constexpr Point kAddFolders{519, 129};
constexpr Point kRemoveSelected{519, 167};
constexpr Point kClearAll{519, 205};
constexpr Point kDestinationField{225, 243};
constexpr Point kChooseFolder{515, 243};
constexpr Point kStart{76, 281};
constexpr Point kPause{204, 281};
constexpr Point kSkip{347, 281};
constexpr Point kCancel{480, 281};

// The heading's line, and the text of the source list's rows and of the
// destination field, clear of their frames.
constexpr Band kHeading{16, 14, 400, 36};
constexpr Band kSourceRow{20, 80, 430, 104};
constexpr int kSourceRowPitch = 26;
constexpr Band kDestinationText{20, 232, 430, 255};

// The label area of a button of the run row around its middle.
constexpr Band LabelAround(Point middle) { return {middle.x - 45, middle.y - 9, middle.x + 45, middle.y + 9}; }

constexpr Band SourceRow(int index) {
  return {kSourceRow.x0, kSourceRow.y0 + index * kSourceRowPitch, kSourceRow.x1,
          kSourceRow.y1 + index * kSourceRowPitch};
}

}  // namespace panel_layout
}  // namespace window_testing
