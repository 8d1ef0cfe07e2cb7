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

// Every errno the stand-in's calls can give (open, read, write, ftruncate,
// lseek, the stat family, fcntl locks, statvfs, posix_fadvise, close, mkdir,
// rename, readlink, getcwd), and the ones file systems add (NFS, FUSE, a
// corrupt or removable disk), each to the code that names the same
// condition. EBUSY, ETXTBSY, EAGAIN and EWOULDBLOCK are the C library's
// ways of saying that someone else holds the file. EXDEV and ENOTCONN (a
// FUSE server gone) are left to ERROR_GEN_FAILURE: Windows' nearest codes
// name other failures. Values a platform's C library lacks are left out
// there.
inline constexpr ErrnoCode kErrnoToCode[] = {
    {0, ERROR_SUCCESS},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EBUSY, ERROR_SHARING_VIOLATION},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EAGAIN, ERROR_SHARING_VIOLATION},
    {EWOULDBLOCK, ERROR_SHARING_VIOLATION},
    {ENOSPC, ERROR_DISK_FULL},
#ifdef EDQUOT
    {EDQUOT, ERROR_DISK_QUOTA_EXCEEDED},
#endif
    {EFBIG, ERROR_FILE_TOO_LARGE},
    {EROFS, ERROR_WRITE_PROTECT},
    {EIO, ERROR_IO_DEVICE},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EEXIST, ERROR_FILE_EXISTS},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EMLINK, ERROR_TOO_MANY_LINKS},
    {EBADF, ERROR_INVALID_HANDLE},
    {EFAULT, ERROR_NOACCESS},
    {EINTR, ERROR_OPERATION_ABORTED},
    {ENXIO, ERROR_BAD_UNIT},
    {ENODEV, ERROR_BAD_UNIT},
    {ESPIPE, ERROR_SEEK_ON_DEVICE},
    {EPIPE, ERROR_NO_DATA},
    {EOVERFLOW, ERROR_ARITHMETIC_OVERFLOW},
    {ERANGE, ERROR_INSUFFICIENT_BUFFER},
    {EILSEQ, ERROR_NO_UNICODE_TRANSLATION},
    {ENOLCK, ERROR_LOCK_FAILED},
    {EDEADLK, ERROR_POSSIBLE_DEADLOCK},
    {ENOSYS, ERROR_INVALID_FUNCTION},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {ETIMEDOUT, ERROR_TIMEOUT},
    {EBADMSG, ERROR_FILE_CORRUPT},
#ifdef EUCLEAN
    {EUCLEAN, ERROR_FILE_CORRUPT},
#endif
#ifdef ESTALE
    {ESTALE, ERROR_FILE_INVALID},
#endif
#ifdef EREMOTEIO
    {EREMOTEIO, ERROR_UNEXP_NET_ERR},
#endif
#ifdef ENOMEDIUM
    {ENOMEDIUM, ERROR_NO_MEDIA_IN_DRIVE},
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
