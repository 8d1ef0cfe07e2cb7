// Windows path forms the standard library's path rules misread: a
// device-namespace prefix is taken off where the rest names the same file
// and refused once where it does not; a drive-relative argument is read as
// Windows reads it.

#include "engine/long_path_prefix.h"
#include "engine/tree_overlap.h"
#include "platform/win32.h"
#include "tests/cli/cli_fixture.h"

#include <string>

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using quillmere::PathToUtf8;
using testing_support::PatternBytes;
using testing_support::ReadText;

class CliPathForms : public CliTest {
 protected:
  void SetUp() override {
    MakeFile("src/a.bin", PatternBytes(70000, 1));
    MakeFile("src/inner/b.txt", PatternBytes(30, 2));
  }

  std::string Prefixed(const std::string& relative) const {
    return R"(\\?\)" + PathToUtf8(At(relative));
  }

  // A run that lists and copies nothing: exit 1, nothing on standard error,
  // no destination, the source as it was, and in the log the one refusal
  // of `path`, with `code`.
  void ExpectRefusedOnce(const std::vector<std::string>& arguments, const std::string& path,
                         int code = quillmere::kLongPathPrefixCode) {
    SCOPED_TRACE(arguments[0] + " -> " + arguments[1]);
    const TreeSnapshot before = Snapshot(At("src"));
    const CliRun run = Run(arguments);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(fs::exists(At("dst")));
    EXPECT_EQ(Snapshot(At("src")), before);
    const std::string log = ReadText(ErrorLog());
    fs::remove(ErrorLog());
    const std::vector<std::string> lines = SplitLines(log);
    ASSERT_EQ(lines.size(), 1u) << log;
    const std::string refusal = "OPEN SKIP code=" + std::to_string(code) + " file=\"" + path + "\"";
    EXPECT_NE(lines[0].find(refusal), std::string::npos)
        << lines[0];
  }
};

TEST_F(CliPathForms, FolderSourceWithTheLongPathPrefixIsCopied) {
  const CliRun run = Run({Prefixed("src"), "dst"});

  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Snapshot(At("dst")), Snapshot(At("src")));
  EXPECT_FALSE(fs::exists(ErrorLog()));
}

TEST_F(CliPathForms, PrefixedDestinationInsideTheSourceIsRefusedAsAnOverlap) {
  for (const char* destination : {"src/new", "src"}) {
    SCOPED_TRACE(destination);
    const TreeSnapshot before = Snapshot(Root());
    const CliRun run = Run({"src", Prefixed(Native(destination))});
    EXPECT_EQ(run.exitCode, 1);
    const std::vector<ErrorLine> errors = ParseErrorLines(run.err);
    ASSERT_EQ(errors.size(), 1u) << run.err;
    EXPECT_EQ(errors[0].code, quillmere::kTreeOverlapCode);
    EXPECT_EQ(Snapshot(Root()), before) << "no folder, no log, no source byte changed";
  }
}

// A folder only the prefix reaches; the path rules read its name without
// the dot, so it is removed the same way before the temporary folder goes.
struct DottedFolder {
  explicit DottedFolder(const std::string& path) : path(quillmere::Utf8ToWide(path)) {
    made = CreateDirectoryW(this->path.c_str(), nullptr) != FALSE;
  }
  ~DottedFolder() { RemoveDirectoryW(path.c_str()); }
  WideString path;
  bool made = false;
};

// "src." exists on the host; without the prefix Windows would read it as
// "src". A server without a share has no plain form. (Wine reaches no file
// through a volume name, "\\?\Volume{...}\dir", which the same call refuses.)
TEST_F(CliPathForms, PrefixedPathWithNoPlainFormIsRefusedOnceWithNothingListed) {
  const DottedFolder dotted(Prefixed("src."));
  ASSERT_TRUE(dotted.made);
  ExpectRefusedOnce({Prefixed("src."), "dst"}, Prefixed("src."));
  ExpectRefusedOnce({"src", R"(\\?\UNC\server)"}, R"(\\?\UNC\server)");  // no share
  // A whole volume is refused as its open would be.
  ExpectRefusedOnce({"src", R"(\\.\C:)"}, R"(\\.\C:)", quillmere::kRawDeviceCode);
}

// The child's current folder is the root, so "X:name" on the root's drive
// names a folder in the root, and a bare "X:" the current folder itself.
TEST_F(CliPathForms, DriveRelativeArgumentsAreReadAgainstTheDrivesCurrentFolder) {
  const std::string drive = PathToUtf8(Root().root_name());
  const CliRun run = Run({"src", drive + "dst"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Snapshot(At("dst")), Snapshot(At("src")));

  const CliRun fromDrive = RunCli({drive, Native("../dst2")}, At("src"));
  EXPECT_EQ(fromDrive.exitCode, 0) << fromDrive.err;
  EXPECT_EQ(Snapshot(At("dst2")), Snapshot(At("src")));
}

}  // namespace
}  // namespace cli_test
