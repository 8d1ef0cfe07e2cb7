// Helpers shared by the stand-in's source files; not part of the Windows
// surface and not for use outside platform/posix/.
#pragma once

#include "platform/win32.h"

#include <string>

namespace posix_standin {

// The Windows code for an errno met while working on path: ENOENT says 2
// when the folder part of path exists and 3 when it does not, as Windows
// tells a missing file from a missing folder. Other values as
// Win32ErrorFromErrno.
DWORD Win32ErrorForPath(int errnoValue, const std::string& nativePath);

// The folder part of a native path, lexically: "." for a bare name, "/" for
// the root and for names directly below it.
std::string ParentPath(const std::string& path);

// Stands in for the test seam's counters of live objects where the seam is
// not built: counting does nothing and the compiler drops it.
struct NoCount {
  void operator++() const {}
  void operator--() const {}
};

// Records errno (as its Windows code) as the thread's last error.
void SetLastErrorFromErrno(int errnoValue);

// The native (UTF-8 byte) form of a NUL-terminated UTF-16 path; empty for
// null or empty input.
std::string NativePathFromWide(LPCWSTR path);

// A NUL-terminated UTF-16 copy of UTF-8 text (malformed bytes become
// U+FFFD); the terminator is not part of the string.
std::basic_string<WCHAR> WideFromUtf8(const std::string& text);

// A NUL-terminated UTF-16 copy of UTF-8 text in COM task memory, for the
// caller to release with CoTaskMemFree; null when it cannot be made.
PWSTR TaskMemoryWideCopy(const std::string& text);

}  // namespace posix_standin
