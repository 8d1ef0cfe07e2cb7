#include "engine/error_log.h"

#include "engine/text.h"
#include "engine/text_escape.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <locale>
#include <mutex>
#include <sstream>
#include <utility>

namespace quillmere {

namespace {

const char* StageWord(int32_t stage) {
  switch (stage) {
    case OPEN: return "OPEN";
    case READ: return "READ";
    case WRITE: return "WRITE";
    case CLOSE: return "CLOSE";
    case CREATE_DIR: return "CREATE_DIR";
    case ALLOCATE: return "ALLOCATE";
    case VERIFY: return "VERIFY";
    default: return "UNKNOWN";
  }
}

const char* ActionWord(int32_t action) {
  switch (action) {
    case SKIP: return "SKIP";
    case RETRY: return "RETRY";
    case ABORT: return "ABORT";
    default: return "UNKNOWN";
  }
}

// std::localtime hands out one shared record; the lock keeps two callers of
// this function from overwriting it under each other.
std::tm LocalCalendarTime(std::time_t seconds) {
  static std::mutex localtimeMutex;
  std::lock_guard<std::mutex> lock(localtimeMutex);
  const std::tm* local = std::localtime(&seconds);
  return local != nullptr ? *local : std::tm{};
}

// A path or message as it stands between the quotes of its field: a quote
// doubled, control characters escaped, so that the field ends only at its
// closing quote and the line only at its line feed. Malformed UTF-8 is kept,
// so that the log names a POSIX file whose name holds such bytes exactly.
std::string QuotedField(const std::string& text) {
  const std::string escaped = EscapeControlCharacters(text, InvalidUtf8::Kept);
  std::string field = "\"";
  for (const char c : escaped) {
    if (c == '"') field += '"';
    field += c;
  }
  field += '"';
  return field;
}

}  // namespace

std::string CurrentTimestamp() {
  using namespace std::chrono;
  // duration_cast drops the fraction of a second rather than rounding it.
  const auto sinceEpoch = duration_cast<seconds>(system_clock::now().time_since_epoch());
  const std::tm local = LocalCalendarTime(static_cast<std::time_t>(sinceEpoch.count()));
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << std::put_time(&local, "%Y-%m-%d %H:%M:%S");
  return text.str();
}

ErrorLog::ErrorLog(std::string path) : path(std::move(path)) {}

bool ErrorLog::Write(const CopyError& error, ErrorAction action) {
  // Text mode and append: created when missing, never truncated, one open
  // and close per line so no handle outlives it.
  errno = 0;
  std::ofstream log(Utf8ToPath(path), std::ios::out | std::ios::app);
  if (!log.is_open()) {
    RecordLostLine();
    return false;
  }
  std::string line = "[" + CurrentTimestamp() + "] ";
  line += StageWord(error.stage);
  line += " ";
  line += ActionWord(action);
  // std::to_string gives plain decimal digits whatever the global locale.
  line += " code=" + std::to_string(error.code);
  line += " file=" + QuotedField(error.path) + " msg=" + QuotedField(error.message) + "\n";
  // A full disk, or a device that takes nothing, fails the line here or at
  // the flush of the close; either leaves the stream failed.
  errno = 0;
  log << line;
  log.close();
  if (!log.fail()) return true;
  RecordLostLine();
  return false;
}

void ErrorLog::RecordLostLine() {
  // Read before anything else can change it; a failure that left no errno
  // is still one.
  const int reason = errno != 0 ? errno : EIO;
  int none = 0;
  firstLostLineReason.compare_exchange_strong(none, reason);
}

}  // namespace quillmere
