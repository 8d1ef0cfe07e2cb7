// The folder road: the source folder's tree is listed, then copied by the
// queue manager straight into the destination folder; the summary closes
// the run and failures are logged in the current folder.

#include "tests/cli/cli_fixture.h"

#include <cctype>

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::ReadText;

class CliFolder : public CliTest {};

// "[YYYY-MM-DD HH:MM:SS] ": the 22 bytes that open every log line.
bool StartsWithTimestamp(const std::string& line) {
  const std::string shape = "[dddd-dd-dd dd:dd:dd] ";
  if (line.size() < shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
    if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return false;
  }
  return true;
}

TEST_F(CliFolder, CopiesTheTreeContentsDirectlyIntoTheDestination) {
  const std::string longName =
      "src/sub dir/deeper/một tên tệp rất dài để vượt quá ba mươi lăm byte.bin";
  const std::set<std::string> listed{Native("src/a.txt"), Native("src/empty.dat"),
                                     Native("src/Tài liệu/ghi chú.txt"),
                                     Native("src/Tài liệu/ảnh lớn.bin"), Native(longName)};
  MakeFile("src/a.txt", PatternBytes(10, 1));
  MakeFile("src/empty.dat", {});
  MakeFile("src/Tài liệu/ghi chú.txt", PatternBytes(5000, 2));
  MakeFile("src/Tài liệu/ảnh lớn.bin", PatternBytes(5 * 1024 * 1024 + 123, 3));
  MakeFile(longName, PatternBytes(4096, 4));
  fs::create_directories(At("src/Thư mục trống"));

  const CliRun run = Run({"src", "đích"});

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Snapshot(At("đích")), Snapshot(At("src"))) << "contents land in đích, not đích/src";
  EXPECT_TRUE(fs::is_directory(At("đích/Thư mục trống")));
  EXPECT_FALSE(fs::exists(ErrorLog())) << "nothing failed, so nothing is logged";

  const ParsedOutput output = ParseStandardOutput(run.out);
  EXPECT_EQ(output.tail, QueueSummary(5, 5, 0));
  ASSERT_FALSE(output.progress.empty());
  for (const ProgressLine& line : output.progress) EXPECT_TRUE(line.longForm);
  EXPECT_EQ(output.progress.back().totalPercent, 100.0);
  const std::vector<std::string> files = CheckProgressPerFile(output.progress);
  EXPECT_EQ(std::set<std::string>(files.begin(), files.end()), listed);
  for (const std::string& name : {Native("src/a.txt"), Native(longName)}) {
    EXPECT_NE(run.out.find("] " + PathField(name) + " 100.0%  "), std::string::npos)
        << "path written padded to 35 bytes, or whole when longer: " << name;
  }
}

TEST_F(CliFolder, EmptyFolderGivesZeroOfZeroAndSucceeds) {
  fs::create_directory(At("leer"));

  const CliRun run = Run({"leer", "out"});

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, QueueSummary(0, 0, 0));
  EXPECT_TRUE(fs::is_directory(At("out")));
  EXPECT_TRUE(fs::is_empty(At("out")));
}

// A run that reaches the end of its queue is no full copy when anything
// failed on the way, even with no file skipped: here the destination folder
// cannot be made over an existing file, and the summary says 0/0.
TEST_F(CliFolder, FolderThatCannotBeCreatedFailsTheRunThoughNoFileWasSkipped) {
  fs::create_directory(At("leer"));
  MakeFile("out", PatternBytes(10, 4));

  const CliRun run = Run({"leer", "out"});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, QueueSummary(0, 0, 0));
  EXPECT_EQ(ReadBytes(At("out")), PatternBytes(10, 4));
  EXPECT_NE(ReadText(ErrorLog()).find("CREATE_DIR SKIP"), std::string::npos);
}

TEST_F(CliFolder, FolderOfEmptyFilesWritesShortLinesOnly) {
  for (const char* name : {"src/e1", "src/e2", "src/nested/e3"}) MakeFile(name, {});

  const CliRun run = Run({"src", "dst"});

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  const ParsedOutput output = ParseStandardOutput(run.out);
  EXPECT_EQ(output.tail, QueueSummary(3, 3, 0));
  ASSERT_EQ(output.progress.size(), 3u) << "one report per empty file";
  for (const ProgressLine& line : output.progress) {
    EXPECT_FALSE(line.longForm) << "a queue of 0 bytes has no total percentage";
    EXPECT_EQ(line.filePercent, 100.0);
    EXPECT_EQ(line.speed, 0.0);
  }
  CheckProgressPerFile(output.progress);
  EXPECT_EQ(Snapshot(At("dst")), Snapshot(At("src")));
}

// Run as a user who may not read two of the files: each gives an error line
// and a log line, counts as skipped, and the run still succeeds.
TEST_F(CliFolder, UnreadableFilesAreReportedLoggedAndSkipped) {
  if (!PrepareUnprivilegedRun()) GTEST_SKIP() << "file modes cannot bar anyone here";
  MakeFile("src/đọc được.txt", PatternBytes(3000, 1));
  MakeFile("src/khóa.bin", PatternBytes(2000, 2));
  MakeFile("src/sub/bí mật.txt", PatternBytes(100, 3));
  fs::permissions(At("src/khóa.bin"), fs::perms::none);
  fs::permissions(At("src/sub/bí mật.txt"), fs::perms::none);

  const CliRun run = RunCliUnprivileged({"src", "dst"}, Root(), Root() / "bin");

  EXPECT_EQ(run.exitCode, 1) << "a run with skipped files is no full copy: " << run.err;
  EXPECT_EQ(ParseStandardOutput(run.out).tail, QueueSummary(1, 3, 2));
  EXPECT_EQ(ReadBytes(At("dst/đọc được.txt")), PatternBytes(3000, 1));
  EXPECT_FALSE(fs::exists(At("dst/khóa.bin")));
  EXPECT_FALSE(fs::exists(At("dst/sub/bí mật.txt")));

  std::map<std::string, std::string> messages;  // path -> message of its error line
  for (const ErrorLine& error : ParseErrorLines(run.err)) {
    EXPECT_EQ(error.stage, 0);
    EXPECT_EQ(error.code, 5);
    messages[error.path] = error.message;
  }
  ASSERT_EQ(messages.size(), 2u) << run.err;
  ASSERT_EQ(messages.count(Native("src/khóa.bin")), 1u);
  ASSERT_EQ(messages.count(Native("src/sub/bí mật.txt")), 1u);

  ASSERT_TRUE(fs::exists(ErrorLog())) << "the log lives in the current folder";
  std::set<std::string> logged;
  for (const std::string& line : SplitLines(ReadText(ErrorLog()))) {
    ASSERT_TRUE(StartsWithTimestamp(line)) << line;
    logged.insert(line.substr(22));
  }
  std::set<std::string> expected;
  for (const auto& [path, message] : messages) {
    expected.insert("OPEN SKIP code=5 file=\"" + path + "\" msg=\"" + message + "\"");
  }
  EXPECT_EQ(logged, expected);
}

}  // namespace
}  // namespace cli_test
