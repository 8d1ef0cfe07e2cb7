// Names that Windows cannot take as they stand, in a source tree: each is
// reported once and nothing is copied under another name, and no name leads
// the walk out of its folder; a folder too deep for the C runtime's listing
// is refused on every run.
//
// Windows calls cannot make most of these names; Wine shows host files that
// have them. The files are made on the host by a shell that Wine starts, so
// these tests skip where no host shell can be started.
#include "platform/win32.h"
#include "tests/cli/cli_fixture.h"

#include <chrono>
#include <thread>

namespace cli_test {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadText;

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs script in a host shell, which Wine starts for a host program; a
// marker file written last tells when it is done (a host process's handle
// cannot be waited on). False where no host shell runs (not under Wine, or
// Wine's Z: drive is not the host's root).
bool RunHostShell(const std::string& name, const std::string& script) {
  const std::string host = "/tmp/" + name;
  const fs::path hostTmp(QUILLMERE_WIDE("Z:\\tmp"));
  if (!fs::is_directory(hostTmp)) return false;
  testing_support::WriteText(hostTmp / (name + ".sh"),
                             script + "rm -f " + ShellQuoted(host + ".sh") + "\n: > " +
                                 ShellQuoted(host + ".done") + "\n");
  WideString command = quillmere::Utf8ToWide("Z:\\bin\\sh " + host + ".sh");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const fs::path marker = hostTmp / (name + ".done");
  for (int tries = 0; tries < 300 && !fs::exists(marker); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return fs::remove(marker);
}

// A folder in the host's /tmp, reached as Z:\tmp\<tag>, filled and removed
// again by host shells. The names under test make the standard library's
// recursive walk and removal lead elsewhere (onto the current folder's
// parent, a drive's root), so nothing on the Windows side walks or removes
// this tree.
class HostTree {
 public:
  explicit HostTree(std::string tag) : tag(std::move(tag)) {}
  ~HostTree() { RunHostShell(tag + "-rm", "rm -rf " + ShellQuoted("/tmp/" + tag) + "\n"); }

  fs::path Folder() const { return fs::path(QUILLMERE_WIDE("Z:\\tmp")) / tag; }

  // Makes, in the folder `below` of the tree, a file for each name holding
  // the name itself and a link to nowhere for each of links. False where no
  // host shell runs.
  bool Make(const std::string& below, const std::vector<std::string>& names,
            const std::vector<std::string>& links = {}) const {
    const std::string folder = "/tmp/" + tag + "/" + below;
    std::string script = "mkdir -p " + ShellQuoted(folder) + " && cd " + ShellQuoted(folder) +
                         " || exit 1\n";
    for (const std::string& name : names) {
      script += "printf %s " + ShellQuoted(name) + " > " + ShellQuoted(name) + "\n";
    }
    for (const std::string& link : links) script += "ln -s nowhere " + ShellQuoted(link) + "\n";
    return RunHostShell(tag + "-make", script);
  }

 private:
  std::string tag;
};

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// The names in folder, not below it.
std::set<std::string> NamesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.insert(quillmere::PathToUtf8(entry.path().filename()));
  }
  return names;
}

// The log's lines that report an OPEN failure with code.
std::vector<std::string> OpenLines(const fs::path& log, int code) {
  std::vector<std::string> lines;
  if (!fs::exists(log)) return lines;
  const std::string mark = "OPEN SKIP code=" + std::to_string(code) + " ";
  for (const std::string& line : SplitLines(ReadText(log))) {
    if (line.find(mark) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

class CliWindowsNames : public CliTest {
 protected:
  HostTree host{quillmere::PathToUtf8(Root().filename())};
};

// A name with a drive replaces the whole path it is joined to: "c:.." named
// the current folder's parent (the current folder of drive c:, here
// run/work), and the walk copied it.
TEST_F(CliWindowsNames, NamesThatWouldLeadTheWalkElsewhereAreReportedNotFollowed) {
  const std::string drive = quillmere::PathToUtf8(Root().root_name());
  ASSERT_EQ(drive.size(), 2u) << "the temporary folder lies on no drive";
  const std::vector<std::string> names{drive + "..", drive + "outside", "q\\r"};
  std::vector<std::string> files = names;
  files.push_back("ok.txt");
  if (!host.Make("src", files)) GTEST_SKIP() << "no host shell: not under Wine";
  MakeFile("run/outside/leak.txt", {'L'});
  fs::create_directories(At("run/work"));
  const TreeSnapshot runBefore = Snapshot(At("run"));

  const CliRun run = RunCli(
      {quillmere::PathToUtf8(host.Folder() / "src"), quillmere::PathToUtf8(At("dst"))},
      At("run/work"));

  EXPECT_EQ(run.exitCode, 1);
  const std::vector<std::string> refused = OpenLines(At("run/work/quillmere_errors.log"), 123);
  EXPECT_EQ(refused.size(), names.size());
  for (const std::string& line : refused) {
    EXPECT_NE(line.find("khong phai mot ten don trong thu muc cua no"), std::string::npos) << line;
  }
  EXPECT_EQ(Snapshot(At("dst")), (TreeSnapshot{{"ok.txt", Bytes("ok.txt")}}));
  TreeSnapshot runAfter = Snapshot(At("run"));
  EXPECT_EQ(runAfter.erase(Native("work/quillmere_errors.log")), 1u);
  EXPECT_EQ(runAfter, runBefore) << "the current folder's parent is left alone";
  EXPECT_EQ(NamesIn(Root()), (std::set<std::string>{"dst", "run"}));
}

// The path rules strip a trailing dot or space and read device names and
// wildcards as something else, so these names' own status fails; asked as
// listed, they are there, and are reported. A link to nowhere stays silent.
TEST_F(CliWindowsNames, NamesThePathRulesChangeOrRefuseAreReportedNotSkippedSilently) {
  const std::vector<std::string> names{"a.",  "b ",  "CON", "nul.txt", "COM1.log", "e*f",
                                       "g?h", "i\"j", "k<l", "m>n",     "o|p"};
  std::vector<std::string> files = names;
  files.push_back("ok.txt");
  if (!host.Make("src", files, {"gone"})) GTEST_SKIP() << "no host shell: not under Wine";

  const CliRun run = Run({quillmere::PathToUtf8(host.Folder() / "src"), "dst"});

  EXPECT_EQ(run.exitCode, 1);
  const std::vector<std::string> refused = OpenLines(ErrorLog(), 123);
  EXPECT_EQ(refused.size(), names.size()) << ReadText(ErrorLog());
  EXPECT_EQ(SplitLines(ReadText(ErrorLog())).size(), names.size()) << "the link stays silent";
  for (const char* name : {"src\\a.\"", "src\\b \"", "src\\CON\""}) {
    const auto line = std::find_if(refused.begin(), refused.end(), [&](const std::string& l) {
      return l.find(name) != std::string::npos;
    });
    ASSERT_NE(line, refused.end()) << name;
    EXPECT_NE(line->find("Ten file bi quy tac duong dan Windows thay doi hoac tu choi"),
              std::string::npos)
        << *line;
  }
  EXPECT_EQ(Snapshot(At("dst")), (TreeSnapshot{{"ok.txt", Bytes("ok.txt")}}));
}

// Host names that are not UTF-8 reach Windows programs with U+FFFD in
// place of what Wine could not convert, so "caf\xe9.txt" and "caf\xe8.txt"
// are listed under one name, which opens one of the two: the copy made of
// it twice said "2/2" while the other file was never read. Both are
// reported instead.
TEST_F(CliWindowsNames, NamesListedTwiceInOneFolderAreReportedNotCopied) {
  if (!host.Make("src", {"caf\xe9.txt", "caf\xe8.txt", "ok.txt"})) {
    GTEST_SKIP() << "no host shell: not under Wine";
  }

  const CliRun run = Run({quillmere::PathToUtf8(host.Folder() / "src"), "dst"});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(OpenLines(ErrorLog(), 1113).size(), 2u) << ReadText(ErrorLog());
  EXPECT_EQ(Snapshot(At("dst")), (TreeSnapshot{{"ok.txt", Bytes("ok.txt")}}));
}

// The C runtime builds a folder's full path in 260 units: beyond that its
// listing fails or lists another folder, and deep.txt went missing without
// a word. The folder is refused on every run.
TEST_F(CliWindowsNames, FolderTooDeepForTheRuntimeIsRefusedOnEveryRun) {
  const std::string step(60, 'x');
  const std::string deep = "DP/" + step + "/" + step + "b/" + step + "c/" + step + "d";
  if (!host.Make("DP", {"top.txt"}) || !host.Make(deep, {"deep.txt"})) {
    GTEST_SKIP() << "no host shell: not under Wine";
  }
  const fs::path log = host.Folder() / "quillmere_errors.log";

  for (size_t round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    // The copy's deep folder is too long for the Windows side to remove.
    const CliRun run = RunCli({"DP", "dst"}, host.Folder());
    EXPECT_EQ(run.exitCode, 1);
    const std::vector<std::string> refused = OpenLines(log, 206);
    ASSERT_EQ(refused.size(), round) << ReadText(log);
    EXPECT_NE(refused.back().find("file=\"" + Native(deep) + "\""), std::string::npos)
        << refused.back();
    EXPECT_EQ(ReadText(host.Folder() / "dst" / "top.txt"), "top.txt");
  }
}

}  // namespace
}  // namespace cli_test
