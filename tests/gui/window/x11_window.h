// What a test sees of a program's window on an X display, through Xlib: the
// window by its name, its size, its pixels, and the close request that a
// window manager sends when the user closes a window. Xlib's headers stay in
// the .cpp: their macros (None, Bool, Status, ...) clash with GoogleTest.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace window_testing {

using XWindowId = unsigned long;  // an X window id; 0 for none

struct WindowSize {
  int width = 0;
  int height = 0;
};

struct Rgb {
  int red = 0, green = 0, blue = 0;
};

// A window's contents as 8-bit RGB rows.
struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  Rgb At(int x, int y) const;
};
bool WritePng(const Screenshot& shot, const std::string& path);

// One Xlib connection. Protocol errors (a window that went away between two
// requests) fail the request instead of ending the test program.
class XSession {
 public:
  explicit XSession(const std::string& displayName);
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  bool connected() const;
  // The first viewable top-level window whose WM_NAME is name; 0 for none.
  XWindowId FindTopLevelWindow(const std::string& name) const;
  // 0 by 0 when the window cannot be asked.
  WindowSize SizeOf(XWindowId window) const;
  // False when the window's pixels cannot be read (it is gone or unmapped).
  bool Capture(XWindowId window, Screenshot& shot) const;
  // WM_DELETE_WINDOW through WM_PROTOCOLS, as a window manager sends it when
  // the user clicks the close button.
  void SendCloseRequest(XWindowId window) const;
  // As a window manager resizes a window whose edge the user drags.
  void Resize(XWindowId window, int width, int height) const;
  // Gives each of these keysyms a key of its own, on keys that have none,
  // so that text holding them can be typed with keys that stay mapped (a
  // key mapped only for the moment of its press can be read after the
  // mapping changed back). False when there are not enough free keys.
  bool MapKeysyms(const std::vector<unsigned long>& keysyms) const;

 private:
  struct Connection;
  std::unique_ptr<Connection> connection_;
};

}  // namespace window_testing
