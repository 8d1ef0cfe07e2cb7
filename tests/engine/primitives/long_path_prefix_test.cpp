// Device-namespace paths ("\\?\", "\??\", "\\.\") taken into the form the
// standard library's path rules read as Windows does, or refused.
#include "engine/long_path_prefix.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

namespace {

using quillmere::PlainWindowsPath;

TEST(LongPathPrefix, IsTakenOffWhereThePlainFormNamesTheSameFile) {
  const std::pair<const char*, const char*> kPlainForms[] = {
      {R"(\\?\C:\data\x.bin)", R"(C:\data\x.bin)"},
      {R"(\\?\z:\)", R"(z:\)"},
      {R"(\\?\unc\server\share\dir\)", R"(\\server\share\dir\)"},
      {R"(\??\Z:\a b\c.d)", R"(Z:\a b\c.d)"},
      {R"(\\.\Z:\tmp)", R"(Z:\tmp)"},
      // Names that only resemble devices.
      {R"(\\?\C:\CONSOLE\COM10\nul1.txt\.git)", R"(C:\CONSOLE\COM10\nul1.txt\.git)"},
  };
  for (const auto& [path, plain] : kPlainForms) EXPECT_EQ(PlainWindowsPath(path), plain) << path;
  for (const char* path : {R"(C:\x)", R"(\\server\share\x)", "rel/a.", "C:x"}) {
    EXPECT_EQ(PlainWindowsPath(path), path) << path;
  }
}

TEST(LongPathPrefix, IsRefusedWhereThePathRulesWouldReadTheRestOtherwise) {
  for (const char* path : {
           R"(\\.\C:)",
           R"(\\?\Volume{3f1c2a7e-0000-0000-0000-100000000000})",
           R"(\\?\Volume{3f1c2a7e-0000-0000-0000-100000000000}\dir)",
           R"(\\?\GLOBALROOT\Device\HarddiskVolume1\x)",
           R"(\\?\C:\a.\b)",
           R"(\\?\C:\a\b )",
           R"(\\?\C:\a\.\b)",
           R"(\\?\C:\a\..)",
           R"(\\?\C:\a/b)",
           R"(//?/C:/a)",
           R"(\\?\C:\a\\b)",
           R"(\\?\C:\x\CON)",
           R"(\\?\C:\x\nul.txt)",
           R"(\\?\C:\x\com1 .log)",
           "\\\\?\\C:\\x\\LPT\xC2\xB3",
           R"(\\?\C:\x\a?b)",
           R"(\\?\C:\x\c:d)",
           R"(\\?\UNC\server)",
           R"(\\?\UNC\server\share\..)",
       }) {
    EXPECT_EQ(PlainWindowsPath(path), std::nullopt) << path;
  }
}

// The plain form has to fit in 260 UTF-16 units with its terminator; a
// letter of three UTF-8 bytes is one unit.
TEST(LongPathPrefix, IsRefusedWhereThePlainFormIsTooLongForThePathRules) {
  std::string name;
  for (int i = 0; i < 255; ++i) name += "\xE1\xBB\x87";
  EXPECT_EQ(PlainWindowsPath(R"(\\?\C:\)" + name), R"(C:\)" + name);
  EXPECT_EQ(PlainWindowsPath(R"(\\?\C:\)" + name + "x"), std::nullopt);
}

}  // namespace
