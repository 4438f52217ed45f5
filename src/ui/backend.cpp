// Which display shows the windows, chosen once per process: the X server
// named by DISPLAY when a connection to it opens, else none (the model alone,
// as in tests and on servers). TOVUI_BACKEND=model or x11 forces the choice.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ui/model/internal.hpp"
#include "ui/x11/x11.hpp"

namespace tovui::detail {

Native* native() {
  static Native* chosen = nullptr;  // lives as long as the process, like the registry
  static std::once_flag once;
  std::call_once(once, [] {
    const char* forced = std::getenv("TOVUI_BACKEND");
    if (forced && std::strcmp(forced, "model") == 0) return;
    const bool want_x11 = forced && std::strcmp(forced, "x11") == 0;
    const char* display = std::getenv("DISPLAY");
    if (!want_x11 && (!display || !*display)) return;
    std::string why;
    chosen = x11::open_display(why);
    if (!chosen && want_x11) std::fprintf(stderr, "tovui: no X11 display (%s): windows stay off screen\n", why.c_str());
  });
  return chosen;
}

}  // namespace tovui::detail

// What the C API asks of the Linux backend (win32/window.cpp answers the same on Windows).
namespace tovui {

bool on_display() { return detail::native() != nullptr; }

bool compose_into(Handle window, uint32_t* rgb, int32_t width, int32_t height) {
  return detail::compose_into(window, rgb, width, height, detail::PixelFormat::kRgb);
}

}  // namespace tovui
