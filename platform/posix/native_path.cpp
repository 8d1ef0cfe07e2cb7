// Conversions between the Windows calls' UTF-16 paths and native byte paths.
#include "platform/posix/posix_internal.h"

namespace posix_standin {

std::string ParentPath(const std::string& path) {
  std::string::size_type end = path.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  std::string::size_type slash = path.find_last_of('/', end);
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NativePathFromWide(LPCWSTR path) {
  if (path == nullptr || path[0] == 0) return std::string();
  int length = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string native(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path, -1, &native[0], length, nullptr, nullptr);
  native.pop_back();  // the terminator the length counts
  return native;
}

std::basic_string<WCHAR> WideFromUtf8(const std::string& text) {
  int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::basic_string<WCHAR>();
  std::basic_string<WCHAR> wide(static_cast<size_t>(length), 0);
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], length);
  wide.pop_back();
  return wide;
}

}  // namespace posix_standin
