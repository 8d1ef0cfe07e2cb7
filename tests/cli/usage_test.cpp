// The command line: too few arguments, and arguments beyond the second.

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

TEST_F(CliCommandLine, ArgumentsAfterTheSecondAreIgnored) {
  MakeFile("file.bin", PatternBytes(5000, 7));
  MakeFile("tree/inner/b.txt", PatternBytes(10, 8));

  const CliRun single = Run({"file.bin", "copy.bin", "extra.bin", "src"});
  EXPECT_EQ(single.exitCode, 0) << single.err;
  EXPECT_EQ(ParseStandardOutput(single.out).tail, kSingleFileDone);
  EXPECT_EQ(ReadBytes(At("copy.bin")), PatternBytes(5000, 7));

  const CliRun folder = Run({"tree", "tree copy", "file.bin", "fourth"});
  EXPECT_EQ(folder.exitCode, 0) << folder.err;
  EXPECT_EQ(ParseStandardOutput(folder.out).tail, QueueSummary(1, 1, 0));
  EXPECT_EQ(Snapshot(At("tree copy")), Snapshot(At("tree")));

  EXPECT_FALSE(std::filesystem::exists(At("extra.bin")));
  EXPECT_FALSE(std::filesystem::exists(At("fourth")));
  EXPECT_EQ(ReadBytes(At("file.bin")), PatternBytes(5000, 7)) << "an extra argument is no destination";
  EXPECT_FALSE(std::filesystem::exists(ErrorLog()));
}

}  // namespace
}  // namespace cli_test
