// A program started by a test with an environment, working folder and
// standard-error file of its own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace window_testing {

// This process's environment with the given variables set, or removed where
// the value is nullopt.
std::vector<std::string> EnvironmentWith(const std::map<std::string, std::optional<std::string>>& changes);

// The path of the executable file name in the first folder of $PATH that
// holds one; empty when there is none.
std::string FindOnPath(const std::string& name);

// Runs argv[0] (a path) with env in workingFolder, its standard output going
// nowhere and its standard error into stderrPath. A program still running
// when the object goes away is killed and reaped.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const std::string& workingFolder, const std::string& stderrPath);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  bool running() const { return started() && !status_; }
  // Waits at most `limit` for the program to end. Its wait status (see
  // waitpid) once it has ended, nullopt while it still runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Calls condition every 50 ms until it holds or `limit` has passed; the
// limit only guards against a hang and is far above any expected wait.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

}  // namespace window_testing
