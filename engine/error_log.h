// The error log: one appended text line per failure met during a queue run.
#pragma once

#include "engine/types.h"

#include <atomic>
#include <string>

namespace quillmere {

// Local time now as "%Y-%m-%d %H:%M:%S".
std::string CurrentTimestamp();

class ErrorLog {
 public:
  explicit ErrorLog(std::string path);

  // Appends "[time] STAGE ACTION code=N file="path" msg="message"" and a
  // line break, opening and closing the file for this line. Inside the
  // quotes a '"' is doubled and control characters are escaped
  // (EscapeControlCharacters, malformed UTF-8 kept), so one failure is one
  // line whatever its path and message hold. True when the whole line was
  // written; false when the log could not be opened or written, which the
  // caller must then make known. Throws nothing of its own.
  bool Write(const CopyError& error, ErrorAction action);

  // The errno of the first line that was lost, 0 while none has been. A
  // line that opened but could not be written (a full disk) is lost as one
  // that could not be opened is, and counts as a failed opening. Safe from
  // any thread.
  int FirstOpenFailure() const { return firstLostLineReason.load(); }

 private:
  // Keeps errno as the reason of the first lost line.
  void RecordLostLine();

  std::string path;  // UTF-8
  std::atomic<int> firstLostLineReason{0};
};

}  // namespace quillmere
