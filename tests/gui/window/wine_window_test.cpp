// quillmere_gui.exe, the Windows build, under Wine on a virtual X display of
// its own, in a Wine prefix of its own: the window a Windows user meets,
// driven as the Linux window's tests drive theirs. Wine's file dialog picks
// the sources (typed Z:\ paths and Open), a typed folder is the destination,
// the copies are checked byte for byte, and a close request ends the program
// with 0. The .exe comes from QUILLMERE_WINDOWS_GUI_PROGRAM (set by
// scripts/test-windows.sh after the cross-build); without it the test skips.
#include "program_fixture.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace window_testing {
namespace {

namespace fs = std::filesystem;
namespace layout = panel_layout;
using testing_support::PatternBytes;
using testing_support::ReadBytes;

constexpr const char* kWine = "/usr/lib/wine/wine64";
constexpr const char* kWineServer = "/usr/lib/wine/wineserver";
// Debian's DejaVu Sans, the font fontconfig gives for Segoe UI on Linux.
constexpr const char* kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr std::chrono::seconds kWineBootLimit{300};

// Two names that differ only in one Vietnamese letter. Drawn with the
// fallback font, both letters become "?" and the two rows look the same.
const std::vector<std::pair<std::string, size_t>> kSources = {{"ảnh gốc.bin", 300000}, {"ẩnh gốc.bin", 5000}};
// Their letters beyond ASCII as X keysyms (0x01000000 + the code point):
// ả, ẩ, ố.
const std::vector<unsigned long> kVietnameseKeysyms = {0x1001EA3, 0x1001EA9, 0x1001ED1};

// The path as Wine's Z: drive shows a Linux path.
std::string OnDriveZ(const fs::path& path) {
  std::string text = "Z:" + path.string();
  for (char& c : text) c = c == '/' ? '\\' : c;
  return text;
}

// The window's font was loaded: "Start" (blue, enabled or faded) stands
// where the table, measured with that font, puts it. The library's default
// font lays the panel out smaller, and "Start" higher up.
bool StartAtItsPlace(const Screenshot& shot) {
  const Rgb face = shot.At(layout::kStart.x - 52, layout::kStart.y);
  return face.blue > face.red + 60;
}

bool ShowsColour(const Screenshot& shot, int red, int green, int blue) {
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      const Rgb p = shot.At(x, y);
      if (std::abs(p.red - red) <= 3 && std::abs(p.green - green) <= 3 && std::abs(p.blue - blue) <= 3) return true;
    }
  }
  return false;
}

class WineWindow : public WindowProgram {
 protected:
  void SetUp() override {
    const char* exe = std::getenv("QUILLMERE_WINDOWS_GUI_PROGRAM");
    if (exe == nullptr || *exe == '\0') GTEST_SKIP() << "QUILLMERE_WINDOWS_GUI_PROGRAM names no Windows build";
    exe_ = exe;
    for (const char* needed : {kWine, kWineServer, kDejaVuSans}) {
      if (!fs::exists(needed)) GTEST_SKIP() << needed << " is not installed";
    }
    if (FindOnPath("xdotool").empty()) GTEST_SKIP() << "xdotool is not installed: nothing can drive the window";
    WindowProgram::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // Before Wine reads the keyboard: the letters to type keep keys of their own.
    ASSERT_TRUE(x_->MapKeysyms(kVietnameseKeysyms));
    ASSERT_NO_FATAL_FAILURE(MakePrefix());
    fs::create_directories(folders_.root() / "src");
    for (const auto& [name, size] : kSources) {
      testing_support::WriteBytes(Source(name), PatternBytes(size, static_cast<uint32_t>(size)));
    }
    fs::create_directories(Destination());
  }

  void TearDown() override {
    if (!prefixMade_) return;
    ChildProcess stop({kWineServer, "-k"}, EnvironmentWith(WineEnvironment()), folders_.root().string(),
                      (folders_.root() / "wineserver.txt").string());
    stop.WaitForExit(kExitLimit);
  }

  std::vector<std::string> ProgramCommand() const override { return {kWine, exe_}; }

  fs::path Prefix() const { return folders_.root() / "prefix"; }
  fs::path Source(const std::string& name) const { return folders_.root() / "src" / fs::u8path(name); }
  fs::path Destination() const { return folders_.root() / "dst"; }

  Environment WineEnvironment() const {
    return {{"WINEPREFIX", Prefix().string()},
            {"WINEDEBUG", "-all"},
            {"WINEDLLOVERRIDES", "mscoree,mshtml="},  // no .NET or HTML engine to install
            {"DISPLAY", display_->name()}};
  }

  // A fresh prefix with DejaVu Sans in Segoe UI's place, as on Linux.
  void MakePrefix() {
    prefixMade_ = true;
    ChildProcess boot({kWine, "wineboot", "--init"}, EnvironmentWith(WineEnvironment()), folders_.root().string(),
                      (folders_.root() / "wineboot.txt").string());
    ASSERT_EQ(ExitCodeOf(boot.WaitForExit(kWineBootLimit)), 0) << testing_support::ReadText(folders_.root() / "wineboot.txt");
    const fs::path fonts = Prefix() / "drive_c" / "windows" / "Fonts";
    fs::create_directories(fonts);
    fs::copy_file(kDejaVuSans, fonts / "segoeui.ttf", fs::copy_options::overwrite_existing);
  }

  std::function<bool()> Shows(XWindowId window, const std::function<bool(const Screenshot&)>& check) {
    return [this, window, check] { return x_->Capture(window, shot_) && check(shot_); };
  }

  // "Add Files...", then in Wine's dialog both sources typed into "File
  // name" and Open (Return).
  void AddSourcesThroughWinesDialog(XWindowId window) {
    ASSERT_TRUE(ClickButtonUntil(window, layout::kAddFiles, [&] { return x_->FindTopLevelWindow("Open") != 0; }))
        << "Wine's file dialog did not open";
    const XWindowId dialog = x_->FindTopLevelWindow("Open");
    const WindowSize size = x_->SizeOf(dialog);
    Click(dialog, size.width - 250, size.height - 43);  // the "File name" field, along the dialog's foot
    std::string names;
    for (const auto& source : kSources) names += "\"" + OnDriveZ(Source(source.first)) + "\" ";
    Type(names);
    PressKeys("Return");
    const bool closed = WaitUntil([&] { return x_->FindTopLevelWindow("Open") == 0; }, kWindowLimit);
    if (!closed && x_->Capture(dialog, shot_)) WritePng(shot_, ArtifactPath("wine_dialog_left_open.png").string());
    ASSERT_TRUE(closed) << "Wine's file dialog did not close";
    ASSERT_TRUE(AwaitFrame(window, shot_, [](const Screenshot& s) {
      return ShowsText(s, layout::SourceRow(0)) && ShowsText(s, layout::SourceRow(1));
    })) << "the picked files did not reach the source list";
  }

  // Types the destination into its field (all of it replaced), until "Start"
  // is offered.
  void TypeDestination(XWindowId window) {
    const auto deadline = std::chrono::steady_clock::now() + kWindowLimit;
    const auto startEnabled = Shows(window, [](const Screenshot& s) { return ButtonEnabled(s, layout::kStart); });
    while (!startEnabled() && std::chrono::steady_clock::now() < deadline) {
      Click(window, layout::kDestinationField.x, layout::kDestinationField.y);
      PressKeys("ctrl+a");
      Type(OnDriveZ(Destination()));
      WaitUntil(startEnabled, kClickRepeat);
    }
    ASSERT_TRUE(startEnabled()) << "the destination did not reach its field";
  }

  bool CopiedByteForByte() const {
    for (const auto& [name, size] : kSources) {
      const fs::path copy = Destination() / fs::u8path(name);
      if (!fs::exists(copy) || ReadBytes(copy) != ReadBytes(Source(name))) return false;
    }
    return true;
  }

  // Alt+F4 on the window under the pointer, which Wine turns into WM_CLOSE;
  // sent again while the program runs on (a key that arrives mid-frame on a
  // loaded machine can be lost).
  std::optional<int> CloseWithAltF4AndAwaitExit(XWindowId window) {
    const auto deadline = std::chrono::steady_clock::now() + kExitLimit;
    std::optional<int> status;
    while (!status && std::chrono::steady_clock::now() < deadline) {
      SendAltF4(window);
      status = program_->WaitForExit(kClickRepeat);
    }
    return status;
  }

  void SendAltF4(XWindowId window) {
    // The pointer on the window gives it the keyboard (no window manager).
    RunXdotool({"mousemove", "--window", std::to_string(window), "480", "320", "key", "alt+F4"});
  }

  // The error log's folder, under some user's LocalAppData in the prefix.
  bool LogFolderInPrefix() const {
    std::error_code error;
    for (const auto& user : fs::directory_iterator(Prefix() / "drive_c" / "users", error)) {
      if (fs::is_directory(user.path() / "AppData" / "Local" / "Quillmere")) return true;
    }
    return false;
  }

  std::string exe_;
  bool prefixMade_ = false;
  Screenshot shot_;
};

TEST_F(WineWindow, CopiesFilesPickedInWinesDialogShowsVietnameseNamesAndEndsWithZeroOnClose) {
  StartProgram(WineEnvironment());
  const XWindowId window = AwaitWindow();
  ASSERT_NE(window, 0u);
  const WindowSize size = x_->SizeOf(window);
  EXPECT_EQ(size.width, 960);
  EXPECT_EQ(size.height, 640);
  ASSERT_TRUE(AwaitFrame(window, shot_, [](const Screenshot& s) { return ShowsText(s, layout::kHeading); }))
      << "the panel was never drawn";
  EXPECT_TRUE(WritePng(shot_, ArtifactPath("wine_quillmere_gui_window.png").string()));
  ASSERT_TRUE(StartAtItsPlace(shot_)) << "the controls are not where Segoe UI's stand-in puts them: no font loaded?";

  ASSERT_NO_FATAL_FAILURE(AddSourcesThroughWinesDialog(window));
  EXPECT_FALSE(SamePixels(shot_, layout::SourceRow(0), layout::SourceRow(1)))
      << "the names' Vietnamese letters are drawn alike: the fallback font's \"?\", not Segoe UI's stand-in";
  EXPECT_TRUE(WritePng(shot_, ArtifactPath("wine_quillmere_gui_sources.png").string()));

  ASSERT_NO_FATAL_FAILURE(TypeDestination(window));
  ASSERT_TRUE(ClickButtonUntil(window, layout::kStart, [&] { return CopiedByteForByte(); }))
      << "the files were not copied byte for byte";
  EXPECT_TRUE(AwaitFrame(window, shot_, [](const Screenshot& s) { return ShowsColour(s, 16, 124, 16); }))
      << "no \"Queue completed.\" line";
  EXPECT_TRUE(WritePng(shot_, ArtifactPath("wine_quillmere_gui_completed.png").string()));

  const std::optional<int> status = CloseWithAltF4AndAwaitExit(window);
  EXPECT_EQ(ExitCodeOf(status), 0) << DescribeStatus(status) << "; " << folders_.ErrorsText();
  EXPECT_TRUE(LogFolderInPrefix()) << "no Quillmere folder under the prefix's LocalAppData";
}

}  // namespace
}  // namespace window_testing
