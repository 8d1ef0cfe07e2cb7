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

// Each errno names its own condition where Windows has a code for it, and
// every code the table gives has the platform's text (none reads "Unknown
// error").
TEST(Win32ErrorFromErrno, MapsToTheCodesAWindowsUserWouldSee) {
  struct Case {
    int errnoValue;
    DWORD code;
  };
  const Case cases[] = {
      {ENOENT, 2},   {ENOTDIR, 3},    {EACCES, 5},   {EPERM, 5},    {EISDIR, 5},
      {ENOSPC, 112}, {EDQUOT, 1295},  {EROFS, 19},   {EIO, 1117},   {EINVAL, 87},
      {ENAMETOOLONG, 206}, {EMFILE, 4}, {ENOMEM, 8}, {EEXIST, 80},  {EBUSY, 32},
      {ENOTCONN, 31}, {EXDEV, 31},    {EFBIG, 223},  {ENFILE, 4},   {ELOOP, 1921},
      {ENOTEMPTY, 145}, {EMLINK, 1142}, {ETXTBSY, 32}, {EAGAIN, 32}, {EBADF, 6},
      {EFAULT, 998}, {EINTR, 995},    {ENXIO, 20},   {ENODEV, 20},  {ESPIPE, 132},
      {EPIPE, 232},  {EOVERFLOW, 534}, {ENOLCK, 167}, {EDEADLK, 1131}, {ENOSYS, 1},
      {ENOTSUP, 50}, {ETIMEDOUT, 1460}, {EUCLEAN, 1392}, {EBADMSG, 1392}, {ESTALE, 1006},
      {EREMOTEIO, 59}, {ENOMEDIUM, 1112}, {ERANGE, 122}, {EILSEQ, 1113},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Win32ErrorFromErrno(c.errnoValue), c.code) << std::strerror(c.errnoValue);
  }
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
  for (const auto& entry : win32_errno_detail::kErrnoToCode) {
    WCHAR* buffer = nullptr;
    EXPECT_NE(FormatMessageW(flags, nullptr, entry.code, 0, reinterpret_cast<LPWSTR>(&buffer), 0,
                             nullptr),
              0u)
        << "no text for " << entry.code << ", from " << std::strerror(entry.errnoValue);
    LocalFree(buffer);
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
