// An Xvfb server for one test: a virtual X display the test owns.
#pragma once

#include <sys/types.h>

#include <string>

namespace window_testing {

// Starts Xvfb on a display number the server picks itself (-displayfd), so
// tests running side by side never share or fight over a display. Stops
// and reaps the server when the object goes away.
class VirtualDisplay {
 public:
  // logPath receives the server's own messages.
  explicit VirtualDisplay(const std::string& logPath);
  ~VirtualDisplay();
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  // True once the server accepts connections.
  bool ready() const { return !name_.empty(); }
  // ":N", the value for $DISPLAY.
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

}  // namespace window_testing
