// quillmere_gui as a user meets it: a real window on a virtual X display,
// drawn with Mesa's software OpenGL and closed the way a window manager
// closes it; and the program where no window can be had.
#include "program_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace window_testing {
namespace {

// The clear colour is the panel's grey too: the border along the right edge
// is what only a drawn panel shows.
bool ShowsEmptyPanel(const Screenshot& shot) {
  return IsGrey(shot.At(8, 8), kPanelGrey) &&
         IsGrey(shot.At(shot.width - 1, shot.height / 2), kBorderGrey);
}

// Text in the band where the main panel's heading stands.
bool ShowsHeading(const Screenshot& shot) { return ShowsText(shot, panel_layout::kHeading); }

TEST_F(WindowProgram, OpensItsPanelWindowAndEndsWithZeroOnCloseRequest) {
  StartProgram();
  const XWindowId window = AwaitWindow();
  ASSERT_NE(window, 0u);
  const WindowSize size = x_->SizeOf(window);
  EXPECT_EQ(size.width, 960);
  EXPECT_EQ(size.height, 640);

  Screenshot shot;
  ASSERT_TRUE(AwaitFrame(window, shot, ShowsEmptyPanel)) << "the panel was never drawn";
  EXPECT_TRUE(AwaitFrame(window, shot, ShowsHeading)) << "the main panel's heading is not drawn";
  EXPECT_TRUE(WritePng(shot, ArtifactPath("quillmere_gui_window.png").string()));
  // The panel covers the whole client area: its border runs along the
  // window's right and bottom edges.
  EXPECT_TRUE(IsGrey(shot.At(959, 320), kBorderGrey));
  EXPECT_TRUE(IsGrey(shot.At(480, 639), kBorderGrey));

  EXPECT_EQ(CloseAndAwaitExit(window), 0) << folders_.ErrorsText();
  EXPECT_EQ(GlfwErrorLines(folders_.ErrorsText()), 0) << folders_.ErrorsText();
  // Dear ImGui writes its settings into the working folder when its context
  // is destroyed: the shutdown ran.
  EXPECT_NE(folders_.SettingsText().find("[Window][Quillmere]"), std::string::npos);
}

TEST_F(WindowProgram, PanelFollowsTheWindowWhenItIsResized) {
  StartProgram();
  const XWindowId window = AwaitWindow();
  ASSERT_NE(window, 0u);
  Screenshot shot;
  ASSERT_TRUE(AwaitFrame(window, shot, ShowsEmptyPanel));

  x_->Resize(window, 720, 480);
  // The panel's border moves in to the new right and bottom edges.
  ASSERT_TRUE(AwaitFrame(window, shot, [](const Screenshot& s) {
    return s.width == 720 && s.height == 480 && IsGrey(s.At(8, 479), kBorderGrey) && IsGrey(s.At(719, 240), kBorderGrey);
  })) << "the panel did not follow the window's new size";
  EXPECT_TRUE(WritePng(shot, ArtifactPath("quillmere_gui_window_resized.png").string()));

  EXPECT_EQ(CloseAndAwaitExit(window), 0) << folders_.ErrorsText();
  EXPECT_NE(folders_.SettingsText().find("Size=720,480"), std::string::npos) << folders_.SettingsText();
}

// Two names that differ only in one Vietnamese letter: drawn without their
// letters (the fallback "?"), the two rows of the source list look the same.
TEST_F(WindowProgram, VietnameseNamesAreDrawnWithTheirLetters) {
  StartProgram({{"PATH", ChooserOnPath("/data/ảnh gốc\x1f/data/ẩnh gốc", "")}});
  const XWindowId window = AwaitWindow();
  ASSERT_NE(window, 0u);
  Screenshot shot;
  ASSERT_TRUE(ClickButtonUntil(window, panel_layout::kAddFiles, [&] {
    return x_->Capture(window, shot) && ShowsText(shot, panel_layout::SourceRow(0)) &&
           ShowsText(shot, panel_layout::SourceRow(1));
  })) << "the picked names did not reach the source list";
  EXPECT_TRUE(WritePng(shot, ArtifactPath("quillmere_gui_vietnamese_names.png").string()));
  EXPECT_FALSE(SamePixels(shot, panel_layout::SourceRow(0), panel_layout::SourceRow(1)))
      << "the Vietnamese letters are drawn alike, as the fallback's \"?\"";
  EXPECT_EQ(CloseAndAwaitExit(window), 0) << folders_.ErrorsText();
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
  auto program = folders.Start({QUILLMERE_GUI_PROGRAM}, {{"DISPLAY", std::nullopt}});
  ASSERT_TRUE(program->started());
  EXPECT_EQ(ExitCodeOf(program->WaitForExit(kExitLimit)), 1);
  const std::string errors = folders.ErrorsText();
  EXPECT_EQ(GlfwErrorLines(errors), 1) << "standard error: " << errors;
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << "standard error: " << errors;
  EXPECT_FALSE(std::filesystem::exists(folders.work() / "imgui.ini"));
  EXPECT_FALSE(std::filesystem::exists(folders.appData() / "Quillmere"));
}

}  // namespace
}  // namespace window_testing
