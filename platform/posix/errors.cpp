// Last-error value and system error texts.
//
// errno -> Windows code is platform/errno_to_win32.h, shared with the Windows
// build. Here a smaller table maps each code the stand-in produces back to an
// errno, so that FormatMessageW can give the platform's own text for it.
#include "platform/posix/posix_internal.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

thread_local DWORD lastError = 0;

// Windows' "message not found" code, set when a code has no text.
constexpr DWORD kErrorMessageNotFound = 317;

struct ErrnoCode {
  int errnoValue;
  DWORD code;
};

// Windows code -> the errno whose text describes it. Only codes listed here
// have a text; every other code gives none.
constexpr ErrnoCode kCodeToErrno[] = {
    {0, ERROR_SUCCESS},
    {ENOSYS, ERROR_INVALID_FUNCTION},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOENT, ERROR_PATH_NOT_FOUND},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EROFS, ERROR_WRITE_PROTECT},
    {EIO, ERROR_WRITE_FAULT},
    {EIO, ERROR_READ_FAULT},
    {EIO, ERROR_GEN_FAILURE},
    {EBUSY, ERROR_SHARING_VIOLATION},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {EEXIST, ERROR_FILE_EXISTS},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EINVAL, ERROR_INVALID_NAME},
    {EINVAL, ERROR_NEGATIVE_SEEK},
    {ENOSPC, ERROR_DISK_FULL},
    {ERANGE, ERROR_INSUFFICIENT_BUFFER},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EILSEQ, ERROR_NO_UNICODE_TRANSLATION},
    {EIO, ERROR_IO_DEVICE},
    {EDQUOT, ERROR_DISK_QUOTA_EXCEEDED},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
};

bool ErrnoForCode(DWORD code, int& errnoValue) {
  for (const ErrnoCode& entry : kCodeToErrno) {
    if (entry.code == code) {
      errnoValue = entry.errnoValue;
      return true;
    }
  }
  return false;
}

// strerror_r comes in two flavours (GNU returns the text, XSI fills the
// buffer and returns int); these overloads accept either.
[[maybe_unused]] const char* PickText(const char* gnuResult, const char*) { return gnuResult; }
[[maybe_unused]] const char* PickText(int, const char* buffer) { return buffer; }

std::string ErrnoText(int errnoValue) {
  char buffer[256] = {};
  return PickText(strerror_r(errnoValue, buffer, sizeof buffer), buffer);
}

// Copies text into a LocalFree-able block; null when memory runs out.
WCHAR* AllocateText(const std::basic_string<WCHAR>& text) {
  auto* block = static_cast<WCHAR*>(std::malloc((text.size() + 1) * sizeof(WCHAR)));
  if (block == nullptr) return nullptr;
  std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return block;
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) { lastError = code; }

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD,
                     void*) {
  const DWORD required = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER;
  if ((flags & required) != required || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto* out = reinterpret_cast<WCHAR**>(buffer);
  *out = nullptr;
  int errnoValue = 0;
  if (!ErrnoForCode(messageId, errnoValue)) {
    SetLastError(kErrorMessageNotFound);
    return 0;
  }
  // Windows ends its system texts with CR LF; callers expect to cut them.
  std::basic_string<WCHAR> text = posix_standin::WideFromUtf8(ErrnoText(errnoValue) + "\r\n");
  *out = AllocateText(text);
  if (*out == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  return static_cast<DWORD>(text.size());
}

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

namespace posix_standin {

DWORD Win32ErrorForPath(int errnoValue, const std::string& nativePath) {
  if (errnoValue == ENOENT && nativePath.empty()) return ERROR_PATH_NOT_FOUND;
  if (errnoValue == ENOENT && !IsFolder(ParentPath(nativePath))) return ERROR_PATH_NOT_FOUND;
  return Win32ErrorFromErrno(errnoValue);
}

void SetLastErrorFromErrno(int errnoValue) { SetLastError(Win32ErrorFromErrno(errnoValue)); }

}  // namespace posix_standin
