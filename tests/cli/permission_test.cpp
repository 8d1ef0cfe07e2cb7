// Permission bits of what a copy creates, as a user bound by them: a copy is
// never more open to others than its source, and its owner can always
// finish it, also where the source is read-only.

#include "tests/cli/cli_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadBytes;

constexpr uid_t kNobody = 65534;

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// The unprivileged run reads the sources as their owner.
void GiveToNobody(const fs::path& root) {
  if (::geteuid() != 0) return;
  ASSERT_EQ(::lchown(root.c_str(), kNobody, kNobody), 0);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNobody), 0) << entry.path();
  }
}

class UmaskFor {
 public:
  explicit UmaskFor(mode_t mask) : saved(::umask(mask)) {}
  ~UmaskFor() { ::umask(saved); }
  UmaskFor(const UmaskFor&) = delete;
  UmaskFor& operator=(const UmaskFor&) = delete;

 private:
  mode_t saved;
};

class CliPermissions : public CliTest {};

TEST_F(CliPermissions, CopiesAreNoMoreOpenThanTheirSourcesAndTheOwnerCanStillFinishThem) {
  if (!PrepareUnprivilegedRun()) GTEST_SKIP() << "file modes cannot bar anyone here";
  const std::map<std::string, mode_t> files{{"src/key", 0600},
                                            {"src/open.txt", 0644},
                                            {"src/private/inner.bin", 0644},
                                            {"src/sealed/read-only.bin", 0400}};
  uint32_t seed = 1;
  for (const auto& [name, mode] : files) {
    MakeFile(name, PatternBytes(5000 + seed, seed));
    fs::permissions(At(name), static_cast<fs::perms>(mode));
    ++seed;
  }
  fs::permissions(At("src"), static_cast<fs::perms>(0755));
  fs::permissions(At("src/private"), static_cast<fs::perms>(0700));
  fs::permissions(At("src/sealed"), static_cast<fs::perms>(0500));
  GiveToNobody(At("src"));

  const CliRun run = [&] {
    UmaskFor mask(022);
    return RunCliUnprivileged({"src", "dst"}, Root(), Root() / "bin");
  }();

  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::map<std::string, mode_t> expected{
      {"dst", 0755},         {"dst/key", 0600},
      {"dst/open.txt", 0644}, {"dst/private", 0700},
      {"dst/private/inner.bin", 0644},
      // The owner may write what it cannot write in the source.
      {"dst/sealed", 0700},   {"dst/sealed/read-only.bin", 0600}};
  for (const auto& [name, mode] : expected) EXPECT_EQ(ModeOf(At(name)), mode) << name;
  seed = 1;
  for (const auto& [name, mode] : files) {
    EXPECT_EQ(ReadBytes(At(name)), PatternBytes(5000 + seed, seed)) << name;
    EXPECT_EQ(ReadBytes(At("dst" + name.substr(3))), PatternBytes(5000 + seed, seed)) << name;
    ++seed;
  }
  // Lets the temporary folder go as whoever runs the tests.
  fs::permissions(At("src/sealed"), fs::perms::owner_all);
}

}  // namespace
}  // namespace cli_test
