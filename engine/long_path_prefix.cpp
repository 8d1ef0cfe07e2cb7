#include "engine/long_path_prefix.h"

#include "engine/device_path.h"
#include "engine/queue_manager.h"
#include "engine/text.h"
#include "engine/win32_file.h"
#include "platform/win32.h"

#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

namespace quillmere {

const char kLongPathPrefixMessage[] =
    "Duong dan bat dau bang \\\\?\\ hay \\\\.\\ nay khong duoc nhan: chi nhan dang "
    "\\\\?\\X:\\... hoac \\\\?\\UNC\\may\\thu_muc_chia_se\\... voi moi ten hop le tren Windows "
    "(khong co '/' hay ky tu cam, khong la '.', '..' hay ten thiet bi, khong ket thuc bang dau "
    "cham hay khoang trang) va ngan hon 260 ky tu";

namespace {

// MAX_PATH: the program declares no long-path awareness, so without the
// prefix Windows takes no longer path, its terminator included.
constexpr size_t kPathUnitLimit = 260;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view expected) {
  return text.size() == expected.size() && StartsWithIgnoringCase(text, expected);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "\\?\" and "\??\" hand the rest to the file system as it stands; "\\.\"
// (and "//?/", and either with "/" for "\") has Windows normalise it first,
// except for the device names, which it does not look for there. Either way
// the rest names a file without the prefix only where every name is plain.
bool HasDeviceNamespacePrefix(std::string_view path) {
  if (path.size() < 4 || !IsSeparator(path[3])) return false;
  if (path.substr(0, 3) == "\\??") return path[3] == '\\';
  return IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == '.' || path[2] == '?');
}

// "X:\" at the start of the rest.
bool StartsWithDriveRoot(std::string_view rest) {
  if (rest.size() < 3 || rest[1] != ':' || rest[2] != '\\') return false;
  const char letter = rest[0];
  return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
}

// A name the path rules would open as a device wherever it stands: CON,
// PRN, AUX, NUL, COM and LPT with a digit (or a superscript one, two or
// three), CONIN$ and CONOUT$; case aside, and also before an extension or
// blanks ("nul.txt", "CON .log").
bool IsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
    if (EqualsIgnoringCase(stem, device)) return true;
  }
  if (!StartsWithIgnoringCase(stem, "com") && !StartsWithIgnoringCase(stem, "lpt")) return false;
  const std::string_view number = stem.substr(3);
  if (number.size() == 1) return std::isdigit(static_cast<unsigned char>(number[0])) != 0;
  // U+00B9, U+00B2 and U+00B3 in UTF-8.
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

// A name that the path rules leave as it is and that Windows allows.
bool IsPlainWindowsName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ') {
    return false;
  }
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("/:*?\"<>|", c) != nullptr) {
      return false;
    }
  }
  return !IsDeviceName(name);
}

// The names of text between backslashes, at least `required` of them, all
// plain. A trailing backslash ends the text in no name.
bool ArePlainNames(std::string_view text, size_t required) {
  std::vector<std::string_view> names;
  size_t start = 0;
  for (size_t end; (end = text.find('\\', start)) != std::string_view::npos; start = end + 1) {
    names.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) names.push_back(text.substr(start));
  if (names.size() < required) return false;
  for (std::string_view name : names) {
    if (!IsPlainWindowsName(name)) return false;
  }
  return true;
}

// "X:\rest" or "\\server\share\rest" for the rest after the prefix; none
// when it is neither or holds a name the path rules would read otherwise.
std::optional<std::string> PlainFormOfRest(std::string_view rest) {
  if (StartsWithDriveRoot(rest)) {
    if (!ArePlainNames(rest.substr(3), 0)) return std::nullopt;
    return std::string(rest);
  }
  if (!StartsWithIgnoringCase(rest, R"(UNC\)")) return std::nullopt;
  const std::string_view share = rest.substr(4);
  if (!ArePlainNames(share, 2)) return std::nullopt;
  return R"(\\)" + std::string(share);
}

}  // namespace

std::optional<std::string> PlainWindowsPath(const std::string& path) {
  if (!HasDeviceNamespacePrefix(path)) return path;
  std::optional<std::string> plain = PlainFormOfRest(std::string_view(path).substr(4));
  if (plain && Utf8ToWide(*plain).size() + 1 >= kPathUnitLimit) return std::nullopt;
  return plain;
}

std::optional<std::string> LibraryPathForm(const std::string& path) {
  if (!QUILLMERE_DEVICE_PATHS) return path;
  return PlainWindowsPath(path);
}

namespace {

// A whole volume or disk is refused as the opens refuse it, with
// ERROR_NOT_SUPPORTED and the system's text: never read raw nor written over.
void LogRefusal(QueueManager& queue, const std::string& path) {
  if (NamesRawDevice(path)) {
    queue.LogError(path, OPEN, kRawDeviceCode, FormatWin32Error(kRawDeviceCode));
  } else {
    queue.LogError(path, OPEN, kLongPathPrefixCode, kLongPathPrefixMessage);
  }
}

}  // namespace

std::optional<LibraryPaths> ListingPathsOrRefusal(QueueManager& queue, const std::string& source,
                                                  const std::string& destination) {
  const std::optional<std::string> sourceForm = LibraryPathForm(source);
  const std::optional<std::string> destinationForm = LibraryPathForm(destination);
  if (!sourceForm) LogRefusal(queue, source);
  if (!destinationForm) LogRefusal(queue, destination);
  if (!sourceForm || !destinationForm) return std::nullopt;
  return LibraryPaths{Utf8ToPath(*sourceForm), Utf8ToPath(*destinationForm)};
}

}  // namespace quillmere
