// MultiByteToWideChar and WideCharToMultiByte for the UTF-8 code page.
//
// Both behave as the Windows calls do with flags 0:
// - an output length of 0 asks for the number of units the result needs;
// - an input length of -1 reads a NUL-terminated text, and the terminator is
//   then converted and counted too; an explicit length converts exactly that
//   many units, NULs included;
// - malformed input is not refused: every maximal invalid part of a UTF-8
//   sequence, and every unpaired surrogate, becomes U+FFFD;
// - an output too small for the whole result gives 0 and
//   ERROR_INSUFFICIENT_BUFFER, and nothing is promised about the output;
// - a code page other than CP_UTF8, a null input, a zero or negative input
//   length other than -1, a negative output length, or a default character
//   (which the UTF-8 code page does not allow) gives 0 and
//   ERROR_INVALID_PARAMETER; flags other than 0 give ERROR_INVALID_FLAGS.
#include "platform/win32.h"

#include <cstring>

namespace {

constexpr DWORD kErrorInvalidFlags = 1004;
constexpr char32_t kReplacement = 0xFFFD;

// ---- UTF-8 -> code points ---------------------------------------------------

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The range the second byte of a sequence must fall in; the lead byte decides
// it, which rules out overlong forms, surrogates and values past U+10FFFF.
void SecondByteRange(unsigned char lead, unsigned char& low, unsigned char& high) {
  low = 0x80;
  high = 0xBF;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;
}

// Sequence length announced by a lead byte; 0 for a byte that cannot start one.
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Decodes one code point at text[pos] and advances pos past it. A malformed
// sequence yields U+FFFD and advances past its maximal invalid subpart (at
// least one byte), so the bytes after it start afresh.
char32_t DecodeUtf8(const unsigned char* text, size_t length, size_t& pos) {
  unsigned char lead = text[pos++];
  int needed = SequenceLength(lead);
  if (needed == 1) return lead;
  if (needed == 0) return kReplacement;
  char32_t value = lead & (0xFF >> (needed + 1));
  unsigned char low, high;
  SecondByteRange(lead, low, high);
  for (int i = 1; i < needed; ++i) {
    if (pos >= length) return kReplacement;
    unsigned char byte = text[pos];
    bool fits = (i == 1) ? (byte >= low && byte <= high) : IsContinuation(byte);
    if (!fits) return kReplacement;
    value = (value << 6) | (byte & 0x3F);
    ++pos;
  }
  return value;
}

// ---- UTF-16 -> code points --------------------------------------------------

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Decodes one code point at text[pos]; an unpaired surrogate yields U+FFFD.
char32_t DecodeUtf16(const WCHAR* text, size_t length, size_t& pos) {
  char32_t unit = static_cast<char16_t>(text[pos++]);
  if (IsHighSurrogate(unit) && pos < length) {
    char32_t next = static_cast<char16_t>(text[pos]);
    if (IsLowSurrogate(next)) {
      ++pos;
      return 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
    }
  }
  if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) return kReplacement;
  return unit;
}

// ---- code points -> output units ---------------------------------------------

int EncodeUtf16(char32_t cp, WCHAR* out) {
  if (cp < 0x10000) {
    if (out) out[0] = static_cast<WCHAR>(cp);
    return 1;
  }
  if (out) {
    out[0] = static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
    out[1] = static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
  }
  return 2;
}

int EncodeUtf8(char32_t cp, char* out) {
  unsigned char bytes[4];
  int count;
  if (cp < 0x80) {
    bytes[0] = static_cast<unsigned char>(cp);
    count = 1;
  } else if (cp < 0x800) {
    bytes[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
    bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    count = 2;
  } else if (cp < 0x10000) {
    bytes[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
    bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    count = 3;
  } else {
    bytes[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    count = 4;
  }
  if (out) std::memcpy(out, bytes, count);
  return count;
}

// ---- the shared frame of both calls -------------------------------------------

size_t WideLength(const WCHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// The checks both calls make before converting; false after SetLastError.
bool ValidArguments(UINT codePage, DWORD flags, const void* text, int textLength,
                    int outLength) {
  if (codePage != CP_UTF8 || text == nullptr || textLength == 0 || textLength < -1 ||
      outLength < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (flags != 0) {
    SetLastError(kErrorInvalidFlags);
    return false;
  }
  return true;
}

// Converts the whole input with Decode/Encode, writing to out when it is not
// null. Returns the number of output units, or -1 when that would pass the
// int range of the Windows calls.
template <typename In, typename Out, typename Decode, typename Encode>
long long Convert(const In* in, size_t length, Out* out, Decode decode, Encode encode) {
  long long produced = 0;
  size_t pos = 0;
  while (pos < length) {
    char32_t cp = decode(in, length, pos);
    produced += encode(cp, out ? out + produced : nullptr);
    if (produced > 0x7FFFFFFF) return -1;
  }
  return produced;
}

// Counts first, then writes only when the whole result fits, so the caller's
// buffer never sees a partial result and is never overrun.
template <typename In, typename Out, typename Decode, typename Encode>
int CountThenConvert(const In* in, size_t length, Out* out, int outLength, Decode decode,
                     Encode encode) {
  long long needed = Convert(in, length, static_cast<Out*>(nullptr), decode, encode);
  if (needed < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (outLength == 0) return static_cast<int>(needed);
  if (needed > outLength) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  Convert(in, length, out, decode, encode);
  return static_cast<int>(needed);
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR out,
                        int outLength) {
  if (!ValidArguments(codePage, flags, text, textLength, outLength)) return 0;
  if (outLength > 0 && out == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // With -1 the terminator is part of the input, so it is converted and counted.
  size_t length = textLength == -1 ? std::strlen(text) + 1 : static_cast<size_t>(textLength);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  return CountThenConvert(bytes, length, out, outLength, DecodeUtf8, EncodeUtf16);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int textLength, LPSTR out,
                        int outLength, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  if (!ValidArguments(codePage, flags, text, textLength, outLength)) return 0;
  if ((outLength > 0 && out == nullptr) || defaultChar != nullptr || usedDefaultChar != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t length = textLength == -1 ? WideLength(text) + 1 : static_cast<size_t>(textLength);
  return CountThenConvert(text, length, out, outLength, DecodeUtf16, EncodeUtf8);
}
