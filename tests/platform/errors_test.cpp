// The stand-in's last-error value, errno table and system error texts.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string Narrow(const WCHAR* text, DWORD length) {
  std::string out;
  for (DWORD i = 0; i < length; ++i) {
    EXPECT_LT(text[i], 0x80) << "test texts are ASCII";
    out.push_back(static_cast<char>(text[i]));
  }
  return out;
}

TEST(Win32ErrorFromErrno, MapsToTheCodesAWindowsUserWouldSee) {
  struct Case {
    int errnoValue;
    DWORD code;
  };
  const Case cases[] = {
      {ENOENT, 2},   {ENOTDIR, 3},    {EACCES, 5},   {EPERM, 5},    {EISDIR, 5},
      {ENOSPC, 112}, {EDQUOT, 1295},  {EROFS, 19},   {EIO, 1117},   {EINVAL, 87},
      {ENAMETOOLONG, 206}, {EMFILE, 4}, {ENOMEM, 8}, {EEXIST, 80},  {EBUSY, 32},
      {ENOTCONN, 31}, {EXDEV, 31},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Win32ErrorFromErrno(c.errnoValue), c.code) << std::strerror(c.errnoValue);
  }
}

TEST(LastError, BelongsToTheCallingThread) {
  SetLastError(ERROR_DISK_FULL);
  DWORD seenByOther = 1;
  std::thread other([&] {
    seenByOther = GetLastError();
    SetLastError(ERROR_ACCESS_DENIED);
  });
  other.join();
  EXPECT_EQ(seenByOther, 0u);
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

TEST(FormatMessage, KnownCodeGivesThePlatformTextEndingInCrLf) {
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  WCHAR* buffer = nullptr;
  DWORD length = FormatMessageW(flags, nullptr, ERROR_DISK_FULL, 0x0400,
                                reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  ASSERT_NE(length, 0u);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer[length], 0) << "NUL-terminated";
  EXPECT_EQ(Narrow(buffer, length), std::string(std::strerror(ENOSPC)) + "\r\n");
  EXPECT_EQ(LocalFree(buffer), nullptr);
}

}  // namespace
