// A copy onto its own source through an overlay mount, where no share check
// can see that the two paths are one file: the source must keep every byte.
// Runs as root only, inside a private mount namespace (unshare -m), so that
// a failed run leaves no mount behind.

#include "tests/cli/cli_fixture.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace cli_test {
namespace {

using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::ReadText;

class CliOverlayAlias : public CliTest {
 protected:
  // m is an overlay of the lower folder l and the upper folder u; the
  // command runs in Root() with m mounted, its output in out.txt / err.txt.
  int RunWithOverlay(const std::string& command) {
    const std::string script = "cd '" + Root().string() +
                               "' && mount -t overlay overlay -o lowerdir=l,upperdir=u,workdir=w m"
                               " && " + command + " >out.txt 2>err.txt";
    const std::string shell = "unshare -m --propagation private sh -c \"" + script + "\"";
    const int status = std::system(shell.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The reason an overlay cannot be mounted here, or "".
  std::string WhyNoOverlay() {
    if (::geteuid() != 0) return "mounting an overlay needs root";
    for (const char* folder : {"l", "u", "w", "m"}) std::filesystem::create_directories(At(folder));
    if (RunWithOverlay("true") != 0) return "no overlay in a private mount namespace here";
    return "";
  }

  std::string Cli() const { return std::string("'") + QUILLMERE_CLI_PATH + "'"; }
};

TEST_F(CliOverlayAlias, FileAndTreeCopiedOntoThemselvesKeepEveryByte) {
  const std::string why = WhyNoOverlay();
  if (!why.empty()) GTEST_SKIP() << why;
  MakeFile("u/f.bin", PatternBytes(300000, 1));
  MakeFile("u/sub/h.bin", PatternBytes(70000, 2));
  MakeFile("l/g.bin", PatternBytes(5000, 3));

  EXPECT_EQ(RunWithOverlay(Cli() + " m/f.bin u/f.bin"), 0) << ReadText(At("err.txt"));
  EXPECT_EQ(ReadBytes(At("u/f.bin")), PatternBytes(300000, 1));

  EXPECT_EQ(RunWithOverlay(Cli() + " m u"), 0) << ReadText(At("err.txt"));
  EXPECT_EQ(ReadBytes(At("u/f.bin")), PatternBytes(300000, 1));
  EXPECT_EQ(ReadBytes(At("u/sub/h.bin")), PatternBytes(70000, 2));
  EXPECT_EQ(ReadBytes(At("u/g.bin")), PatternBytes(5000, 3)) << "the lower file is copied up";
}

}  // namespace
}  // namespace cli_test
