// CreateFileW: opening files with Windows' access, share and creation rules.
//
// Share modes are open-file-description locks (share_lock.cpp), which every
// descriptor of every process sees, whatever path or hard link it was opened
// by; a conflict fails the open with ERROR_SHARING_VIOLATION. CREATE_ALWAYS
// and TRUNCATE_EXISTING empty the file only once the share claim is held, so
// opening a file that someone is reading never destroys it.
//
// As on Windows, CREATE_ALWAYS and OPEN_ALWAYS leave ERROR_ALREADY_EXISTS as
// the last error when the file was there, and a name that ends in a
// separator is no file name (ERROR_INVALID_NAME) unless it names a folder.
//
// A file the open creates takes, for group and others, no more than the
// template handle's permission bits (the umask still applies), in the
// creating call itself: a copy of a private file is never readable by others,
// not even for a moment. The owner keeps reading and writing.
#include "platform/posix/file_object.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/share_lock.h"
#if QUILLMERE_FAULT_SEAM
#include "platform/testing/fault_state.h"
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

namespace {

using posix_standin::FileObject;

int AccessFlags(DWORD access, DWORD disposition) {
  const bool read = (access & GENERIC_READ) != 0;
  const bool write = (access & GENERIC_WRITE) != 0;
  // Windows opens a handle without access for queries only, whatever the
  // file's permissions; O_PATH ignores creation, so only what exists.
  if (!read && !write && disposition == OPEN_EXISTING) return O_PATH;
  if (read && write) return O_RDWR;
  return write ? O_WRONLY : O_RDONLY;
}

// open() flags for a disposition; false for an unknown one. CREATE_ALWAYS
// and OPEN_ALWAYS create through OpenTellingExistence instead.
bool DispositionFlags(DWORD disposition, int& flags) {
  switch (disposition) {
    case CREATE_NEW: flags = O_CREAT | O_EXCL; return true;
    case CREATE_ALWAYS: flags = 0; return true;      // emptied after the claim
    case OPEN_EXISTING: flags = 0; return true;
    case OPEN_ALWAYS: flags = 0; return true;
    case TRUNCATE_EXISTING: flags = 0; return true;  // emptied after the claim
    default: return false;
  }
}

bool CreatesIfMissing(DWORD disposition) {
  return disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
}

bool TellsExistence(DWORD disposition) {
  return disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
}

// One open(), repeated over EINTR. Under the seam's RefuseDirectIo an
// O_DIRECT open does what it does on a file system without direct I/O: it
// opens (and creates) the file, then fails with EINVAL.
int OpenOnce(const char* path, int flags, mode_t mode) {
#if QUILLMERE_FAULT_SEAM
  const bool refuseDirect = (flags & O_DIRECT) != 0 && fault_injection::detail::DirectIoRefused();
  if (refuseDirect) flags &= ~O_DIRECT;
#endif
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
#if QUILLMERE_FAULT_SEAM
  if (refuseDirect && fd >= 0) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
#endif
  return fd;
}

// Opens as flags say. Where the file system refuses O_DIRECT (EINVAL: older
// tmpfs, some FUSE), opens again without it and the descriptor is buffered.
// That refusal comes once the file is made, so an exclusive creation refused
// so has created it: the second attempt opens that file (not a link put in
// its place) instead of failing on it as existing, and creates only where
// the file is not there (the first attempt failed before making it).
// direct tells whether the descriptor has O_DIRECT: an open that succeeds
// with it keeps it (a file system without direct I/O fails the open), so
// only this fallback takes it away.
int OpenNative(const char* path, int flags, mode_t mode, bool& direct) {
  direct = (flags & O_DIRECT) != 0;
  int fd = OpenOnce(path, flags, mode);
  if (fd >= 0 || errno != EINVAL || !direct) return fd;
  direct = false;
  flags &= ~O_DIRECT;
  constexpr int kExclusive = O_CREAT | O_EXCL;
  if ((flags & kExclusive) == kExclusive) {
#if QUILLMERE_FAULT_SEAM
    fault_injection::detail::RunRefusedCreationHook(path);
#endif
    fd = OpenOnce(path, (flags & ~kExclusive) | O_NOFOLLOW, mode);
    if (fd >= 0 || errno != ENOENT) return fd;
  }
  return OpenOnce(path, flags, mode);
}

// Opens or creates the file and says whether it was there: exclusive
// creation first, then an open of what is there. A name that keeps coming
// and going is in the end opened with plain O_CREAT and counts as new. A
// link to nowhere also ends there, and is refused (ELOOP) rather than
// followed: creating its target would write outside the folder the caller
// named.
int OpenTellingExistence(const char* path, int flags, mode_t mode, bool& existed, bool& direct) {
  constexpr int kAttempts = 4;
  existed = false;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    int fd = OpenNative(path, flags | O_CREAT | O_EXCL, mode, direct);
    if (fd >= 0 || errno != EEXIST) return fd;
    fd = OpenNative(path, flags, mode, direct);
    if (fd >= 0 || errno != ENOENT) {
      existed = true;
      return fd;
    }
  }
  return OpenNative(path, flags | O_CREAT | O_NOFOLLOW, mode, direct);
}

bool IsFolderPath(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// For a path that ends in a separator: ERROR_SUCCESS when it names a folder
// (the open goes on and refuses it with 5), else the code Windows gives for
// a file name followed by a separator: 123 for an existing file and for a
// new name the disposition would create, the not-found codes otherwise.
DWORD TrailingSeparatorCode(const std::string& path, DWORD disposition) {
  std::string name = path;
  while (!name.empty() && name.back() == '/') name.pop_back();
  if (name.empty() || IsFolderPath(path)) return ERROR_SUCCESS;
  struct stat info;
  if (::lstat(name.c_str(), &info) == 0) return ERROR_INVALID_NAME;
  DWORD code = posix_standin::Win32ErrorForPath(errno, name);
  if (code == ERROR_FILE_NOT_FOUND && CreatesIfMissing(disposition)) return ERROR_INVALID_NAME;
  return code;
}

bool EmptiesAfterLock(DWORD disposition) {
  return disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
}

// What an open gave besides its descriptor.
struct OpenOutcome {
  bool existed = false;  // the file was there (dispositions that tell it)
  bool direct = false;   // the descriptor has O_DIRECT
};

int OpenForDisposition(const char* path, int flags, mode_t mode, bool tellsExistence,
                       OpenOutcome& outcome) {
  return tellsExistence
             ? OpenTellingExistence(path, flags, mode, outcome.existed, outcome.direct)
             : OpenNative(path, flags, mode, outcome.direct);
}

// A handle that may only write is opened for reading too where the file
// allows it, since its share marks are read locks, which need a description
// open for reading; ReadFile still refuses it. Where reading is not allowed
// the share code opens a second description for the marks. flags ends with
// the access mode the open used.
int OpenForAccess(const char* path, int& flags, mode_t mode, bool tellsExistence,
                  OpenOutcome& outcome) {
  if ((flags & O_ACCMODE) != O_WRONLY) {
    return OpenForDisposition(path, flags, mode, tellsExistence, outcome);
  }
  const int writeOnly = flags;
  flags = (flags & ~O_ACCMODE) | O_RDWR;
  int fd = OpenForDisposition(path, flags, mode, tellsExistence, outcome);
  if (fd >= 0 || (errno != EACCES && errno != EPERM)) return fd;
  flags = writeOnly;
  return OpenForDisposition(path, flags, mode, tellsExistence, outcome);
}

// Opened O_NONBLOCK so that a FIFO cannot hang the open. A regular file
// ignores the flag, so it stays; anything else works blocking from here
// on, as Windows handles do.
void MakeBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

HANDLE Fail(DWORD code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

// The mode a new file is created with: read and write for everyone, as
// usual, but for group and others no more than the template file has. False,
// with the last error set, for a template that is no open file.
bool CreationMode(HANDLE templateFile, mode_t& mode) {
  mode = 0666;
  if (templateFile == nullptr) return true;
  const FileObject* model = posix_standin::FileFromHandle(templateFile);
  if (model == nullptr) return false;
  // The template's mode as its open found it.
  mode &= S_IRWXU | (model->atOpen.st_mode & (S_IRWXG | S_IRWXO));
  return true;
}

// Everything after open(): refuse folders (unless asked for with backup
// semantics), claim share access, empty, set the hints.
DWORD Prepare(FileObject& file, DWORD access, DWORD shareMode, DWORD disposition,
              DWORD flagsAndAttributes) {
  struct stat info;
  if (::fstat(file.fd, &info) != 0) return Win32ErrorFromErrno(errno);
  const bool folderAllowed = (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
  if (S_ISDIR(info.st_mode) && !folderAllowed) return ERROR_ACCESS_DENIED;
  file.atOpen = info;
  if (S_ISREG(info.st_mode)) {
    file.knownPosition = 0;
  } else {
    MakeBlocking(file.fd);
  }
  DWORD shareCode = posix_standin::ClaimShareAccess(file, info, access, shareMode);
  if (shareCode != ERROR_SUCCESS) return shareCode;
  // An empty file (one this open created, say) needs no emptying.
  if (EmptiesAfterLock(disposition) && S_ISREG(info.st_mode) && info.st_size != 0) {
    int result;
    do {
      result = ::ftruncate(file.fd, 0);
    } while (result != 0 && errno == EINTR);
    if (result != 0) return Win32ErrorFromErrno(errno);
    // What the open saw is no longer the file's status. Should the new look
    // fail, the first read looks again.
    if (::fstat(file.fd, &info) == 0) {
      file.atOpen = info;
    } else {
      file.untouchedSinceOpen = false;
    }
  }
  // Direct I/O bypasses the page cache, whose read-ahead the hint steers.
  file.sequentialScan = (flagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN) != 0;
  if (file.sequentialScan && !file.directIo) {
    ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return ERROR_SUCCESS;
}

}  // namespace

HANDLE CreateFileW(const char* nativePath, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (nativePath == nullptr) return Fail(ERROR_INVALID_PARAMETER);
#if QUILLMERE_FAULT_SEAM
  fault_injection::detail::RunOpenHook(nativePath, access);
#endif
  int flags = 0;
  if (!DispositionFlags(disposition, flags)) return Fail(ERROR_INVALID_PARAMETER);
  if (disposition == TRUNCATE_EXISTING && !(access & GENERIC_WRITE)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  mode_t mode = 0;
  if (!CreationMode(templateFile, mode)) return INVALID_HANDLE_VALUE;
  std::string path = nativePath;
  if (!path.empty() && path.back() == '/') {
    DWORD code = TrailingSeparatorCode(path, disposition);
    if (code != ERROR_SUCCESS) return Fail(code);
  }
  flags |= AccessFlags(access, disposition) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) flags |= O_DSYNC;
  if (flagsAndAttributes & FILE_FLAG_NO_BUFFERING) flags |= O_DIRECT;

  auto file = std::make_unique<FileObject>();
  const bool queryOnly = (flags & O_PATH) != 0;
  file->readable = !queryOnly && (flags & O_ACCMODE) != O_WRONLY;
  file->writable = !queryOnly && (flags & O_ACCMODE) != O_RDONLY;
  OpenOutcome outcome;
  file->fd = OpenForAccess(nativePath, flags, mode, TellsExistence(disposition), outcome);
  if (file->fd < 0) return Fail(posix_standin::Win32ErrorForPath(errno, path));
  file->descriptorReadable = !queryOnly && (flags & O_ACCMODE) != O_WRONLY;
  file->directIo = !queryOnly && outcome.direct;

  DWORD code = Prepare(*file, access, shareMode, disposition, flagsAndAttributes);
  if (code != ERROR_SUCCESS) return Fail(code);
  SetLastError(outcome.existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return file.release();
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  if (path == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::string native = posix_standin::NativePathFromWide(path);
  return CreateFileW(native.c_str(), access, shareMode, security, disposition,
                     flagsAndAttributes, templateFile);
}
