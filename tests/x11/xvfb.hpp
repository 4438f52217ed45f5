// An Xvfb of a test's own, and a host's side of the X protocol: a window
// of its own and what the server says of windows and their pixels.
#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <string>
#include <vector>

class Xvfb {
 public:
  // Starts a server on a free display and points DISPLAY at it; false (with
  // the reason) when Xvfb cannot start within a few seconds.
  bool Start(std::string& why);
  void Kill();  // the server goes away at once
  ~Xvfb() { Kill(); }

 private:
  pid_t pid_ = -1;
};

struct WindowInfo {
  int32_t x = 0, y = 0, width = 0, height = 0;
  bool viewable = false;
};

class XHost {
 public:
  bool Connect();  // to DISPLAY
  ~XHost();
  // A mapped top-level window, the host's, that the plug-in may be lent.
  uint32_t MakeWindow(int width, int height);
  std::vector<uint32_t> Children(uint32_t window);
  WindowInfo Info(uint32_t window);
  // The window's pixels as 0x00RRGGBB words, row by row (empty on failure).
  std::vector<uint32_t> Pixels(uint32_t window, int width, int height);
  void Destroy(uint32_t window);
  uint32_t Root() const { return screen_->root; }
  // A property's bytes (a STRING), or its first word (a WINDOW).
  std::string Text(uint32_t window, uint32_t property);
  uint32_t Word(uint32_t window, uint32_t property);
  xcb_connection_t* connection() { return c_; }

 private:
  xcb_connection_t* c_ = nullptr;
  xcb_screen_t* screen_ = nullptr;
};
