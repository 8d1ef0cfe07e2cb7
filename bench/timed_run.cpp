// timed_run: runs one command and prints how long it took and how much
// memory it held at its peak, for bench/run.sh.
//
//   timed_run LOG -- PROGRAM [ARGUMENTS...]
//
// The command's standard output and standard error go to the file LOG. On
// standard output timed_run prints one line:
//
//   <wall seconds> <peak resident KiB> <exit status> <CPU seconds>
//
// Wall time is taken on the monotonic clock around fork and wait4; the peak
// resident size is wait4's ru_maxrss of the child (for a shell that runs a
// pipeline it is that of the largest process among the ones waited for); CPU
// time is the child's user plus system time, its waited-for children's
// included. CPU time hardly depends on how busy the disk is, so it shows the
// work a program adds around its I/O where wall times vary too much.
// The exit status is the child's code, or 128 + the signal that ended it.
// timed_run itself exits 0 once it has waited for the child, 2 when it could
// not start it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// In the child: sends both output streams to the log, then becomes the
// command. Only async-signal-safe calls between fork and exec.
[[noreturn]] void BecomeCommand(const char* logPath, char** command) {
  int log = ::open(logPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (log < 0 || ::dup2(log, 1) < 0 || ::dup2(log, 2) < 0) _exit(127);
  int nullInput = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (nullInput >= 0) ::dup2(nullInput, 0);
  ::execvp(command[0], command);
  _exit(127);
}

double Seconds(const struct timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

int StatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return 255;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
    std::fprintf(stderr, "usage: timed_run LOG -- PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  const double start = Now();
  pid_t child = ::fork();
  if (child < 0) {
    std::perror("timed_run: fork");
    return 2;
  }
  if (child == 0) BecomeCommand(argv[1], argv + 3);

  int waitStatus = 0;
  struct rusage usage = {};
  pid_t waited;
  do {
    waited = ::wait4(child, &waitStatus, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  const double seconds = Now() - start;
  if (waited < 0) {
    std::perror("timed_run: wait4");
    return 2;
  }
  std::printf("%.3f %ld %d %.3f\n", seconds, usage.ru_maxrss, StatusOf(waitStatus),
              Seconds(usage.ru_utime) + Seconds(usage.ru_stime));
  return 0;
}
