// Source files whose names differ but meet in one destination file (case
// twins on a destination that folds case) are never copied over each other: each copy either holds its own source's
// bytes or is refused, and the run says so.

#include "tests/cli/cli_fixture.h"

#include "engine/win32_file.h"
#include "platform/win32.h"

#include <cstdlib>

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadBytes;

class CliNamesMeet : public CliTest {
 protected:
  // The twins, each with bytes of its own.
  void MakeTwins(const std::vector<std::string>& names) {
    uint32_t seed = 0;
    for (const std::string& name : names) {
      ++seed;
      MakeFile("src/" + name, PatternBytes(1000 + seed, seed));
    }
  }

  // Copies src to target and checks the copies (CheckCopies); returns the
  // number of refusals.
  size_t CopyAndCheck(const fs::path& target, const std::vector<std::string>& names) {
    lastRun = Run({"src", quillmere::PathToUtf8(target)});
    const size_t refused = CheckCopies(target, names);
    EXPECT_EQ(lastRun.exitCode, refused == 0 ? 0 : 1);
    EXPECT_EQ(ParseStandardOutput(lastRun.out).tail,
              QueueSummary(names.size() - refused, names.size(), refused));
    return refused;
  }

  // Every source file's copy holds its bytes unless the last run's error
  // line refused it as a name that met another; returns the refusals.
  size_t CheckCopies(const fs::path& target, const std::vector<std::string>& names) {
    size_t refused = 0;
    for (const ErrorLine& error : ParseErrorLines(lastRun.err)) {
      EXPECT_EQ(error.code, static_cast<long>(quillmere::kNamesMeetCode)) << lastRun.err;
      EXPECT_EQ(error.message, quillmere::kNamesMeetMessage);
      ++refused;
    }
    for (const std::string& name : names) {
      const std::string copy = quillmere::PathToUtf8(target / quillmere::Utf8ToPath(name));
      const bool wasRefused = lastRun.err.find("[LOI] " + copy + " ") != std::string::npos;
      if (!wasRefused) {
        EXPECT_EQ(ReadBytes(target / name), ReadBytes(At("src/" + name))) << name;
      }
    }
    return refused;
  }

  CliRun lastRun;

  // Whether the folder takes a.txt and A.txt as one name.
  static bool FoldsCase(const fs::path& folder) {
    testing_support::WriteBytes(folder / "probe.txt", {1});
    const bool folds = fs::exists(folder / "PROBE.TXT");
    fs::remove(folder / "probe.txt");
    return folds;
  }
};

const std::vector<std::string> kCaseTwins = {"a.txt", "A.txt", "sub/x", "SUB/x"};

// On a destination that tells the names apart, both twins are copied; on
// one that folds case (Windows, and Wine's drive for a host folder), one of
// each pair is refused.
TEST_F(CliNamesMeet, CaseTwinsAreCopiedOrRefusedNeverOverwritten) {
  MakeTwins(kCaseTwins);
  if (ReadBytes(At("src/a.txt")) == ReadBytes(At("src/A.txt"))) {
    GTEST_SKIP() << "the temporary folder folds case, so no twins can be made (the queue's "
                    "tests cover such destinations)";
  }
  fs::create_directories(At("dst"));
  const bool folds = FoldsCase(At("dst"));

  EXPECT_EQ(CopyAndCheck(At("dst/t"), kCaseTwins), folds ? 2u : 0u);
}

#if QUILLMERE_POSIX_STANDIN
// exFAT through FUSE folds case and gives every name an identity of its
// own: the twins are caught in the folders the run made.
TEST_F(CliNamesMeet, CaseTwinsOnAnExfatImageThroughFuse) {
  MakeTwins(kCaseTwins);
  const std::string image = quillmere::PathToUtf8(At("exfat.img"));
  const std::string mount = quillmere::PathToUtf8(At("mnt"));
  fs::create_directories(At("mnt"));
  const std::string device = quillmere::PathToUtf8(At("device"));
  const std::string attach = "truncate -s 32M '" + image + "' && mkfs.exfat '" + image +
                             "' >/dev/null 2>&1 && losetup -f --show '" + image + "' >'" +
                             device + "' 2>/dev/null && mount.exfat-fuse \"$(cat '" + device +
                             "')\" '" + mount + "' >/dev/null 2>&1";
  if (std::system(attach.c_str()) != 0) {
    std::system(("[ -s '" + device + "' ] && losetup -d \"$(cat '" + device + "')\"").c_str());
    GTEST_SKIP() << "no exFAT image through FUSE here (needs root, a loop device, /dev/fuse, "
                    "exfatprogs and exfat-fuse)";
  }
  const size_t refused = CopyAndCheck(At("mnt/t"), kCaseTwins);
  // What the copies hold on the image itself, not in a cache.
  const std::string remount = "umount '" + mount + "' && mount.exfat-fuse \"$(cat '" + device +
                              "')\" '" + mount + "' >/dev/null 2>&1";
  const bool remounted = std::system(remount.c_str()) == 0;
  if (remounted) CheckCopies(At("mnt/t"), kCaseTwins);
  std::system(("umount '" + mount + "'; losetup -d \"$(cat '" + device + "')\"").c_str());

  EXPECT_TRUE(remounted);
  EXPECT_EQ(refused, 2u);
}
#endif

}  // namespace
}  // namespace cli_test
