// The X11 display: every model window is a real X window, made on a
// connection of our own through xcb (safe from any thread, unlike Xlib,
// which a library loaded late cannot initialise for threads). The model
// stays the source of truth: bounds, visibility and the tree are mirrored,
// and a window's surface reaches the server after each blit (MIT-SHM where
// the server offers it, else PutImage; only the rectangle that changed) and
// again, whole, on Expose. A thread reads
// the connection's events: Expose, the dialogs' keys and clicks, and the
// destruction of a window by its host (the window's owner then destroys it in the model).
// When the server goes away the connection turns inert: every request is
// dropped, the model goes on.
#include "ui/x11/x11.hpp"

#include "platform/platform.hpp"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace tovui::x11 {
namespace {

using detail::Native;
using detail::Window;

// X window coordinates are 16-bit, sizes at least 1.
int16_t coord(int32_t v) { return int16_t(std::clamp(v, -32768, 32767)); }
uint16_t side(int32_t v) { return uint16_t(std::clamp(v, 1, 32767)); }
bool shown(const Window& w) { return w.visible && w.bounds.width > 0 && w.bounds.height > 0; }

// Color (red in the low byte) to a 24-bit TrueColor pixel (red high).
uint32_t to_pixel(Color c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

// What a window's pixels need on the client side, made again only when its
// surface changes size. Guarded by the registry lock.
struct Pixels {
  int32_t width = 0, height = 0;
  // What the server's window shows, as far as we drew it (surface colours):
  // a blit sends only the rectangle that differs from it.
  std::vector<Color> shown;
  std::vector<uint32_t> staging;  // a PutImage's rows, packed
  // The MIT-SHM segment that mirrors the whole surface. After a put, the
  // server may read it until it has answered the request sent after it
  // (requests are handled in order): `pending` is that request's sequence.
  uint32_t seg = 0;
  uint32_t* shared = nullptr;
  unsigned int pending = 0;
  bool in_flight = false;
};

class Display final : public Native {
 public:
  Display(xcb_connection_t* c, xcb_screen_t* screen, bool shm) : c_(c), screen_(screen), shm_(shm) {
    gc_ = xcb_generate_id(c_);
    const uint32_t no_exposures = 0;
    xcb_create_gc(c_, gc_, screen_->root, XCB_GC_GRAPHICS_EXPOSURES, &no_exposures);
    // Whole requests: PutImage bands are cut to fit.
    max_request_bytes_ = std::min<uint64_t>(uint64_t(xcb_get_maximum_request_length(c_)) * 4, 1u << 22);
    xcb_flush(c_);
    std::thread([this] {
      tovarin::platform::use_default_float_environment();
      read_events();
    }).detach();
  }

  bool foreign(Handle window) override {
    if (window == 0 || lost()) return false;
    xcb_get_window_attributes_reply_t* r =
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr);
    std::free(r);
    return r != nullptr;
  }

  Handle foreign_parent(Handle window) override {
    if (window == 0 || lost()) return 0;
    xcb_query_tree_reply_t* r = xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr);
    if (!r) return 0;
    const Handle parent = r->parent == r->root ? 0 : r->parent;
    std::free(r);
    return parent;
  }

  Handle create(Handle parent, const Window& w) override {
    if (lost()) return 0;
    const xcb_window_t id = xcb_generate_id(c_);
    if (id == xcb_window_t(-1)) return 0;
    // The root's visual and colormap whatever the parent's, so that one
    // pixel format serves every window.
    const uint32_t values[] = {to_pixel(w.background), 0, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                               screen_->default_colormap};
    xcb_create_window(c_, screen_->root_depth, id, parent ? parent : screen_->root, coord(w.bounds.x),
                      coord(w.bounds.y), side(w.bounds.width), side(w.bounds.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen_->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_EVENT_MASK | XCB_CW_COLORMAP, values);
    if (shown(w)) xcb_map_window(c_, id);
    xcb_flush(c_);
    mine_.insert(id);
    return id;
  }

  void destroy(Handle window) override {
    if (mine_.erase(window) == 0) return;
    auto it = pixels_.find(window);
    if (it != pixels_.end()) {
      release(it->second);
      pixels_.erase(it);
    }
    xcb_destroy_window(c_, window);
    xcb_flush(c_);
  }

  void configure(const Window& w) override {
    if (!mine_.count(w.handle)) return;
    const uint32_t values[] = {uint32_t(coord(w.bounds.x)), uint32_t(coord(w.bounds.y)), side(w.bounds.width),
                               side(w.bounds.height)};
    xcb_configure_window(c_, w.handle,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                         values);
    map(w);
  }

  void map(const Window& w) override {
    if (!mine_.count(w.handle)) return;
    if (shown(w))
      xcb_map_window(c_, w.handle);
    else
      xcb_unmap_window(c_, w.handle);
    xcb_flush(c_);
  }

  void reparent(const Window& w) override {
    if (!mine_.count(w.handle)) return;
    xcb_reparent_window(c_, w.handle, w.parent ? w.parent : screen_->root, coord(w.bounds.x), coord(w.bounds.y));
    map(w);
  }

  void damage(const Window& w, const Rect& area) override { send(w, area, false); }

  bool show_box(Handle box, Handle owner, const std::string& text, const std::string& caption) override {
    if (lost()) return false;
    auto dialog = std::make_unique<Dialog>(c_, screen_, owner, text, caption);
    std::lock_guard lock(dialogs_mu_);
    if (!keys_ready_) keys_ = Dialog::find_keys(c_);
    keys_ready_ = true;
    dialogs_[box] = std::move(dialog);
    return true;
  }

  void end_box(Handle box) override {
    std::unique_ptr<Dialog> gone;
    std::lock_guard lock(dialogs_mu_);
    auto it = dialogs_.find(box);
    if (it == dialogs_.end()) return;
    gone = std::move(it->second);
    dialogs_.erase(it);
  }

 private:
  bool lost() const { return xcb_connection_has_error(c_) != 0; }

  // Sends the surface's pixels in `area` to the server: all of them when
  // `all` (the server lost them: Expose), else only the bounding rectangle
  // of those that differ from what the window shows, or nothing.
  void send(const Window& w, Rect area, bool all) {
    if (lost() || area.width <= 0 || area.height <= 0 || !mine_.count(w.handle)) return;
    Pixels& p = pixels_[w.handle];
    if (p.width != w.surface_w || p.height != w.surface_h) {
      // New buffers know nothing of what the window shows: all of it once.
      fit(p, w.surface_w, w.surface_h);
      area = Rect{0, 0, w.surface_w, w.surface_h};
      all = true;
      if (area.width <= 0 || area.height <= 0) return;
    }
    if (!(all ? refresh(w, p, area) : changes(w, p, area))) return;
    if (p.in_flight) {
      void* reply = nullptr;
      xcb_generic_error_t* error = nullptr;
      if (xcb_poll_for_reply(c_, p.pending, &reply, &error)) {
        p.in_flight = false;
        std::free(reply);
        std::free(error);
      }
    }
    if (p.shared && !p.in_flight) {
      for (int32_t y = area.y; y < area.y + area.height; ++y)
        convert(&p.shown[size_t(y) * p.width + area.x], area.width, p.shared + size_t(y) * p.width + area.x);
      // Until the server has answered the request after the put, the
      // segment is left alone and further puts go through the socket.
      xcb_shm_put_image(c_, w.handle, gc_, uint16_t(p.width), uint16_t(p.height), uint16_t(area.x), uint16_t(area.y),
                        uint16_t(area.width), uint16_t(area.height), int16_t(area.x), int16_t(area.y),
                        screen_->root_depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, p.seg, 0);
      p.pending = xcb_get_input_focus(c_).sequence;
      p.in_flight = true;
    } else {
      const uint64_t row_bytes = uint64_t(area.width) * 4;
      const int32_t band = int32_t(std::max<uint64_t>(1, (max_request_bytes_ - 64) / row_bytes));
      for (int32_t y0 = area.y; y0 < area.y + area.height; y0 += band) {
        const int32_t rows = std::min(band, area.y + area.height - y0);
        uint32_t* to = p.staging.data();
        for (int32_t y = y0; y < y0 + rows; ++y, to += area.width)
          convert(&p.shown[size_t(y) * p.width + area.x], area.width, to);
        xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, w.handle, gc_, uint16_t(area.width), uint16_t(rows),
                      int16_t(area.x), int16_t(y0), 0, screen_->root_depth, uint32_t(row_bytes * rows),
                      reinterpret_cast<const uint8_t*>(p.staging.data()));
      }
    }
    xcb_flush(c_);
  }

  static void convert(const Color* from, int32_t n, uint32_t* to) {
    for (int32_t x = 0; x < n; ++x) to[x] = to_pixel(from[x]);
  }

  // Copies `area` of the surface into p.shown, all of it to be sent.
  static bool refresh(const Window& w, Pixels& p, const Rect& area) {
    for (int32_t y = area.y; y < area.y + area.height; ++y)
      std::copy_n(&w.surface[size_t(y) * w.surface_w + area.x], area.width, &p.shown[size_t(y) * p.width + area.x]);
    return true;
  }

  // Brings p.shown up to date in `area` and narrows `area` to the bounding
  // rectangle of the pixels that changed; false when none did.
  static bool changes(const Window& w, Pixels& p, Rect& area) {
    int32_t x0 = area.x + area.width, x1 = area.x, y0 = -1, y1 = -1;
    for (int32_t y = area.y; y < area.y + area.height; ++y) {
      const Color* from = &w.surface[size_t(y) * w.surface_w];
      Color* to = &p.shown[size_t(y) * p.width];
      int32_t a = area.x, b = area.x + area.width;
      if (std::memcmp(from + a, to + a, size_t(b - a) * sizeof(Color)) == 0) continue;
      while (to[a] == from[a]) ++a;
      while (to[b - 1] == from[b - 1]) --b;
      std::copy(from + a, from + b, to + a);
      x0 = std::min(x0, a);
      x1 = std::max(x1, b);
      if (y0 < 0) y0 = y;
      y1 = y + 1;
    }
    if (y0 < 0) return false;
    area = Rect{x0, y0, x1 - x0, y1 - y0};
    return true;
  }

  // An event for a message box's dialog: true when it was one.
  bool dialog_event(const xcb_generic_event_t* e) {
    const uint8_t type = e->response_type & 0x7F;
    xcb_window_t window;
    if (type == XCB_EXPOSE)
      window = reinterpret_cast<const xcb_expose_event_t*>(e)->window;
    else if (type == XCB_KEY_PRESS || type == XCB_BUTTON_PRESS)
      window = reinterpret_cast<const xcb_key_press_event_t*>(e)->event;  // same layout for buttons
    else
      return false;
    std::lock_guard lock(dialogs_mu_);
    for (auto& [box, d] : dialogs_) {
      if (d->window() != window) continue;
      if (type == XCB_EXPOSE)
        d->paint();
      else if (d->closes(e, keys_))
        close_box(box);
      return true;
    }
    return false;
  }

  // Buffers for a surface of a new size (never per frame).
  void fit(Pixels& p, int32_t width, int32_t height) {
    release(p);
    p.width = width;
    p.height = height;
    const size_t bytes = size_t(width) * size_t(height) * 4;
    p.staging.assign(size_t(width) * size_t(height), 0);
    p.shown.assign(size_t(width) * size_t(height), 0);
    if (!shm_ || bytes == 0) return;
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) return;
    void* at = shmat(id, nullptr, 0);
    if (at != reinterpret_cast<void*>(-1)) {
      p.seg = xcb_generate_id(c_);
      xcb_generic_error_t* e = xcb_request_check(c_, xcb_shm_attach_checked(c_, p.seg, uint32_t(id), 0));
      if (e) {
        std::free(e);
        shmdt(at);
        p.seg = 0;
      } else {
        p.shared = static_cast<uint32_t*>(at);
      }
    }
    shmctl(id, IPC_RMID, nullptr);  // freed once both sides have let go
  }

  void release(Pixels& p) {
    if (p.in_flight) xcb_discard_reply(c_, p.pending);
    if (p.shared) {
      xcb_shm_detach(c_, p.seg);
      shmdt(p.shared);
    }
    p = Pixels{};
  }

  void read_events() {
    while (xcb_generic_event_t* e = xcb_wait_for_event(c_)) {
      const uint8_t type = e->response_type & 0x7F;
      if (dialog_event(e)) {
      } else if (type == XCB_EXPOSE) {
        auto* x = reinterpret_cast<xcb_expose_event_t*>(e);
        repaint(x->window, Rect{x->x, x->y, x->width, x->height});
      } else if (type == XCB_DESTROY_NOTIFY) {
        auto* d = reinterpret_cast<xcb_destroy_notify_event_t*>(e);
        if (d->window == d->event) gone(d->window);
      }
      std::free(e);
    }
    // The server went away: the connection drops every later request.
  }

  void repaint(Handle window, Rect area) {
    auto& r = detail::registry();
    std::lock_guard lock(r.mu);
    Window* w = r.find(window);
    if (!w) return;
    const int32_t x1 = std::min(area.x + area.width, w->surface_w);
    const int32_t y1 = std::min(area.y + area.height, w->surface_h);
    if (area.x >= x1 || area.y >= y1) return;  // only background there, which the server paints
    send(*w, Rect{area.x, area.y, x1 - area.x, y1 - area.y}, true);
  }

  // A window of ours destroyed by the server (with its host's window): its
  // owning thread destroys it in the model too.
  void gone(Handle window) {
    {
      auto& r = detail::registry();
      std::lock_guard lock(r.mu);
      Window* w = r.find(window);
      if (!w || w->destroying) return;
    }
    post_message(window, detail::kNativeGone, 0, 0);
  }

  xcb_connection_t* const c_;
  xcb_screen_t* const screen_;
  const bool shm_;
  xcb_gcontext_t gc_ = 0;
  uint64_t max_request_bytes_ = 0;
  // guarded by the registry lock
  std::unordered_set<Handle> mine_;  // windows made here (the model numbers the others itself)
  std::unordered_map<Handle, Pixels> pixels_;
  std::mutex dialogs_mu_;
  // guarded by dialogs_mu_
  std::map<Handle, std::unique_ptr<Dialog>> dialogs_;  // by box
  Dialog::Keys keys_;
  bool keys_ready_ = false;
};

// True when the screen's default visual is 24-bit TrueColor stored as 32-bit
// little-endian pixels: the one format this display writes.
bool usable(const xcb_setup_t* setup, const xcb_screen_t* screen) {
  if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
  bool bpp32 = false;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
    if (f.data->depth == screen->root_depth) bpp32 = f.data->bits_per_pixel == 32;
  if (!bpp32) return false;
  for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d))
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
      if (v.data->visual_id == screen->root_visual)
        return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xFF0000 &&
               v.data->green_mask == 0xFF00 && v.data->blue_mask == 0xFF;
  return false;
}

}  // namespace

detail::Native* open_display(std::string& why) {
  int screen_number = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screen_number);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    why = "cannot connect";
    return nullptr;
  }
  const xcb_setup_t* setup = xcb_get_setup(c);
  auto it = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screen_number && it.rem; ++i) xcb_screen_next(&it);
  if (!it.rem || !usable(setup, it.data)) {
    xcb_disconnect(c);
    why = "the screen is not 24-bit TrueColor";
    return nullptr;
  }
  // MIT-SHM only on a server that shares this machine's memory.
  bool shm = false;
  if (const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shm_id); ext && ext->present) {
    xcb_shm_query_version_reply_t* v = xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr);
    shm = v != nullptr && std::getenv("TOVUI_NO_SHM") == nullptr;
    std::free(v);
  }
  return new Display(c, it.data, shm);
}

}  // namespace tovui::x11
