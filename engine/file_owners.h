// Owners for what the file primitives hand out: a handle closed with
// CloseIfOpen and an aligned buffer released with FreeAligned, so every way
// out of a copy, an exception included, gives them back.
#pragma once

#include "engine/win32_file.h"

#include <cstdint>
#include <memory>
#include <utility>

namespace quillmere {

// Owns one file handle (null for none). Move-only; a move-assignment closes
// what the target held before.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE handle) : handle(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(FileHandle&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle = std::exchange(other.handle, nullptr);
    }
    return *this;
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  HANDLE get() const { return handle; }
  // Closes now (nothing when already closed); later calls do nothing.
  void Close() {
    CloseIfOpen(handle);
    handle = nullptr;
  }

 private:
  HANDLE handle = nullptr;
};

struct FreeAlignedDeleter {
  void operator()(uint8_t* block) const { FreeAligned(block); }
};

// A block from AllocateAligned.
using AlignedBuffer = std::unique_ptr<uint8_t, FreeAlignedDeleter>;

}  // namespace quillmere
