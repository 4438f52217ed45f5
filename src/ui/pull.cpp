// The pull path's C API (include/tovarin/ui.h): a host paints a window of
// the in-memory window system itself, told by damage when to.
#include "tovarin/ui.h"
#include "ui/model/internal.hpp"
#include "ui/wayland/client.hpp"

extern "C" {

int tovui_render(uint32_t window, void* pixels, int32_t stride, int32_t width, int32_t height) {
  try {
    return tovui::detail::render(window, pixels, stride, width, height) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int tovui_watch_damage(uint32_t window, tovui_damage_callback callback, void* user) {
  try {
    return tovui::detail::watch_damage(window, callback, user) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int tovui_set_rect(uint32_t window, int32_t x, int32_t y, int32_t width, int32_t height) {
  try {
    if (!tovui::set_window_pos(window, {x, y, width, height})) return 0;
    tovui::wayland::placed(window);
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
