// The engine's file primitives over the Windows file API (platform/win32.h).
#include "engine/win32_file.h"

#include "engine/device_path.h"
#include "engine/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace quillmere {

namespace {

// CreateFileW values of the three opens and of the final sizing.
constexpr DWORD kSourceFlags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN;
constexpr DWORD kDestinationFlags = FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING;
constexpr DWORD kVerifyFlags = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL;
// A handle for queries only: no access, so it takes no share claim and
// needs no permission on the file; backup semantics let it open folders.
constexpr DWORD kQueryShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kQueryFlags = FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD kFinalPathFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
constexpr DWORD kFormatFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kUserDefaultLanguage = 0x0400;  // neutral language, default sublanguage
constexpr uint32_t kFallbackSectorSize = 4096;
constexpr DWORD kVolumePathUnits = 260;
constexpr DWORD kFinalPathUnits = 260;  // grown when a path needs more

HANDLE OpenNative(const std::filesystem::path& native, DWORD access, DWORD shareMode,
                  DWORD disposition, DWORD flags, HANDLE templateFile = nullptr) {
  return CreateFileW(native.c_str(), access, shareMode, nullptr, disposition, flags,
                     templateFile);
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD shareMode, DWORD disposition,
                DWORD flags, HANDLE templateFile = nullptr) {
  return OpenNative(Utf8ToPath(path), access, shareMode, disposition, flags, templateFile);
}

OpenResult ToOpenResult(HANDLE handle) {
  OpenResult result;
  if (handle == INVALID_HANDLE_VALUE) {
    result.errorCode = GetLastError();
    return result;
  }
  result.handle = handle;
  result.ok = true;
  return result;
}

BOOL MoveTo(HANDLE handle, uint64_t position) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(position);
  return SetFilePointerEx(handle, distance, nullptr, FILE_BEGIN);
}

// Closes an opened handle and fails the open with code.
OpenResult Refused(HANDLE handle, uint32_t code) {
  CloseHandle(handle);
  OpenResult refused;
  refused.errorCode = code;
  return refused;
}

OpenResult FailedWith(uint32_t code) {
  OpenResult failed;
  failed.errorCode = code;
  return failed;
}

OpenResult NotSupported() { return FailedWith(ERROR_NOT_SUPPORTED); }

// A copy reads and writes disk files only: a device, a pipe or a console
// opened by name would be read as empty (or drained) or written onto, and a
// whole volume or disk, which GetFileType calls a disk file, would be read
// raw or overwritten from its first sector. The handle is closed and the
// open fails with ERROR_NOT_SUPPORTED before a byte moves.
OpenResult RequireDiskFile(OpenResult opened) {
  if (!opened.ok || (GetFileType(opened.handle) == FILE_TYPE_DISK &&
                     !IsVolumeOrDiskHandle(opened.handle))) {
    return opened;
  }
  return Refused(opened.handle, ERROR_NOT_SUPPORTED);
}

// A volume or disk named as such is refused before it is opened at all;
// the check of the opened handle catches the ways there through links.
bool IsRawDevicePath(const std::string& path) {
  return QUILLMERE_DEVICE_PATHS && NamesRawDevice(path);
}

// A file with another name may be a protected file under that name,
// wherever this one lies. A file with one name (reached, say, through a
// link already in the destination) is one only where the caller says one
// may lie: one more question of the handle, and a file whose final path
// cannot be had is asked about all the same.
bool MayBeProtected(HANDLE handle, const FileFacts& facts, const ProtectedFiles& files) {
  if (facts.links > 1) return true;
  if (!files.mayLieAt) return false;
  return files.mayLieAt(FinalPathOf(handle));
}

// The identity of an opened file: the stand-in has it from the
// open's own status, Windows from one query.
bool HandleIdentity(HANDLE handle, FileIdentity& identity) {
  DWORD volume = 0;
  ULONGLONG index = 0;
  if (!GetFileIdentityByHandle(handle, volume, index)) return false;
  identity.volume = volume;
  identity.index = index;
  return true;
}

// The checks of an opened destination, by the identity of its handle, never
// by its name (the names that meet in one file differ). An existing file's
// facts are asked once, for both checks.
OpenResult CheckOpenedDestination(OpenResult opened, bool existed,
                                  const ProtectedFiles& isProtected,
                                  const DestinationClaim& claim) {
  const bool askProtected = existed && isProtected.contains;
  if (!askProtected && !claim) return opened;
  FileIdentity identity;
  if (askProtected) {
    FileFacts facts;
    if (!GetFileFacts(opened.handle, facts)) return Refused(opened.handle, GetLastError());
    if (MayBeProtected(opened.handle, facts, isProtected) && isProtected.contains(facts.identity)) {
      return Refused(opened.handle, ERROR_SHARING_VIOLATION);
    }
    identity = facts.identity;
  } else if (!HandleIdentity(opened.handle, identity)) {
    return Refused(opened.handle, GetLastError());
  }
  if (!claim || claim(identity, existed)) return opened;
  return Refused(opened.handle, kNamesMeetCode);
}

uint64_t Joined(DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; }

// Lengthens the file to size when it is shorter; never shortens it. A file
// the open created is empty, and nobody else may open it: only one that was
// there is asked for its size. A failed lengthening is no failure: the
// writes extend the file anyway.
void ExtendTo(HANDLE handle, uint64_t size, bool existed) {
  LARGE_INTEGER current;
  current.QuadPart = 0;
  if (existed && !GetFileSizeEx(handle, &current)) return;
  if (static_cast<uint64_t>(current.QuadPart) >= size) return;
  if (MoveTo(handle, size)) {
    SetEndOfFile(handle);
    MoveTo(handle, 0);
  }
}

// The facts from one information query of the handle (either of the two
// GetFileFacts* use); false when the query fails.
template <typename Query>
bool FactsFrom(Query query, HANDLE handle, FileFacts& facts) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!query(handle, &info)) return false;
  facts.identity.volume = info.dwVolumeSerialNumber;
  facts.identity.index = Joined(info.nFileIndexHigh, info.nFileIndexLow);
  facts.links = info.nNumberOfLinks;
  facts.size = Joined(info.nFileSizeHigh, info.nFileSizeLow);
  facts.lastWrite = Joined(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  return true;
}

// Releases FormatMessageW's buffer on every way out.
struct LocalFreeDeleter {
  void operator()(WCHAR* buffer) const { LocalFree(buffer); }
};

bool IsPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

std::string UnknownError(int32_t code) { return "Unknown error (" + std::to_string(code) + ")"; }

}  // namespace

const char kNamesMeetMessage[] =
    "File dich da duoc ghi trong lan chay nay tu mot file nguon khac (hai ten gap nhau o "
    "mot file), khong ghi de";

// The block is carved out of a larger malloc block; the malloc pointer is
// kept in the bytes just below the aligned start so that FreeAligned can find
// it. Plain malloc keeps this the same on every platform.
void* AllocateAligned(uint64_t size, uint64_t alignment) {
  if (!IsPowerOfTwo(alignment)) return nullptr;
  const uint64_t overhead = alignment - 1 + sizeof(void*);
  // No object may be larger than PTRDIFF_MAX, so such a request cannot succeed.
  if (size > UINT64_MAX - overhead || size + overhead > static_cast<uint64_t>(PTRDIFF_MAX)) {
    return nullptr;
  }
  void* raw = std::malloc(static_cast<size_t>(size + overhead));
  if (raw == nullptr) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw) + sizeof(void*);
  const uintptr_t mask = static_cast<uintptr_t>(alignment - 1);
  const uintptr_t aligned = (start + mask) & ~mask;
  std::memcpy(reinterpret_cast<void*>(aligned - sizeof(void*)), &raw, sizeof raw);
  return reinterpret_cast<void*>(aligned);
}

void FreeAligned(void* block) {
  if (block == nullptr) return;
  void* raw = nullptr;
  std::memcpy(&raw, static_cast<char*>(block) - sizeof(void*), sizeof raw);
  std::free(raw);
}

void CloseIfOpen(HANDLE handle) {
  if (handle != nullptr) CloseHandle(handle);
}

uint32_t GetLastWin32Error() { return GetLastError(); }

uint32_t GetSectorSize(const std::string& path) {
  std::filesystem::path native = Utf8ToPath(path);
  WCHAR volume[kVolumePathUnits] = {};
  if (!GetVolumePathNameW(native.c_str(), volume, kVolumePathUnits)) return kFallbackSectorSize;
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
  if (!GetDiskFreeSpaceW(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                         &totalClusters)) {
    return kFallbackSectorSize;
  }
  return bytesPerSector != 0 ? bytesPerSector : kFallbackSectorSize;
}

uint64_t GetFileSize64(const std::string& path) {
  std::filesystem::path native = Utf8ToPath(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool GetFileFacts(HANDLE handle, FileFacts& facts) {
  return FactsFrom(GetFileInformationByHandle, handle, facts);
}

bool GetFileFactsAtOpen(HANDLE handle, FileFacts& facts) {
  return FactsFrom(GetFileInformationAtOpen, handle, facts);
}

// Asked in the native path form, so that on byte-path platforms names that
// are not valid UTF-8 come back as they are.
std::string FinalPathOf(HANDLE handle) {
  std::filesystem::path::string_type text(kFinalPathUnits, 0);
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(handle, &text[0], static_cast<DWORD>(text.size()), kFinalPathFlags);
    if (length == 0) return std::string();
    if (length < text.size()) {
      text.resize(length);
      return PathToUtf8(std::filesystem::path(text));
    }
    text.resize(length);
  }
}

std::string FinalPathAt(const std::string& path) {
  HANDLE handle = OpenFile(path, 0, kQueryShareMode, OPEN_EXISTING, kQueryFlags);
  if (handle == INVALID_HANDLE_VALUE) return std::string();
  std::string finalPath = FinalPathOf(handle);
  CloseHandle(handle);
  return finalPath;
}

bool IdentityAt(const std::string& path, FileIdentity& identity) {
  HANDLE handle = OpenFile(path, 0, kQueryShareMode, OPEN_EXISTING, kQueryFlags);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FileFacts facts;
  const bool known = GetFileFacts(handle, facts);
  CloseHandle(handle);
  if (known) identity = facts.identity;
  return known;
}

OpenResult OpenSource(const std::string& path) {
  if (IsRawDevicePath(path)) return NotSupported();
  return RequireDiskFile(ToOpenResult(
      OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, kSourceFlags)));
}

// The destination is opened as it is, never emptied: where the share check
// cannot see that it is the source under another name (an overlay view, a
// file system without locks), emptying it here would destroy the source
// before a byte of it was read. Each block then rewrites what was just read,
// and only the final sizing, after the source's end, cuts the file.
// Opening it creates a missing file through a link to nowhere, wherever the
// link points, so such a link is refused first, untouched.
OpenResult OpenDestination(const std::string& path, uint64_t size, HANDLE source,
                           const ProtectedFiles& isProtected, const DestinationClaim& claim) {
  if (IsRawDevicePath(path)) return NotSupported();
  const std::filesystem::path native = Utf8ToPath(path);
  if (IsLinkToNowhere(native.c_str())) return FailedWith(ERROR_CANT_RESOLVE_FILENAME);
  HANDLE handle = OpenNative(native, GENERIC_WRITE, 0, OPEN_ALWAYS, kDestinationFlags,
                             PermissionTemplate(source));
  const bool existed = handle != INVALID_HANDLE_VALUE && GetLastError() == ERROR_ALREADY_EXISTS;
  OpenResult result = RequireDiskFile(ToOpenResult(handle));
  if (result.ok) result = CheckOpenedDestination(result, existed, isProtected, claim);
  if (result.ok && size != 0) ExtendTo(result.handle, size, existed);
  return result;
}

OpenResult OpenForVerify(const std::string& path) {
  return ToOpenResult(
      OpenFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, kVerifyFlags));
}

bool MoveToStart(HANDLE handle) { return MoveTo(handle, 0) != FALSE; }

bool ReadChunk(HANDLE handle, void* buffer, uint32_t length, uint32_t& bytesRead,
               uint32_t& errorCode) {
  DWORD count = 0;
  BOOL ok = ReadFile(handle, buffer, length, &count, nullptr);
  errorCode = ok ? 0 : GetLastError();
  bytesRead = count;
  return ok != FALSE;
}

bool WriteChunk(HANDLE handle, const void* data, uint32_t length, uint32_t sectorSize,
                uint32_t& bytesWritten, uint32_t& errorCode) {
  uint32_t toWrite = length;
  if (sectorSize != 0 && length % sectorSize != 0) {
    toWrite = length + sectorSize - length % sectorSize;
  }
  DWORD count = 0;
  if (!WriteFile(handle, data, toWrite, &count, nullptr)) {
    errorCode = GetLastError();
    bytesWritten = 0;
    return false;
  }
  errorCode = 0;
  bytesWritten = count < length ? static_cast<uint32_t>(count) : length;
  return true;
}

uint32_t CreateFolderFrom(const std::string& sourceFolder, const std::string& path, bool& made) {
  const std::filesystem::path model = Utf8ToPath(sourceFolder);
  const std::filesystem::path folder = Utf8ToPath(path);
  made = CreateFolderLike(model.c_str(), folder.c_str()) != FALSE;
  if (made) return 0;
  const DWORD code = GetLastError();
  // Not always ERROR_ALREADY_EXISTS for a folder that is there: Windows
  // denies access to a drive's root.
  std::error_code ignored;
  return std::filesystem::is_directory(folder, ignored) ? 0 : code;
}

bool SetFinalSize(const std::string& path, uint64_t size) {
  HANDLE handle = OpenFile(path, GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool sized = MoveTo(handle, size) && SetEndOfFile(handle);
  // The caller reads the failed step's code afterwards; closing must not
  // replace it.
  const DWORD code = GetLastError();
  CloseHandle(handle);
  if (!sized) SetLastError(code);
  return sized;
}

std::string FormatWin32Error(int32_t code) {
  WCHAR* buffer = nullptr;
  DWORD length = FormatMessageW(kFormatFlags, nullptr, static_cast<DWORD>(code),
                                kUserDefaultLanguage, reinterpret_cast<LPWSTR>(&buffer), 0,
                                nullptr);
  std::unique_ptr<WCHAR, LocalFreeDeleter> owned(buffer);
  if (length == 0 || buffer == nullptr) return UnknownError(code);
  std::string text;
  int needed = WideCharToMultiByte(CP_UTF8, 0, buffer, -1, nullptr, 0, nullptr, nullptr);
  if (needed > 0) {
    text.assign(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer, -1, &text[0], needed, nullptr, nullptr);
  }
  owned.reset();
  while (!text.empty() && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

}  // namespace quillmere
