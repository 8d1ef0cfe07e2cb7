// A slow disk on demand, for the windowed program's end-to-end test: loaded
// into the program with LD_PRELOAD, it holds every read of a file whose path
// contains "/gated-src/" for as long as the file "closed" exists in the
// folder named by $QUILLMERE_READ_GATE, and creates "waiting" there when a
// read starts to wait. The test can thus press "Pause" or "Cancel" while a
// copy is known to be under way, however fast the machine is. Without the
// variable every read goes straight through.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using ReadFunction = ssize_t (*)(int, void*, size_t);

ReadFunction RealRead() {
  static const ReadFunction real = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "read"));
  return real;
}

bool IsGated(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[4096];
  const ssize_t length = readlink(link, target, sizeof target - 1);
  if (length <= 0) return false;
  target[length] = '\0';
  return std::strstr(target, "/gated-src/") != nullptr;
}

void WaitWhileClosed(const char* gate, int fd) {
  const std::string closed = std::string(gate) + "/closed";
  if (access(closed.c_str(), F_OK) != 0 || !IsGated(fd)) return;
  const std::string waiting = std::string(gate) + "/waiting";
  const int marker = open(waiting.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (marker >= 0) close(marker);
  while (access(closed.c_str(), F_OK) == 0) usleep(10000);
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  const char* gate = std::getenv("QUILLMERE_READ_GATE");
  if (gate != nullptr && fd > 2) WaitWhileClosed(gate, fd);
  return RealRead()(fd, buffer, count);
}
