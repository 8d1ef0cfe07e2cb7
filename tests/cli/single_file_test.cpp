// The single-file road: any source that is not a folder is copied by the
// core engine to the destination path, and the result line closes the run.

#include "tests/cli/cli_fixture.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadBytes;

class CliSingleFile : public CliTest {
 protected:
  // A failed copy: exactly one OPEN error line naming path with code, the
  // failure line on standard output, no progress line, exit 1, no error log.
  void ExpectOpenFailure(const CliRun& run, const std::string& path, long code) {
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, kSingleFileFailed);
    const std::vector<ErrorLine> errors = ParseErrorLines(run.err);
    ASSERT_EQ(errors.size(), 1u) << run.err;
    EXPECT_EQ(errors[0].path, path);
    EXPECT_EQ(errors[0].stage, 0);
    EXPECT_EQ(errors[0].code, code);
    EXPECT_FALSE(errors[0].message.empty());
    EXPECT_FALSE(fs::exists(ErrorLog())) << "the single-file road keeps no error log";
  }
};

TEST_F(CliSingleFile, CopiesByteForByteWithShortProgressLinesAndReportsDone) {
  // Larger than one 4 MiB block, with a tail that is no whole sector.
  const std::vector<uint8_t> content = PatternBytes(5 * 1024 * 1024 + 7, 3);
  const std::string source = "nguồn dữ liệu.bin";
  const std::string destination = quillmere::PathToUtf8(At("bản sao của tệp.bin"));
  MakeFile(source, content);

  const CliRun run = Run({source, destination});

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  const ParsedOutput output = ParseStandardOutput(run.out);
  EXPECT_EQ(output.tail, kSingleFileDone);
  ASSERT_FALSE(output.progress.empty());
  for (const ProgressLine& line : output.progress) {
    EXPECT_FALSE(line.longForm) << "a single copy has no queue total";
  }
  EXPECT_EQ(CheckProgressPerFile(output.progress), std::vector<std::string>{source});
  EXPECT_EQ(ReadBytes(quillmere::Utf8ToPath(destination)), content);
  EXPECT_EQ(ReadBytes(At(source)), content);
  EXPECT_FALSE(fs::exists(ErrorLog()));
}

TEST_F(CliSingleFile, EmptyFileGivesOneShortLineAtFullPercentAndZeroSpeed) {
  MakeFile("empty.txt", {});

  const CliRun run = Run({"empty.txt", "empty copy.txt"});

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "\r" + PathField("empty.txt") + " 100.0%      0.0 MB/s" + kSingleFileDone);
  ASSERT_TRUE(fs::is_regular_file(At("empty copy.txt")));
  EXPECT_EQ(fs::file_size(At("empty copy.txt")), 0u);
}

TEST_F(CliSingleFile, MissingSourceFailsAtOpenWithCodeTwoAndCreatesNothing) {
  ExpectOpenFailure(Run({"không có.bin", "out.bin"}), "không có.bin", 2);
  EXPECT_FALSE(fs::exists(At("out.bin")));
}

TEST_F(CliSingleFile, DestinationThatIsAFolderFailsWithCodeFive) {
  MakeFile("a.bin", PatternBytes(1000));
  fs::create_directory(At("thư mục đích"));

  ExpectOpenFailure(Run({"a.bin", "thư mục đích"}), "thư mục đích", 5);
  EXPECT_TRUE(fs::is_directory(At("thư mục đích")));
  EXPECT_TRUE(fs::is_empty(At("thư mục đích")));
}

TEST_F(CliSingleFile, DestinationInMissingFolderFailsWithCodeThreeAndMakesNoFolder) {
  MakeFile("a.bin", PatternBytes(1000));

  ExpectOpenFailure(Run({"a.bin", "chưa có/out.bin"}), "chưa có/out.bin", 3);
  EXPECT_FALSE(fs::exists(At("chưa có")));
}

TEST_F(CliSingleFile, SameFileAsSourceAndDestinationFailsWithCodeThirtyTwoAndKeepsIt) {
  const std::vector<uint8_t> content = PatternBytes(70000, 5);
  MakeFile("same.bin", content);
  const std::string absolute = quillmere::PathToUtf8(At("same.bin"));

  ExpectOpenFailure(Run({"same.bin", absolute}), absolute, 32);
  EXPECT_EQ(ReadBytes(At("same.bin")), content);
}

}  // namespace
}  // namespace cli_test
