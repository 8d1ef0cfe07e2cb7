// Helpers for the file primitives' tests.
#pragma once

#include "engine/win32_file.h"

#include <cstdint>
#include <string>
#include <utility>

namespace primitives_test {

// Closes an OpenResult's handle when the test ends, whatever happens.
class OpenedFile {
 public:
  explicit OpenedFile(quillmere::OpenResult opened) : result(opened) {}
  ~OpenedFile() { quillmere::CloseIfOpen(result.handle); }
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  const quillmere::OpenResult& operator*() const { return result; }
  const quillmere::OpenResult* operator->() const { return &result; }
  void Close() {
    quillmere::CloseIfOpen(result.handle);
    result.handle = nullptr;
  }

 private:
  quillmere::OpenResult result;
};

// Releases an AllocateAligned block when the test ends.
class AlignedBuffer {
 public:
  AlignedBuffer(uint64_t size, uint64_t alignment)
      : block(static_cast<uint8_t*>(quillmere::AllocateAligned(size, alignment))) {}
  ~AlignedBuffer() { quillmere::FreeAligned(block); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  uint8_t* get() const { return block; }

 private:
  uint8_t* block;
};

// The handle's current position, or -1.
inline int64_t PositionOf(HANDLE handle) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  LARGE_INTEGER position;
  position.QuadPart = -1;
  if (!SetFilePointerEx(handle, zero, &position, FILE_CURRENT)) return -1;
  return position.QuadPart;
}

}  // namespace primitives_test
