// Escaping for the terminal: malformed UTF-8 escaped byte by byte, while
// every well-formed sequence outside the control ranges passes unchanged.
#include "engine/text_escape.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ForTerminal(const std::string& text) {
  return quillmere::EscapeControlCharacters(text, quillmere::InvalidUtf8::Escaped);
}

TEST(TextEscape, WellFormedTextOfEveryLengthPassesUnchanged) {
  // The lowest and highest code points of each length, beside "\", '"' and
  // a Vietnamese word.
  const std::string text =
      " ~\\\"\xc2\xa0\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"
      " Vi\xe1\xbb\x87t";
  EXPECT_EQ(ForTerminal(text), text);
}

TEST(TextEscape, EachMalformedByteIsEscapedAlone) {
  EXPECT_EQ(ForTerminal("caf\xe9"), "caf\\xE9");
  EXPECT_EQ(ForTerminal("\x80\xbf\xfe\xff"), "\\x80\\xBF\\xFE\\xFF");     // no lead byte
  EXPECT_EQ(ForTerminal("\xc0\xaf\xe0\x9f\xbf"), "\\xC0\\xAF\\xE0\\x9F\\xBF");  // overlong
  EXPECT_EQ(ForTerminal("\xed\xa0\x80"), "\\xED\\xA0\\x80");                // a surrogate
  EXPECT_EQ(ForTerminal("\xf4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");       // past U+10FFFF
  // Cut short: what follows the broken sequence is read on its own.
  EXPECT_EQ(ForTerminal("\xe1\xbb" "a\xf0\x9f\x98"), "\\xE1\\xBBa\\xF0\\x9F\\x98");
  EXPECT_EQ(ForTerminal("\xc2\x1b]0;x\x07"), "\\xC2\\x1B]0;x\\x07");
}

}  // namespace
