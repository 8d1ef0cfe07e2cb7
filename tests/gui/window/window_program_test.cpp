// quillmere_gui as a user meets it: a real window on a virtual X display,
// drawn with Mesa's software OpenGL, closed the way a window manager closes
// it; and the program without any display at all.
#include "child_process.h"
#include "virtual_display.h"
#include "x11_window.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testing_support::ReadText;
using testing_support::TempDir;
using window_testing::ChildProcess;
using window_testing::Screenshot;
using window_testing::WaitUntil;
using window_testing::XWindowId;

// Far above what any of these waits takes; they only keep a hang from
// blocking the suite.
constexpr auto kWindowLimit = 120s;
constexpr auto kExitLimit = 60s;

constexpr int kPanelGrey = 243;   // the clear colour and the panel's background
constexpr int kBorderGrey = 224;  // the panel's border line

bool IsGrey(const window_testing::Rgb& pixel, int level) {
  auto near = [level](int channel) { return std::abs(channel - level) <= 2; };
  return near(pixel.red) && near(pixel.green) && near(pixel.blue);
}

std::filesystem::path ArtifactPath(const std::string& name) {
  const std::filesystem::path folder = QUILLMERE_TEST_ARTIFACTS;
  std::filesystem::create_directories(folder);
  return folder / name;
}

// A folder of its own for the program: its working folder (where imgui.ini
// lands), its home and application-data folders, and its standard error.
class ProgramFolders {
 public:
  ProgramFolders() {
    std::filesystem::create_directories(work());
    std::filesystem::create_directories(home());
  }
  std::filesystem::path work() const { return dir_.path() / "work"; }
  std::filesystem::path home() const { return dir_.path() / "home"; }
  std::filesystem::path appData() const { return dir_.path() / "data"; }
  std::string errors() const { return dir_.File("stderr.txt"); }
  std::string log(const std::string& name) const { return dir_.File(name); }
  std::string ErrorsText() const { return ReadText(errors()); }
  std::string SettingsText() const {
    const std::filesystem::path ini = work() / "imgui.ini";
    return std::filesystem::exists(ini) ? ReadText(ini) : std::string();
  }

  std::unique_ptr<ChildProcess> Start(std::map<std::string, std::optional<std::string>> env) const {
    env["HOME"] = home().string();
    env["XDG_DATA_HOME"] = appData().string();
    env["WAYLAND_DISPLAY"] = std::nullopt;
    return std::make_unique<ChildProcess>(std::vector<std::string>{QUILLMERE_GUI_PROGRAM},
                                          window_testing::EnvironmentWith(env), work().string(), errors());
  }

 private:
  TempDir dir_;
};

// The lines of text shaped "GLFW Error <code>: <description>".
int GlfwErrorLines(const std::string& text) {
  const std::string prefix = "GLFW Error ";
  int count = 0;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(prefix, 0) != 0) continue;
    size_t at = prefix.size();
    if (at < line.size() && line[at] == '-') ++at;
    const size_t digits = line.find_first_not_of("0123456789", at);
    if (digits != std::string::npos && digits > at && line.compare(digits, 2, ": ") == 0 && line.size() > digits + 2) {
      ++count;
    }
  }
  return count;
}

int ExitCodeOf(const std::optional<int>& status) {
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

// The program on a virtual display of its own.
class WindowProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!window_testing::FoundOnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed: no display to open the window on";
    display_ = std::make_unique<window_testing::VirtualDisplay>(folders_.log("xvfb.txt"));
    ASSERT_TRUE(display_->ready()) << "Xvfb did not start: " << ReadText(folders_.log("xvfb.txt"));
    x_ = std::make_unique<window_testing::XSession>(display_->name());
    ASSERT_TRUE(x_->connected());
  }

  void StartProgram(std::map<std::string, std::optional<std::string>> env = {}) {
    env["DISPLAY"] = display_->name();
    env["LIBGL_ALWAYS_SOFTWARE"] = "1";  // Mesa's software OpenGL: no GPU needed
    // In a sanitizer build: Mesa unloads its OpenGL driver when GLFW closes
    // the display, and the leak checker then counts the memory that only the
    // driver's globals held as lost, without any name to suppress it by. The
    // program's own code keeps its leak checks in the other test programs
    // and in the run without a display below.
    const char* asanOptions = std::getenv("ASAN_OPTIONS");
    env["ASAN_OPTIONS"] = std::string(asanOptions != nullptr ? asanOptions : "") + ":detect_leaks=0";
    program_ = folders_.Start(env);
    ASSERT_TRUE(program_->started());
  }

  // The program's window, once it is on the screen.
  XWindowId AwaitWindow() {
    XWindowId window = 0;
    WaitUntil(
        [&] {
          window = x_->FindTopLevelWindow("Quillmere");
          return window != 0 || !program_->running();
        },
        kWindowLimit);
    EXPECT_NE(window, 0u) << "no window named \"Quillmere\"; the program wrote: " << folders_.ErrorsText();
    return window;
  }

  // Waits for a frame in which check holds, and keeps it as shot.
  bool AwaitFrame(XWindowId window, Screenshot& shot, const std::function<bool(const Screenshot&)>& check) {
    return WaitUntil([&] { return x_->Capture(window, shot) && check(shot); }, kWindowLimit);
  }

  int CloseAndAwaitExit(XWindowId window) {
    x_->SendCloseRequest(window);
    return ExitCodeOf(program_->WaitForExit(kExitLimit));
  }

  ProgramFolders folders_;
  std::unique_ptr<window_testing::VirtualDisplay> display_;
  std::unique_ptr<window_testing::XSession> x_;
  std::unique_ptr<ChildProcess> program_;
};

// Some dark text pixels in the band where the panel's heading stands.
bool ShowsHeading(const Screenshot& shot) {
  int dark = 0;
  for (int y = 16; y < 36; ++y) {
    for (int x = 16; x < 300; ++x) dark += shot.At(x, y).red < 100 ? 1 : 0;
  }
  return dark > 20;
}

TEST_F(WindowProgram, OpensItsPanelWindowAndEndsWithZeroOnCloseRequest) {
  StartProgram();
  const XWindowId window = AwaitWindow();
  ASSERT_NE(window, 0u);
  const window_testing::WindowSize size = x_->SizeOf(window);
  EXPECT_EQ(size.width, 960);
  EXPECT_EQ(size.height, 640);

  Screenshot shot;
  ASSERT_TRUE(AwaitFrame(window, shot, [](const Screenshot& s) { return IsGrey(s.At(8, 8), kPanelGrey); }))
      << "the panel was never drawn";
  EXPECT_TRUE(window_testing::WritePng(shot, ArtifactPath("quillmere_gui_window.png").string()));
  // The panel covers the whole client area: its border runs along the
  // window's right and bottom edges.
  EXPECT_TRUE(IsGrey(shot.At(959, 320), kBorderGrey));
  EXPECT_TRUE(IsGrey(shot.At(480, 639), kBorderGrey));
  EXPECT_TRUE(AwaitFrame(window, shot, ShowsHeading)) << "the main panel's heading is not drawn";

  EXPECT_EQ(CloseAndAwaitExit(window), 0) << folders_.ErrorsText();
  EXPECT_EQ(folders_.ErrorsText().find("GLFW Error"), std::string::npos) << folders_.ErrorsText();
  // Dear ImGui wrote its settings in the working folder when its context was
  // destroyed: the shutdown ran.
  EXPECT_NE(folders_.SettingsText().find("[Window][Quillmere]"), std::string::npos);
}

TEST_F(WindowProgram, PanelFollowsTheWindowWhenItIsResized) {
  StartProgram();
  const XWindowId window = AwaitWindow();
  ASSERT_NE(window, 0u);
  Screenshot shot;
  ASSERT_TRUE(AwaitFrame(window, shot, [](const Screenshot& s) { return IsGrey(s.At(8, 8), kPanelGrey); }));

  x_->Resize(window, 720, 480);
  // The panel's bottom border moves up to the new bottom edge.
  ASSERT_TRUE(AwaitFrame(window, shot, [](const Screenshot& s) {
    return s.width == 720 && s.height == 480 && IsGrey(s.At(8, 479), kBorderGrey) && IsGrey(s.At(719, 240), kBorderGrey);
  })) << "the panel did not follow the window's new size";
  EXPECT_TRUE(window_testing::WritePng(shot, ArtifactPath("quillmere_gui_window_resized.png").string()));

  EXPECT_EQ(CloseAndAwaitExit(window), 0) << folders_.ErrorsText();
  EXPECT_NE(folders_.SettingsText().find("Size=720,480"), std::string::npos) << folders_.SettingsText();
}

TEST_F(WindowProgram, EndsWithOneWhenNoOpenGl32CoreContextCanBeHad) {
  // Mesa then offers OpenGL 3.1 at most, so the 3.2 core context is refused.
  StartProgram({{"MESA_GL_VERSION_OVERRIDE", "3.1"}});
  EXPECT_EQ(ExitCodeOf(program_->WaitForExit(kExitLimit)), 1);
  EXPECT_GE(GlfwErrorLines(folders_.ErrorsText()), 1) << folders_.ErrorsText();
  // Nothing after the window was set up: no settings file, no log folder.
  EXPECT_FALSE(std::filesystem::exists(folders_.work() / "imgui.ini"));
  EXPECT_FALSE(std::filesystem::exists(folders_.appData() / "Quillmere"));
}

TEST(WindowProgramWithoutDisplay, EndsWithOneAndOneGlfwErrorLine) {
  ProgramFolders folders;
  auto program = folders.Start({{"DISPLAY", std::nullopt}});
  ASSERT_TRUE(program->started());
  EXPECT_EQ(ExitCodeOf(program->WaitForExit(kExitLimit)), 1);
  const std::string errors = folders.ErrorsText();
  EXPECT_EQ(GlfwErrorLines(errors), 1) << "standard error: " << errors;
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << "standard error: " << errors;
  EXPECT_FALSE(std::filesystem::exists(folders.work() / "imgui.ini"));
  EXPECT_FALSE(std::filesystem::exists(folders.appData() / "Quillmere"));
}

}  // namespace
