// Closing the window while a copy runs: the window and the user interface go
// first, the copy is cancelled after them, the partly written destination
// stays behind, and the program ends with 0. (Closing while paused is part of
// the panel's end-to-end run in tests/gui/panel.)
//
// The source and the destination come through the panel's own buttons; a
// stand-in for the desktop's file chooser (zenity) on PATH answers them.
#include "program_fixture.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

namespace window_testing {
namespace {

namespace layout = panel_layout;

// Far more than any disk copies in the moment between seeing the run start
// and closing the window; sparse, so the source costs no space.
constexpr uint64_t kSourceSize = 32ull << 30;

uint64_t AllocatedBytes(const std::filesystem::path& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_blocks) * 512 : 0;
}

class CloseDuringCopy : public WindowProgram {
 protected:
  void SetUp() override {
    WindowProgram::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (FindOnPath("xdotool").empty()) GTEST_SKIP() << "xdotool is not installed: nothing can click the panel";
    std::filesystem::create_directories(source().parent_path());
    std::filesystem::create_directories(destinationFolder());
    testing_support::WriteBytes(source(), {});
    std::filesystem::resize_file(source(), kSourceSize);
    searchPath_ = ChooserOnPath(source().string(), destinationFolder().string());
  }

  std::filesystem::path source() const { return folders_.root() / "source" / "big.bin"; }
  std::filesystem::path destinationFolder() const { return folders_.root() / "destination"; }
  std::filesystem::path copy() const { return destinationFolder() / "big.bin"; }

  // Gathers the source and the destination through the panel, presses Start
  // and waits until the run's buttons are enabled. Returns the window, or 0
  // (with a failure) at the first step that does not show its effect.
  XWindowId StartCopyThroughPanel(Screenshot& shot) {
    StartProgram({{"PATH", searchPath_}});
    const XWindowId window = AwaitWindow();
    if (window == 0) return 0;
    auto shows = [&](const std::function<bool(const Screenshot&)>& check) {
      return [this, window, &shot, check] { return x_->Capture(window, shot) && check(shot); };
    };
    if (!Expect(ClickButtonUntil(window, layout::kAddFiles, shows(ShowsSource)), "the source did not reach the list") ||
        !Expect(ClickButtonUntil(window, layout::kChooseFolder, shows(ShowsDestination)),
                "the destination did not reach its field") ||
        !Expect(ClickButtonUntil(window, layout::kStart, shows(RunButtonsEnabled)), "the copy did not start")) {
      return 0;
    }
    return window;
  }

  static bool Expect(bool condition, const char* failure) {
    EXPECT_TRUE(condition) << failure;
    return condition;
  }
  static bool ShowsSource(const Screenshot& s) { return ShowsText(s, layout::SourceRow(0)); }
  static bool ShowsDestination(const Screenshot& s) { return ShowsText(s, layout::kDestinationText); }
  static bool RunButtonsEnabled(const Screenshot& s) { return ButtonEnabled(s, layout::kPause); }

  void ExpectCutShortCopyAndCleanExit(XWindowId window) {
    EXPECT_EQ(CloseAndAwaitExit(window), 0) << folders_.ErrorsText();
    EXPECT_TRUE(std::filesystem::exists(copy())) << "the partly written copy should stay behind";
    EXPECT_LT(AllocatedBytes(copy()), kSourceSize) << "the copy was not cancelled";
  }

 private:
  std::string searchPath_;
};

TEST_F(CloseDuringCopy, ClosingWhileTheCopyRunsCancelsItAndEndsWithZero) {
  Screenshot shot;
  const XWindowId window = StartCopyThroughPanel(shot);
  if (window == 0) WritePng(shot, ArtifactPath("quillmere_gui_copy_not_started.png").string());
  ASSERT_NE(window, 0u);
  EXPECT_TRUE(WritePng(shot, ArtifactPath("quillmere_gui_copy_running.png").string()));
  ExpectCutShortCopyAndCleanExit(window);
}

}  // namespace
}  // namespace window_testing
