// Failures that the system reports reach the user with the system's own code
// and text: the error line (and, on the folder road, the log line) carries
// exactly what the system's message table holds for the code, read here
// straight from FormatMessageW. A file that another process holds open
// without sharing is the one failure every platform can stage for real.

#include "tests/cli/cli_fixture.h"

#include "platform/win32.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::ReadText;

// The system's text for code in the user's language, as UTF-8, without the
// line break that ends it; empty when the system has none.
std::string SystemText(DWORD code) {
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  WCHAR* buffer = nullptr;
  const DWORD length = FormatMessageW(flags, nullptr, code, 0x0400,
                                      reinterpret_cast<WCHAR*>(&buffer), 0, nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr) text = quillmere::WideToUtf8(WideString(buffer, length));
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Holds a file open for writing, sharing nothing, for as long as it lives.
class HeldFile {
 public:
  explicit HeldFile(const fs::path& path)
      : handle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldFile() {
    if (IsHeld()) CloseHandle(handle);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool IsHeld() const { return handle != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle;
};

class CliSystemErrors : public CliTest {
 protected:
  // One OPEN error line for path with code and the system's text for it.
  static void ExpectOneOpenError(const CliRun& run, const std::string& path, DWORD code) {
    const std::vector<ErrorLine> errors = ParseErrorLines(run.err);
    ASSERT_EQ(errors.size(), 1u) << run.err;
    EXPECT_EQ(errors[0].path, path);
    EXPECT_EQ(errors[0].stage, 0);
    EXPECT_EQ(errors[0].code, static_cast<long>(code));
    const std::string text = SystemText(code);
    EXPECT_FALSE(text.empty()) << "the system has a text for code " << code;
    EXPECT_EQ(errors[0].message, text);
  }
};

TEST_F(CliSystemErrors, MissingSourceAndMissingFolderGiveTheSystemsCodesAndTexts) {
  const CliRun missingFile = Run({"không có.bin", "out.bin"});
  EXPECT_EQ(missingFile.exitCode, 1);
  EXPECT_EQ(missingFile.out, kSingleFileFailed);
  ExpectOneOpenError(missingFile, "không có.bin", 2);

  MakeFile("có.bin", PatternBytes(4097, 6));
  const CliRun missingFolder = Run({"có.bin", "chưa có/out.bin"});
  EXPECT_EQ(missingFolder.exitCode, 1);
  EXPECT_EQ(missingFolder.out, kSingleFileFailed);
  ExpectOneOpenError(missingFolder, "chưa có/out.bin", 3);

  EXPECT_EQ(ReadBytes(At("có.bin")), PatternBytes(4097, 6));
  EXPECT_FALSE(fs::exists(At("out.bin")));
  EXPECT_FALSE(fs::exists(At("chưa có")));
}

// The held file fails to open with a sharing violation, is logged and
// skipped; the rest of the tree is copied, and the exit code says that not
// everything was.
TEST_F(CliSystemErrors, FileHeldOpenElsewhereIsSkippedWithASharingViolation) {
  MakeFile("src/tự do.txt", PatternBytes(3000, 1));
  MakeFile("src/sub/đang mở.bin", PatternBytes(70000, 2));
  MakeFile("src/sub/khác.bin", PatternBytes(1, 3));
  CliRun run;
  {
    const HeldFile held(At("src/sub/đang mở.bin"));
    ASSERT_TRUE(held.IsHeld());
    run = Run({"src", "đích"});
  }

  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(ParseStandardOutput(run.out).tail, QueueSummary(2, 3, 1));
  const std::string heldPath = Native("src/sub/đang mở.bin");
  ExpectOneOpenError(run, heldPath, 32);
  EXPECT_EQ(ReadBytes(At("đích/tự do.txt")), PatternBytes(3000, 1));
  EXPECT_EQ(ReadBytes(At("đích/sub/khác.bin")), PatternBytes(1, 3));
  EXPECT_FALSE(fs::exists(At("đích/sub/đang mở.bin")));
  EXPECT_EQ(ReadBytes(At("src/sub/đang mở.bin")), PatternBytes(70000, 2));

  std::vector<std::string> logged = SplitLines(ReadText(ErrorLog()));
  ASSERT_EQ(logged.size(), 1u);
  // The log is a text file: where lines end in CR LF, the CR is no part of it.
  if (!logged[0].empty() && logged[0].back() == '\r') logged[0].pop_back();
  const std::string expected =
      "OPEN SKIP code=32 file=\"" + heldPath + "\" msg=\"" + SystemText(32) + "\"";
  ASSERT_GE(logged[0].size(), 22u);
  EXPECT_EQ(logged[0].substr(22), expected) << "after the timestamp";
}

}  // namespace
}  // namespace cli_test
