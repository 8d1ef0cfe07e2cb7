// Paths and messages made safe for a line of text that a reader takes apart
// or a terminal acts on: no code point in them can end the line, move the
// cursor or start a terminal command.
#pragma once

#include <string>

namespace quillmere {

// What becomes of bytes that are not well-formed UTF-8.
enum class InvalidUtf8 {
  Kept,     // written as they stand, so the text still names the file exactly
  Escaped,  // each such byte as "\xNN", so a terminal never sees it
};

// text with every control code point escaped, hex digits in upper case:
// U+0000-U+001F and U+007F as "\xNN", U+0080-U+009F as "\u00NN", NN the code
// point. Everything else, "\" and '"' included, is unchanged, so text free of
// control characters (and, for Escaped, of malformed bytes) comes back byte
// for byte. Overlong forms, surrogates and code points past U+10FFFF are
// malformed, each of their bytes taken alone.
std::string EscapeControlCharacters(const std::string& text, InvalidUtf8 invalid);

}  // namespace quillmere
