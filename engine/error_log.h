// The error log: one appended text line per failure met during a queue run.
#pragma once

#include "engine/types.h"

#include <string>

namespace quillmere {

// Local time now as "%Y-%m-%d %H:%M:%S".
std::string CurrentTimestamp();

class ErrorLog {
 public:
  explicit ErrorLog(std::string path);

  // Appends "[time] STAGE ACTION code=N file="path" msg="message"" and a
  // line break, opening and closing the file for this line. A log that
  // cannot be opened is skipped silently; nothing is thrown or reported.
  void Write(const CopyError& error, ErrorAction action);

 private:
  std::string path;  // UTF-8
};

}  // namespace quillmere
