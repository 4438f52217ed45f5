// The window system's C API (include/tovarin/ui.h) for the Windows test
// host, over the Windows backend: the plug-in tests drive real user32
// windows through the same calls they use on Linux. Windows made here are
// the host's: a top-level one is a borderless pop-up at the given place.
#include "tovarin/ui.h"

#include <algorithm>
#include <vector>

#include "ui/win32/win32.hpp"

using namespace tovui;

extern "C" {

uint32_t tovui_create_window(uint32_t parent, int32_t x, int32_t y, int32_t width, int32_t height) {
  return create_window(parent, {x, y, width, height});
}

int tovui_destroy_window(uint32_t window) { return destroy_window(window) ? 1 : 0; }

uint32_t tovui_get_parent(uint32_t window) { return get_parent(window); }

uint32_t tovui_child(uint32_t window, int32_t index) { return child(window, index); }

int tovui_get_rect(uint32_t window, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  Rect r;
  if (!get_window_rect(window, r)) return 0;
  if (x) *x = r.x;
  if (y) *y = r.y;
  if (width) *width = r.width;
  if (height) *height = r.height;
  return 1;
}

int tovui_is_visible(uint32_t window) { return is_visible(window) ? 1 : 0; }

int tovui_pump(int32_t timeout_ms) { return pump(timeout_ms); }

int tovui_event_fd(void) { return -1; }

void tovui_set_presenter(tovui_presenter presenter, void* user) { set_presenter(presenter, user); }

int tovui_close_box(uint32_t box) { return close_box(box) ? 1 : 0; }

// What the window shows on the screen, read back through GDI; parts of the
// buffer beyond the window stay as they were.
int tovui_compose(uint32_t window, uint32_t* pixels, int32_t width, int32_t height) {
  if (!pixels || width < 0 || height < 0) return 0;
  std::vector<uint32_t> shot;
  int32_t w = 0, h = 0;
  if (!compose(window, shot, w, h)) return 0;
  for (int32_t y = 0; y < std::min(h, height); ++y)
    std::copy_n(&shot[size_t(y) * w], std::min(w, width), &pixels[size_t(y) * width]);
  return 1;
}

}  // extern "C"
