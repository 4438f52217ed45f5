// The X11 display of the window system (see Native in ui/model/internal.hpp).
#pragma once

#include <xcb/xcb.h>

#include <string>
#include <vector>

#include "ui/model/internal.hpp"

namespace tovui::x11 {

// Connects to the display named by DISPLAY with a connection of our own
// (never the host's) and starts the thread that reads its events. Null, with
// the reason in `why`, when no usable display answers. Lives as long as the
// process.
detail::Native* open_display(std::string& why);

// A message box's dialog: a small top-level window, transient for the
// owner's top-level window, with the caption as its title, the text, and an
// OK button, drawn with the server's "fixed" font. Made and painted from any
// thread (xcb); the display's event thread hands it its events.
class Dialog {
 public:
  struct Keys {  // keycodes that close a box
    std::vector<xcb_keycode_t> codes;
  };
  Dialog(xcb_connection_t* c, xcb_screen_t* screen, xcb_window_t transient_for, const std::string& text,
         const std::string& caption);
  ~Dialog();  // takes the window down
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  xcb_window_t window() const { return window_; }
  void paint();
  // True for a key (Enter, Escape) or a click on OK that closes the box.
  bool closes(const xcb_generic_event_t* e, const Keys& keys) const;
  // The keycodes of Return, KP_Enter and Escape on this server.
  static Keys find_keys(xcb_connection_t* c);

 private:
  xcb_connection_t* c_;
  xcb_window_t window_ = 0;
  xcb_gcontext_t gc_ = 0;
  xcb_font_t font_ = 0;
  std::vector<std::string> lines_;
  int width_ = 0, height_ = 0;
  int button_x_ = 0, button_y_ = 0;
};

}  // namespace tovui::x11
