// Conversions between UTF-8 (every path and text of the engine) and the
// platform's UTF-16 and native path forms, and numbers written as text.
#pragma once

#include "platform/win32.h"

#include <filesystem>
#include <string>

namespace quillmere {

// Both conversions read their input as NUL-terminated text: an embedded NUL
// ends the result, the terminator is never part of it, malformed input gives
// U+FFFD. Empty input or a failed conversion gives an empty result.
std::string WideToUtf8(const WideString& text);
WideString Utf8ToWide(const std::string& text);

// The file-system path for a UTF-8 path text. On Windows its native text is
// Utf8ToWide of the input; where native paths are bytes, the bytes pass
// unchanged, so names that are not valid UTF-8 survive.
std::filesystem::path Utf8ToPath(const std::string& text);

// Whether text holds a UTF-16 unit that WideToUtf8 replaces with U+FFFD: a
// high surrogate not followed by a low one, or a low one not preceded by a
// high one. Windows names may hold any 16-bit units.
bool HasUnpairedSurrogate(const WideString& text);

// Whether PathToUtf8 gives a name's own text, so that Utf8ToPath leads back
// to it: always where native paths are bytes; on Windows unless the name
// holds an unpaired surrogate.
bool NameConvertsExactly(const std::filesystem::path& name);

// The inverse of Utf8ToPath: the UTF-8 text of a path (on byte-path
// platforms, its native bytes unchanged).
std::string PathToUtf8(const std::filesystem::path& path);

// Appends value with decimals digits after the point, right-aligned in at
// least width characters: exactly what printf's "%<width>.<decimals>f" writes
// in the C locale, at a fraction of its cost (a progress line per file adds
// up over many small files).
void AppendFixed(std::string& text, double value, int width, int decimals);

}  // namespace quillmere
