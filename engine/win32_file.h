// The engine's Windows file primitives. Each is a free function without
// state; what it opens or allocates it releases before returning or hands to
// its caller. None reports failures itself: they return success marks, byte
// counts and Windows error codes.
#pragma once

#include "engine/types.h"
#include "platform/win32.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quillmere {

// What the three opens give. handle is null (never INVALID_HANDLE_VALUE)
// after a failed open; the caller owns a non-null handle and releases it
// with CloseIfOpen.
struct OpenResult {
  HANDLE handle = nullptr;
  bool ok = false;
  uint32_t errorCode = 0;
};

// A heap block of at least size bytes aligned to alignment (a non-zero power
// of two); null when alignment is invalid, the size overflows or memory runs
// out. Release only with FreeAligned, which ignores null.
void* AllocateAligned(uint64_t size, uint64_t alignment);
void FreeAligned(void* block);

// CloseHandle when handle is not null; its result is ignored.
void CloseIfOpen(HANDLE handle);

// The calling thread's last Windows error code.
uint32_t GetLastWin32Error();

// Bytes per sector of the volume that holds path (which need not exist);
// 4096 when that cannot be found out. Never 0.
uint32_t GetSectorSize(const std::string& path);

// The file's size in bytes; 0 when it cannot be read. Opens no handle.
uint64_t GetFileSize64(const std::string& path);

// What an open handle tells of its file.
struct FileFacts {
  FileIdentity identity;
  uint32_t links = 0;      // names the file has on its volume
  uint64_t size = 0;       // bytes
  uint64_t lastWrite = 0;  // 100 ns units since 1601
};

// Answers, for an existing file, whether it must not be written. Asking
// by identity needs the caller's set of protected files, so it is kept for
// files that may be one: a file with more than one name, or one whose final
// path (FinalPathOf's form; empty when it could not be had) mayLieAt names
// as a place that may hold one. Either member may be empty: then nothing is
// refused, or only files with more than one name are asked about.
struct ProtectedFiles {
  std::function<bool(const std::string& finalPath)> mayLieAt;
  std::function<bool(const FileIdentity&)> contains;
};

// Asked once for every destination file a run opens, with its identity and
// whether it was there before the open; false refuses it (see
// OpenDestination). A run uses it to tell when two of its source files meet
// in one destination file: two names of the destination (case twins on a
// case-insensitive disk, a short name, hard links) that lead to one file.
using DestinationClaim = std::function<bool(const FileIdentity& file, bool existed)>;

// The code of a destination refused by its DestinationClaim: this run wrote
// the file already from another source file.
constexpr uint32_t kNamesMeetCode = 183;  // ERROR_ALREADY_EXISTS
extern const char kNamesMeetMessage[];

// One GetFileInformationByHandle. On false, GetLastWin32Error (called at
// once) says why.
bool GetFileFacts(HANDLE handle, FileFacts& facts);
// The facts as the open found them, for a handle just opened: the stand-in
// keeps what its open saw, Windows asks once more.
bool GetFileFactsAtOpen(HANDLE handle, FileFacts& facts);

// The UTF-8 path by which the open file is reached now, every link and
// mount on the way resolved (on Windows in the "\\?\C:\..." form). Empty
// when the system cannot give it; GetLastWin32Error (called at once) says
// why. Two results compare equal exactly when they name the same place.
std::string FinalPathOf(HANDLE handle);
// FinalPathOf for what path names now, a file or a folder, opened for
// queries only; empty when it cannot be opened or asked.
std::string FinalPathAt(const std::string& path);
// The identity of the file path names now; false when it cannot be opened
// for queries or asked.
bool IdentityAt(const std::string& path, FileIdentity& identity);

// Unbuffered sequential reading, shared with readers only. Anything but a
// disk file (a device, a pipe, a whole volume or disk) is refused with
// ERROR_NOT_SUPPORTED (50).
OpenResult OpenSource(const std::string& path);
// Opened, or created, for exclusive unbuffered write-through writing and
// positioned at 0. An existing file is never emptied or shortened here; it
// is lengthened to size when shorter (a failed lengthening is no failure).
// Anything but a disk file is refused with ERROR_NOT_SUPPORTED (50), before
// a byte is written to it. A file it creates takes its permissions from
// source (the open source handle, or null) where the platform carries them
// over (platform/win32.h's PermissionTemplate); an existing file keeps its
// own. A file that existed is offered to isProtected as ProtectedFiles says
// before anything changes; one it names is refused with
// ERROR_SHARING_VIOLATION (32), untouched. Then claim, when given, is asked
// about the file by the identity of its handle (the facts asked for
// isProtected; for any other file one query on Windows, none on the
// stand-in): a file it refuses
// fails with kNamesMeetCode, untouched, or, when the open created it, left
// empty. A symbolic link to a file is written through; one to nowhere is
// refused with ERROR_CANT_RESOLVE_FILENAME (1921), untouched, and nothing
// is created.
OpenResult OpenDestination(const std::string& path, uint64_t size, HANDLE source = nullptr,
                           const ProtectedFiles& isProtected = ProtectedFiles(),
                           const DestinationClaim& claim = DestinationClaim());
// Buffered sequential reading, shared with readers only.
OpenResult OpenForVerify(const std::string& path);

// Moves the handle's position to the file's start.
bool MoveToStart(HANDLE handle);

// One ReadFile of length bytes. bytesRead is 0 at the end of the file.
bool ReadChunk(HANDLE handle, void* buffer, uint32_t length, uint32_t& bytesRead,
               uint32_t& errorCode);

// One WriteFile of length raised to the next multiple of sectorSize (when
// sectorSize is not 0); bytesWritten never exceeds length. The caller's
// buffer must reach to the raised length.
bool WriteChunk(HANDLE handle, const void* data, uint32_t length, uint32_t sectorSize,
                uint32_t& bytesWritten, uint32_t& errorCode);

// Creates the folder path (the folder above it must exist) with its
// permissions taken from sourceFolder where the platform carries them over
// (platform/win32.h's CreateFolderLike). 0 when it was made (made is set)
// or is a folder already, else the Windows code of the failed creation.
uint32_t CreateFolderFrom(const std::string& sourceFolder, const std::string& path, bool& made);

// Opens the file anew without sharing, sets its end at size and closes it.
// On false, GetLastWin32Error (called at once) gives the failed step's code.
bool SetFinalSize(const std::string& path, uint64_t size);

// The system's text for a Windows code in the user's language, trailing NUL,
// CR and LF cut; "Unknown error (<code>)" when the system has none.
std::string FormatWin32Error(int32_t code);

}  // namespace quillmere
