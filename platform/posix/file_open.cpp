// CreateFileW: opening files with Windows' access, share and creation rules.
//
// Share modes become open-file-description locks on the whole file, which
// every descriptor of every process sees, whatever path or hard link it was
// opened by: a handle that shares reading takes a read lock, one that does
// not takes a write lock, and a conflict fails the open with
// ERROR_SHARING_VIOLATION. (Finer combinations, such as a writer that shares
// reading meeting a reader that does not share writing, are not told apart.)
// CREATE_ALWAYS and TRUNCATE_EXISTING empty the file only once the lock is
// held, so opening a file that someone is reading never destroys it.
#include "platform/posix/fault_state.h"
#include "platform/posix/file_object.h"
#include "platform/posix/posix_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

namespace {

using posix_standin::FileObject;

int AccessFlags(DWORD access) {
  const bool read = (access & GENERIC_READ) != 0;
  const bool write = (access & GENERIC_WRITE) != 0;
  if (read && write) return O_RDWR;
  return write ? O_WRONLY : O_RDONLY;
}

// open() flags for a disposition; false for an unknown one.
bool DispositionFlags(DWORD disposition, int& flags) {
  switch (disposition) {
    case CREATE_NEW: flags = O_CREAT | O_EXCL; return true;
    case CREATE_ALWAYS: flags = O_CREAT; return true;  // emptied after locking
    case OPEN_EXISTING: flags = 0; return true;
    case OPEN_ALWAYS: flags = O_CREAT; return true;
    case TRUNCATE_EXISTING: flags = 0; return true;    // emptied after locking
    default: return false;
  }
}

bool EmptiesAfterLock(DWORD disposition) {
  return disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
}

// Opens a second descriptor on the same open file for the lock, since an
// OFD read lock needs read access and a write lock write access.
int ReopenForLock(int fd, short lockType) {
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  int mode = lockType == F_RDLCK ? O_RDONLY : O_WRONLY;
  return ::open(self.c_str(), mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

// Takes the share lock; 0 or the errno of the failed fcntl.
int TakeShareLock(FileObject& file, DWORD shareMode) {
  short type = (shareMode & FILE_SHARE_READ) ? F_RDLCK : F_WRLCK;
  int lockFd = file.fd;
  const bool fits = type == F_RDLCK ? file.readable : file.writable;
  if (!fits) {
    file.lockFd = ReopenForLock(file.fd, type);
    if (file.lockFd >= 0) {
      lockFd = file.lockFd;
    } else {
      // Only the other kind of lock can be had: take it rather than none.
      type = type == F_RDLCK ? F_WRLCK : F_RDLCK;
    }
  }
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however it grows
  int result;
  do {
    result = ::fcntl(lockFd, F_OFD_SETLK, &lock);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

bool IsLockConflict(int error) { return error == EAGAIN || error == EACCES; }

// File systems without lock support cannot enforce share modes; the open
// goes on without them rather than failing every copy there.
bool LocksUnsupported(int error) {
  return error == ENOLCK || error == EINVAL || error == EOPNOTSUPP || error == ENOSYS;
}

void EnableDirectIo(FileObject& file) {
  int flags = ::fcntl(file.fd, F_GETFL);
  // Some file systems (older tmpfs, some FUSE) refuse O_DIRECT with EINVAL;
  // the handle then stays buffered.
  if (flags >= 0 && ::fcntl(file.fd, F_SETFL, flags | O_DIRECT) == 0) file.directIo = true;
}

// The open was opened O_NONBLOCK so that a FIFO cannot hang it; the handle
// itself works blocking, as Windows file handles do.
void MakeBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

HANDLE Fail(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

// Everything after open(): refuse folders, lock, empty, set the hints.
DWORD Prepare(FileObject& file, DWORD shareMode, DWORD disposition, DWORD flagsAndAttributes) {
  struct stat info;
  if (::fstat(file.fd, &info) != 0) return Win32ErrorFromErrno(errno);
  if (S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
  MakeBlocking(file.fd);
  int lockError = TakeShareLock(file, shareMode);
  if (IsLockConflict(lockError)) return ERROR_SHARING_VIOLATION;
  if (lockError != 0 && !LocksUnsupported(lockError)) return Win32ErrorFromErrno(lockError);
  if (EmptiesAfterLock(disposition) && S_ISREG(info.st_mode)) {
    int result;
    do {
      result = ::ftruncate(file.fd, 0);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return Win32ErrorFromErrno(errno);
  }
  if (flagsAndAttributes & FILE_FLAG_NO_BUFFERING) EnableDirectIo(file);
  if (flagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN) {
    ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return ERROR_SUCCESS;
}

}  // namespace

HANDLE CreateFileW(const char* nativePath, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE) {
  if (nativePath == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  fault_injection::detail::RunOpenHook(nativePath, access);
  int flags = 0;
  if (!DispositionFlags(disposition, flags)) return Fail(ERROR_INVALID_PARAMETER);
  if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  flags |= AccessFlags(access) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;

  auto file = std::make_unique<FileObject>();
  do {
    file->fd = ::open(nativePath, flags, 0666);
  } while (file->fd < 0 && errno == EINTR);
  if (file->fd < 0) return Fail(posix_standin::Win32ErrorForPath(errno, nativePath));
  file->readable = (flags & O_ACCMODE) != O_WRONLY;
  file->writable = (flags & O_ACCMODE) != O_RDONLY;

  DWORD code = Prepare(*file, shareMode, disposition, flagsAndAttributes);
  if (code != ERROR_SUCCESS) return Fail(code);
  SetLastError(ERROR_SUCCESS);
  return file.release();
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (path == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::string native = posix_standin::NativePathFromWide(path);
  return CreateFileW(native.c_str(), access, shareMode, security, disposition,
                     flagsAndAttributes, templateFile);
}
