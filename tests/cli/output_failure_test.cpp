// Output that goes nowhere: an error log that cannot be opened, and standard
// output and standard error that cannot be written. Neither may hide a
// failure or change the copy and its exit code.

#include "tests/cli/cli_fixture.h"

#include "platform/win32.h"

#include <cerrno>
#include <fstream>
#include <system_error>

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadBytes;

class CliOutputFailure : public CliTest {};

// The closing notice of a run whose log lost lines, for the C library's
// reason errnoValue.
std::string LogIncompleteNotice(int errnoValue) {
  return "\n[LOI] File nhat ky loi quillmere_errors.log thieu dong (khong mo hoac khong ghi "
         "duoc): " +
         std::generic_category().message(errnoValue) + "\n";
}

// A folder stands where the log would be written, which stops root too. The
// queue's own failures come out as error lines, and the program says once
// why the log holds none of them.
TEST_F(CliOutputFailure, FailuresAnUnwritableLogLosesAreWrittenOnStandardError) {
  fs::create_directories(ErrorLog());
  MakeFile("src/a.bin", PatternBytes(3000, 1));
  MakeFile("src/sub/b.bin", PatternBytes(10, 2));
  MakeFile("dst/sub", PatternBytes(1, 3));  // a file where a folder must go

  const CliRun run = Run({"src", "dst"});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(ParseStandardOutput(run.out).tail, QueueSummary(1, 2, 1));
  errno = 0;
  const std::ofstream sameOpen(ErrorLog(), std::ios::out | std::ios::app);
  const std::string logLine = LogIncompleteNotice(errno);
  std::string err = run.err;
  const size_t at = err.find(logLine);
  ASSERT_NE(at, std::string::npos) << err;
  err.erase(at, logLine.size());
  EXPECT_EQ(err.find("nhat ky"), std::string::npos) << "said once: " << run.err;
  const std::vector<ErrorLine> errors = ParseErrorLines(err);
  ASSERT_EQ(errors.size(), 2u) << run.err;
  EXPECT_EQ(errors[0].path, Native("dst/sub"));
  EXPECT_EQ(errors[1].path, Native("dst/sub/b.bin"));
  for (const ErrorLine& error : errors) EXPECT_EQ(error.stage, 4) << error.path;
  EXPECT_EQ(ReadBytes(At("dst/a.bin")), PatternBytes(3000, 1));
}

#if QUILLMERE_POSIX_STANDIN
// A log that opens but takes no byte, as on a full disk: its lines are lost
// as surely as those of a log that cannot be opened, and the program says so.
TEST_F(CliOutputFailure, LogThatOpensButTakesNothingIsReportedIncomplete) {
  fs::create_symlink("/dev/full", ErrorLog());
  MakeFile("src/a.bin", PatternBytes(3000, 1));
  MakeFile("src/b.bin", PatternBytes(10, 2));
  fs::create_directories(At("dst/b.bin"));  // a folder where the file must go

  const CliRun run = Run({"src", "dst"});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(ParseStandardOutput(run.out).tail, QueueSummary(1, 2, 1));
  std::string err = run.err;
  const std::string notice = LogIncompleteNotice(ENOSPC);
  const size_t at = err.find(notice);
  ASSERT_NE(at, std::string::npos) << err;
  err.erase(at, notice.size());
  const std::vector<ErrorLine> errors = ParseErrorLines(err);
  ASSERT_EQ(errors.size(), 1u) << run.err;
  EXPECT_EQ(errors[0].path, Native("dst/b.bin"));
  EXPECT_EQ(ReadBytes(At("dst/a.bin")), PatternBytes(3000, 1));
}

// Pipes whose reader is gone (as when a pipeline's reader has quit) and a
// full device: every write fails, and each copy still runs to its end.
TEST_F(CliOutputFailure, OutputsThatCannotBeWrittenChangeNeitherCopyNorExitCode) {
  MakeFile("one.bin", PatternBytes(70000, 1));
  MakeFile("src/a.bin", PatternBytes(3 * 1024 * 1024 + 5, 2));
  MakeFile("src/b.bin", PatternBytes(5000, 3));

  const CliRun single =
      RunCliWithOutputs({"one.bin", "copy.bin"}, Root(), OutputSink::ClosedPipe, OutputSink::ClosedPipe);
  EXPECT_EQ(single.exitCode, 0);
  EXPECT_EQ(ReadBytes(At("copy.bin")), PatternBytes(70000, 1));

  const CliRun full =
      RunCliWithOutputs({"src", "full"}, Root(), OutputSink::DeviceFull, OutputSink::DeviceFull);
  EXPECT_EQ(full.exitCode, 0);
  EXPECT_EQ(Snapshot(At("full")), Snapshot(At("src")));

  // A failing copy: its failure is logged, the files after it are copied.
  MakeFile("src/c.bin", PatternBytes(100, 4));
  fs::create_directories(At("dst/c.bin"));
  const CliRun failing =
      RunCliWithOutputs({"src", "dst"}, Root(), OutputSink::ClosedPipe, OutputSink::ClosedPipe);
  EXPECT_EQ(failing.exitCode, 1);
  const std::vector<std::string> logged = SplitLines(testing_support::ReadText(ErrorLog()));
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("] OPEN SKIP "), std::string::npos) << logged[0];
  EXPECT_NE(logged[0].find("file=\"" + Native("dst/c.bin") + "\""), std::string::npos);
  EXPECT_EQ(ReadBytes(At("dst/a.bin")), PatternBytes(3 * 1024 * 1024 + 5, 2));
  EXPECT_EQ(ReadBytes(At("dst/b.bin")), PatternBytes(5000, 3));
}
#endif

}  // namespace
}  // namespace cli_test
