// What a file HANDLE of the stand-in points to. Internal to platform/posix/.
#pragma once

#include "platform/win32.h"

#include <cstdint>

namespace posix_standin {

// One open file: its descriptor, how it may be used, and the descriptor that
// holds its share-mode locks when the main one cannot (they are read locks,
// which need a descriptor open for reading).
// Owned through the HANDLE; CloseHandle destroys it, closing both.
struct FileObject {
  static constexpr uint32_t kLiveMark = 0x51464844;  // tells a live object from garbage

  FileObject() = default;
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;
  ~FileObject();
  // Closes both descriptors; the errno of a failed close, else 0.
  int Close();

  uint32_t mark = kLiveMark;
  int fd = -1;
  int lockFd = -1;
  bool readable = false;
  bool writable = false;
  bool directIo = false;  // fd has O_DIRECT set
  bool inShareTable = false;  // its claim is in the process's share table
};

// The object behind a handle; null (with ERROR_INVALID_HANDLE as the last
// error) for null, INVALID_HANDLE_VALUE or a closed handle.
FileObject* FileFromHandle(HANDLE handle);

// Turns O_DIRECT off for the rest of the handle's life; false when that fails.
bool DropDirectIo(FileObject& file);

}  // namespace posix_standin
