// Message boxes on X11: a dialog window with the text and an OK button.
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "ui/x11/x11.hpp"

namespace tovui::x11 {
namespace {

// The "fixed" font every server has: 6 x 13 pixels a character.
constexpr int kCharW = 6, kLineH = 15, kMargin = 16, kButtonW = 64, kButtonH = 24, kWrap = 80;

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
  const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
  std::free(r);
  return a;
}

// The text's lines, long ones broken at the last space within kWrap
// characters (or at kWrap when there is none).
std::vector<std::string> wrap(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    while (line.size() > size_t(kWrap)) {
      size_t cut = line.rfind(' ', kWrap);
      if (cut == std::string::npos || cut == 0) cut = kWrap;
      lines.push_back(line.substr(0, cut));
      line.erase(0, line[cut] == ' ' ? cut + 1 : cut);
    }
    lines.push_back(line);
    if (end >= text.size()) break;
    start = end + 1;
  }
  return lines;
}

// The owner's top-level window: its ancestor just below the root.
xcb_window_t top_level(xcb_connection_t* c, xcb_window_t w) {
  for (int depth = 0; w != 0 && depth < 64; ++depth) {
    auto* r = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
    if (!r) return 0;
    const bool top = r->parent == r->root;
    const xcb_window_t parent = r->parent;
    std::free(r);
    if (top) return w;
    w = parent;
  }
  return 0;
}

}  // namespace

Dialog::Dialog(xcb_connection_t* c, xcb_screen_t* screen, xcb_window_t owner, const std::string& text,
               const std::string& caption)
    : c_(c), lines_(wrap(text)) {
  size_t longest = 0;
  for (const auto& l : lines_) longest = std::max(longest, l.size());
  width_ = std::max(int(longest) * kCharW + 2 * kMargin, 200);
  height_ = int(lines_.size()) * kLineH + 3 * kMargin + kButtonH;
  button_x_ = (width_ - kButtonW) / 2;
  button_y_ = height_ - kMargin - kButtonH;
  // Centred over the owner's top-level window, else over the screen.
  const xcb_window_t transient_for = owner ? top_level(c, owner) : 0;
  int x = (screen->width_in_pixels - width_) / 2, y = (screen->height_in_pixels - height_) / 2;
  if (transient_for) {
    auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, transient_for), nullptr);
    auto* t =
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, transient_for, screen->root, 0, 0), nullptr);
    if (g && t) {
      x = t->dst_x + (g->width - width_) / 2;
      y = t->dst_y + (g->height - height_) / 2;
    }
    std::free(g);
    std::free(t);
  }
  window_ = xcb_generate_id(c);
  const uint32_t values[] = {0xF0F0F0, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS |
                                           XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, screen->root, int16_t(std::max(x, 0)), int16_t(std::max(y, 0)),
                    uint16_t(width_), uint16_t(height_), 1, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                    XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
  // What a window manager needs to treat it as a modal dialog of the owner.
  const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, uint32_t(caption.size()),
                      caption.data());
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, atom(c, "_NET_WM_NAME"), utf8, 8, uint32_t(caption.size()),
                      caption.data());
  if (transient_for)
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1,
                        &transient_for);
  const xcb_atom_t type = atom(c, "_NET_WM_WINDOW_TYPE_DIALOG"), modal = atom(c, "_NET_WM_STATE_MODAL");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, atom(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &type);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window_, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 1, &modal);
  font_ = xcb_generate_id(c);
  xcb_open_font(c, font_, 5, "fixed");
  gc_ = xcb_generate_id(c);
  const uint32_t gc_values[] = {screen->black_pixel, 0xF0F0F0, font_};
  xcb_create_gc(c, gc_, window_, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT, gc_values);
  xcb_map_window(c, window_);
  // Keys go to the box (a window manager would give it the focus itself).
  xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, window_, XCB_CURRENT_TIME);
  xcb_flush(c);
}

Dialog::~Dialog() {
  xcb_free_gc(c_, gc_);
  xcb_close_font(c_, font_);
  xcb_destroy_window(c_, window_);
  xcb_flush(c_);
}

void Dialog::paint() {
  for (size_t i = 0; i < lines_.size(); ++i)
    xcb_image_text_8(c_, uint8_t(std::min<size_t>(lines_[i].size(), 255)), window_, gc_, kMargin,
                     int16_t(kMargin + 11 + int(i) * kLineH), lines_[i].c_str());
  const xcb_rectangle_t button{int16_t(button_x_), int16_t(button_y_), kButtonW, kButtonH};
  xcb_poly_rectangle(c_, window_, gc_, 1, &button);
  xcb_image_text_8(c_, 2, window_, gc_, int16_t(button_x_ + (kButtonW - 2 * kCharW) / 2),
                   int16_t(button_y_ + kButtonH / 2 + 4), "OK");
  xcb_flush(c_);
}

bool Dialog::closes(const xcb_generic_event_t* e, const Keys& keys) const {
  const uint8_t type = e->response_type & 0x7F;
  if (type == XCB_KEY_PRESS) {
    auto* k = reinterpret_cast<const xcb_key_press_event_t*>(e);
    return std::find(keys.codes.begin(), keys.codes.end(), k->detail) != keys.codes.end();
  }
  if (type == XCB_BUTTON_PRESS) {
    auto* b = reinterpret_cast<const xcb_button_press_event_t*>(e);
    return b->detail == 1 && b->event_x >= button_x_ && b->event_x < button_x_ + kButtonW && b->event_y >= button_y_ &&
           b->event_y < button_y_ + kButtonH;
  }
  return false;
}

Dialog::Keys Dialog::find_keys(xcb_connection_t* c) {
  Keys keys;
  const xcb_setup_t* setup = xcb_get_setup(c);
  const uint8_t first = setup->min_keycode, count = uint8_t(setup->max_keycode - first + 1);
  auto* r = xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, count), nullptr);
  if (!r) return keys;
  const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(r);
  for (int i = 0; i < count; ++i)
    for (int j = 0; j < r->keysyms_per_keycode; ++j) {
      const xcb_keysym_t s = syms[i * r->keysyms_per_keycode + j];
      if (s == 0xFF0D || s == 0xFF8D || s == 0xFF1B)  // Return, KP_Enter, Escape
        keys.codes.push_back(xcb_keycode_t(first + i));
    }
  std::free(r);
  return keys;
}

}  // namespace tovui::x11
