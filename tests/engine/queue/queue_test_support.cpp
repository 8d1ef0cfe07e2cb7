#include "tests/engine/queue/queue_test_support.h"

#include "engine/text.h"
#include "platform/win32.h"

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

namespace {

// Takes the text up to the next blank from rest.
std::string TakeWord(std::string& rest) {
  const size_t blank = rest.find(' ');
  const std::string word = rest.substr(0, blank);
  rest = blank == std::string::npos ? std::string() : rest.substr(blank + 1);
  return word;
}

// "[YYYY-MM-DD HH:MM:SS] STAGE ACTION code=N file="path" msg="message"".
bool ParseLogLine(const std::string& raw, LogLine& line) {
  if (raw.size() < 22 || raw[0] != '[' || raw[20] != ']' || raw[21] != ' ') return false;
  std::string rest = raw.substr(22);
  line.stage = TakeWord(rest);
  line.action = TakeWord(rest);
  const std::string code = TakeWord(rest);
  if (code.rfind("code=", 0) != 0 || code.size() == 5) return false;
  line.code = std::stol(code.substr(5));
  const std::string fileStart = "file=\"";
  const std::string messageStart = "\" msg=\"";
  const size_t split = rest.rfind(messageStart);
  if (rest.rfind(fileStart, 0) != 0 || split == std::string::npos || rest.back() != '"') {
    return false;
  }
  line.file = rest.substr(fileStart.size(), split - fileStart.size());
  const size_t messageBegin = split + messageStart.size();
  line.message = rest.substr(messageBegin, rest.size() - 1 - messageBegin);
  return true;
}

}  // namespace

std::vector<LogLine> ReadLog(const fs::path& logPath) {
  std::vector<LogLine> lines;
  std::error_code error;
  if (!fs::exists(logPath, error)) return lines;
  std::istringstream text(testing_support::ReadText(logPath));
  std::string raw;
  while (std::getline(text, raw)) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    LogLine line;
    if (!ParseLogLine(raw, line)) {
      line = LogLine();
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

std::string FileSystemMessage(std::errc posixError, long windowsCode) {
  if (QUILLMERE_POSIX_STANDIN) return std::make_error_code(posixError).message();
  return std::system_category().message(static_cast<int>(windowsCode));
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
