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

int DarkPixels(const Screenshot& shot, const Band& band) { return DarkPixels(shot, band.x0, band.y0, band.x1, band.y1); }

namespace {

// Pixels lighter than 200: the panel's and its fields' backgrounds.
int LightPixels(const Screenshot& shot, const Band& band) {
  int light = 0;
  for (int y = band.y0; y < band.y1 && y < shot.height; ++y) {
    for (int x = band.x0; x < band.x1 && x < shot.width; ++x) light += shot.At(x, y).red > 200 ? 1 : 0;
  }
  return light;
}

// Dark pixels count as text only on a light background: a window that has
// not drawn its first frame yet is black, which is no text at all.
bool DarkTextOnLight(const Screenshot& shot, const Band& band, int minimumDark) {
  const int area = (band.x1 - band.x0) * (band.y1 - band.y0);
  return DarkPixels(shot, band) > minimumDark && LightPixels(shot, band) * 2 > area;
}

}  // namespace

bool ShowsText(const Screenshot& shot, const Band& band) { return DarkTextOnLight(shot, band, 20); }

bool ButtonEnabled(const Screenshot& shot, Point middle) {
  if (middle.x == panel_layout::kStart.x && middle.y == panel_layout::kStart.y) {
    const Rgb face = shot.At(middle.x - 52, middle.y);
    auto near = [](const Rgb& p, int r, int g, int b) {
      return std::abs(p.red - r) <= 3 && std::abs(p.green - g) <= 3 && std::abs(p.blue - b) <= 3;
    };
    return near(face, 0, 120, 212) || near(face, 26, 134, 217);  // plain or hovered
  }
  return DarkTextOnLight(shot, panel_layout::LabelAround(middle), 10);
}

bool SamePixels(const Screenshot& shot, const Band& a, const Band& b) {
  for (int dy = 0; dy < a.y1 - a.y0; ++dy) {
    for (int dx = 0; dx < a.x1 - a.x0; ++dx) {
      const Rgb p = shot.At(a.x0 + dx, a.y0 + dy);
      const Rgb q = shot.At(b.x0 + dx, b.y0 + dy);
      if (p.red != q.red || p.green != q.green || p.blue != q.blue) return false;
    }
  }
  return true;
}

std::filesystem::path ArtifactPath(const std::string& name) {
  const std::filesystem::path folder = QUILLMERE_TEST_ARTIFACTS;
  std::filesystem::create_directories(folder);
  return folder / name;
}

int ExitCodeOf(const std::optional<int>& status) {
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

std::string DescribeStatus(const std::optional<int>& status) {
  if (!status) return "still running";
  if (WIFEXITED(*status)) return "exit code " + std::to_string(WEXITSTATUS(*status));
  if (WIFSIGNALED(*status)) return "signal " + std::to_string(WTERMSIG(*status));
  return "wait status " + std::to_string(*status);
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

std::unique_ptr<ChildProcess> ProgramFolders::Start(const std::vector<std::string>& command, Environment env) const {
  env["HOME"] = (root() / "home").string();
  env["XDG_DATA_HOME"] = appData().string();
  env["WAYLAND_DISPLAY"] = std::nullopt;
  return std::make_unique<ChildProcess>(command, EnvironmentWith(env), work().string(), (root() / "stderr.txt").string());
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
  program_ = folders_.Start(ProgramCommand(), env);
  ASSERT_TRUE(program_->started());
}

std::vector<std::string> WindowProgram::ProgramCommand() const { return {QUILLMERE_GUI_PROGRAM}; }

XWindowId WindowProgram::AwaitWindow(const std::string& name) {
  XWindowId window = 0;
  WaitUntil(
      [&] {
        window = x_->FindTopLevelWindow(name);
        return window != 0 || !program_->running();
      },
      kWindowLimit);
  EXPECT_NE(window, 0u) << "no window named \"" << name << "\"; the program wrote: " << folders_.ErrorsText();
  return window;
}

bool WindowProgram::AwaitFrame(XWindowId window, Screenshot& shot,
                               const std::function<bool(const Screenshot&)>& check) {
  return WaitUntil([&] { return x_->Capture(window, shot) && check(shot); }, kWindowLimit);
}

void WindowProgram::RunXdotool(const std::vector<std::string>& arguments) {
  const std::string xdotool = FindOnPath("xdotool");
  ASSERT_FALSE(xdotool.empty());
  std::vector<std::string> command{xdotool};
  command.insert(command.end(), arguments.begin(), arguments.end());
  // A UTF-8 locale, so that typed text reaches the window as the letters given.
  ChildProcess run(command, EnvironmentWith({{"DISPLAY", display_->name()}, {"LC_ALL", "C.UTF-8"}}),
                   folders_.root().string(), (folders_.root() / "xdotool.txt").string());
  ASSERT_EQ(ExitCodeOf(run.WaitForExit(kExitLimit)), 0) << ReadText(folders_.root() / "xdotool.txt");
}

void WindowProgram::Click(XWindowId window, int x, int y) {
  RunXdotool({"mousemove", "--window", std::to_string(window), std::to_string(x), std::to_string(y), "click", "1"});
}

bool WindowProgram::ClickButtonUntil(XWindowId window, Point middle, const std::function<bool()>& effect) {
  const auto deadline = std::chrono::steady_clock::now() + kWindowLimit;
  Screenshot shot;
  while (std::chrono::steady_clock::now() < deadline) {
    // The effect of an earlier click may show while waiting (and the
    // button may then never come back enabled).
    bool done = false;
    if (!AwaitFrame(window, shot, [&](const Screenshot& s) { return (done = effect()) || ButtonEnabled(s, middle); })) {
      return false;
    }
    if (done) return true;
    Click(window, middle.x, middle.y);
    if (WaitUntil(effect, kClickRepeat)) return true;
  }
  return effect();
}

void WindowProgram::Type(const std::string& text) { RunXdotool({"type", "--delay", "20", text}); }

void WindowProgram::PressKeys(const std::string& keys) { RunXdotool({"key", keys}); }

int WindowProgram::CloseAndAwaitExit(XWindowId window) {
  x_->SendCloseRequest(window);
  return ExitCodeOf(program_->WaitForExit(kExitLimit));
}

std::string WindowProgram::ChooserOnPath(const std::string& fileAnswer, const std::string& folderAnswer) {
  const std::filesystem::path bin = folders_.root() / "bin";
  std::filesystem::create_directories(bin);
  testing_support::WriteText(bin / "zenity",
                             "#!/bin/sh\n"
                             "case \" $* \" in\n"
                             "  *\" --directory \"*) printf '%s\\n' '" + folderAnswer + "' ;;\n"
                             "  *) printf '%s\\n' '" + fileAnswer + "' ;;\n"
                             "esac\n");
  std::filesystem::permissions(bin / "zenity", std::filesystem::perms::owner_all);
  const char* path = std::getenv("PATH");
  return bin.string() + ":" + (path != nullptr ? path : "/usr/bin:/bin");
}

}  // namespace window_testing
