// A destination that is a symbolic link: a link to a file is written
// through, a link to nowhere is refused, so that a copy never creates a file
// outside the folder the user named.

#include "tests/cli/cli_fixture.h"

#include <cerrno>
#include <system_error>

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadBytes;

class CliLinkDestination : public CliTest {};

TEST_F(CliLinkDestination, LinkToAFileIsFollowedALinkToNowhereIsRefusedAtOpen) {
  const std::vector<uint8_t> content = PatternBytes(9000, 6);
  MakeFile("src.bin", content);
  MakeFile("elsewhere/old.bin", PatternBytes(100, 7));
  fs::create_directories(At("D"));
  fs::create_symlink(At("elsewhere/old.bin"), At("D/to-file"));
  fs::create_symlink(At("elsewhere/new.bin"), At("D/to-nowhere"));

  const CliRun followed = Run({"src.bin", "D/to-file"});
  EXPECT_EQ(followed.exitCode, 0) << followed.err;
  EXPECT_EQ(ReadBytes(At("elsewhere/old.bin")), content);

  const CliRun refused = Run({"src.bin", "D/to-nowhere"});
  EXPECT_EQ(refused.exitCode, 1);
  const std::vector<ErrorLine> errors = ParseErrorLines(refused.err);
  ASSERT_EQ(errors.size(), 1u) << refused.err;
  EXPECT_EQ(errors[0].stage, 0);
  EXPECT_EQ(errors[0].code, 1921);
  EXPECT_EQ(errors[0].message, std::generic_category().message(ELOOP));
  EXPECT_FALSE(fs::exists(At("elsewhere/new.bin"))) << "nothing is created outside D";
  EXPECT_EQ(fs::read_symlink(At("D/to-nowhere")), At("elsewhere/new.bin"));
  EXPECT_EQ(ReadBytes(At("src.bin")), content);
}

}  // namespace
}  // namespace cli_test
