// The X11 display of the window system (see Native in ui/model/internal.hpp).
#pragma once

#include <string>

#include "ui/model/internal.hpp"

namespace tovui::x11 {

// Connects to the display named by DISPLAY with a connection of our own
// (never the host's) and starts the thread that reads its events. Null, with
// the reason in `why`, when no usable display answers. Lives as long as the
// process.
detail::Native* open_display(std::string& why);

}  // namespace tovui::x11
