// The seam on Windows, where the platform is the system's own. The test
// programs are linked with --wrap for the imports of ReadFile, WriteFile and
// CreateFileW (platform/CMakeLists.txt): every call the program's own code
// makes through an import lands on the pointers below, which check the seam
// and then call the system. Built for Windows test programs only.
#include "platform/testing/fault_injection.h"
#include "platform/testing/fault_state.h"

#include <algorithm>
#include <string>

extern "C" {
// The system's entry points, as the import table holds them.
extern decltype(&ReadFile) __real___imp_ReadFile;
extern decltype(&WriteFile) __real___imp_WriteFile;
extern decltype(&CreateFileW) __real___imp_CreateFileW;
}

namespace {

BOOL WINAPI SeamReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD bytesRead,
                         LPOVERLAPPED overlapped) {
  DWORD code = 0;
  if (fault_injection::detail::TakeReadFault(code)) {
    if (bytesRead != nullptr) *bytesRead = 0;
    SetLastError(code);
    return FALSE;
  }
  return __real___imp_ReadFile(handle, buffer, length, bytesRead, overlapped);
}

BOOL WINAPI SeamWriteFile(HANDLE handle, LPCVOID data, DWORD length, LPDWORD bytesWritten,
                          LPOVERLAPPED overlapped) {
  fault_injection::detail::RunWriteHook(data, length);
  DWORD value = 0;
  switch (fault_injection::detail::TakeWriteFault(value)) {
    case fault_injection::detail::WriteFault::kFail:
      if (bytesWritten != nullptr) *bytesWritten = 0;
      SetLastError(value);
      return FALSE;
    case fault_injection::detail::WriteFault::kShorten:
      length = std::min(length, value);
      break;
    case fault_injection::detail::WriteFault::kNone:
      break;
  }
  return __real___imp_WriteFile(handle, data, length, bytesWritten, overlapped);
}

// The hook sees the path as UTF-8, as the tests name their files.
std::string Utf8(LPCWSTR path) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path, -1, text.data(), length, nullptr, nullptr);
  text.resize(static_cast<size_t>(length - 1));
  return text;
}

HANDLE WINAPI SeamCreateFileW(LPCWSTR path, DWORD access, DWORD shareMode,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition,
                              DWORD flagsAndAttributes, HANDLE templateFile) {
  if (path != nullptr) fault_injection::detail::RunOpenHook(Utf8(path), access);
  return __real___imp_CreateFileW(path, access, shareMode, security, disposition,
                                  flagsAndAttributes, templateFile);
}

}  // namespace

extern "C" {
decltype(&ReadFile) __wrap___imp_ReadFile = &SeamReadFile;
decltype(&WriteFile) __wrap___imp_WriteFile = &SeamWriteFile;
decltype(&CreateFileW) __wrap___imp_CreateFileW = &SeamCreateFileW;
}
