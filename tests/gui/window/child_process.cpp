#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

extern char** environ;

namespace window_testing {

std::vector<std::string> EnvironmentWith(const std::map<std::string, std::optional<std::string>>& changes) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (changes.count(name) == 0) env.push_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value) env.push_back(name + "=" + *value);
  }
  return env;
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = folder + "/" + name;
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}

namespace {

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// In the forked child: only async-signal-safe calls until execve.
[[noreturn]] void ExecInChild(char* const* argv, char* const* env, const char* folder, const char* stderrPath) {
  const int nothing = open("/dev/null", O_RDWR);
  const int errors = open(stderrPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (nothing < 0 || errors < 0 || chdir(folder) != 0) _exit(126);
  dup2(nothing, STDIN_FILENO);
  dup2(nothing, STDOUT_FILENO);
  dup2(errors, STDERR_FILENO);
  execve(argv[0], argv, env);
  _exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                           const std::string& workingFolder, const std::string& stderrPath) {
  std::vector<std::string> argTexts = argv;
  std::vector<std::string> envTexts = env;
  std::vector<char*> args = PointersTo(argTexts);
  std::vector<char*> vars = PointersTo(envTexts);
  pid_ = fork();
  if (pid_ == 0) ExecInChild(args.data(), vars.data(), workingFolder.c_str(), stderrPath.c_str());
}

ChildProcess::~ChildProcess() {
  if (!running()) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds limit) {
  if (!started() || status_) return status_;
  WaitUntil(
      [this] {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
        return status_.has_value();
      },
      limit);
  return status_;
}

}  // namespace window_testing
