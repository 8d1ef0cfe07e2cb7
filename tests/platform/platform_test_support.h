// Small helpers for the stand-in's tests.
#pragma once

#include "platform/win32.h"

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace platform_test {

constexpr DWORD kExclusive = 0;

inline HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// Runs body in a forked child that has dropped to the unprivileged user
// nobody (65534) and gives the child's exit status; body's return value is
// the exit status. -1 when the child could not be started or drop rights.
inline int RunAsNobody(const std::function<int()>& body) {
  pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
      ::_exit(255);
    }
    ::_exit(body());
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace platform_test
