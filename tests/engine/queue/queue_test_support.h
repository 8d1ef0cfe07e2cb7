// Helpers shared by the queue manager's tests: readable item lists, the
// error log read back as fields, a current-folder guard, and running a check
// as an unprivileged user.
#pragma once

#include "engine/queue_manager.h"
#include "tests/support/test_support.h"

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace queue_test {

namespace fs = std::filesystem;

// "F <source> -> <destination> (<size>)" or "D <source> -> <destination>":
// item lists compared as text give readable differences.
std::string Describe(const quillmere::QueueItem& item);
std::vector<std::string> Describe(const std::vector<quillmere::QueueItem>& items);
std::string FileItem(const fs::path& source, const fs::path& destination, uint64_t size);
std::string FolderItem(const fs::path& source, const fs::path& destination);

// One error-log line taken apart.
struct LogLine {
  std::string stage;
  std::string action;
  long code = 0;
  std::string file;
  std::string message;
};

// Every line of the log; a missing log gives none. A line that does not
// have the log's shape comes back with stage "MALFORMED" and the raw text
// as its message.
std::vector<LogLine> ReadLog(const fs::path& logPath);

// The message a log line carries for a file-system failure that the
// library reported as the C error posixError, whose Windows code is
// windowsCode: the library's own text on POSIX hosts, the system's text for
// the Windows code on Windows.
std::string FileSystemMessage(std::errc posixError, long windowsCode);

// Makes path the current folder for the guard's life.
class CurrentFolder {
 public:
  explicit CurrentFolder(const fs::path& path);
  ~CurrentFolder();
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  fs::path previous;
};

// True when a symbolic link can be made here (not every Windows account may).
bool CanMakeLinks(const fs::path& folder);

#if QUILLMERE_POSIX_STANDIN
// Runs body in a forked child. When the tests run as root (which ignores
// file modes) the child first drops to the user nobody (65534). body returns
// "" when every check held, else a description of what failed; a text that
// begins with "SKIP:" means the check could not be made here. The child's
// text, or a note of how it died, is returned.
std::string RunUnprivileged(const std::function<std::string()>& body);
#endif

// Collects failed checks inside a child process, where gtest cannot report.
class Checks {
 public:
  void Same(const std::vector<std::string>& actual, const std::vector<std::string>& expected,
            const std::string& what);
  void True(bool condition, const std::string& what);
  std::string Result() const { return failures; }

 private:
  std::string failures;
};

std::string Join(const std::vector<std::string>& lines);

}  // namespace queue_test
