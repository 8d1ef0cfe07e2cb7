// What a file HANDLE of the stand-in points to. Internal to platform/posix/.
#pragma once

#include "platform/win32.h"

#include <sys/stat.h>
#include <sys/types.h>

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
  bool readable = false;  // the handle may read (ReadFile)
  bool writable = false;  // the handle may write (WriteFile)
  bool descriptorReadable = false;  // fd itself was opened for reading
  bool directIo = false;  // fd has O_DIRECT set
  // The status the open took (fstat): the file's type and mode, and by its
  // device and inode which file it is, whatever happens to its name.
  struct stat atOpen = {};
  // Nothing was read, written or cut through this handle since: atOpen's
  // size is still as fresh as a new look would be at the first read.
  bool untouchedSinceOpen = true;
  // The descriptor's position as the handle has counted it: a regular file
  // starts at 0 and only this handle's moves, reads and writes change it
  // (no open sets O_APPEND). -1 when unknown (the descriptor's own position
  // then holds): after a failed move, and for anything but a regular file.
  off_t knownPosition = -1;
  // A move of a regular file's handle is only counted: the descriptor is
  // put there by the next read or write (SetEndOfFile needs no position of
  // its own), so a move that nothing reads or writes after, or one that
  // comes back to where the descriptor stands, costs no call.
  bool movePending = false;
  off_t descriptorPosition = 0;  // where the descriptor stands while a move is pending
  // FILE_FLAG_SEQUENTIAL_SCAN was asked for. The hint only steers the page
  // cache's read-ahead, so a direct handle gives it when it turns buffered.
  bool sequentialScan = false;
  bool inShareTable = false;  // its claim is in the process's share table
};

// The object behind a handle; null (with ERROR_INVALID_HANDLE as the last
// error) for null, INVALID_HANDLE_VALUE or a closed handle.
FileObject* FileFromHandle(HANDLE handle);

// Turns O_DIRECT off for the rest of the handle's life, giving the
// read-ahead hint it may have held back; false when that fails.
bool DropDirectIo(FileObject& file);

}  // namespace posix_standin
