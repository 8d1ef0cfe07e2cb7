// quillmere_gui used as a person uses it, on a virtual X display: clicks
// land with xdotool where the panel's buttons are, the pickers answer through
// a stand-in zenity, and the copies are checked on disk byte for byte.
//
// Where the buttons are comes from the panel itself, laid out headless with
// the window's style and font at the window's size. What the window shows is
// read from its pixels: whether a button's label is dark (enabled) or faded,
// how wide "Pause"/"Resume" is, and the colour of the outcome line. A read
// gate (read_gate.cpp, preloaded into the program) holds the copy at its first
// read, so "Pause" and "Cancel" are pressed while a copy is known to run.
#include "tests/gui/panel/fake_zenity.h"
#include "tests/gui/panel/panel_driver.h"
#include "tests/gui/window/child_process.h"
#include "tests/gui/window/virtual_display.h"
#include "tests/gui/window/x11_window.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillmere {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::ReadText;
using window_testing::Rgb;
using window_testing::Screenshot;
using window_testing::WaitUntil;
using window_testing::XWindowId;

// Far above any expected wait, and below CTest's limit for the whole test, so
// that a hang is reported by the wait that met it.
constexpr auto kLimit = 40s;
// How long a click may show no effect before it is repeated: a loaded
// machine can lose a press and release read in one frame.
constexpr auto kClickRepeat = 10s;

// The source tree: three files, one in a subfolder.
const std::vector<std::pair<std::string, size_t>> kFiles = {
    {"a.bin", 300000}, {"inner/b.bin", 5}, {"c.bin", 70000}};

// Where the buttons are and how wide the labels that change are, from the
// panel laid out headless exactly as the window lays it out.
struct PanelLayout {
  std::map<std::string, DrawnWidget> buttons;
  float pauseWidth = 0;
  float resumeWidth = 0;

  static PanelLayout Measure(const std::string& scratch) {
    PanelLayout layout;
    CopyController controller(scratch + "/layout.log");
    MainPanelState state;
    PanelDriver panel(controller, state);
    for (const DrawnWidget& widget : DrawnWidgets()) {
      if (widget.kind == DrawnWidget::Button) layout.buttons[widget.label] = widget;
    }
    layout.pauseWidth = ImGui::CalcTextSize("Pause").x;
    layout.resumeWidth = ImGui::CalcTextSize("Resume").x;
    return layout;
  }
};

bool Near(const Rgb& pixel, int red, int green, int blue) {
  return std::abs(pixel.red - red) <= 3 && std::abs(pixel.green - green) <= 3 && std::abs(pixel.blue - blue) <= 3;
}

bool AnyPixel(const Screenshot& shot, int red, int green, int blue) {
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      if (Near(shot.At(x, y), red, green, blue)) return true;
    }
  }
  return false;
}

// The horizontal extent of the dark (enabled) label pixels inside a
// button; 0 when the label is faded (disabled) or not there, and on a window
// that has not drawn its first frame (black, no light button face).
int DarkLabelSpan(const Screenshot& shot, const DrawnWidget& button) {
  const Rgb face = shot.At(static_cast<int>(button.min.x) + 3, static_cast<int>((button.min.y + button.max.y) / 2));
  if (face.red < 200) return 0;
  int first = -1;
  int last = -1;
  for (int y = static_cast<int>(button.min.y) + 2; y < static_cast<int>(button.max.y) - 2; ++y) {
    for (int x = static_cast<int>(button.min.x) + 2; x < static_cast<int>(button.max.x) - 2; ++x) {
      const Rgb pixel = shot.At(x, y);
      if ((pixel.red + pixel.green + pixel.blue) / 3 >= 70) continue;
      if (first < 0 || x < first) first = x;
      if (x > last) last = x;
    }
  }
  return first < 0 ? 0 : last - first + 1;
}

// "Start" enabled: its face in its own blue (plain or hovered), not faded.
bool StartIsEnabled(const Screenshot& shot, const DrawnWidget& start) {
  const Rgb pixel = shot.At(static_cast<int>(start.min.x) + 4, static_cast<int>((start.min.y + start.max.y) / 2));
  return Near(pixel, 0, 120, 212) || Near(pixel, 26, 134, 217);
}

int ExitCodeOf(const std::optional<int>& status) {
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

fs::path Artifact(const std::string& name) {
  const fs::path folder = fs::path(QUILLMERE_TEST_ARTIFACTS) / "panel";
  fs::create_directories(folder);
  return folder / name;
}

class WindowEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool"}) {
      if (window_testing::FindOnPath(tool).empty()) GTEST_SKIP() << tool << " is not installed: no way to drive the window";
    }
    layout_ = PanelLayout::Measure(dir_.path().string());
    MakeSourceTree();
    fs::create_directories(Gate());
    fs::create_directories(dir_.path() / "work");
    display_ = std::make_unique<window_testing::VirtualDisplay>(dir_.File("xvfb.txt"));
    ASSERT_TRUE(display_->ready()) << ReadText(dir_.File("xvfb.txt"));
    x_ = std::make_unique<window_testing::XSession>(display_->name());
    ASSERT_TRUE(x_->connected());
  }

  fs::path Gate() const { return dir_.path() / "gate"; }
  fs::path SourceFolder() const { return dir_.path() / "gated-src" / "Photos"; }
  fs::path Destination(int run) const { return dir_.path() / ("out " + std::to_string(run)); }

  void MakeSourceTree() {
    for (size_t i = 0; i < kFiles.size(); ++i) {
      const fs::path file = SourceFolder() / kFiles[i].first;
      fs::create_directories(file.parent_path());
      testing_support::WriteBytes(file, PatternBytes(kFiles[i].second, static_cast<uint32_t>(i + 7)));
    }
  }

  // Files of the tree that arrived whole below destination/Photos.
  int CopiedFiles(const fs::path& destination) const {
    int copied = 0;
    for (size_t i = 0; i < kFiles.size(); ++i) {
      const fs::path file = destination / "Photos" / kFiles[i].first;
      if (fs::exists(file) && ReadBytes(file) == PatternBytes(kFiles[i].second, static_cast<uint32_t>(i + 7))) {
        ++copied;
      }
    }
    return copied;
  }

  void StartProgram() {
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::map<std::string, std::optional<std::string>> env = {
        {"DISPLAY", display_->name()},
        {"LIBGL_ALWAYS_SOFTWARE", "1"},
        {"WAYLAND_DISPLAY", std::nullopt},
        {"HOME", dir_.File("work")},
        {"XDG_DATA_HOME", dir_.File("data")},
        {"LD_PRELOAD", QUILLMERE_READ_GATE_LIBRARY},
        {"QUILLMERE_READ_GATE", Gate().string()},
        // A sanitizer build: the preloaded gate comes before the runtime, and
        // Mesa's driver globals are no leaks of the program's.
        {"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0:detect_leaks=0"},
    };
    program_ = std::make_unique<window_testing::ChildProcess>(
        std::vector<std::string>{QUILLMERE_GUI_PROGRAM}, window_testing::EnvironmentWith(env), dir_.File("work"),
        dir_.File("stderr.txt"));
    ASSERT_TRUE(program_->started());
    ASSERT_TRUE(WaitUntil(
        [&] {
          window_ = x_->FindTopLevelWindow("Quillmere");
          return window_ != 0 || !program_->running();
        },
        kLimit));
    ASSERT_NE(window_, 0u) << ReadText(dir_.File("stderr.txt"));
    AwaitEnabled("Add Files...");
  }

  const DrawnWidget& Button(const std::string& label) const { return layout_.buttons.at(label); }

  void Click(const std::string& label) {
    const DrawnWidget& button = Button(label);
    const int x = static_cast<int>((button.min.x + button.max.x) / 2);
    const int y = static_cast<int>((button.min.y + button.max.y) / 2);
    const std::string command = "DISPLAY=" + display_->name() + " xdotool mousemove --window " +
                                std::to_string(window_) + " " + std::to_string(x) + " " + std::to_string(y) +
                                " click 1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  bool ShowsEnabled(const Screenshot& shot, const std::string& label) const {
    return label == "Start" ? StartIsEnabled(shot, Button(label)) : DarkLabelSpan(shot, Button(label)) > 0;
  }

  void AwaitEnabled(const std::string& label) {
    ASSERT_TRUE(AwaitFrame([&](const Screenshot& shot) { return ShowsEnabled(shot, label); }))
        << label << " never enabled";
  }

  // Clicks the button once it shows enabled, and again while effect does
  // not hold for a while.
  void ClickUntil(const std::string& label, const std::function<bool()>& effect) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < deadline) {
      bool done = false;
      ASSERT_TRUE(AwaitFrame([&](const Screenshot& shot) { return (done = effect()) || ShowsEnabled(shot, label); }))
          << label << " never enabled";
      if (done) return;
      ASSERT_NO_FATAL_FAILURE(Click(label));
      if (WaitUntil(effect, kClickRepeat)) return;
    }
    FAIL() << "a click on " << label << " never showed its effect";
  }

  bool AwaitFrame(const std::function<bool(const Screenshot&)>& check) {
    return WaitUntil([&] { return x_->Capture(window_, shot_) && check(shot_); }, kLimit);
  }
  void KeepScreenshot(const std::string& name) {
    ASSERT_TRUE(x_->Capture(window_, shot_));
    EXPECT_TRUE(window_testing::WritePng(shot_, Artifact(name).string()));
  }

  // Adds the source folder through "Add Folders...".
  void AddSourceFolder() {
    zenity_.AnswerMultiple({SourceFolder().string()});
    const int before = zenity_.Calls();
    ASSERT_NO_FATAL_FAILURE(ClickUntil("Add Folders...", [&] { return zenity_.Calls() == before + 1; }));
  }

  // Picks a new, empty destination through "Choose Folder..." and waits for
  // "Start" to be offered.
  void ChooseDestination(int run) {
    fs::create_directories(Destination(run));
    zenity_.AnswerSingle(Destination(run).string());
    const int before = zenity_.Calls();
    // Waits for the last run's final frame too, which enables the button.
    ASSERT_NO_FATAL_FAILURE(ClickUntil("Choose Folder...##dst", [&] { return zenity_.Calls() == before + 1; }));
    ASSERT_TRUE(AwaitFrame([&](const Screenshot& shot) { return StartIsEnabled(shot, Button("Start")); }));
  }

  // Starts a run whose first read waits at the closed gate.
  void StartHeldRun() {
    testing_support::WriteText(Gate() / "closed", "");
    fs::remove(Gate() / "waiting");
    ASSERT_NO_FATAL_FAILURE(ClickUntil("Start", [&] { return fs::exists(Gate() / "waiting"); }));
    AwaitEnabled("Pause");
  }
  void OpenGate() { fs::remove(Gate() / "closed"); }

  // Presses "Pause" and waits until the button reads "Resume" (the same
  // button; only the width of its label tells the two apart).
  void PauseAndAwaitResume() {
    const auto readsResume = [&](const Screenshot& shot) {
      const int span = DarkLabelSpan(shot, Button("Pause"));
      return span > 0 && std::abs(span - layout_.resumeWidth) < std::abs(span - layout_.pauseWidth);
    };
    ClickUntil("Pause", [&] { return x_->Capture(window_, shot_) && readsResume(shot_); });
    const bool reads = readsResume(shot_);
    if (!reads) window_testing::WritePng(shot_, Artifact("failed_pause.png").string());
    ASSERT_TRUE(reads) << "the label is " << DarkLabelSpan(shot_, Button("Pause"))
                       << " pixels wide, \"Resume\" about " << layout_.resumeWidth;
  }

  bool ShowsCompleted() {
    return AwaitFrame([](const Screenshot& shot) { return AnyPixel(shot, 16, 124, 16); });
  }
  bool ShowsStoppedNow() { return x_->Capture(window_, shot_) && AnyPixel(shot_, 247, 99, 12); }

  testing_support::TempDir dir_;
  FakeZenity zenity_;
  PanelLayout layout_;
  std::unique_ptr<window_testing::VirtualDisplay> display_;
  std::unique_ptr<window_testing::XSession> x_;
  std::unique_ptr<window_testing::ChildProcess> program_;
  XWindowId window_ = 0;
  Screenshot shot_;
};

TEST_F(WindowEndToEnd, CopiesAFolderThenPausesResumesCancelsAndClosesWhilePaused) {
  ASSERT_NO_FATAL_FAILURE(StartProgram());
  KeepScreenshot("01_empty.png");

  // A plain run: the tree arrives byte for byte and the outcome is green.
  ASSERT_NO_FATAL_FAILURE(AddSourceFolder());
  ASSERT_NO_FATAL_FAILURE(ChooseDestination(1));
  KeepScreenshot("02_ready.png");
  ASSERT_NO_FATAL_FAILURE(ClickUntil("Start", [&] { return CopiedFiles(Destination(1)) == 3; }));
  ASSERT_TRUE(ShowsCompleted()) << "no \"Queue completed.\" line";
  KeepScreenshot("03_completed.png");
  const std::vector<std::string> args = zenity_.LastArguments();
  EXPECT_NE(std::find(args.begin(), args.end(), "--attach=" + std::to_string(window_)), args.end())
      << "the chooser is owned by the program's window";

  // Paused at the first file: nothing more is copied until "Resume".
  ASSERT_NO_FATAL_FAILURE(ChooseDestination(2));
  ASSERT_NO_FATAL_FAILURE(StartHeldRun());
  ASSERT_NO_FATAL_FAILURE(PauseAndAwaitResume());
  KeepScreenshot("04_paused.png");
  OpenGate();
  std::this_thread::sleep_for(1s);  // time enough to copy it all, were it not paused
  EXPECT_LE(CopiedFiles(Destination(2)), 1);
  ASSERT_NO_FATAL_FAILURE(ClickUntil("Pause", [&] { return CopiedFiles(Destination(2)) == 3; }));  // reads "Resume"
  ASSERT_TRUE(ShowsCompleted());

  // Cancelled while paused: the run stops, orange, the rest never copied.
  ASSERT_NO_FATAL_FAILURE(ChooseDestination(3));
  ASSERT_NO_FATAL_FAILURE(StartHeldRun());
  ASSERT_NO_FATAL_FAILURE(PauseAndAwaitResume());
  OpenGate();  // the pause still holds the run
  ASSERT_NO_FATAL_FAILURE(ClickUntil("Cancel", [&] { return ShowsStoppedNow(); }));
  KeepScreenshot("05_cancelled.png");
  EXPECT_LE(CopiedFiles(Destination(3)), 1);

  // Closing the window while a copy is paused ends the program with 0.
  ASSERT_NO_FATAL_FAILURE(ChooseDestination(4));
  ASSERT_NO_FATAL_FAILURE(StartHeldRun());
  ASSERT_NO_FATAL_FAILURE(PauseAndAwaitResume());
  OpenGate();
  KeepScreenshot("06_paused_before_close.png");
  x_->SendCloseRequest(window_);
  EXPECT_EQ(ExitCodeOf(program_->WaitForExit(kLimit)), 0) << ReadText(dir_.File("stderr.txt"));
  EXPECT_LE(CopiedFiles(Destination(4)), 1);
}

}  // namespace
}  // namespace quillmere
