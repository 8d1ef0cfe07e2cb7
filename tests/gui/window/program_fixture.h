// Running quillmere_gui in a test: its own folders and environment, a virtual
// X display, and what a user does and sees there.
#pragma once

#include "child_process.h"
#include "virtual_display.h"
#include "x11_window.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace window_testing {

using Environment = std::map<std::string, std::optional<std::string>>;

// Far above what any wait in these tests takes; the limits only keep a hang
// from blocking the suite and are never a measure of speed.
constexpr std::chrono::seconds kWindowLimit{120};
constexpr std::chrono::seconds kExitLimit{60};

constexpr int kPanelGrey = 243;   // the clear colour and the panel's background
constexpr int kBorderGrey = 224;  // the panel's border line

bool IsGrey(const Rgb& pixel, int level);
// Pixels darker than 60 in the rectangle [x0, x1) by [y0, y1): the cores of
// text glyphs in the window's text colour, which disabled text never reaches.
int DarkPixels(const Screenshot& shot, int x0, int y0, int x1, int y1);
// Where a test keeps a screenshot: test-artifacts/ in the build folder.
std::filesystem::path ArtifactPath(const std::string& name);
// The exit code, or -1 when the program has not ended or was killed.
int ExitCodeOf(const std::optional<int>& status);
// The lines of text shaped "GLFW Error <code>: <description>".
int GlfwErrorLines(const std::string& text);

// A folder of its own for one run of the program: its working folder (where
// imgui.ini lands), its home and application-data folders (where the error
// log's folder is made), and its standard error.
class ProgramFolders {
 public:
  ProgramFolders();
  std::filesystem::path root() const { return dir_.path(); }
  std::filesystem::path work() const { return root() / "work"; }
  std::filesystem::path appData() const { return root() / "data"; }
  std::string ErrorsText() const;
  std::string SettingsText() const;  // imgui.ini, empty when missing

  // Starts the program with this environment changed by env.
  std::unique_ptr<ChildProcess> Start(Environment env) const;

 private:
  testing_support::TempDir dir_;
};

// The program on a virtual display of its own. Skips when Xvfb is missing.
class WindowProgram : public ::testing::Test {
 protected:
  void SetUp() override;
  void StartProgram(Environment env = {});
  // The program's window once it is on the screen; 0 (and a failure) when
  // it never comes.
  XWindowId AwaitWindow();
  // Waits for a frame in which check holds, and keeps it in shot.
  bool AwaitFrame(XWindowId window, Screenshot& shot, const std::function<bool(const Screenshot&)>& check);
  // Clicks the left button at (x, y) in the window, as a user does.
  void Click(XWindowId window, int x, int y);
  // Sends the close request and returns the exit code.
  int CloseAndAwaitExit(XWindowId window);

  ProgramFolders folders_;
  std::unique_ptr<VirtualDisplay> display_;
  std::unique_ptr<XSession> x_;
  std::unique_ptr<ChildProcess> program_;
};

}  // namespace window_testing
