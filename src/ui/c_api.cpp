// The C API for hosts (include/tovarin/ui.h): a thin layer on the C++ API,
// the same for every backend (on Windows the test host links it).
// No C++ exception leaves it: a failure answers 0.
#include <unistd.h>

#include <new>

#include "tovarin/ui.h"
#include "ui/ui.hpp"

using namespace tovui;

namespace {

template <class F>
auto guarded(F f) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (...) {
    return {};
  }
}

}  // namespace

extern "C" {

uint32_t tovui_create_window(uint32_t parent, int32_t x, int32_t y, int32_t width, int32_t height) {
  return guarded([&] { return create_window(parent, {x, y, width, height}); });
}

int tovui_destroy_window(uint32_t window) {
  return guarded([&] { return int(destroy_window(window)); });
}

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

int tovui_on_display(void) { return on_display() ? 1 : 0; }

int tovui_pump(int32_t timeout_ms) {
  return guarded([&] { return pump(timeout_ms); });
}

int tovui_event_fd(void) {
  return guarded([&] { return event_fd(); });
}

void tovui_set_presenter(tovui_presenter presenter, void* user) { set_presenter(presenter, user); }

int tovui_close_box(uint32_t box) { return close_box(box) ? 1 : 0; }

int tovui_compose(uint32_t window, uint32_t* pixels, int32_t width, int32_t height) {
  return guarded([&] { return int(compose_into(window, pixels, width, height)); });
}

int tovui_save_png(uint32_t window, const char* path) {
  if (!path) return 0;
  return guarded([&] { return int(save_png(window, path)); });
}

int tovui_write_ansi(uint32_t window, int fd, int32_t max_columns) {
  return guarded([&] {
    const std::string s = render_ansi(window, max_columns);
    if (s.empty()) return 0;
    for (size_t off = 0; off < s.size();) {
      const auto n = write(fd, s.data() + off, s.size() - off);
      if (n <= 0) return 0;
      off += size_t(n);
    }
    return 1;
  });
}

#define TOVUI_TEXT(x) #x
#define TOVUI_VERSION_TEXT(major, minor, patch) TOVUI_TEXT(major) "." TOVUI_TEXT(minor) "." TOVUI_TEXT(patch)

uint32_t tovui_version(void) { return TOVARIN_VERSION; }

const char* tovui_version_string(void) {
  return TOVUI_VERSION_TEXT(TOVARIN_VERSION_MAJOR, TOVARIN_VERSION_MINOR, TOVARIN_VERSION_PATCH);
}

}  // extern "C"
