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
  // line break, opening and closing the file for this line. True when the
  // whole line was written; false when the log could not be opened or
  // written, which the caller must then make known. Throws nothing of its
  // own.
  bool Write(const CopyError& error, ErrorAction action);

  // The errno of the first opening of the log that failed, 0 while none
  // has. Safe from any thread.
  int FirstOpenFailure() const { return firstOpenFailure.load(); }

 private:
  std::string path;  // UTF-8
  std::atomic<int> firstOpenFailure{0};
};

}  // namespace quillmere
