// Failures that the engine does not report as copy errors (exceptions) end
// the program with one "[LOI] <step> that bai: ..." line and exit code 1,
// never with an uncaught exception.

#include "tests/cli/cli_fixture.h"

#include <cstdlib>

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadText;

class CliUnexpectedFailure : public CliTest {
 protected:
  // libcrypto configured to load only its null provider has no SHA-256, so
  // setting up the hasher throws inside the worker.
  fs::path NoSha256Config() {
    const fs::path config = Root() / "no-sha256.cnf";
    testing_support::WriteText(config,
                               "openssl_conf = init\n[init]\nproviders = providers\n"
                               "[providers]\nnull = null\n[null]\nactivate = 1\n");
    return config;
  }

  CliRun RunWithoutSha256(const std::vector<std::string>& arguments) {
    return RunCli(arguments, Root(), {"OPENSSL_CONF=" + NoSha256Config().string()});
  }

  // Why the configuration cannot take SHA-256 away here, or "" when it can:
  // the openssl command, on the same libcrypto, must hash without it and
  // fail with it.
  std::string WhyNoSha256CannotBeArranged() {
    const std::string hash = "openssl dgst -sha256 </dev/null >/dev/null 2>&1";
    if (std::system(hash.c_str()) != 0) return "no openssl command to probe libcrypto with";
    const std::string configured = "OPENSSL_CONF='" + NoSha256Config().string() + "' " + hash;
    if (std::system(configured.c_str()) == 0) return "this libcrypto ignores the provider configuration";
    return "";
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
  const std::string why = WhyNoSha256CannotBeArranged();
  if (!why.empty()) GTEST_SKIP() << why;
  MakeFile("a.bin", PatternBytes(3000));

  const CliRun run = RunWithoutSha256({"a.bin", "b.bin"});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, kSingleFileFailed);
  ExpectOneFailureLine(run, "\n[LOI] Sao chep file that bai: BCryptCreateHash that bai\n");
}

TEST_F(CliUnexpectedFailure, HasherThatCannotBeSetUpFailsTheFolderRoad) {
  if (!CanSetEnvironment()) GTEST_SKIP() << "hashing does not run on libcrypto here";
  const std::string why = WhyNoSha256CannotBeArranged();
  if (!why.empty()) GTEST_SKIP() << why;
  MakeFile("src/a.bin", PatternBytes(3000));
  MakeFile("src/b.bin", PatternBytes(3000));

  const CliRun run = RunWithoutSha256({"src", "dst"});

  EXPECT_EQ(run.exitCode, 1);
  ExpectOneFailureLine(run, "\n[LOI] Sao chep cay thu muc that bai: BCryptCreateHash that bai\n");
  // The run broke off at its first file, which the summary and the log
  // count as skipped.
  EXPECT_EQ(run.out, QueueSummary(0, 2, 1));
  const std::string log = ReadText(ErrorLog());
  EXPECT_NE(log.find("] READ SKIP code=8 file=\"src"), std::string::npos) << log;
  EXPECT_NE(log.find(" msg=\"BCryptCreateHash that bai\"\n"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

}  // namespace
}  // namespace cli_test
