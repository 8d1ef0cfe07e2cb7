// A file that reaches the process's file size limit (ulimit -f) is one
// failed copy, reported and logged, and the run goes on: the limit's signal
// never ends the program unseen.

#include "tests/cli/cli_fixture.h"

#include <sys/resource.h>

namespace cli_test {
namespace {

using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::ReadText;

constexpr rlim_t kLimit = 1024 * 1024;

class CliFileSizeLimit : public CliTest {
 protected:
  // Runs the program with the soft file size limit at kLimit (the child
  // inherits it); this process writes nothing while it is set.
  CliRun RunLimited(const std::vector<std::string>& arguments) {
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit limited = before;
    limited.rlim_cur = kLimit;
    setrlimit(RLIMIT_FSIZE, &limited);
    CliRun run = Run(arguments);
    setrlimit(RLIMIT_FSIZE, &before);
    return run;
  }

  static void ExpectOneWriteFailure(const CliRun& run, const std::string& path) {
    const std::vector<ErrorLine> errors = ParseErrorLines(run.err);
    ASSERT_EQ(errors.size(), 1u) << run.err;
    EXPECT_EQ(errors[0].path, path);
    EXPECT_EQ(errors[0].stage, 2);
    EXPECT_EQ(errors[0].code, 223);
  }
};

TEST_F(CliFileSizeLimit, FileOverTheLimitFailsAndTheRunGoesOn) {
  MakeFile("src/a-big.bin", PatternBytes(3 * kLimit, 1));
  MakeFile("src/b-small.bin", PatternBytes(1000, 2));

  const CliRun folder = RunLimited({"src", "dst"});
  const CliRun file = RunLimited({"src/a-big.bin", "big-copy.bin"});

  EXPECT_EQ(folder.exitCode, 1);
  ExpectOneWriteFailure(folder, Native("dst/a-big.bin"));
  EXPECT_EQ(ParseStandardOutput(folder.out).tail, QueueSummary(1, 2, 1));
  EXPECT_EQ(ReadBytes(At("dst/b-small.bin")), ReadBytes(At("src/b-small.bin")));
  EXPECT_NE(ReadText(ErrorLog()).find("] WRITE SKIP code=223 file="), std::string::npos);
  EXPECT_EQ(file.exitCode, 1);
  ExpectOneWriteFailure(file, "big-copy.bin");
  EXPECT_EQ(file.out.substr(file.out.rfind('\n', file.out.size() - 2)), kSingleFileFailed);
  EXPECT_EQ(ReadBytes(At("src/a-big.bin")), PatternBytes(3 * kLimit, 1));
}

}  // namespace
}  // namespace cli_test
