// The command line: exactly two non-empty arguments, or the usage text.

#include "tests/cli/cli_fixture.h"

namespace cli_test {
namespace {

using testing_support::PatternBytes;
using testing_support::ReadBytes;

class CliCommandLine : public CliTest {};

TEST_F(CliCommandLine, WithoutArgumentsPrintsUsageOnStandardErrorAndFails) {
  const CliRun run = Run({});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, kUsageText);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(std::filesystem::is_empty(Root())) << "nothing may be created, no error log either";
}

TEST_F(CliCommandLine, WithOneArgumentPrintsUsageAndExaminesNothing) {
  MakeFile("src/a.txt", PatternBytes(100));
  const TreeSnapshot before = Snapshot(Root());

  for (const char* only : {"src", "src/a.txt", "missing"}) {
    const CliRun run = Run({only});
    EXPECT_EQ(run.exitCode, 1) << only;
    EXPECT_EQ(run.err, kUsageText) << only;
    EXPECT_EQ(run.out, "") << only;
  }
  EXPECT_EQ(Snapshot(Root()), before);
}

// `cp a b dir/` habits: a third argument is never taken as nothing, since
// copying the first over the second would lose the second. An empty
// argument would make the copy land relative to the current folder.
TEST_F(CliCommandLine, MoreThanTwoArgumentsOrAnEmptyOnePrintUsageAndTouchNothing) {
  MakeFile("file.bin", PatternBytes(5000, 7));
  MakeFile("other.bin", PatternBytes(300, 9));
  MakeFile("tree/inner/b.txt", PatternBytes(10, 8));
  const TreeSnapshot before = Snapshot(Root());

  const std::vector<std::vector<std::string>> commandLines = {
      {"file.bin", "other.bin", "tree"}, {"tree", "copy", "file.bin", "fourth"},
      {"tree", ""}, {"", "copy.bin"}, {"file.bin", ""}};
  for (const std::vector<std::string>& arguments : commandLines) {
    const CliRun run = Run(arguments);
    EXPECT_EQ(run.exitCode, 1) << arguments.size();
    EXPECT_EQ(run.err, kUsageText) << arguments.size();
    EXPECT_EQ(run.out, "") << arguments.size();
  }
  EXPECT_EQ(Snapshot(Root()), before) << "nothing may be written, no error log either";
}

}  // namespace
}  // namespace cli_test
