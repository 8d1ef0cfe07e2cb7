#include "tests/cli/cli_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <system_error>

namespace cli_test {
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

// One of the child's output streams: the end it writes to, and the end this
// process drains (-1 when nobody reads it).
struct Output {
  int read = -1;
  int write = -1;
  explicit Output(OutputSink sink) {
    if (sink == OutputSink::DeviceFull) {
      write = open("/dev/full", O_WRONLY | O_CLOEXEC);
      if (write < 0) throw std::system_error(errno, std::generic_category(), "/dev/full");
      return;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    read = ends[0];
    write = ends[1];
    // Closed before the fork, so the child never holds a reader either.
    if (sink == OutputSink::ClosedPipe) CloseEnd(read);
  }
  ~Output() {
    CloseEnd(read);
    CloseEnd(write);
  }
  static void CloseEnd(int& end) {
    if (end >= 0) close(end);
    end = -1;
  }
};

// In the forked child: only async-signal-safe calls until exec.
[[noreturn]] void ExecChild(const char* program, char* const* argv, char* const* envp,
                            const char* folder, int out, int err, bool dropToNobody) {
  if (dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) _exit(126);
  // As a shell starts it: a SIGPIPE this process ignores would be inherited.
  signal(SIGPIPE, SIG_DFL);
  if (chdir(folder) != 0) _exit(126);
  if (dropToNobody) {
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      _exit(126);
    }
  }
  execve(program, argv, envp);
  _exit(127);
}

// Reads both pipes to their ends together, so a child that fills one of
// them never blocks.
void DrainPipes(int out, int err, CliRun& run) {
  // poll passes over an fd of -1, a stream nobody reads.
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open = (out >= 0 ? 1 : 0) + (err >= 0 ? 1 : 0);
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

int WaitForChild(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -WTERMSIG(status);
}

// A NULL-terminated array of pointers into texts, for exec.
std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

CliRun Run(const std::string& program, const std::vector<std::string>& arguments,
           const fs::path& workingFolder, bool dropToNobody,
           const std::vector<std::string>& extraEnvironment,
           OutputSink outSink = OutputSink::Captured, OutputSink errSink = OutputSink::Captured) {
  std::vector<std::string> texts{program};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = PointersTo(texts);
  // The first of two entries with one name is the one that counts.
  std::vector<std::string> environment = extraEnvironment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.emplace_back(*variable);
  }
  std::vector<char*> envp = PointersTo(environment);
  const std::string folder = workingFolder.string();

  Output out(outSink);
  Output err(errSink);
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (child == 0) {
    ExecChild(program.c_str(), argv.data(), envp.data(), folder.c_str(), out.write, err.write,
              dropToNobody);
  }
  Output::CloseEnd(out.write);
  Output::CloseEnd(err.write);
  CliRun run;
  DrainPipes(out.read, err.read, run);
  run.exitCode = WaitForChild(child);
  return run;
}

}  // namespace

CliRun RunCli(const std::vector<std::string>& arguments, const fs::path& workingFolder,
              const std::vector<std::string>& extraEnvironment) {
  return Run(QUILLMERE_CLI_PATH, arguments, workingFolder, false, extraEnvironment);
}

CliRun RunCliWithOutputs(const std::vector<std::string>& arguments,
                         const fs::path& workingFolder, OutputSink out, OutputSink err) {
  return Run(QUILLMERE_CLI_PATH, arguments, workingFolder, false, {}, out, err);
}

bool CanSetEnvironment() { return true; }

bool CanRunUnprivileged() { return true; }

CliRun RunCliUnprivileged(const std::vector<std::string>& arguments,
                          const fs::path& workingFolder, const fs::path& binFolder) {
  fs::create_directories(binFolder);
  const fs::path program = binFolder / "quillmere_cli";
  fs::copy_file(QUILLMERE_CLI_PATH, program, fs::copy_options::overwrite_existing);
  fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  return Run(program.string(), arguments, workingFolder, geteuid() == 0, {});
}

}  // namespace cli_test
