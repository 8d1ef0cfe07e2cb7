// The one header that knows which platform the program is built for.
//
// On Windows it includes the real Windows headers. Elsewhere it includes the
// POSIX stand-in in platform/posix/, which provides the subset of the Windows
// API that the engine and the window call, with the same names, types and
// values. Nothing outside this header tests _WIN32; code that must differ
// uses the QUILLMERE_* macros defined here.
#pragma once

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

// A wide string literal in the platform's wide character type.
#define QUILLMERE_WIDE(text) L##text
// Native path text is UTF-16, reached from UTF-8 by conversion.
#define QUILLMERE_NATIVE_PATHS_ARE_UTF8 0
// The stand-in's fault-injection seam does not exist on Windows.
#define QUILLMERE_POSIX_STANDIN 0
// The path separator that the standard path-append rule inserts.
#define QUILLMERE_PATH_SEPARATOR "\\"
// The program's real command line is UTF-16 (GetCommandLineW); argv is not
// the user's text.
#define QUILLMERE_WIDE_COMMAND_LINE 1
// The GLFW window's native handle, the pickers' owner, is a Win32 HWND.
#define QUILLMERE_NATIVE_WINDOW_X11 0
// Paths that begin "\\.\" or "\\?\" reach the system's device namespace.
#define QUILLMERE_DEVICE_PATHS 1

#include <string>
// A Windows font path names its font file as it stands.
inline std::string LocalFontFile(const std::string& windowsFontPath) { return windowsFontPath; }

// A write to a pipe nobody reads any more, or past a size limit, only fails
// here; nothing to set.
inline void IgnoreFailingWriteSignals() {}

// The volume serial number and file index of an open file: one query.
inline BOOL GetFileIdentityByHandle(HANDLE handle, DWORD& volumeSerial, ULONGLONG& fileIndex) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return FALSE;
  volumeSerial = info.dwVolumeSerialNumber;
  fileIndex = (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return TRUE;
}

// An open file's information as soon after its open as it can be had: one
// query (the stand-in answers from the status its open took).
inline BOOL GetFileInformationAtOpen(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
  return GetFileInformationByHandle(handle, info);
}

// Whether a handle that GetFileType calls a disk file is open on a whole
// volume or disk (\\.\C:, \\.\PhysicalDrive1, \\?\Volume{...}, or a link
// that leads there) instead of a file. A volume tells its extents on disk,
// a disk its geometry; a file system refuses both on its files' handles.
// (The storage device number is no such test: Wine gives it for files too.)
// Neither query needs an access right, so a handle opened only for writing
// is asked too. The last error is left as it was.
inline bool IsVolumeOrDiskHandle(HANDLE handle) {
  constexpr DWORD kVolumeDiskExtents = 0x00560000;  // IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS
  constexpr DWORD kDiskGeometry = 0x00070000;       // IOCTL_DISK_GET_DRIVE_GEOMETRY
  const DWORD lastError = GetLastError();
  bool device = false;
  for (DWORD query : {kVolumeDiskExtents, kDiskGeometry}) {
    alignas(8) BYTE answer[64];
    DWORD returned = 0;
    // A volume on several disks needs a longer answer than this one.
    device = DeviceIoControl(handle, query, nullptr, 0, answer, sizeof answer, &returned,
                             nullptr) != FALSE ||
             GetLastError() == ERROR_MORE_DATA;
    if (device) break;
  }
  SetLastError(lastError);
  return device;
}

// A copy's new files and folders need no template here: Windows gives them
// their folder's security, and a template would carry its attributes
// (read-only, hidden, compressed) over, which a copy must not.
inline HANDLE PermissionTemplate(HANDLE) { return nullptr; }
inline BOOL CreateFolderLike(LPCWSTR, LPCWSTR newFolder) {
  return CreateDirectoryW(newFolder, nullptr);
}

// Whether path is a symbolic link (or another reparse point) that leads to
// nothing. A creating CreateFileW follows a link and creates its target,
// wherever that is. A name's attributes are its own, the link's, so a plain
// name costs this one query; only a reparse point is opened, without access
// and following it, to see whether what it leads to is there.
inline bool IsLinkToNowhere(LPCWSTR path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return false;
  }
  HANDLE target = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (target != INVALID_HANDLE_VALUE) {
    CloseHandle(target);
    return false;
  }
  const DWORD code = GetLastError();
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

#else

#include "platform/posix/win32_posix.h"

#include <csignal>

#define QUILLMERE_WIDE(text) u##text
// Native path text is the user's bytes (UTF-8 by convention) and passes
// through unchanged, so names that are not valid UTF-8 still work.
#define QUILLMERE_NATIVE_PATHS_ARE_UTF8 1
#define QUILLMERE_POSIX_STANDIN 1
#define QUILLMERE_PATH_SEPARATOR "/"
// argv already holds the user's bytes (UTF-8 by convention).
#define QUILLMERE_WIDE_COMMAND_LINE 0
// The GLFW window's native handle, the pickers' owner, is an X11 window id.
#define QUILLMERE_NATIVE_WINDOW_X11 1

// A write to a pipe nobody reads any more ends the process with SIGPIPE by
// default, and one past the process's file size limit (ulimit -f) with
// SIGXFSZ; ignored, the write fails with EPIPE or EFBIG instead, as it does
// on Windows, so a closed output never cuts a copy short and a file that
// reaches the limit is one failed copy, reported, while the run goes on.
inline void IgnoreFailingWriteSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

// "\\.\" has no meaning here: a backslash is an ordinary byte of a name.
#define QUILLMERE_DEVICE_PATHS 0

// The stand-in's GetFileType already calls block and character devices
// what they are, so a handle it calls a disk file is a file.
inline bool IsVolumeOrDiskHandle(HANDLE) { return false; }

// CreateFileW's template for a file copied from source: the stand-in gives
// the new file, for group and others, no more than the source's permission
// bits, so a private file's copy is never readable by others.
inline HANDLE PermissionTemplate(HANDLE source) { return source; }
// Creates one folder with, for group and others, no more than the template
// folder's permission bits (the owner may always fill it).
inline BOOL CreateFolderLike(const char* templateFolder, const char* newFolder) {
  return CreateDirectoryExW(templateFolder, newFolder, nullptr);
}
// Nothing to ask: the stand-in's open follows a link only to an existing
// file and fails on a link to nowhere with ERROR_CANT_RESOLVE_FILENAME itself.
inline bool IsLinkToNowhere(const char*) { return false; }

#endif

// errno -> Windows code, the same table on both platforms.
#include "platform/errno_to_win32.h"

#include <cerrno>
#include <string>
#include <system_error>

// UTF-16 text in the platform's wide character type (wchar_t on Windows,
// char16_t elsewhere). Use this, never std::wstring directly.
using WideString = std::basic_string<WCHAR>;

// A failure the C++ library reported (std::filesystem and the like) in the
// terms of every other failure the program reports: the Windows code, and
// the text for it in the user's language.
struct LibraryFailure {
  DWORD code;
  std::string message;
};

#ifdef _WIN32
// The library gives C-library errno values in the generic category and
// Windows codes in the system category; the text is the system's own for
// the Windows code.
inline LibraryFailure DescribeLibraryError(const std::error_code& error) {
  const DWORD code = error.category() == std::generic_category()
                         ? Win32ErrorFromErrno(error.value())
                         : static_cast<DWORD>(error.value());
  return LibraryFailure{code, std::system_category().message(static_cast<int>(code))};
}

// What the library reports for a path whose folder does not exist.
inline std::error_code PathNotFoundError() {
  return std::error_code(static_cast<int>(ERROR_PATH_NOT_FOUND), std::system_category());
}

// The library lists a folder through the C runtime, which builds the
// folder's full path in a buffer of MAX_PATH units: for a longer path that
// fails and the buffer keeps what stood in it before, so the listing can be
// of another folder (the current one). Such a folder is never handed to it:
// ERROR_FILENAME_EXCED_RANGE for a full path that takes MAX_PATH units or
// more with its terminator, ERROR_SUCCESS for one that may be listed.
inline DWORD FolderListingRefusal(const WCHAR* folder) {
  WCHAR full[MAX_PATH];
  const DWORD length = GetFullPathNameW(folder, MAX_PATH, full, nullptr);
  if (length == 0) return GetLastError();
  // A path that fits gives its length, one that does not the units it needs.
  return length + 1 >= MAX_PATH ? ERROR_FILENAME_EXCED_RANGE : ERROR_SUCCESS;
}

// Whether a listed name is there when asked through the "\\?\" form of its
// folder's full path, which the Windows path rules leave as it stands. The
// plain path loses a trailing dot or space and reads device names and
// wildcards as something else, so a listed name's own status can fail while
// it exists. ERROR_SUCCESS when it is found, else the code of the failure.
inline DWORD FindAsListed(const WCHAR* folder, const WCHAR* name) {
  WCHAR full[MAX_PATH];
  const DWORD length = GetFullPathNameW(folder, MAX_PATH, full, nullptr);
  if (length == 0) return GetLastError();
  if (length >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  const WideString text(full, length);
  WideString verbatim;
  if (text.rfind(L"\\\\?\\", 0) == 0 || text.rfind(L"\\\\.\\", 0) == 0) {
    verbatim = text;
  } else if (text.rfind(L"\\\\", 0) == 0) {
    verbatim = L"\\\\?\\UNC\\" + text.substr(2);  // \\server\share\...
  } else {
    verbatim = L"\\\\?\\" + text;
  }
  if (verbatim.back() != L'\\') verbatim += L'\\';
  verbatim += name;
  if (GetFileAttributesW(verbatim.c_str()) != INVALID_FILE_ATTRIBUTES) return ERROR_SUCCESS;
  return GetLastError();
}
#else
// Both categories carry errno values here. The system has no text for a
// Windows code; the C library's text for the errno says the same thing.
inline LibraryFailure DescribeLibraryError(const std::error_code& error) {
  const bool errnoValue = error.category() == std::generic_category() ||
                          error.category() == std::system_category();
  const DWORD code =
      errnoValue ? Win32ErrorFromErrno(error.value()) : static_cast<DWORD>(error.value());
  return LibraryFailure{code, error.message()};
}

inline std::error_code PathNotFoundError() {
  return std::error_code(ENOENT, std::generic_category());
}

// Names reach the system here as they stand: every folder may be listed,
// and a listed name whose status fails is simply gone.
inline DWORD FolderListingRefusal(const char*) { return ERROR_SUCCESS; }
inline DWORD FindAsListed(const char*, const char*) { return ERROR_FILE_NOT_FOUND; }
#endif
