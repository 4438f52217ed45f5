// Damage: telling a host that paints a window itself (the pull path) when
// and where the window's pixels changed, so that it composes only then.
//
// Every change that shows (a blit that altered pixels, a visible window
// made, shown, hidden, moved or destroyed) is carried up the tree to each
// watched window it shows through, clipped on the way; hidden windows stop
// it. A watched window collects the changes in one rectangle and posts
// itself one kDamage message; the owner thread's pump (tovui_pump, or the
// host's GLib source) delivers it and calls the watcher with the rectangle.
// So the watcher runs on the host's thread, at most once per pump, and
// never while nothing changes.
#include <algorithm>

#include "ui/model/internal.hpp"

namespace tovui {
namespace detail {

void damage_locked(Registry& r, const Window& w, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  for (const Window* cur = &w;;) {
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, cur->bounds.width);
    y1 = std::min<int64_t>(y1, cur->bounds.height);
    if (x0 >= x1 || y0 >= y1) return;
    if (DamageWatch* d = cur->watch.get()) {
      const bool empty = d->x0 >= d->x1 || d->y0 >= d->y1;
      d->x0 = empty ? x0 : std::min(d->x0, x0);
      d->y0 = empty ? y0 : std::min(d->y0, y0);
      d->x1 = empty ? x1 : std::max(d->x1, x1);
      d->y1 = empty ? y1 : std::max(d->y1, y1);
      if (!d->queued && cur->owner) d->queued = cur->owner->post(cur->handle, kDamage, 0, 0);
    }
    // A window that is not shown takes its changes no further.
    if (!cur->visible) return;
    const Window* parent = r.find(cur->parent);
    if (!parent) return;
    x0 += cur->bounds.x;
    x1 += cur->bounds.x;
    y0 += cur->bounds.y;
    y1 += cur->bounds.y;
    cur = parent;
  }
}

void damage_in_parent_locked(Registry& r, const Window& w) {
  if (!w.visible) return;
  if (const Window* parent = r.find(w.parent))
    damage_locked(r, *parent, w.bounds.x, w.bounds.y, int64_t(w.bounds.x) + w.bounds.width,
                  int64_t(w.bounds.y) + w.bounds.height);
}

void deliver_damage(Handle window) {
  DamageWatch taken;
  {
    auto& r = registry();
    std::lock_guard lock(r.mu);
    Window* w = r.find(window);
    if (!w || !w->watch) return;
    DamageWatch& d = *w->watch;
    taken = d;
    d.x0 = d.y0 = d.x1 = d.y1 = 0;
    d.queued = false;
  }
  if (taken.x0 < taken.x1 && taken.y0 < taken.y1)
    taken.callback(taken.user, window, int32_t(taken.x0), int32_t(taken.y0), int32_t(taken.x1 - taken.x0),
                   int32_t(taken.y1 - taken.y0));
}

bool watch_damage(Handle window, DamageCallback callback, void* user) {
  auto& r = registry();
  std::lock_guard lock(r.mu);
  Window* w = r.find(window);
  if (!w || w->destroying) return false;
  if (!callback) {
    w->watch.reset();
    return true;
  }
  w->watch = std::make_unique<DamageWatch>();
  w->watch->callback = callback;
  w->watch->user = user;
  // The first call paints the whole window.
  damage_locked(r, *w, 0, 0, w->bounds.width, w->bounds.height);
  return true;
}

bool render(Handle window, void* pixels, int32_t stride_bytes, int32_t width, int32_t height) {
  if (stride_bytes <= 0 || stride_bytes % 4 != 0) return false;
  return compose_into(window, static_cast<Color*>(pixels), width, height, PixelFormat::kOpaque, stride_bytes / 4);
}

}  // namespace detail
}  // namespace tovui
