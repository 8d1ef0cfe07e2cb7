// Where the windowed program keeps its error log, and the known-folder call
// of the stand-in behind it.
#include "gui/copy_controller.h"
#include "platform/win32.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace quillmere {
namespace {

#if QUILLMERE_POSIX_STANDIN
namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteText;

// Sets or removes an environment variable for one test and puts it back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name(name) {
    if (const char* old = std::getenv(name)) saved = old;
    Apply(value);
  }
  ~ScopedEnv() { Apply(saved); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Apply(const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  const char* name;
  std::optional<std::string> saved;
};

TEST(CopyControllerLogPath, LivesInQuillmereUnderXdgDataHomeWhichIsCreated) {
  TempDir dir;
  const fs::path data = dir.path() / "not" / "yet" / "there";
  ScopedEnv xdg("XDG_DATA_HOME", data.string());
  ScopedEnv home("HOME", (dir.path() / "home").string());

  EXPECT_EQ(GetErrorLogPath(), (data / "Quillmere" / "quillmere_errors.log").string());
  EXPECT_TRUE(fs::is_directory(data / "Quillmere"));
}

TEST(CopyControllerLogPath, FallsBackToLocalShareUnderHome) {
  TempDir dir;
  const fs::path home = dir.path() / "home";
  const std::string expected =
      (home / ".local" / "share" / "Quillmere" / "quillmere_errors.log").string();
  ScopedEnv homeEnv("HOME", home.string());
  {
    ScopedEnv xdg("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(GetErrorLogPath(), expected);
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", std::string());
    EXPECT_EQ(GetErrorLogPath(), expected);
  }
  {
    // A relative setting would follow the current folder around.
    ScopedEnv xdg("XDG_DATA_HOME", std::string("relative/data"));
    EXPECT_EQ(GetErrorLogPath(), expected);
  }
}

TEST(CopyControllerLogPath, BareFileNameWithoutALocalDataFolder) {
  ScopedEnv xdg("XDG_DATA_HOME", std::nullopt);
  {
    ScopedEnv home("HOME", std::nullopt);
    EXPECT_EQ(GetErrorLogPath(), "quillmere_errors.log");
  }
  {
    ScopedEnv home("HOME", std::string());
    EXPECT_EQ(GetErrorLogPath(), "quillmere_errors.log");
  }
}

TEST(CopyControllerLogPath, FolderThatCannotBeCreatedIsNotReported) {
  TempDir dir;
  const fs::path blocker = dir.path() / "file";
  WriteText(blocker, "in the way");
  ScopedEnv xdg("XDG_DATA_HOME", blocker.string());

  EXPECT_EQ(GetErrorLogPath(), (blocker / "Quillmere" / "quillmere_errors.log").string());
}

// Reads the folder the stand-in gives, releasing it as the caller must.
HRESULT KnownFolder(REFKNOWNFOLDERID id, std::u16string& text) {
  PWSTR path = reinterpret_cast<PWSTR>(1);  // must be overwritten
  const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &path);
  text = path == nullptr ? std::u16string() : std::u16string(path);
  CoTaskMemFree(path);
  return result;
}

TEST(CopyControllerLogPath, KnownFolderCallGivesUtf16WithoutTrailingSeparator) {
  ScopedEnv xdg("XDG_DATA_HOME", std::string("/data/h\xc3\xa9llo//"));
  std::u16string text;
  EXPECT_EQ(KnownFolder(FOLDERID_LocalAppData, text), S_OK);
  EXPECT_EQ(text, u"/data/h\u00e9llo");
}

TEST(CopyControllerLogPath, KnownFolderCallRefusesOtherFoldersAndUncarriableNames) {
  ScopedEnv xdg("XDG_DATA_HOME", std::string("/data"));
  std::u16string text;
  const KNOWNFOLDERID other = {0x3EB685DBu, 0x65F9u, 0x4CF6u,
                               {0xA0u, 0x3Au, 0xE3u, 0xEFu, 0x65u, 0x72u, 0x9Fu, 0x3Du}};
  EXPECT_EQ(KnownFolder(other, text), E_FAIL);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, nullptr), E_INVALIDARG);

  // A name that is not UTF-8 would come back altered.
  ScopedEnv bad("XDG_DATA_HOME", std::string("/data/\xff"));
  ScopedEnv home("HOME", std::nullopt);
  EXPECT_EQ(KnownFolder(FOLDERID_LocalAppData, text), E_FAIL);
  EXPECT_TRUE(text.empty());
}
#endif

}  // namespace
}  // namespace quillmere
