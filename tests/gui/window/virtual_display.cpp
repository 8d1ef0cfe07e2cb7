#include "virtual_display.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace window_testing {
namespace {

// Reads what Xvfb writes to the -displayfd pipe: the display number and a
// line break, once it is ready. Empty when it ends without writing.
std::string ReadDisplayNumber(int fd) {
  std::string number;
  char c = 0;
  while (read(fd, &c, 1) == 1 && c != '\n') number += c;
  return number;
}

}  // namespace

VirtualDisplay::VirtualDisplay(const std::string& logPath) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return;
  const std::string fdText = std::to_string(pipeEnds[1]);
  pid_ = fork();
  if (pid_ == 0) {
    close(pipeEnds[0]);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) {
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
    }
    execlp("Xvfb", "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  if (pid_ > 0) {
    const std::string number = ReadDisplayNumber(pipeEnds[0]);
    if (!number.empty()) name_ = ":" + number;
  }
  close(pipeEnds[0]);
}

VirtualDisplay::~VirtualDisplay() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

}  // namespace window_testing
