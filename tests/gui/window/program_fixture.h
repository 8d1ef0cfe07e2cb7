// Running quillmere_gui in a test: its own folders and environment, a virtual
// X display, and what a user does and sees there.
#pragma once

#include "child_process.h"
#include "panel_layout.h"
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
// How long a click may show no effect before it is repeated: long enough for
// a slow frame, so a click that worked is not doubled.
constexpr std::chrono::seconds kClickRepeat{10};

constexpr int kPanelGrey = 243;   // the clear colour and the panel's background
constexpr int kBorderGrey = 224;  // the panel's border line

bool IsGrey(const Rgb& pixel, int level);
// Pixels darker than 60 in the rectangle [x0, x1) by [y0, y1): the cores of
// text glyphs in the window's text colour, which disabled text never reaches.
int DarkPixels(const Screenshot& shot, int x0, int y0, int x1, int y1);
int DarkPixels(const Screenshot& shot, const Band& band);
// Text is drawn in the band: a few glyphs' worth of dark pixels on a light
// background (never the black of a window that has not drawn yet).
bool ShowsText(const Screenshot& shot, const Band& band);
// The button at middle is enabled: its label in the full text colour, not
// faded; "Start", white on blue, is enabled when its face is its own blue.
bool ButtonEnabled(const Screenshot& shot, Point middle);
// Whether the two bands hold the same pixels.
bool SamePixels(const Screenshot& shot, const Band& a, const Band& b);
// Where a test keeps a screenshot: test-artifacts/ in the build folder.
std::filesystem::path ArtifactPath(const std::string& name);
// The exit code, or -1 when the program has not ended or was killed.
int ExitCodeOf(const std::optional<int>& status);
// "exit code N", "signal N" or "still running", for failure messages.
std::string DescribeStatus(const std::optional<int>& status);
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

  // Starts command with this environment changed by env.
  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& command, Environment env) const;

 private:
  testing_support::TempDir dir_;
};

// The program on a virtual display of its own. Skips when Xvfb is missing.
//
// Clicks and keys go through xdotool (the X server's test extension), as a
// user's do. A click on a control the window has not yet drawn enabled does
// nothing, and on a loaded machine Mesa's software renderer can take seconds
// per frame: a test clicks a control only once a screenshot shows it
// enabled, and clicks again when a click shows no effect for a while rather
// than waiting on it for good.
class WindowProgram : public ::testing::Test {
 protected:
  void SetUp() override;
  // The command that starts the program: the Linux build, or the Windows
  // build under Wine in the tests of that build.
  virtual std::vector<std::string> ProgramCommand() const;
  void StartProgram(Environment env = {});
  // The first shown top-level window of that name once it is on the
  // screen; 0 (and a failure) when it never comes.
  XWindowId AwaitWindow(const std::string& name = "Quillmere");
  // Waits for a frame in which check holds, and keeps it in shot.
  bool AwaitFrame(XWindowId window, Screenshot& shot, const std::function<bool(const Screenshot&)>& check);
  // Clicks the left button at (x, y) in the window, as a user does.
  void Click(XWindowId window, int x, int y);
  // Waits until the button at middle shows it is enabled, clicks it, and
  // clicks again while effect does not hold (see above). False when the
  // button never came up enabled or the effect never showed.
  bool ClickButtonUntil(XWindowId window, Point middle, const std::function<bool()>& effect);
  // Types text (UTF-8) or presses keys ("Return", "alt+F4") where the
  // keyboard focus is: the window under the pointer without a window manager.
  void Type(const std::string& text);
  void PressKeys(const std::string& keys);
  // Sends the close request and returns the exit code.
  int CloseAndAwaitExit(XWindowId window);
  // Puts a stand-in for the desktop's file chooser (zenity) in a folder of
  // its own and returns a PATH that finds it first: it answers a folder
  // choice with folderAnswer and a file choice with fileAnswer, as printed
  // (several paths joined by the separator the pickers ask for, 0x1F).
  std::string ChooserOnPath(const std::string& fileAnswer, const std::string& folderAnswer);

  ProgramFolders folders_;
  std::unique_ptr<VirtualDisplay> display_;
  std::unique_ptr<XSession> x_;
  std::unique_ptr<ChildProcess> program_;

  // Runs xdotool with these arguments on the display; fails the test when
  // it fails.
  void RunXdotool(const std::vector<std::string>& arguments);
};

}  // namespace window_testing
