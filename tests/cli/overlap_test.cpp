// A folder source whose tree overlaps its destination is refused before
// anything is created: one error line, exit code 1, no folder, no log, and
// every source byte kept.

#include "engine/tree_overlap.h"
#include "platform/win32.h"
#include "tests/cli/cli_fixture.h"

#include <cstdlib>
#include <string>

#if QUILLMERE_POSIX_STANDIN
#include <unistd.h>
#endif

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using quillmere::TreeOverlap;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::ReadText;

class CliOverlap : public CliTest {
 protected:
  void SetUp() override {
    MakeFile("S/x", PatternBytes(100, 1));
    MakeFile("S/sub/x", PatternBytes(200, 2));
    MakeFile("D/a/x", PatternBytes(300, 3));
    MakeFile("D/a/a/x", PatternBytes(400, 4));
  }

  // The one error line of a refusal of `from`, out of a run's standard error.
  static void ExpectRefusalLine(const std::string& err, const std::string& from,
                                TreeOverlap overlap) {
    const std::vector<ErrorLine> errors = ParseErrorLines(err);
    ASSERT_EQ(errors.size(), 1u) << err;
    EXPECT_EQ(errors[0].path, from);
    EXPECT_EQ(errors[0].stage, 0);
    EXPECT_EQ(errors[0].code, quillmere::kTreeOverlapCode);
    EXPECT_EQ(errors[0].message, quillmere::TreeOverlapMessage(overlap));
  }

  void ExpectRefused(const std::string& from, const std::string& to, TreeOverlap overlap) {
    SCOPED_TRACE(from + " -> " + to);
    const TreeSnapshot before = Snapshot(Root());
    const CliRun run = Run({from, to});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    ExpectRefusalLine(run.err, from, overlap);
    EXPECT_EQ(Snapshot(Root()), before) << "no folder, no log, no source byte changed";
  }
};

TEST_F(CliOverlap, TreesThatOverlapTheirDestinationAreRefusedBeforeAnythingIsCreated) {
  ExpectRefused("S", "S", TreeOverlap::DestinationInSource);
  ExpectRefused("S", Native("S/sub/new"), TreeOverlap::DestinationInSource);
  ExpectRefused(Native("D/a"), "D", TreeOverlap::SourceInDestination);
  std::error_code noLinks;
  fs::create_directory_symlink(At("S/sub"), At("L"), noLinks);
  if (!noLinks) ExpectRefused("S", "L", TreeOverlap::DestinationInSource);
}

TEST_F(CliOverlap, SourceBelowItsDestinationIsCopiedWhenNothingLandsOnItself) {
  MakeFile("E/Downloads/x/f", PatternBytes(500, 5));

  const CliRun run = Run({Native("E/Downloads/x"), "E"});

  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadBytes(At("E/f")), PatternBytes(500, 5));
  EXPECT_EQ(ReadBytes(At("E/Downloads/x/f")), PatternBytes(500, 5));
}

#if QUILLMERE_POSIX_STANDIN
// The destination is a bind mount of a folder inside the source: no path
// shows it, only the folders of the tree do. Root only, in a private mount
// namespace, so that a failed run leaves no mount behind.
TEST_F(CliOverlap, DestinationThatIsABindMountOfASourceFolderIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "a bind mount needs root";
  fs::create_directory(At("M"));
  const TreeSnapshot before = Snapshot(Root());
  const std::string script = "cd '" + Root().string() + "' && mount --bind S/sub M || exit 1; '" +
                             QUILLMERE_CLI_PATH + "' S M >out.txt 2>err.txt; echo \\$? >rc.txt";
  const std::string shell = "unshare -m --propagation private sh -c \"" + script + "\"";
  if (std::system(shell.c_str()) != 0 || !fs::exists(At("rc.txt"))) {
    GTEST_SKIP() << "no bind mount in a private mount namespace here";
  }

  EXPECT_EQ(ReadText(At("rc.txt")), "1\n");
  EXPECT_EQ(ReadText(At("out.txt")), "");
  ExpectRefusalLine(ReadText(At("err.txt")), "S", TreeOverlap::DestinationInSource);
  for (const char* output : {"out.txt", "err.txt", "rc.txt"}) fs::remove(At(output));
  EXPECT_EQ(Snapshot(Root()), before) << "no folder, no log, no source byte changed";
}
#endif

}  // namespace
}  // namespace cli_test
