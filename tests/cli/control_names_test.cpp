// File names that carry terminal commands, line breaks, quotes and bytes
// that are not UTF-8: shown escaped, logged one line per failure, the
// source left as it was. POSIX names may hold all of these; Windows names
// cannot.

#include "tests/cli/cli_fixture.h"

#include <algorithm>

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;

class CliControlNames : public CliTest {};

const char kForgedName[] =
    "x\" msg=\"ok\"\n[2026-01-01 00:00:00] VERIFY SKIP code=0 file=\"C:forged\" msg=\"forged line";

bool HasTerminalBytes(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\r' && c != '\n') || byte == 0x7F || byte >= 0x80;
  });
}

TEST_F(CliControlNames, NamesAreShownEscapedAndEachFailureIsOneLogLine) {
  MakeFile("src/\x1b]0;pwned\x07", PatternBytes(100, 1));
  MakeFile("src/caf\xe9", PatternBytes(200, 2));
  MakeFile(std::string("src/") + kForgedName, PatternBytes(300, 3));
  MakeFile("src/\x1b[2J", PatternBytes(400, 4));
  // Folders where two of the files must go: each fails at its opening.
  fs::create_directories(At(std::string("dst/") + kForgedName));
  fs::create_directories(At("dst/\x1b[2J"));
  const TreeSnapshot source = Snapshot(At("src"));

  const CliRun run = Run({"src", "dst"});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(Snapshot(At("src")), source);
  EXPECT_FALSE(HasTerminalBytes(run.out)) << run.out;
  EXPECT_FALSE(HasTerminalBytes(run.err)) << run.err;
  const ParsedOutput output = ParseStandardOutput(run.out);
  const std::vector<std::string> shown = CheckProgressPerFile(output.progress);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "src/\\x1B]0;pwned\\x07"), 1);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), "src/caf\\xE9"), 1);

  const std::string forgedShown =
      "x\" msg=\"ok\"\\x0A[2026-01-01 00:00:00] VERIFY SKIP code=0 file=\"C:forged\" "
      "msg=\"forged line";
  std::vector<std::string> failed;
  for (const ErrorLine& error : ParseErrorLines(run.err)) failed.push_back(error.path);
  std::sort(failed.begin(), failed.end());
  EXPECT_EQ(failed, (std::vector<std::string>{"dst/\\x1B[2J", "dst/" + forgedShown}));

  const std::vector<std::string> logged = SplitLines(testing_support::ReadText(ErrorLog()));
  ASSERT_EQ(logged.size(), 2u) << testing_support::ReadText(ErrorLog());
  for (const std::string& line : logged) {
    const bool forged = line.find("file=\"dst/x\"\" msg=\"\"ok\"\"\\x0A[2026-01-01") != std::string::npos;
    const bool cleared = line.find("file=\"dst/\\x1B[2J\" msg=\"") != std::string::npos;
    EXPECT_TRUE(forged != cleared) << line;
    EXPECT_NE(line.find("] OPEN SKIP code="), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace cli_test
