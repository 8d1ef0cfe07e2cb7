#include "x11_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stb_image_write.h>

namespace window_testing {

struct XSession::Connection {
  Display* display = nullptr;
};

namespace {

int IgnoreProtocolError(Display*, XErrorEvent*) { return 0; }

struct XFreeDeleter {
  void operator()(void* data) const {
    if (data != nullptr) XFree(data);
  }
};

struct ImageDeleter {
  void operator()(XImage* image) const { XDestroyImage(image); }
};

bool HasName(Display* display, Window window, const std::string& name) {
  char* raw = nullptr;
  if (XFetchName(display, window, &raw) == 0) return false;
  std::unique_ptr<char, XFreeDeleter> owned(raw);
  return raw != nullptr && name == raw;
}

bool IsShown(Display* display, Window window) {
  XWindowAttributes attributes;
  return XGetWindowAttributes(display, window, &attributes) != 0 && attributes.map_state == IsViewable;
}

// The shift that brings the lowest set bit of mask to bit 0.
int ShiftOf(unsigned long mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

uint8_t Channel(unsigned long pixel, unsigned long mask) {
  const unsigned long value = (pixel & mask) >> ShiftOf(mask);
  const unsigned long top = mask >> ShiftOf(mask);
  return static_cast<uint8_t>(top == 0 ? 0 : value * 255 / top);
}

void CopyPixels(XImage* image, Screenshot& shot) {
  shot.rgb.resize(static_cast<size_t>(shot.width) * shot.height * 3);
  for (int y = 0; y < shot.height; ++y) {
    for (int x = 0; x < shot.width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      uint8_t* out = &shot.rgb[(static_cast<size_t>(y) * shot.width + x) * 3];
      out[0] = Channel(pixel, image->red_mask);
      out[1] = Channel(pixel, image->green_mask);
      out[2] = Channel(pixel, image->blue_mask);
    }
  }
}

}  // namespace

Rgb Screenshot::At(int x, int y) const {
  const size_t at = (static_cast<size_t>(y) * width + x) * 3;
  return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

bool WritePng(const Screenshot& shot, const std::string& path) {
  return stbi_write_png(path.c_str(), shot.width, shot.height, 3, shot.rgb.data(), shot.width * 3) != 0;
}

XSession::XSession(const std::string& displayName) : connection_(std::make_unique<Connection>()) {
  XSetErrorHandler(IgnoreProtocolError);
  connection_->display = XOpenDisplay(displayName.c_str());
}

XSession::~XSession() {
  if (connection_->display != nullptr) XCloseDisplay(connection_->display);
}

bool XSession::connected() const { return connection_->display != nullptr; }

XWindowId XSession::FindTopLevelWindow(const std::string& name) const {
  Display* display = connection_->display;
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) return 0;
  std::unique_ptr<Window, XFreeDeleter> owned(children);
  for (unsigned int i = 0; i < count; ++i) {
    if (HasName(display, children[i], name) && IsShown(display, children[i])) return children[i];
  }
  return 0;
}

WindowSize XSession::SizeOf(XWindowId window) const {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(connection_->display, window, &attributes) == 0) return {};
  return {attributes.width, attributes.height};
}

bool XSession::Capture(XWindowId window, Screenshot& shot) const {
  const WindowSize size = SizeOf(window);
  if (size.width <= 0 || size.height <= 0) return false;
  std::unique_ptr<XImage, ImageDeleter> image(
      XGetImage(connection_->display, window, 0, 0, size.width, size.height, AllPlanes, ZPixmap));
  if (!image) return false;
  shot.width = size.width;
  shot.height = size.height;
  CopyPixels(image.get(), shot);
  return true;
}

void XSession::SendCloseRequest(XWindowId window) const {
  Display* display = connection_->display;
  XEvent event = {};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
}

void XSession::Resize(XWindowId window, int width, int height) const {
  XResizeWindow(connection_->display, window, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XFlush(connection_->display);
}

bool XSession::MapKeysyms(const std::vector<unsigned long>& keysyms) const {
  Display* display = connection_->display;
  int first = 0, last = 0, perKey = 0;
  XDisplayKeycodes(display, &first, &last);
  std::unique_ptr<KeySym, XFreeDeleter> map(XGetKeyboardMapping(display, first, last - first + 1, &perKey));
  if (!map) return false;
  size_t next = 0;
  // The lowest free keys, each with the keysym on both levels, as xdotool
  // maps its own: Wine typed nothing for keys mapped on one level on the
  // highest keycodes.
  for (int code = first; code <= last && next < keysyms.size(); ++code) {
    const KeySym* symbols = map.get() + (code - first) * perKey;
    bool free = true;
    for (int i = 0; i < perKey; ++i) free = free && symbols[i] == NoSymbol;
    if (!free) continue;
    KeySym both[2] = {keysyms[next], keysyms[next]};
    ++next;
    XChangeKeyboardMapping(display, code, 2, both, 1);
  }
  XSync(display, False);
  return next == keysyms.size();
}

}  // namespace window_testing
