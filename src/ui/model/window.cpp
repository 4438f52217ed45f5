// Windows: the registry, the tree, bounds, visibility, procedures, surfaces.
#include <algorithm>
#include <cstring>

#include "ui/model/internal.hpp"

namespace tovui {
namespace detail {

Registry& registry() {
  static Registry* r = new Registry;  // leaked on purpose: see the header
  return *r;
}

Handle next_handle() {
  static std::atomic<Handle> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

namespace {

int32_t clamp_size(int32_t v) { return v < 0 ? 0 : v; }

// Resizes the client surface to the window's bounds, keeping what overlaps
// and filling the rest with the background.
void fit_surface(Window& w) {
  const int32_t nw = std::min(w.bounds.width, kMaxSurface);
  const int32_t nh = std::min(w.bounds.height, kMaxSurface);
  if (nw == w.surface_w && nh == w.surface_h) return;
  std::vector<Color> next(size_t(nw) * size_t(nh), w.background);
  const int32_t cw = std::min(nw, w.surface_w), ch = std::min(nh, w.surface_h);
  for (int32_t y = 0; cw > 0 && y < ch; ++y)
    std::memcpy(&next[size_t(y) * nw], &w.surface[size_t(y) * w.surface_w], size_t(cw) * sizeof(Color));
  w.surface.swap(next);
  w.surface_w = nw;
  w.surface_h = nh;
}

bool is_descendant_or_self(Registry& r, Handle candidate, Handle root) {
  for (Handle h = candidate; h != 0;) {
    if (h == root) return true;
    Window* w = r.find(h);
    h = w ? w->parent : 0;
  }
  return false;
}

bool is_model_window(Handle window) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  return r.find(window) != nullptr;
}

void detach(Registry& r, Window& w) {
  if (Window* p = r.find(w.parent)) {
    auto& c = p->children;
    c.erase(std::remove(c.begin(), c.end(), w.handle), c.end());
  }
  w.parent = 0;
}

// Destroys one window after its children: WM_DESTROY while it is still a
// window, then gone. A dying window takes no new children, so none can be
// left behind.
void destroy_tree(Handle h) {
  auto& r = registry();
  for (;;) {
    std::vector<Handle> kids;
    {
      std::lock_guard lock(r.mu);
      Window* w = r.find(h);
      if (!w) return;
      for (Handle c : w->children) {
        Window* cw = r.find(c);
        if (cw && !cw->destroying) {
          cw->destroying = true;
          kids.push_back(c);
        }
      }
    }
    if (kids.empty()) break;
    for (Handle c : kids) destroy_tree(c);
  }
  deliver(h, WM_DESTROY, 0, 0);
  std::shared_ptr<ThreadQueue> owner;
  std::unique_ptr<Window> gone;  // freed outside the lock
  {
    std::lock_guard lock(r.mu);
    Window* w = r.find(h);
    if (!w) return;
    damage_in_parent_locked(r, *w);
    detach(r, *w);
    owner = w->owner;
    auto it = r.windows.find(h);
    gone = std::move(it->second);
    r.windows.erase(it);
    if (Native* n = native()) n->destroy(h);
  }
  if (owner) owner->kill_timers(h);
}

}  // namespace

bool deliver(Handle window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (msg == kNativeGone) return destroy_window(window);
  if (msg == kDamage) {
    deliver_damage(window);
    return true;
  }
  std::shared_ptr<const WindowProc> proc;
  {
    auto& r = registry();
    std::lock_guard lock(r.mu);
    Window* w = r.find(window);
    if (!w) return false;
    proc = w->proc;
  }
  if (proc && *proc) (*proc)(window, msg, wparam, lparam);
  return true;
}

std::shared_ptr<ThreadQueue> queue_of(Handle window) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  return w ? w->owner : nullptr;
}

}  // namespace detail

using namespace detail;

Handle create_window(Handle parent, Rect bounds, WindowProc proc, Color background) {
  auto owner = this_thread_queue();
  auto w = std::make_unique<Window>();
  w->bounds = {bounds.x, bounds.y, clamp_size(bounds.width), clamp_size(bounds.height)};
  w->owner_id = std::this_thread::get_id();
  w->owner = std::move(owner);
  if (proc) w->proc = std::make_shared<const WindowProc>(std::move(proc));
  w->background = background & 0xFFFFFF;
  fit_surface(*w);
  Native* n = native();
  // A parent that the model does not know may be another program's window.
  const bool lent = parent != 0 && !is_model_window(parent) && n && n->foreign(parent);
  auto& r = registry();
  std::unique_lock lock(r.mu);
  Window* p = nullptr;
  if (parent != 0 && !lent) {
    p = r.find(parent);
    if (!p || p->destroying) return 0;
  }
  w->parent = parent;
  Handle h = n ? n->create(parent, *w) : 0;
  if (h == 0) h = next_handle();
  w->handle = h;
  if (p) p->children.push_back(h);
  r.windows.emplace(h, std::move(w));
  const Window& made = *r.find(h);
  damage_in_parent_locked(r, made);
  auto queue = made.owner;
  lock.unlock();
  attach_host_loop(queue);
  return h;
}

bool destroy_window(Handle window) {
  auto& r = registry();
  {
    std::lock_guard lock(r.mu);
    Window* w = r.find(window);
    // Like the desktop platform: only the owning thread destroys a window,
    // and a window that is already going cannot be destroyed again.
    if (!w || w->destroying || w->owner_id != std::this_thread::get_id()) return false;
    w->destroying = true;
  }
  destroy_tree(window);
  return true;
}

bool is_window(Handle window) {
  if (is_model_window(window)) return true;
  Native* n = native();
  return window != 0 && n && n->foreign(window);
}

Handle get_parent(Handle window) {
  {
    auto& r = registry();
    std::lock_guard lock(r.mu);
    if (Window* w = r.find(window)) return w->parent;
  }
  Native* n = native();
  return window != 0 && n ? n->foreign_parent(window) : 0;
}

Handle set_parent(Handle window, Handle new_parent) {
  Native* n = native();
  const bool lent = new_parent != 0 && !is_model_window(new_parent) && n && n->foreign(new_parent);
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  if (!w || w->destroying) return 0;
  Window* p = nullptr;
  if (new_parent != 0 && !lent) {
    p = r.find(new_parent);
    if (!p || p->destroying || is_descendant_or_self(r, new_parent, window)) return 0;
  }
  const Handle previous = w->parent;
  damage_in_parent_locked(r, *w);
  detach(r, *w);
  w->parent = new_parent;
  if (p) p->children.push_back(window);
  damage_in_parent_locked(r, *w);
  if (n) n->reparent(*w);
  return previous;
}

Handle child(Handle window, int32_t index) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  if (!w || index < 0 || size_t(index) >= w->children.size()) return 0;
  return w->children[size_t(index)];
}

bool set_window_pos(Handle window, Rect bounds) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  if (!w) return false;
  const Rect next{bounds.x, bounds.y, clamp_size(bounds.width), clamp_size(bounds.height)};
  const Rect& was = w->bounds;
  const bool changed = next.x != was.x || next.y != was.y || next.width != was.width || next.height != was.height;
  if (changed) damage_in_parent_locked(r, *w);
  w->bounds = next;
  fit_surface(*w);
  if (changed) {
    damage_in_parent_locked(r, *w);
    // A watched window that grew needs painting where it grew.
    if (w->watch) damage_locked(r, *w, 0, 0, next.width, next.height);
  }
  if (Native* n = native()) n->configure(*w);
  return true;
}

bool get_window_rect(Handle window, Rect& bounds) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  if (!w) return false;
  bounds = w->bounds;
  return true;
}

bool show_window(Handle window, bool show) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  if (!w) return false;
  if (w->visible != show) {
    w->visible = true;  // what it covers changes either way
    damage_in_parent_locked(r, *w);
  }
  w->visible = show;
  if (Native* n = native()) n->map(*w);
  return true;
}

bool is_visible(Handle window) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  return w && w->visible;
}

bool set_window_proc(Handle window, WindowProc proc) {
  auto next = proc ? std::make_shared<const WindowProc>(std::move(proc)) : nullptr;
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  if (!w) return false;
  w->proc = std::move(next);
  return true;
}

Color background(Handle window) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  return w ? w->background : 0;
}

bool post_message(Handle window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  auto q = queue_of(window);
  return q && q->post(window, msg, wparam, lparam);
}

bool set_timer(Handle window, uintptr_t id, uint32_t interval_ms) {
  auto q = queue_of(window);
  return q && q->set_timer(window, id, interval_ms);
}

bool kill_timer(Handle window, uintptr_t id) {
  auto q = queue_of(window);
  return q && q->kill_timer(window, id);
}

bool blit(Handle window, int32_t dx, int32_t dy, int32_t w, int32_t h, const Bitmap& src, int32_t sx, int32_t sy,
          const Rect* clip) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* win = r.find(window);
  if (!win) return false;
  // The destination area, in 64 bits so that no sum overflows, clipped to
  // the client area (its stored part), to `clip`, and to where the source is.
  int64_t x0 = dx, y0 = dy, x1 = int64_t(dx) + std::max(w, 0), y1 = int64_t(dy) + std::max(h, 0);
  x0 = std::max<int64_t>(x0, 0);
  y0 = std::max<int64_t>(y0, 0);
  x1 = std::min<int64_t>(x1, win->surface_w);
  y1 = std::min<int64_t>(y1, win->surface_h);
  if (clip) {
    x0 = std::max<int64_t>(x0, clip->x);
    y0 = std::max<int64_t>(y0, clip->y);
    x1 = std::min<int64_t>(x1, int64_t(clip->x) + std::max(clip->width, 0));
    y1 = std::min<int64_t>(y1, int64_t(clip->y) + std::max(clip->height, 0));
  }
  const int64_t ox = int64_t(sx) - dx, oy = int64_t(sy) - dy;  // source = destination + offset
  x0 = std::max<int64_t>(x0, -ox);
  y0 = std::max<int64_t>(y0, -oy);
  x1 = std::min<int64_t>(x1, src.width() - ox);
  y1 = std::min<int64_t>(y1, src.height() - oy);
  if (x0 >= x1 || y0 >= y1) return true;
  const auto& sp = src.pixels();
  // Rows that come out the same are no change: a display redrawing the
  // same frame costs a watcher nothing.
  int64_t changed0 = y1, changed1 = y0;
  const size_t row_bytes = size_t(x1 - x0) * sizeof(Color);
  for (int64_t y = y0; y < y1; ++y) {
    Color* to = &win->surface[size_t(y * win->surface_w + x0)];
    const Color* from = &sp[size_t((y + oy) * src.width() + x0 + ox)];
    if (std::memcmp(to, from, row_bytes) == 0) continue;
    std::memcpy(to, from, row_bytes);
    changed0 = std::min(changed0, y);
    changed1 = y + 1;
  }
  if (changed0 < changed1) damage_locked(r, *win, x0, changed0, x1, changed1);
  if (Native* n = native()) n->damage(*win, Rect{int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)});
  return true;
}

bool read_surface(Handle window, std::vector<Color>& pixels, int32_t& width, int32_t& height) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  if (!w) return false;
  pixels = w->surface;
  width = w->surface_w;
  height = w->surface_h;
  return true;
}

}  // namespace tovui
