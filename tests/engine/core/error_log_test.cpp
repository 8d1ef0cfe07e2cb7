#include "engine/error_log.h"

#include "engine/text.h"
#include "platform/win32.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

using quillmere::CopyError;
using quillmere::ErrorLog;

// "YYYY-MM-DD HH:MM:SS": digits everywhere but the fixed separators.
bool IsTimestamp(const std::string& text) {
  const std::string shape = "dddd-dd-dd dd:dd:dd";
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
  }
  return true;
}

// The log as a text stream gives it back: line ends as the program sees them.
std::string ReadLog(const std::string& path) {
  std::ifstream in(quillmere::Utf8ToPath(path));
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

CopyError MakeError(int32_t stage, int32_t code, std::string path, std::string message) {
  CopyError error;
  error.stage = static_cast<quillmere::CopyStage>(stage);
  error.code = code;
  error.path = std::move(path);
  error.message = std::move(message);
  return error;
}

// The line without its leading "[timestamp] "; fails when that is malformed.
std::string WithoutTimestamp(const std::string& line) {
  const size_t prefix = 1 + 19 + 2;
  const bool framed = line.size() >= prefix && line[0] == '[' && line.compare(20, 2, "] ") == 0;
  EXPECT_TRUE(framed && IsTimestamp(line.substr(1, 19))) << line;
  return framed ? line.substr(prefix) : line;
}

class ErrorLogTest : public ::testing::Test {
 protected:
  std::string WriteOne(const CopyError& error, int32_t action) {
    std::filesystem::remove(quillmere::Utf8ToPath(logPath));
    ErrorLog(logPath).Write(error, static_cast<quillmere::ErrorAction>(action));
    return WithoutTimestamp(ReadLog(logPath));
  }

  testing_support::TempDir dir;
  std::string logPath = dir.File("quillmere_errors.log");
};

TEST_F(ErrorLogTest, WritesEveryStageWord) {
  const char* words[] = {"OPEN", "READ", "WRITE", "CLOSE", "CREATE_DIR", "ALLOCATE", "VERIFY"};
  for (int32_t stage = 0; stage < 7; ++stage) {
    EXPECT_EQ(WriteOne(MakeError(stage, 5, "C:\\a b.txt", "Access is denied."), 0),
              std::string(words[stage]) + " SKIP code=5 file=\"C:\\a b.txt\" msg=\"Access is denied.\"\n");
  }
}

TEST_F(ErrorLogTest, WritesEveryActionWord) {
  EXPECT_EQ(WriteOne(MakeError(1, 30, "p", "m"), 0), "READ SKIP code=30 file=\"p\" msg=\"m\"\n");
  EXPECT_EQ(WriteOne(MakeError(1, 30, "p", "m"), 1), "READ RETRY code=30 file=\"p\" msg=\"m\"\n");
  EXPECT_EQ(WriteOne(MakeError(1, 30, "p", "m"), 2), "READ ABORT code=30 file=\"p\" msg=\"m\"\n");
}

TEST_F(ErrorLogTest, UnknownStageAndActionAreWrittenUnknown) {
  EXPECT_EQ(WriteOne(MakeError(7, 0, "p", "m"), 0), "UNKNOWN SKIP code=0 file=\"p\" msg=\"m\"\n");
  EXPECT_EQ(WriteOne(MakeError(-1, 0, "p", "m"), 2), "UNKNOWN ABORT code=0 file=\"p\" msg=\"m\"\n");
  EXPECT_EQ(WriteOne(MakeError(6, 0, "p", "m"), 3), "VERIFY UNKNOWN code=0 file=\"p\" msg=\"m\"\n");
  EXPECT_EQ(WriteOne(MakeError(6, 0, "p", "m"), -1), "VERIFY UNKNOWN code=0 file=\"p\" msg=\"m\"\n");
}

TEST_F(ErrorLogTest, CodesAreSignedDecimal) {
  EXPECT_EQ(WriteOne(MakeError(0, -5, "p", "m"), 0), "OPEN SKIP code=-5 file=\"p\" msg=\"m\"\n");
  EXPECT_EQ(WriteOne(MakeError(0, -2147483647 - 1, "p", "m"), 0),
            "OPEN SKIP code=-2147483648 file=\"p\" msg=\"m\"\n");
  EXPECT_EQ(WriteOne(MakeError(0, 1234567, "p", "m"), 0),
            "OPEN SKIP code=1234567 file=\"p\" msg=\"m\"\n");
}

// Only what could end a field or the line changes: quotes are doubled,
// control code points escaped; "\", letters beyond ASCII and bytes that are
// not UTF-8 stay as they are.
TEST_F(ErrorLogTest, PathAndMessageChangeOnlyWhereTheyCouldEndTheirFieldOrLine) {
  EXPECT_EQ(WriteOne(MakeError(2, 0, "", ""), 0), "WRITE SKIP code=0 file=\"\" msg=\"\"\n");
  EXPECT_EQ(WriteOne(MakeError(2, 0, "C:\\th\xc6\xb0 m\xe1\xbb\xa5" "c\\a.txt", "caf\xe9"), 0),
            "WRITE SKIP code=0 file=\"C:\\th\xc6\xb0 m\xe1\xbb\xa5" "c\\a.txt\" msg=\"caf\xe9\"\n");
  EXPECT_EQ(WriteOne(MakeError(2, 0, "a \"quoted\" name", "say \"no\""), 0),
            "WRITE SKIP code=0 file=\"a \"\"quoted\"\" name\" msg=\"say \"\"no\"\"\"\n");
  EXPECT_EQ(WriteOne(MakeError(2, 0, std::string("nul\0tab\tdel\x7f", 12), "1\r\n2\x1b[2J"), 0),
            "WRITE SKIP code=0 file=\"nul\\x00tab\\x09del\\x7F\" msg=\"1\\x0D\\x0A2\\x1B[2J\"\n");
  // C1 controls (two bytes in UTF-8) are escaped, the no-break space after
  // them is not; a lead byte whose sequence breaks off keeps the control
  // that breaks it from being swallowed.
  EXPECT_EQ(WriteOne(MakeError(2, 0, "\xc2\x80\xc2\x9b\xc2\xa0", "\xe2\x80\n\xc2"), 0),
            "WRITE SKIP code=0 file=\"\\u0080\\u009B\xc2\xa0\" msg=\"\xe2\x80\\x0A\xc2\"\n");
}

TEST_F(ErrorLogTest, NameThatSpellsALineStaysInItsOwnLine) {
  const std::string forged =
      "x\" msg=\"ok\"\n[2026-01-01 00:00:00] VERIFY SKIP code=0 file=\"C:forged\" msg=\"forged line";
  EXPECT_EQ(WriteOne(MakeError(0, 5, forged, "Access is denied."), 0),
            "OPEN SKIP code=5 file=\"x\"\" msg=\"\"ok\"\"\\x0A[2026-01-01 00:00:00] VERIFY SKIP code=0 "
            "file=\"\"C:forged\"\" msg=\"\"forged line\" msg=\"Access is denied.\"\n");
}

TEST_F(ErrorLogTest, FirstLineCreatesFileAndLaterLinesAppend) {
  testing_support::WriteText(quillmere::Utf8ToPath(logPath), "earlier line\n");
  ErrorLog log(logPath);
  log.Write(MakeError(0, 2, "a", "one"), quillmere::SKIP);
  log.Write(MakeError(1, 3, "b", "two"), quillmere::RETRY);
  ErrorLog(logPath).Write(MakeError(2, 4, "c", "three"), quillmere::ABORT);
  std::istringstream lines(ReadLog(logPath));
  std::string line;
  std::vector<std::string> seen;
  while (std::getline(lines, line)) seen.push_back(line);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], "earlier line");
  EXPECT_EQ(WithoutTimestamp(seen[1]), "OPEN SKIP code=2 file=\"a\" msg=\"one\"");
  EXPECT_EQ(WithoutTimestamp(seen[2]), "READ RETRY code=3 file=\"b\" msg=\"two\"");
  EXPECT_EQ(WithoutTimestamp(seen[3]), "WRITE ABORT code=4 file=\"c\" msg=\"three\"");
}

TEST_F(ErrorLogTest, MissingFolderOrEmptyPathIsSkippedSilently) {
  const std::string missing = dir.File("no-such-folder/quillmere_errors.log");
  EXPECT_NO_THROW(ErrorLog(missing).Write(MakeError(0, 2, "a", "b"), quillmere::SKIP));
  EXPECT_FALSE(std::filesystem::exists(quillmere::Utf8ToPath(missing).parent_path()));
  EXPECT_NO_THROW(ErrorLog("").Write(MakeError(0, 2, "a", "b"), quillmere::SKIP));
}

TEST_F(ErrorLogTest, BuildingTheLogTouchesNothing) {
  ErrorLog log(logPath);
  EXPECT_FALSE(std::filesystem::exists(quillmere::Utf8ToPath(logPath)));
}

TEST_F(ErrorLogTest, NonAsciiLogPathIsWritten) {
  const std::string folder =
      quillmere::PathToUtf8(dir.path()) + QUILLMERE_PATH_SEPARATOR + "Ng\xc6\xb0\xe1\xbb\x9di d\xc3\xb9ng";
  ASSERT_TRUE(std::filesystem::create_directory(quillmere::Utf8ToPath(folder)));
  const std::string path = folder + QUILLMERE_PATH_SEPARATOR + "quillmere_errors.log";
  ErrorLog(path).Write(MakeError(4, 80, "x", "y"), quillmere::SKIP);
  EXPECT_EQ(WithoutTimestamp(ReadLog(path)), "CREATE_DIR SKIP code=80 file=\"x\" msg=\"y\"\n");
}

// Hours east of UTC that put the local hour in the afternoon (13 to 23) and
// away from UTC's, whatever the hour now: a stamp in UTC, or on a 12-hour
// clock, then names another hour. An hour that turns during the test keeps
// it in the afternoon.
int AfternoonOffset() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  const int utcHour = std::gmtime(&now)->tm_hour;
  const int offset = (utcHour == 15 ? 20 : 15) - utcHour;
  return offset > 12 ? offset - 24 : offset;
}

// The machine's zone replaced, for one test, by a fixed offset from UTC
// without summer time; the old one is put back at the end.
class FixedZone {
 public:
  explicit FixedZone(int hoursEast) : hoursEast(hoursEast) {
    const char* old = std::getenv("TZ");
    hadZone = old != nullptr;
    if (hadZone) savedZone = old;
    // POSIX counts the offset west of UTC: "QMT-5" is five hours ahead.
    Set("QMT" + std::to_string(-hoursEast));
  }
  ~FixedZone() { Set(hadZone ? savedZone : std::string()); }
  FixedZone(const FixedZone&) = delete;
  FixedZone& operator=(const FixedZone&) = delete;

  // Whether the C library's local time follows the zone: 12:00 UTC must be
  // 12 + hoursEast there.
  bool TakesHold() const {
    const std::time_t noon = 36 * 3600;  // 1970-01-02 12:00 UTC
    const std::tm* local = std::localtime(&noon);
    return local != nullptr && local->tm_hour == (12 + hoursEast + 24) % 24;
  }

 private:
  // An empty zone removes TZ.
  static void Set(const std::string& zone) {
#if !QUILLMERE_POSIX_STANDIN
    _putenv(("TZ=" + zone).c_str());
    _tzset();
#else
    if (zone.empty()) {
      unsetenv("TZ");
    } else {
      setenv("TZ", zone.c_str(), 1);
    }
    tzset();
#endif
  }

  int hoursEast;
  bool hadZone = false;
  std::string savedZone;
};

std::string Format(const std::tm* time) {
  char text[32] = {};
  if (time != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", time);
  return text;
}

// Now, read from the clock the log reads (std::time may run on a coarser
// clock that lags it by a tick, so right after a second begins it would
// name the last), in the zone hoursEast of UTC, worked out without the C
// library's zone.
std::string NowAt(int hoursEast) {
  const std::time_t shifted =
      std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()) + hoursEast * 3600;
  return Format(std::gmtime(&shifted));
}

#if !QUILLMERE_POSIX_STANDIN
// Now in the machine's zone, as the C library has it.
std::string LocalNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  return Format(std::localtime(&now));
}
#endif

TEST(CurrentTimestamp, IsLocalTimeToTheSecond) {
  const int hoursEast = AfternoonOffset();
  FixedZone zone(hoursEast);
  std::function<std::string()> expectedNow = [hoursEast] { return NowAt(hoursEast); };
  if (!zone.TakesHold()) {
#if !QUILLMERE_POSIX_STANDIN
    std::cout << "[   NOTE   ] this C runtime's local time does not follow TZ: the stamp is "
                 "checked against the machine's own zone only\n";
    expectedNow = LocalNow;
#else
    FAIL() << "TZ=QMT" << -hoursEast << " did not take hold";
#endif
  }
  const std::string before = expectedNow();
  const std::string stamp = quillmere::CurrentTimestamp();
  const std::string after = expectedNow();
  EXPECT_TRUE(IsTimestamp(stamp)) << stamp;
  // The format orders as text in time order (within one offset from UTC).
  EXPECT_LE(before, stamp);
  EXPECT_LE(stamp, after);
}

}  // namespace
