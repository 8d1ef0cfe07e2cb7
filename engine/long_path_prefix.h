// Paths into the system's device namespace: "\\?\" and "\??\", which hand
// what follows to the file system as it stands, and "\\.\". The standard
// library's path rules read such a prefix as ordinary names: "\\?\C:\data"
// has neither the drive nor the root that the walk, the canonical forms and
// the overlap check expect. Such a path is taken into the form those rules
// read as Windows does, or refused; never read half-way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quillmere {

class QueueManager;

// The code a prefixed path without a plain form is reported with, with our
// own text: ERROR_INVALID_NAME.
constexpr int32_t kLongPathPrefixCode = 123;
extern const char kLongPathPrefixMessage[];
// The code a raw device is reported with, as the opens report it, with the
// system's text: ERROR_NOT_SUPPORTED.
constexpr int32_t kRawDeviceCode = 50;

// The rule itself, on path text read as a Windows path, on every platform:
// - no such prefix: the path unchanged;
// - "\\?\X:\rest" or "\\?\UNC\server\share\rest" (or the same after another
//   of the prefixes) whose names would all be read the same without it
//   (none empty, "." or "..", none ending in a dot or a blank, none holding
//   "/", a control character or one of :*?"<>|, none a device name such as
//   CON, NUL or COM1, with or without an extension) and whose plain form
//   takes fewer than 260 UTF-16 units with its terminator: that plain form,
//   "X:\rest" or "\\server\share\rest";
// - any other such path (a volume name "\\?\Volume{...}\dir" included,
//   and a raw device, NamesRawDevice, which names no file at all): none.
std::optional<std::string> PlainWindowsPath(const std::string& path);

// The path as the standard library's path rules may take it: PlainWindowsPath
// where paths reach the system's device namespace, the path unchanged where a
// backslash is an ordinary byte of a name. None: refused.
std::optional<std::string> LibraryPathForm(const std::string& path);

// What a listing works on: both paths in their LibraryPathForm.
struct LibraryPaths {
  std::filesystem::path source;
  std::filesystem::path destination;
};

// LibraryPathForm of a listing's source and destination. When either is
// refused, each refused one is logged once in queue's error log, as given,
// with OPEN and kRawDeviceCode for a raw device, else kLongPathPrefixCode,
// and none is given: nothing of that source may be listed.
std::optional<LibraryPaths> ListingPathsOrRefusal(QueueManager& queue, const std::string& source,
                                                  const std::string& destination);

}  // namespace quillmere
