#include "engine/device_path.h"

#include <cctype>
#include <string_view>
#include <vector>

namespace quillmere {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool EqualsIgnoringCase(std::string_view text, std::string_view expected) {
  if (text.size() != expected.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != expected[i]) return false;
  }
  return true;
}

bool IsNumber(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// "\\.\", "\\?\" and "\??\" lead into the device namespace; the Win32 path
// rules treat "/" as "\" in the first two.
bool HasDevicePrefix(std::string_view path) {
  if (path.size() < 4 || !IsSeparator(path[3])) return false;
  if (path.substr(0, 3) == "\\??") return path[3] == '\\';
  return IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == '.' || path[2] == '?');
}

// The names between separators; empty ones (a trailing separator) count.
std::vector<std::string_view> Names(std::string_view text) {
  std::vector<std::string_view> names;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || IsSeparator(text[i])) {
      names.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return names;
}

// A disk's object folder: "Harddisk" and its number.
bool IsDiskFolder(std::string_view name) {
  constexpr std::string_view kDisk = "harddisk";
  return name.size() > kDisk.size() && EqualsIgnoringCase(name.substr(0, kDisk.size()), kDisk) &&
         IsNumber(name.substr(kDisk.size()));
}

}  // namespace

bool NamesRawDevice(const std::string& path) {
  if (!HasDevicePrefix(path)) return false;
  const std::vector<std::string_view> names = Names(std::string_view(path).substr(4));
  if (names.size() == 1) return !names[0].empty();
  if (names.size() < 3 || !EqualsIgnoringCase(names[0], "globalroot") ||
      !EqualsIgnoringCase(names[1], "device") || names[2].empty()) {
    return false;
  }
  if (names.size() == 3) return true;
  return names.size() == 4 && IsDiskFolder(names[2]) && !names[3].empty();
}

}  // namespace quillmere
