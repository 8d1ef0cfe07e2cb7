#include "engine/error_log.h"

#include "engine/text.h"

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
    // Read before anything else can change it; a failure that left no errno
    // is still one.
    const int reason = errno != 0 ? errno : EIO;
    int none = 0;
    firstOpenFailure.compare_exchange_strong(none, reason);
    return false;
  }
  std::string line = "[" + CurrentTimestamp() + "] ";
  line += StageWord(error.stage);
  line += " ";
  line += ActionWord(action);
  // std::to_string gives plain decimal digits whatever the global locale.
  line += " code=" + std::to_string(error.code);
  line += " file=\"" + error.path + "\" msg=\"" + error.message + "\"\n";
  log << line;
  log.close();
  return !log.fail();
}

}  // namespace quillmere
