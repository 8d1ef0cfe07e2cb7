// Where the window's font comes from on a fontconfig desktop, and a font
// file the process may not read. Each case runs in a child process: the
// fontconfig configuration is changed there, and dropping privileges cannot
// be undone.
#include "tests/gui/window/font_test_support.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <fontconfig/fontconfig.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace {

using namespace font_testing;
using testing_support::TempDir;

// Runs body in a child process; its exit code, or -1 when it did not exit.
int InChild(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The font file for Segoe UI, as the window asks for it.
std::string SegoeUiFile() { return LocalFontFile(quillmere::kWindowFontPath); }

TEST(WindowFontFile, SegoeUiIsTheFontFontconfigMatchesAndOtherNamesStayAsTheyAre) {
  EXPECT_EQ(InChild([] {
              const std::string file = SegoeUiFile();
              return !file.empty() && file != quillmere::kWindowFontPath && file.front() == '/' && access(file.c_str(), R_OK) == 0 ? 0 : 1;
            }),
            0)
      << "Segoe UI came back as " << SegoeUiFile();
  EXPECT_EQ(LocalFontFile("C:\\Windows\\Fonts\\nosuchfont.ttf"), "C:\\Windows\\Fonts\\nosuchfont.ttf");
}

TEST(WindowFontFile, WithoutAnyConfiguredFontThePathStaysAndTheDefaultFontIsUsed) {
  TempDir dir;
  testing_support::WriteText(dir.path() / "fonts.conf", "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n");
  const std::string config = dir.File("fonts.conf");
  EXPECT_EQ(InChild([&] {
              setenv("FONTCONFIG_FILE", config.c_str(), 1);
              FcInitReinitialize();  // as a fresh process would read it, whatever this one read before
              const std::string file = SegoeUiFile();
              if (file != quillmere::kWindowFontPath) return 1;
              quillmere::GlyphRanges glyphs;
              ImFontAtlas atlas;
              quillmere::BuildGlyphRanges(atlas, glyphs);
              quillmere::AddWindowFont(atlas, file.c_str(), quillmere::kWindowFontSize, glyphs.ranges.Data);
              return HoldsOnlyTheDefaultFont(atlas) ? 0 : 2;
            }),
            0);
}

// Drops to the unprivileged user when running as root, which reads any file.
bool DropPrivileges() {
  if (geteuid() != 0) return true;
  const uid_t nobody = 65534;
  return setgroups(0, nullptr) == 0 && setresgid(nobody, nobody, nobody) == 0 &&
         setresuid(nobody, nobody, nobody) == 0;
}

TEST(WindowFont, UnreadableFileGivesTheDefaultFont) {
  const std::string font = SystemFont();
  if (font.empty()) GTEST_SKIP() << "no font stands for Segoe UI here";
  TempDir dir;
  const std::string path = dir.File("segoeui.ttf");
  // A good font, so only the missing read permission can turn it away.
  testing_support::WriteBytes(path, testing_support::ReadBytes(font));
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(path.c_str(), 0), 0);

  const int result = InChild([&] {
    if (!DropPrivileges()) return 2;
    quillmere::GlyphRanges glyphs;
    ImFontAtlas atlas;
    quillmere::BuildGlyphRanges(atlas, glyphs);
    quillmere::AddWindowFont(atlas, path.c_str(), quillmere::kWindowFontSize, glyphs.ranges.Data);
    return HoldsOnlyTheDefaultFont(atlas) && atlas.Build() ? 0 : 1;
  });
  ASSERT_NE(result, -1) << "the loader ended the process";
  EXPECT_NE(result, 2) << "could not switch to the unprivileged user";
  EXPECT_EQ(result, 0) << "an unreadable file did not give the default font";
}

}  // namespace
