// The Windows error code for a C-library errno value, on every platform.
//
// The stand-in turns the errno of each failed POSIX call into the code that
// a user of Windows would see for the same failure. On Windows the same
// table serves code that gets errno values from the C and C++ libraries
// (std::filesystem under mingw-w64 reports them in the generic category)
// and must report Windows codes. Reached through platform/win32.h only,
// after the platform's types and codes.
#pragma once

#include <cerrno>

namespace win32_errno_detail {

struct ErrnoCode {
  int errnoValue;
  DWORD code;
};

// EBUSY, ETXTBSY and EWOULDBLOCK are the C library's ways of saying that
// someone else holds the file. Values a platform's C library lacks are left
// out there.
inline constexpr ErrnoCode kErrnoToCode[] = {
    {0, ERROR_SUCCESS},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EBUSY, ERROR_SHARING_VIOLATION},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EWOULDBLOCK, ERROR_SHARING_VIOLATION},
    {ENOSPC, ERROR_DISK_FULL},
#ifdef EDQUOT
    {EDQUOT, ERROR_DISK_QUOTA_EXCEEDED},
#endif
    {EROFS, ERROR_WRITE_PROTECT},
    {EIO, ERROR_IO_DEVICE},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EEXIST, ERROR_FILE_EXISTS},
    {EBADF, ERROR_INVALID_HANDLE},
#ifdef ELOOP
    // Too many links to follow, or a link that may not be followed.
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
#endif
};

}  // namespace win32_errno_detail

// The Windows code a user of Windows would see for an errno value;
// ERROR_GEN_FAILURE (31) for a value the table does not know.
inline DWORD Win32ErrorFromErrno(int errnoValue) {
  for (const win32_errno_detail::ErrnoCode& entry : win32_errno_detail::kErrnoToCode) {
    if (entry.errnoValue == errnoValue) return entry.code;
  }
  return ERROR_GEN_FAILURE;
}
