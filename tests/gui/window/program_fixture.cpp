#include "program_fixture.h"

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

namespace window_testing {

using testing_support::ReadText;

bool IsGrey(const Rgb& pixel, int level) {
  auto near = [level](int channel) { return std::abs(channel - level) <= 2; };
  return near(pixel.red) && near(pixel.green) && near(pixel.blue);
}

int DarkPixels(const Screenshot& shot, int x0, int y0, int x1, int y1) {
  int dark = 0;
  for (int y = y0; y < y1 && y < shot.height; ++y) {
    for (int x = x0; x < x1 && x < shot.width; ++x) dark += shot.At(x, y).red < 60 ? 1 : 0;
  }
  return dark;
}

std::filesystem::path ArtifactPath(const std::string& name) {
  const std::filesystem::path folder = QUILLMERE_TEST_ARTIFACTS;
  std::filesystem::create_directories(folder);
  return folder / name;
}

int ExitCodeOf(const std::optional<int>& status) {
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

int GlfwErrorLines(const std::string& text) {
  const std::string prefix = "GLFW Error ";
  int count = 0;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(prefix, 0) != 0) continue;
    size_t at = prefix.size();
    if (at < line.size() && line[at] == '-') ++at;
    const size_t digitsEnd = line.find_first_not_of("0123456789", at);
    if (digitsEnd != std::string::npos && digitsEnd > at && line.compare(digitsEnd, 2, ": ") == 0 &&
        line.size() > digitsEnd + 2) {
      ++count;
    }
  }
  return count;
}

ProgramFolders::ProgramFolders() {
  std::filesystem::create_directories(work());
  std::filesystem::create_directories(root() / "home");
}

std::string ProgramFolders::ErrorsText() const { return ReadText(root() / "stderr.txt"); }

std::string ProgramFolders::SettingsText() const {
  const std::filesystem::path ini = work() / "imgui.ini";
  return std::filesystem::exists(ini) ? ReadText(ini) : std::string();
}

std::unique_ptr<ChildProcess> ProgramFolders::Start(Environment env) const {
  env["HOME"] = (root() / "home").string();
  env["XDG_DATA_HOME"] = appData().string();
  env["WAYLAND_DISPLAY"] = std::nullopt;
  return std::make_unique<ChildProcess>(std::vector<std::string>{QUILLMERE_GUI_PROGRAM}, EnvironmentWith(env),
                                        work().string(), (root() / "stderr.txt").string());
}

void WindowProgram::SetUp() {
  if (FindOnPath("Xvfb").empty()) GTEST_SKIP() << "Xvfb is not installed: no display to open the window on";
  const std::string log = (folders_.root() / "xvfb.txt").string();
  display_ = std::make_unique<VirtualDisplay>(log);
  ASSERT_TRUE(display_->ready()) << "Xvfb did not start: " << ReadText(log);
  x_ = std::make_unique<XSession>(display_->name());
  ASSERT_TRUE(x_->connected());
}

void WindowProgram::StartProgram(Environment env) {
  env["DISPLAY"] = display_->name();
  env["LIBGL_ALWAYS_SOFTWARE"] = "1";  // Mesa's software OpenGL: no GPU needed
  // In a sanitizer build: Mesa unloads its OpenGL driver when GLFW closes
  // the display, and the leak checker then counts the memory that only the
  // driver's globals held as lost, with no name left to suppress it by. The
  // program's own code keeps its leak checks in the other test programs and
  // in the run without a display.
  const char* asanOptions = std::getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] = std::string(asanOptions != nullptr ? asanOptions : "") + ":detect_leaks=0";
  program_ = folders_.Start(env);
  ASSERT_TRUE(program_->started());
}

XWindowId WindowProgram::AwaitWindow() {
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

bool WindowProgram::AwaitFrame(XWindowId window, Screenshot& shot,
                               const std::function<bool(const Screenshot&)>& check) {
  return WaitUntil([&] { return x_->Capture(window, shot) && check(shot); }, kWindowLimit);
}

void WindowProgram::Click(XWindowId window, int x, int y) {
  const std::string xdotool = FindOnPath("xdotool");
  ASSERT_FALSE(xdotool.empty());
  ChildProcess click({xdotool, "mousemove", "--window", std::to_string(window), std::to_string(x), std::to_string(y),
                      "click", "1"},
                     EnvironmentWith({{"DISPLAY", display_->name()}}), folders_.root().string(),
                     (folders_.root() / "xdotool.txt").string());
  ASSERT_EQ(ExitCodeOf(click.WaitForExit(kExitLimit)), 0) << ReadText(folders_.root() / "xdotool.txt");
}

int WindowProgram::CloseAndAwaitExit(XWindowId window) {
  x_->SendCloseRequest(window);
  return ExitCodeOf(program_->WaitForExit(kExitLimit));
}

}  // namespace window_testing
