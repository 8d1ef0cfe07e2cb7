#include "engine/text_escape.h"

#include <cstddef>

namespace quillmere {

namespace {

// The length of the well-formed UTF-8 sequence that starts at text[at], or 0
// when none does. The second byte's range is narrowed after the leads that
// would otherwise allow overlong forms, surrogates or code points past
// U+10FFFF.
size_t SequenceLength(const std::string& text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

void AppendEscape(std::string& out, const char* prefix, unsigned char value) {
  static const char kHexDigits[] = "0123456789ABCDEF";
  out += prefix;
  out += kHexDigits[value >> 4];
  out += kHexDigits[value & 0x0F];
}

}  // namespace

std::string EscapeControlCharacters(const std::string& text, InvalidUtf8 invalid) {
  std::string escaped;
  escaped.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = SequenceLength(text, at);
    if (length == 0) {
      if (invalid == InvalidUtf8::Escaped) {
        AppendEscape(escaped, "\\x", lead);
      } else {
        escaped += text[at];
      }
      at += 1;
    } else if (lead < 0x20 || lead == 0x7F) {
      AppendEscape(escaped, "\\x", lead);
      at += 1;
    } else if (lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
      // U+0080-U+009F: the second byte is the code point itself.
      AppendEscape(escaped, "\\u00", static_cast<unsigned char>(text[at + 1]));
      at += 2;
    } else {
      escaped.append(text, at, length);
      at += length;
    }
  }
  return escaped;
}

}  // namespace quillmere
