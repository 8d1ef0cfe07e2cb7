// The main panel on a headless Dear ImGui context with a controller of its
// own, shared by the panel's test files.
#pragma once

#include "gui/main_panel.h"

#include "tests/gui/controller/controller_test_support.h"
#include "tests/gui/panel/panel_driver.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quillmere {

using Kind = DrawnWidget::Kind;
using Paths = std::vector<std::string>;

const Paths kSetUpButtons = {"Add Files...", "Add Folders...", "Choose Folder...##dst", "Start"};
const Paths kRunButtons = {"Pause", "Skip This File", "Cancel"};

class MainPanelTest : public ::testing::Test {
 protected:
  void TearDown() override {
    gate.Open();  // never leave the worker waiting: the controller joins it
    SetLastErrorForTest("");
    SetProgressForTest(ProgressInfo{});
  }

  void SetDestination(const std::string& text) {
    std::snprintf(state.destinationBuffer, sizeof state.destinationBuffer, "%s", text.c_str());
  }
  // The worker stops before listing its first source until gate opens.
  void HoldWorkerBeforeListing() {
    hook = std::make_unique<ScopedListingHook>(
        [this](size_t, const std::string&) { gate.ArriveAndWait(); });
  }
  // A source folder "Photos" of two files and an empty destination folder.
  std::string MakeSourceTree() {
    std::filesystem::create_directories(dir.path() / "Photos" / "inner");
    std::filesystem::create_directories(dir.path() / "out");
    testing_support::WriteBytes(dir.path() / "Photos" / "a.bin", testing_support::PatternBytes(70000, 1));
    testing_support::WriteBytes(dir.path() / "Photos" / "inner" / "b.bin", testing_support::PatternBytes(5, 2));
    return dir.File("Photos");
  }
  void ExpectBlock(const Paths& buttons, bool enabled) {
    for (const std::string& label : buttons) EXPECT_EQ(panel.IsButtonEnabled(label), enabled) << label;
  }

  testing_support::TempDir dir;
  Gate gate;
  std::unique_ptr<ScopedListingHook> hook;  // outlives the controller's worker
  CopyController controller{dir.File("quillmere_errors.log")};
  MainPanelState state;
  PanelDriver panel{controller, state};
};

}  // namespace quillmere
