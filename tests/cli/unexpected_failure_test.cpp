// Failures that the engine does not report as copy errors (exceptions) end
// the program with one "[LOI] <step> that bai: ..." line and exit code 1,
// never with an uncaught exception.

#include "tests/cli/cli_fixture.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;

class CliUnexpectedFailure : public CliTest {
 protected:
  // libcrypto configured to load only its null provider has no SHA-256, so
  // setting up the hasher throws inside the worker.
  CliRun RunWithoutSha256(const std::vector<std::string>& arguments) {
    const fs::path config = Root() / "no-sha256.cnf";
    testing_support::WriteText(config,
                               "openssl_conf = init\n[init]\nproviders = providers\n"
                               "[providers]\nnull = null\n[null]\nactivate = 1\n");
    return RunCli(arguments, Root(), {"OPENSSL_CONF=" + config.string()});
  }

  static void ExpectOneFailureLine(const CliRun& run, const std::string& start) {
    EXPECT_EQ(run.err.rfind(start, 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << "one line: " << run.err;
  }
};

TEST_F(CliUnexpectedFailure, SourceThatCannotBeExaminedIsReportedAndFails) {
  if (!PrepareUnprivilegedRun()) GTEST_SKIP() << "file modes cannot bar anyone here";
  MakeFile("closed/inner.bin", PatternBytes(10));
  fs::permissions(At("closed"), fs::perms::none);

  const CliRun run = RunCliUnprivileged({"closed/inner.bin", "out.bin"}, Root(), Root() / "bin");

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  ExpectOneFailureLine(run, "\n[LOI] Kiem tra nguon that bai: ");
  EXPECT_FALSE(fs::exists(At("out.bin")));
}

TEST_F(CliUnexpectedFailure, HasherThatCannotBeSetUpFailsTheSingleFileRoad) {
  if (!CanSetEnvironment()) GTEST_SKIP() << "hashing does not run on libcrypto here";
  MakeFile("a.bin", PatternBytes(3000));

  const CliRun run = RunWithoutSha256({"a.bin", "b.bin"});

  if (run.exitCode == 0) GTEST_SKIP() << "this libcrypto ignores the provider configuration";
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, kSingleFileFailed);
  ExpectOneFailureLine(run, "\n[LOI] Sao chep file that bai: BCryptCreateHash that bai\n");
}

TEST_F(CliUnexpectedFailure, HasherThatCannotBeSetUpFailsTheFolderRoad) {
  if (!CanSetEnvironment()) GTEST_SKIP() << "hashing does not run on libcrypto here";
  MakeFile("src/a.bin", PatternBytes(3000));
  MakeFile("src/b.bin", PatternBytes(3000));

  const CliRun run = RunWithoutSha256({"src", "dst"});

  if (run.exitCode == 0) GTEST_SKIP() << "this libcrypto ignores the provider configuration";
  EXPECT_EQ(run.exitCode, 1);
  ExpectOneFailureLine(run, "\n[LOI] Sao chep cay thu muc that bai: BCryptCreateHash that bai\n");
  // The run broke off at its first file; the summary still says how far it got.
  EXPECT_EQ(run.out, QueueSummary(0, 2, 0));
}

}  // namespace
}  // namespace cli_test
