// ReadFile, WriteFile, SetFilePointerEx, SetEndOfFile and CloseHandle on the
// stand-in's file handles.
//
// Reads and writes loop over EINTR and short transfers: a write writes every
// byte unless an error stops it, a read gives what the file holds up to the
// length asked (fewer only at its end). Where the file system turns down an
// O_DIRECT transfer as misaligned (EINVAL), the handle falls back to
// buffered I/O and the transfer is repeated, so a copy never fails for the
// platform's alignment rules alone.
#include "platform/posix/file_object.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/share_lock.h"
#if QUILLMERE_FAULT_SEAM
#include "platform/testing/fault_state.h"
#endif

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace posix_standin {

FileObject::~FileObject() { Close(); }

int FileObject::Close() {
  if (inShareTable) ForgetShareAccess(*this);
  int error = 0;
  if (lockFd >= 0 && ::close(lockFd) != 0) error = errno;
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) error = errno;
  lockFd = -1;
  fd = -1;
  mark = 0;
  return error;
}

FileObject* FileFromHandle(HANDLE handle) {
  auto* file = static_cast<FileObject*>(handle);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || file->mark != FileObject::kLiveMark) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return file;
}

bool DropDirectIo(FileObject& file) {
  int flags = ::fcntl(file.fd, F_GETFL);
  if (flags < 0 || ::fcntl(file.fd, F_SETFL, flags & ~O_DIRECT) != 0) return false;
  file.directIo = false;
  if (file.sequentialScan) ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

}  // namespace posix_standin

namespace {

using posix_standin::FileObject;

// Any direct-I/O alignment a file system asks for divides this.
constexpr uint64_t kDirectReadGranule = 64 * 1024;
constexpr uint64_t kEndUnknown = UINT64_MAX;

// Bytes from the position to the end of a regular file; kEndUnknown for
// anything else. The first read of a handle takes the size its open just
// saw: a file that grew since gives the rest at the next call, as one that
// grows during any read does.
uint64_t BytesToEnd(const FileObject& file) {
  struct stat info = file.atOpen;
  if (!file.untouchedSinceOpen && ::fstat(file.fd, &info) != 0) return kEndUnknown;
  if (!S_ISREG(info.st_mode)) return kEndUnknown;
  off_t position = file.knownPosition;
  if (position < 0) position = ::lseek(file.fd, 0, SEEK_CUR);
  if (position < 0) return kEndUnknown;
  return info.st_size > position ? static_cast<uint64_t>(info.st_size - position) : 0;
}

// What is left of toEnd bytes once total of them are read.
uint64_t Remaining(uint64_t toEnd, size_t total) {
  if (toEnd == kEndUnknown) return kEndUnknown;
  return toEnd > total ? toEnd - total : 0;
}

// An O_DIRECT read that reaches past the end of a regular file zeroes the
// caller's buffer up to the whole length asked before it reports the short
// count, so reading a 4 KiB file into a 4 MiB block costs 4 MiB of zeroing.
// Asking for no more than the rest of the file, rounded up to a granule that
// keeps the length aligned, reads the same bytes without it. At the end
// already, one granule: the read then gives 0, or what was appended.
size_t DirectReadLength(size_t length, uint64_t rest) {
  if (length <= kDirectReadGranule || rest == kEndUnknown) return length;
  uint64_t granules = rest == 0 ? 1 : (rest + kDirectReadGranule - 1) / kDirectReadGranule;
  uint64_t rounded = granules * kDirectReadGranule;
  return rounded < length ? static_cast<size_t>(rounded) : length;
}

// Puts the descriptor where the handle's last counted move left it; 0 or the
// errno of the move.
int ApplyPendingMove(FileObject& file) {
  if (!file.movePending) return 0;
  if (file.knownPosition != file.descriptorPosition &&
      ::lseek(file.fd, file.knownPosition, SEEK_SET) < 0) {
    return errno;
  }
  file.movePending = false;
  return 0;
}

// Reads up to length bytes; 0 or the errno that stopped it (total then holds
// what was read before). A regular file is read until length bytes, its end
// (a read of 0) or, for a direct handle, the end its size showed at the
// start: a file that grows meanwhile gives the rest at the next call. Any
// other file gives what one read brings, as a pipe would on Windows.
int ReadAll(FileObject& file, char* buffer, size_t length, size_t& total) {
  total = 0;
  const uint64_t toEnd = file.directIo ? BytesToEnd(file) : kEndUnknown;
  while (total < length) {
    size_t request = length - total;
    if (file.directIo) request = DirectReadLength(request, Remaining(toEnd, total));
    ssize_t count = ::read(file.fd, buffer + total, request);
    if (count > 0) {
      total += static_cast<size_t>(count);
      if (!S_ISREG(file.atOpen.st_mode) || (toEnd != kEndUnknown && total >= toEnd)) break;
      continue;
    }
    if (count == 0) break;
    if (errno == EINTR) continue;
    if (errno == EINVAL && file.directIo && posix_standin::DropDirectIo(file)) continue;
    return errno;
  }
  return 0;
}

// Writes all length bytes; 0 or the errno that stopped it.
int WriteAll(FileObject& file, const char* data, size_t length, size_t& total) {
  total = 0;
  while (total < length) {
    ssize_t count = ::write(file.fd, data + total, length - total);
    if (count > 0) {
      total += static_cast<size_t>(count);
      continue;
    }
    if (count == 0) return ENOSPC;  // no progress and no error: nothing more fits
    if (errno == EINTR) continue;
    if (errno == EINVAL && file.directIo && posix_standin::DropDirectIo(file)) continue;
    return errno;
  }
  return 0;
}

// A read or write of count bytes moved the descriptor's position by count,
// whether or not it then failed.
void CountMove(FileObject& file, size_t count) {
  if (file.knownPosition >= 0 && S_ISREG(file.atOpen.st_mode)) {
    file.knownPosition += static_cast<off_t>(count);
  } else {
    file.knownPosition = -1;
  }
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

}  // namespace

BOOL CloseHandle(HANDLE handle) {
  FileObject* file = posix_standin::FileFromHandle(handle);
  if (file == nullptr) return FALSE;
  int error = file->Close();
  delete file;
  if (error != 0) return Fail(Win32ErrorFromErrno(error));
  return TRUE;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
  if (bytesRead != nullptr) *bytesRead = 0;
#if QUILLMERE_FAULT_SEAM
  DWORD faultCode = 0;
  if (fault_injection::detail::TakeReadFault(faultCode)) return Fail(faultCode);
#endif
  FileObject* file = posix_standin::FileFromHandle(handle);
  if (file == nullptr) return FALSE;
  if (overlapped != nullptr || (buffer == nullptr && length != 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!file->readable) return Fail(ERROR_ACCESS_DENIED);
  size_t total = 0;
  int error = ApplyPendingMove(*file);
  if (error == 0) error = ReadAll(*file, static_cast<char*>(buffer), length, total);
  file->untouchedSinceOpen = false;
  CountMove(*file, total);
  if (bytesRead != nullptr) *bytesRead = static_cast<DWORD>(total);
  if (error != 0) return Fail(Win32ErrorFromErrno(error));
  return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD length, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
#if QUILLMERE_FAULT_SEAM
  fault_injection::detail::RunWriteHook(data, length);
  DWORD faultValue = 0;
  auto fault = fault_injection::detail::TakeWriteFault(faultValue);
  if (fault == fault_injection::detail::WriteFault::kFail) return Fail(faultValue);
#endif
  FileObject* file = posix_standin::FileFromHandle(handle);
  if (file == nullptr) return FALSE;
  if (overlapped != nullptr || (data == nullptr && length != 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!file->writable) return Fail(ERROR_ACCESS_DENIED);
#if QUILLMERE_FAULT_SEAM
  if (fault == fault_injection::detail::WriteFault::kShorten) length = std::min(length, faultValue);
#endif
  size_t total = 0;
  file->untouchedSinceOpen = false;
  int error = ApplyPendingMove(*file);
  if (error == 0) error = WriteAll(*file, static_cast<const char*>(data), length, total);
  CountMove(*file, total);
  if (bytesWritten != nullptr) *bytesWritten = static_cast<DWORD>(total);
  if (error != 0) return Fail(Win32ErrorFromErrno(error));
  return TRUE;
}

// A move from the start or from a known position of a regular file is
// counted, not made (see FileObject::movePending); anything else asks the
// descriptor.
BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, PLARGE_INTEGER newPosition,
                      DWORD moveMethod) {
  FileObject* file = posix_standin::FileFromHandle(handle);
  if (file == nullptr) return FALSE;
  int whence = SEEK_SET;
  switch (moveMethod) {
    case FILE_BEGIN: whence = SEEK_SET; break;
    case FILE_CURRENT: whence = SEEK_CUR; break;
    case FILE_END: whence = SEEK_END; break;
    default: return Fail(ERROR_INVALID_PARAMETER);
  }
  if (whence != SEEK_END && file->knownPosition >= 0 && S_ISREG(file->atOpen.st_mode)) {
    off_t position = 0;
    const off_t base = whence == SEEK_SET ? 0 : file->knownPosition;
    if (__builtin_add_overflow(base, static_cast<off_t>(distance.QuadPart), &position)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    // A move to before the start of the file has its own code on Windows.
    if (position < 0) return Fail(ERROR_NEGATIVE_SEEK);
    if (!file->movePending) file->descriptorPosition = file->knownPosition;
    file->knownPosition = position;
    file->movePending = true;
    if (newPosition != nullptr) newPosition->QuadPart = static_cast<LONGLONG>(position);
    return TRUE;
  }
  file->knownPosition = -1;
  file->movePending = false;
  off_t position = ::lseek(file->fd, static_cast<off_t>(distance.QuadPart), whence);
  if (position < 0) {
    const bool beforeStart = errno == EINVAL && distance.QuadPart < 0;
    return Fail(beforeStart ? ERROR_NEGATIVE_SEEK : Win32ErrorFromErrno(errno));
  }
  if (newPosition != nullptr) newPosition->QuadPart = static_cast<LONGLONG>(position);
  file->knownPosition = position;
  return TRUE;
}

BOOL SetEndOfFile(HANDLE handle) {
  FileObject* file = posix_standin::FileFromHandle(handle);
  if (file == nullptr) return FALSE;
  if (!file->writable) return Fail(ERROR_ACCESS_DENIED);
  off_t position = file->knownPosition;
  if (position < 0) position = ::lseek(file->fd, 0, SEEK_CUR);
  if (position < 0) return Fail(Win32ErrorFromErrno(errno));
  file->untouchedSinceOpen = false;
  int result;
  do {
    result = ::ftruncate(file->fd, position);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return Fail(Win32ErrorFromErrno(errno));
  return TRUE;
}

BOOL GetFileSizeEx(HANDLE handle, PLARGE_INTEGER size) {
  FileObject* file = posix_standin::FileFromHandle(handle);
  if (file == nullptr) return FALSE;
  if (size == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  struct stat info;
  if (::fstat(file->fd, &info) != 0) return Fail(Win32ErrorFromErrno(errno));
  size->QuadPart = static_cast<LONGLONG>(info.st_size);
  return TRUE;
}

// The type of an open file cannot change: the one seen at the open serves.
DWORD GetFileType(HANDLE handle) {
  FileObject* file = posix_standin::FileFromHandle(handle);
  if (file == nullptr) return FILE_TYPE_UNKNOWN;
  SetLastError(ERROR_SUCCESS);
  if (S_ISREG(file->atOpen.st_mode)) return FILE_TYPE_DISK;
  if (S_ISCHR(file->atOpen.st_mode) || S_ISBLK(file->atOpen.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(file->atOpen.st_mode) || S_ISSOCK(file->atOpen.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_UNKNOWN;
}
