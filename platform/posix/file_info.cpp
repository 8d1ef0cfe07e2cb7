// GetFileInformationByHandle and GetFinalPathNameByHandleW: what an open
// handle tells of its file, from the descriptor itself, so that a rename or
// a swap of the path it was opened by changes nothing of the answer's file.
#include "platform/posix/file_object.h"
#include "platform/posix/posix_internal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using posix_standin::FileObject;

// Seconds from 1601-01-01 (FILETIME's start) to 1970-01-01.
constexpr uint64_t kEpochDifference = 11644473600ull;
constexpr uint64_t kUnitsPerSecond = 10000000ull;  // 100 ns units
constexpr uint64_t kNanosecondsPerUnit = 100;

FILETIME FileTimeOf(const struct timespec& time) {
  const uint64_t units = (static_cast<uint64_t>(time.tv_sec) + kEpochDifference) * kUnitsPerSecond +
                         static_cast<uint64_t>(time.tv_nsec) / kNanosecondsPerUnit;
  return FILETIME{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
}

DWORD LowHalf(uint64_t value) { return static_cast<DWORD>(value); }
DWORD HighHalf(uint64_t value) { return static_cast<DWORD>(value >> 32); }

// Device numbers keep their minor's high bits above 32: both halves are
// folded in, so that two volumes of one machine keep apart.
DWORD VolumeSerialOf(dev_t device) {
  const uint64_t value = static_cast<uint64_t>(device);
  return LowHalf(value) ^ HighHalf(value);
}

void FillInformation(const struct stat& status, BY_HANDLE_FILE_INFORMATION& info) {
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  const uint64_t index = static_cast<uint64_t>(status.st_ino);
  info.dwFileAttributes = S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                                                  : FILE_ATTRIBUTE_NORMAL;
  info.ftCreationTime = FileTimeOf(status.st_ctim);
  info.ftLastAccessTime = FileTimeOf(status.st_atim);
  info.ftLastWriteTime = FileTimeOf(status.st_mtim);
  info.dwVolumeSerialNumber = VolumeSerialOf(status.st_dev);
  info.nFileSizeHigh = HighHalf(size);
  info.nFileSizeLow = LowHalf(size);
  info.nNumberOfLinks = static_cast<DWORD>(status.st_nlink);
  info.nFileIndexHigh = HighHalf(index);
  info.nFileIndexLow = LowHalf(index);
}

// The descriptor's path; empty, with the last error set, when it cannot be
// read.
std::string DescriptorPath(const FileObject& file) {
  const std::string link = "/proc/self/fd/" + std::to_string(file.fd);
  std::string path(256, '\0');
  for (;;) {
    const ssize_t count = ::readlink(link.c_str(), &path[0], path.size());
    if (count < 0) {
      posix_standin::SetLastErrorFromErrno(errno);
      return std::string();
    }
    if (static_cast<size_t>(count) < path.size()) {
      path.resize(static_cast<size_t>(count));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// Windows' buffer rule: the text's length when it fits with its terminator,
// else the units it needs.
template <typename Char>
DWORD CopyOut(const std::basic_string<Char>& text, Char* buffer, DWORD length) {
  const DWORD needed = static_cast<DWORD>(text.size()) + 1;
  if (buffer == nullptr || length < needed) return needed;
  std::memcpy(buffer, text.c_str(), needed * sizeof(Char));
  return needed - 1;
}

// The handle's path; false with the last error set.
bool FinalPath(HANDLE handle, DWORD flags, std::string& path) {
  const FileObject* file = posix_standin::FileFromHandle(handle);
  if (file == nullptr) return false;
  if (flags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  path = DescriptorPath(*file);
  return !path.empty();
}

}  // namespace

namespace {

// The open file a query of its information is put to; null, with the last
// error set, for a bad handle or no place to put the answer.
const FileObject* QueriedFile(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
  const FileObject* file = posix_standin::FileFromHandle(handle);
  if (file != nullptr && info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return file;
}

}  // namespace

BOOL GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
  const FileObject* file = QueriedFile(handle, info);
  if (file == nullptr) return FALSE;
  struct stat status;
  if (::fstat(file->fd, &status) != 0) {
    posix_standin::SetLastErrorFromErrno(errno);
    return FALSE;
  }
  FillInformation(status, *info);
  return TRUE;
}

BOOL GetFileInformationAtOpen(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
  const FileObject* file = QueriedFile(handle, info);
  if (file == nullptr) return FALSE;
  FillInformation(file->atOpen, *info);
  return TRUE;
}

BOOL GetFileIdentityByHandle(HANDLE handle, DWORD& volumeSerial, ULONGLONG& fileIndex) {
  const FileObject* file = posix_standin::FileFromHandle(handle);
  if (file == nullptr) return FALSE;
  volumeSerial = VolumeSerialOf(file->atOpen.st_dev);
  fileIndex = static_cast<ULONGLONG>(file->atOpen.st_ino);
  return TRUE;
}

DWORD GetFinalPathNameByHandleW(HANDLE handle, char* nativePath, DWORD length, DWORD flags) {
  std::string path;
  if (!FinalPath(handle, flags, path)) return 0;
  return CopyOut(path, nativePath, length);
}

DWORD GetFinalPathNameByHandleW(HANDLE handle, LPWSTR path, DWORD length, DWORD flags) {
  std::string native;
  if (!FinalPath(handle, flags, native)) return 0;
  return CopyOut(posix_standin::WideFromUtf8(native), path, length);
}
