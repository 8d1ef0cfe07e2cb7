#include "engine/text.h"

#include <charconv>
#include <utility>

namespace quillmere {

// Both conversions pass -1 as the input length: the system reads up to the
// first NUL and counts the terminator, which is then cut from the result.
std::string WideToUtf8(const WideString& text) {
  if (text.empty()) return std::string();
  int needed = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string result(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &result[0], needed, nullptr, nullptr);
  if (result.back() == '\0') result.pop_back();
  return result;
}

WideString Utf8ToWide(const std::string& text) {
  if (text.empty()) return WideString();
  int needed = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  WideString result(static_cast<size_t>(needed > 0 ? needed : 0), WCHAR(0));
  if (needed > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &result[0], needed);
  if (!result.empty()) result.pop_back();
  return result;
}

bool HasUnpairedSurrogate(const WideString& text) {
  const auto isHigh = [](WCHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
  const auto isLow = [](WCHAR unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
  for (size_t i = 0; i < text.size(); ++i) {
    if (isLow(text[i])) return true;
    if (!isHigh(text[i])) continue;
    if (i + 1 == text.size() || !isLow(text[i + 1])) return true;
    ++i;  // a whole pair
  }
  return false;
}

#if QUILLMERE_NATIVE_PATHS_ARE_UTF8

bool NameConvertsExactly(const std::filesystem::path&) { return true; }

// Native path text is bytes here: they pass unchanged, so a name that is not
// valid UTF-8 still names its file. The text is cut at its first NUL, as the
// conversion on other platforms does.
std::filesystem::path Utf8ToPath(const std::string& text) {
  return std::filesystem::path(std::string(text.c_str()));
}

std::string PathToUtf8(const std::filesystem::path& path) { return path.native(); }

#else

bool NameConvertsExactly(const std::filesystem::path& name) {
  return !HasUnpairedSurrogate(name.native());
}

std::filesystem::path Utf8ToPath(const std::string& text) {
  return std::filesystem::path(Utf8ToWide(text));
}

std::string PathToUtf8(const std::filesystem::path& path) { return WideToUtf8(path.native()); }

#endif

// std::to_chars converts as printf does; the largest double written in full
// takes 309 digits before the point.
void AppendFixed(std::string& text, double value, int width, int decimals) {
  char digits[400];
  const std::to_chars_result written =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
  const size_t length = written.ec == std::errc() ? static_cast<size_t>(written.ptr - digits) : 0;
  const size_t field = width > 0 ? static_cast<size_t>(width) : 0;
  if (field > length) text.append(field - length, ' ');
  text.append(digits, length);
}

}  // namespace quillmere
