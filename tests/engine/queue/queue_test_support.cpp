#include "tests/engine/queue/queue_test_support.h"

#include "engine/text.h"
#include "platform/win32.h"

#include <regex>
#include <sstream>
#include <system_error>

#if QUILLMERE_POSIX_STANDIN
#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#endif

namespace queue_test {

std::string Describe(const quillmere::QueueItem& item) {
  if (item.isDirectory) return "D " + item.source + " -> " + item.destination;
  return "F " + item.source + " -> " + item.destination + " (" + std::to_string(item.size) + ")";
}

std::vector<std::string> Describe(const std::vector<quillmere::QueueItem>& items) {
  std::vector<std::string> lines;
  for (const quillmere::QueueItem& item : items) lines.push_back(Describe(item));
  return lines;
}

std::string FileItem(const fs::path& source, const fs::path& destination, uint64_t size) {
  return Describe(quillmere::QueueItem{quillmere::PathToUtf8(source),
                                       quillmere::PathToUtf8(destination), size, false});
}

std::string FolderItem(const fs::path& source, const fs::path& destination) {
  return Describe(quillmere::QueueItem{quillmere::PathToUtf8(source),
                                       quillmere::PathToUtf8(destination), 0, true});
}

std::vector<LogLine> ReadLog(const fs::path& logPath) {
  std::vector<LogLine> lines;
  std::error_code error;
  if (!fs::exists(logPath, error)) return lines;
  std::istringstream text(testing_support::ReadText(logPath));
  static const std::regex shape(
      R"re(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] (\S+) (\S+) code=(-?\d+) file="(.*)" msg="(.*)"$)re");
  std::string raw;
  while (std::getline(text, raw)) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    std::smatch parts;
    LogLine line;
    if (std::regex_match(raw, parts, shape)) {
      line = LogLine{parts[1], parts[2], std::stol(parts[3]), parts[4], parts[5]};
    } else {
      line.stage = "MALFORMED";
      line.message = raw;
    }
    lines.push_back(line);
  }
  return lines;
}

CurrentFolder::CurrentFolder(const fs::path& path) : previous(fs::current_path()) {
  fs::current_path(path);
}

CurrentFolder::~CurrentFolder() {
  std::error_code ignored;
  fs::current_path(previous, ignored);
}

bool CanMakeLinks(const fs::path& folder) {
  std::error_code error;
  const fs::path probe = folder / "link-probe";
  fs::create_directory_symlink(folder, probe, error);
  if (error) return false;
  fs::remove(probe, error);
  return true;
}

void Checks::Same(const std::vector<std::string>& actual, const std::vector<std::string>& expected,
                  const std::string& what) {
  if (actual == expected) return;
  failures += what + ":\n  got:\n" + Join(actual) + "  expected:\n" + Join(expected);
}

void Checks::True(bool condition, const std::string& what) {
  if (!condition) failures += what + "\n";
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "    " + line + "\n";
  return text;
}

#if QUILLMERE_POSIX_STANDIN
namespace {

constexpr uid_t kNobody = 65534;

// In the child: drop every privilege that lets root ignore file modes.
bool DropToNobody() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setresgid(kNobody, kNobody, kNobody) == 0 &&
         setresuid(kNobody, kNobody, kNobody) == 0;
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written <= 0) return;
    done += static_cast<size_t>(written);
  }
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) return text;
    text.append(buffer, static_cast<size_t>(got));
  }
}

}  // namespace

std::string RunUnprivileged(const std::function<std::string()>& body) {
  int channel[2];
  if (pipe(channel) != 0) return std::string("pipe failed: ") + std::strerror(errno);
  const pid_t child = fork();
  if (child < 0) return std::string("fork failed: ") + std::strerror(errno);
  if (child == 0) {
    close(channel[0]);
    std::string result;
    if (!DropToNobody()) {
      result = "SKIP: cannot drop to the user nobody";
    } else {
      try {
        result = body();
      } catch (const std::exception& exception) {
        result = std::string("exception: ") + exception.what();
      }
    }
    WriteAll(channel[1], result);
    close(channel[1]);
    _exit(0);
  }
  close(channel[1]);
  std::string result = ReadAll(channel[0]);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    result += "child ended abnormally (status " + std::to_string(status) + ")";
  }
  return result;
}
#endif

}  // namespace queue_test
