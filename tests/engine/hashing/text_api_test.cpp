// The system's UTF-8 conversion calls as the engine relies on them: length
// queries, explicit lengths, small buffers and refused arguments.
#include "platform/win32.h"

#include <gtest/gtest.h>

namespace {

const char kMixed[] = "h\xC3\xA9\xF0\x9F\x98\x80";  // h, e-acute, a 4-byte character

TEST(Utf8ToUtf16Call, LengthQueryCountsTerminatorOnlyWithMinusOne) {
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, kMixed, -1, nullptr, 0), 5);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, kMixed, 7, nullptr, 0), 4);
  // An explicit length converts an embedded NUL like any other character.
  WCHAR out[3] = {1, 1, 1};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\0b", 3, out, 3), 3);
  EXPECT_EQ(out[1], WCHAR(0));
  EXPECT_EQ(out[2], WCHAR('b'));
}

TEST(Utf8ToUtf16Call, ConvertsIntoExactBufferAndRefusesSmallerOne) {
  WCHAR out[5] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, kMixed, -1, out, 5), 5);
  EXPECT_EQ(out[1], WCHAR(0xE9));
  EXPECT_EQ(out[2], WCHAR(0xD83D));
  EXPECT_EQ(out[3], WCHAR(0xDE00));
  EXPECT_EQ(out[4], WCHAR(0));

  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, kMixed, -1, out, 4), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
#if QUILLMERE_POSIX_STANDIN
  // Room for the high surrogate but not its partner: the stand-in never
  // hands out half a pair or any partial result.
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, kMixed, 7, out, 3), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
#endif
}

TEST(Utf8ToUtf16Call, RefusesBadCodePageAndNullInput) {
  WCHAR out[4];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "a", -1, out, 4), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, out, 4), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(Utf16ToUtf8Call, LengthQueryAndConversionOfSurrogatePair) {
  const WCHAR text[] = {WCHAR('h'), WCHAR(0xD83D), WCHAR(0xDE00), WCHAR(0)};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 6);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 3, nullptr, 0, nullptr, nullptr), 5);
  char out[6] = {};
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, out, 6, nullptr, nullptr), 6);
  EXPECT_EQ(std::string(out, 6), std::string("h\xF0\x9F\x98\x80\0", 6));
}

TEST(Utf16ToUtf8Call, RefusesSmallBufferBadCodePageAndNullInput) {
  const WCHAR text[] = {WCHAR(0xD83D), WCHAR(0xDE00), WCHAR(0)};
  char out[8];
  SetLastError(0);
  // Three bytes cannot hold the four of the one character.
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 2, out, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(12345, 0, text, -1, out, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, nullptr, -1, out, 8, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

}  // namespace
