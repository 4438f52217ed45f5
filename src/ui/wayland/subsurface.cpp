// The form in a Wayland host's own surface: a desynchronised subsurface of
// it, painted from the window system's pixels whenever they change.
//
// tovui_wayland_window makes an in-memory top-level window standing for the
// host's area (its bounds are the area in the host's surface) and watches
// it for damage, as any host of the pull path would. On each change, on the
// host's thread, the visible children (the plug-in's form) are rendered into
// a wl_shm buffer of our own and committed to a subsurface placed over them.
// Everything we send goes through our own event queue on the host's
// connection (a proxy wrapper of its wl_display): we never dispatch the
// host's queue and never commit its surface. Position changes take effect
// when the host next commits its surface, as for every subsurface.
#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tovarin/ui.h"
#include "ui/model/internal.hpp"
#include "ui/wayland/client.hpp"

namespace tovui::wayland {

const Client* client() {
  static const Client* loaded = []() -> const Client* {
    void* lib = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (!lib) lib = dlopen("libwayland-client.so.0", RTLD_NOW);
    if (!lib) return nullptr;
    static Client c;
    bool ok = true;
    auto get = [&](auto& slot, const char* name) {
      void* s = dlsym(lib, name);
      ok = ok && s;
      slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(s);
    };
    get(c.marshal_flags, "wl_proxy_marshal_flags");
    get(c.add_listener, "wl_proxy_add_listener");
    get(c.create_wrapper, "wl_proxy_create_wrapper");
    get(c.wrapper_destroy, "wl_proxy_wrapper_destroy");
    get(c.set_queue, "wl_proxy_set_queue");
    get(c.get_version, "wl_proxy_get_version");
    get(c.proxy_destroy, "wl_proxy_destroy");
    get(c.create_queue, "wl_display_create_queue");
    get(c.queue_destroy, "wl_event_queue_destroy");
    get(c.roundtrip_queue, "wl_display_roundtrip_queue");
    get(c.dispatch_queue_pending, "wl_display_dispatch_queue_pending");
    get(c.flush, "wl_display_flush");
    get(c.registry, "wl_registry_interface");
    get(c.compositor, "wl_compositor_interface");
    get(c.subcompositor, "wl_subcompositor_interface");
    get(c.subsurface, "wl_subsurface_interface");
    get(c.surface, "wl_surface_interface");
    get(c.region, "wl_region_interface");
    get(c.shm, "wl_shm_interface");
    get(c.shm_pool, "wl_shm_pool_interface");
    get(c.buffer, "wl_buffer_interface");
    get(c.callback, "wl_callback_interface");
    return ok ? &c : nullptr;
  }();
  return loaded;
}

namespace {

// An interface's name is the first member of libwayland's struct wl_interface.
const char* name_of(const Interface* i) { return *reinterpret_cast<const char* const*>(i); }

// One wl_shm buffer with its own memory.
struct Buffer {
  Proxy* proxy = nullptr;
  uint32_t* pixels = nullptr;
  size_t bytes = 0;
  int32_t width = 0, height = 0;
  bool busy = false;  // the compositor holds it until it releases it
};

class View {
 public:
  View(Proxy* display, Proxy* parent) : wl_(*client()), display_(display), parent_(parent) {}
  ~View() { Release(); }

  // Binds the globals and makes the subsurface. False when the compositor
  // lacks one of them.
  bool Connect() {
    queue_ = wl_.create_queue(display_);
    wrapper_ = static_cast<Proxy*>(wl_.create_wrapper(display_));
    if (!queue_ || !wrapper_) return false;
    wl_.set_queue(wrapper_, queue_);
    registry_ = wl_.marshal_flags(wrapper_, kDisplayGetRegistry, wl_.registry, wl_.get_version(wrapper_), 0, nullptr);
    static void (*listener[])(void) = {reinterpret_cast<void (*)()>(&View::Global),
                                       reinterpret_cast<void (*)()>(&View::GlobalRemove)};
    wl_.add_listener(registry_, listener, this);
    wl_.roundtrip_queue(display_, queue_);
    if (!compositor_ || !subcompositor_ || !shm_) return false;
    surface_ =
        wl_.marshal_flags(compositor_, kCompositorCreateSurface, wl_.surface, wl_.get_version(compositor_), 0, nullptr);
    subsurface_ = wl_.marshal_flags(subcompositor_, kSubcompositorGetSubsurface, wl_.subsurface,
                                    wl_.get_version(subcompositor_), 0, nullptr, surface_, parent_);
    // The host keeps every click: the pointer goes through us to its surface.
    Proxy* empty =
        wl_.marshal_flags(compositor_, kCompositorCreateRegion, wl_.region, wl_.get_version(compositor_), 0, nullptr);
    wl_.marshal_flags(surface_, kSurfaceSetInputRegion, nullptr, wl_.get_version(surface_), 0, empty);
    wl_.marshal_flags(empty, kRegionDestroy, nullptr, wl_.get_version(empty), kMarshalDestroy);
    wl_.marshal_flags(subsurface_, kSubsurfaceSetDesync, nullptr, wl_.get_version(subsurface_), 0);
    wl_.flush(display_);
    return true;
  }

  void SetScale(int32_t scale) {
    if (scale < 1 || scale == scale_) return;
    scale_ = scale;
    DropBuffers();
  }

  // Shows what the window holds now: its visible children, over their
  // bounding box, or nothing when none is visible.
  void Update(Handle window) {
    if (!surface_) return;
    wl_.dispatch_queue_pending(display_, queue_);  // buffer releases
    Rect area, shown;
    if (!get_window_rect(window, area)) return;
    bool any = false;
    for (int32_t i = 0;; ++i) {
      const Handle c = child(window, i);
      if (!c) break;
      Rect b;
      if (!is_visible(c) || !get_window_rect(c, b) || b.width <= 0 || b.height <= 0) continue;
      const int32_t x0 = std::max(b.x, 0), y0 = std::max(b.y, 0);
      const int32_t x1 = std::min(b.x + b.width, area.width), y1 = std::min(b.y + b.height, area.height);
      if (x0 >= x1 || y0 >= y1) continue;
      if (!any) {
        shown = {x0, y0, x1 - x0, y1 - y0};
      } else {
        const int32_t sx1 = std::max(shown.x + shown.width, x1), sy1 = std::max(shown.y + shown.height, y1);
        shown.x = std::min(shown.x, x0);
        shown.y = std::min(shown.y, y0);
        shown.width = sx1 - shown.x;
        shown.height = sy1 - shown.y;
      }
      any = true;
    }
    if (!any) {
      if (owed_) kill_timer(window, kFrameTimer);
      owed_ = false;
      if (mapped_) {
        wl_.marshal_flags(surface_, kSurfaceAttach, nullptr, wl_.get_version(surface_), 0, nullptr, 0, 0);
        wl_.marshal_flags(surface_, kSurfaceCommit, nullptr, wl_.get_version(surface_), 0);
        wl_.flush(display_);
        mapped_ = false;
      }
      return;
    }
    const int32_t x = area.x + shown.x, y = area.y + shown.y;
    const bool moved = !mapped_ || x != x_ || y != y_ || shown.width != width_ || shown.height != height_;
    // One picture a frame of the compositor's: until it asks for the next
    // (the last commit's frame callback is done), a change waits for the
    // next change, or for the timer when none comes. A move never waits (it
    // must meet the host's commit), nor does a picture the compositor has
    // not asked for in kFrameWait (a surface it does not show, which it may
    // never ask).
    const auto now = std::chrono::steady_clock::now();
    if (frame_ && !moved && now - frame_asked_ < kFrameWait) {
      if (!owed_) set_timer(window, kFrameTimer, kFrameTimerMs);
      owed_ = true;
      return;
    }
    Buffer* b = FreeBuffer(shown.width * scale_, shown.height * scale_);
    if (!b) return;
    Draw(window, shown, *b);
    // A geometry change lands with the host's next commit of its surface,
    // and so, synchronised, does the picture made for it.
    if (moved) {
      wl_.marshal_flags(subsurface_, kSubsurfaceSetSync, nullptr, wl_.get_version(subsurface_), 0);
      wl_.marshal_flags(subsurface_, kSubsurfaceSetPosition, nullptr, wl_.get_version(subsurface_), 0, x, y);
    }
    wl_.marshal_flags(surface_, kSurfaceSetBufferScale, nullptr, wl_.get_version(surface_), 0, scale_);
    wl_.marshal_flags(surface_, kSurfaceAttach, nullptr, wl_.get_version(surface_), 0, b->proxy, 0, 0);
    wl_.marshal_flags(surface_, kSurfaceDamageBuffer, nullptr, wl_.get_version(surface_), 0, 0, 0, b->width, b->height);
    if (frame_) wl_.proxy_destroy(frame_);
    frame_ = wl_.marshal_flags(surface_, kSurfaceFrame, wl_.callback, wl_.get_version(surface_), 0, nullptr);
    static void (*done[])(void) = {reinterpret_cast<void (*)()>(&View::FrameDone)};
    if (frame_) wl_.add_listener(frame_, done, this);
    frame_asked_ = now;
    wl_.marshal_flags(surface_, kSurfaceCommit, nullptr, wl_.get_version(surface_), 0);
    if (moved) wl_.marshal_flags(subsurface_, kSubsurfaceSetDesync, nullptr, wl_.get_version(subsurface_), 0);
    b->busy = true;
    wl_.flush(display_);
    if (owed_) kill_timer(window, kFrameTimer);
    owed_ = false;
    mapped_ = true;
    x_ = x;
    y_ = y;
    width_ = shown.width;
    height_ = shown.height;
    ++frames_;
  }

  // The frame timer: a change waits for the compositor's next frame.
  void Owed(Handle window) {
    if (owed_) {
      Update(window);
    } else {
      kill_timer(window, kFrameTimer);
    }
  }

  static constexpr uintptr_t kFrameTimer = 1;

  // Destroys everything of ours on the connection (the host's surface is
  // going, or the window is). Safe to call twice.
  void Release() {
    if (frame_) wl_.proxy_destroy(frame_), frame_ = nullptr;
    DropBuffers();
    auto destroy = [this](Proxy*& p, uint32_t opcode) {
      if (p) wl_.marshal_flags(p, opcode, nullptr, wl_.get_version(p), kMarshalDestroy);
      p = nullptr;
    };
    destroy(subsurface_, kSubsurfaceDestroy);
    destroy(surface_, kSurfaceDestroy);
    destroy(subcompositor_, kSubcompositorDestroy);
    for (Proxy** p : {&compositor_, &shm_, &registry_})
      if (*p) wl_.proxy_destroy(*p), *p = nullptr;
    if (wrapper_) wl_.wrapper_destroy(wrapper_), wrapper_ = nullptr;
    if (queue_) {
      wl_.flush(display_);
      wl_.queue_destroy(queue_);
      queue_ = nullptr;
    }
  }

 private:
  static void Global(void* data, Proxy* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* self = static_cast<View*>(data);
    const Client& wl = self->wl_;
    auto bind = [&](const Interface* i, uint32_t max) {
      const uint32_t v = std::min(version, max);
      return wl.marshal_flags(registry, kRegistryBind, i, v, 0, name, name_of(i), v, nullptr);
    };
    const std::string n = interface;
    // wl_surface 4 brings damage_buffer.
    if (n == name_of(wl.compositor) && !self->compositor_ && version >= 4) self->compositor_ = bind(wl.compositor, 4);
    if (n == name_of(wl.subcompositor) && !self->subcompositor_) self->subcompositor_ = bind(wl.subcompositor, 1);
    if (n == name_of(wl.shm) && !self->shm_) self->shm_ = bind(wl.shm, 1);
  }
  static void GlobalRemove(void*, Proxy*, uint32_t) {}
  static void Released(void* data, Proxy*) { static_cast<Buffer*>(data)->busy = false; }
  static void FrameDone(void* data, Proxy* callback, uint32_t) {
    auto* self = static_cast<View*>(data);
    self->wl_.proxy_destroy(callback);
    if (self->frame_ == callback) self->frame_ = nullptr;
  }

  static constexpr auto kFrameWait = std::chrono::milliseconds(100);
  static constexpr uint32_t kFrameTimerMs = 20;

  Buffer* FreeBuffer(int32_t width, int32_t height) {
    if (!buffers_.empty() && (buffers_[0]->width != width || buffers_[0]->height != height)) DropBuffers();
    for (auto& b : buffers_)
      if (!b->busy) return b.get();
    // Two in turn are the rule; a third while the compositor is slow.
    if (buffers_.size() >= 3) return nullptr;
    auto b = std::make_unique<Buffer>();
    b->width = width;
    b->height = height;
    b->bytes = size_t(width) * size_t(height) * 4;
    const int fd = memfd_create("tovui-wayland", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    void* map = MAP_FAILED;
    if (ftruncate(fd, off_t(b->bytes)) == 0) map = mmap(nullptr, b->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
      close(fd);
      return nullptr;
    }
    b->pixels = static_cast<uint32_t*>(map);
    Proxy* pool =
        wl_.marshal_flags(shm_, kShmCreatePool, wl_.shm_pool, wl_.get_version(shm_), 0, nullptr, fd, int32_t(b->bytes));
    b->proxy = wl_.marshal_flags(pool, kShmPoolCreateBuffer, wl_.buffer, wl_.get_version(pool), 0, nullptr, 0, width,
                                 height, width * 4, kShmFormatXrgb8888);
    wl_.marshal_flags(pool, kShmPoolDestroy, nullptr, wl_.get_version(pool), kMarshalDestroy);
    close(fd);
    static void (*listener[])(void) = {reinterpret_cast<void (*)()>(&View::Released)};
    wl_.add_listener(b->proxy, listener, b.get());
    buffers_.push_back(std::move(b));
    return buffers_.back().get();
  }

  void DropBuffers() {
    for (auto& b : buffers_) {
      if (b->proxy) wl_.marshal_flags(b->proxy, kBufferDestroy, nullptr, wl_.get_version(b->proxy), kMarshalDestroy);
      if (b->pixels) munmap(b->pixels, b->bytes);
    }
    buffers_.clear();
  }

  // The window's `shown` part into b, each pixel scale_ x scale_ times.
  void Draw(Handle window, const Rect& shown, Buffer& b) {
    if (scale_ == 1) {
      detail::compose_into(window, b.pixels, shown.width, shown.height, detail::PixelFormat::kOpaque, 0, shown.x,
                           shown.y);
      return;
    }
    scratch_.resize(size_t(shown.width) * size_t(shown.height));
    detail::compose_into(window, scratch_.data(), shown.width, shown.height, detail::PixelFormat::kOpaque, 0, shown.x,
                         shown.y);
    for (int32_t y = 0; y < b.height; ++y) {
      const uint32_t* from = &scratch_[size_t(y / scale_) * size_t(shown.width)];
      uint32_t* to = b.pixels + size_t(y) * size_t(b.width);
      for (int32_t x = 0; x < b.width; ++x) to[x] = from[x / scale_];
    }
  }

  const Client& wl_;
  Proxy* display_;  // the host's
  Proxy* parent_;   // the host's surface
  Queue* queue_ = nullptr;
  Proxy* wrapper_ = nullptr;  // the host's display, on our queue
  Proxy* registry_ = nullptr;
  Proxy* compositor_ = nullptr;
  Proxy* subcompositor_ = nullptr;
  Proxy* shm_ = nullptr;
  Proxy* surface_ = nullptr;
  Proxy* subsurface_ = nullptr;
  std::vector<std::unique_ptr<Buffer>> buffers_;
  std::vector<uint32_t> scratch_;
  int32_t scale_ = 1;
  bool mapped_ = false;
  int32_t x_ = 0, y_ = 0, width_ = 0, height_ = 0;
  uint64_t frames_ = 0;
  Proxy* frame_ = nullptr;  // the last commit's frame callback, until done
  std::chrono::steady_clock::time_point frame_asked_;
  bool owed_ = false;  // a change waits for the next frame (the timer runs)
};

// Views by window. Each is used on its window's owner thread only; the map
// is locked for lookups from the C calls.
std::mutex g_mu;
std::map<Handle, std::unique_ptr<View>>& views() {
  static auto* m = new std::map<Handle, std::unique_ptr<View>>;
  return *m;
}

View* find(Handle window) {
  std::lock_guard lock(g_mu);
  auto it = views().find(window);
  return it == views().end() ? nullptr : it->second.get();
}

std::unique_ptr<View> take(Handle window) {
  std::lock_guard lock(g_mu);
  auto it = views().find(window);
  if (it == views().end()) return nullptr;
  auto v = std::move(it->second);
  views().erase(it);
  return v;
}

void Damaged(void*, Handle window, int32_t, int32_t, int32_t, int32_t) {
  if (View* v = find(window)) v->Update(window);
}

}  // namespace

void placed(uint32_t window) {
  if (View* v = find(window)) v->Update(window);
}

}  // namespace tovui::wayland

using namespace tovui;
using namespace tovui::wayland;

extern "C" {

uint32_t tovui_wayland_window(void* wl_display, void* wl_surface, int32_t x, int32_t y, int32_t width, int32_t height) {
  try {
    if (!wl_display || !wl_surface || on_display() || !client()) return 0;
    auto view = std::make_unique<View>(static_cast<Proxy*>(wl_display), static_cast<Proxy*>(wl_surface));
    if (!view->Connect()) return 0;
    // Its end, however it comes, takes the subsurface with it.
    const Handle window =
        create_window(0, {x, y, width, height}, [](Handle w, uint32_t msg, uintptr_t wparam, intptr_t) {
          if (msg == WM_DESTROY) take(w).reset();
          if (msg == WM_TIMER && wparam == View::kFrameTimer)
            if (View* v = find(w)) v->Owed(w);
          return intptr_t(0);
        });
    if (!window) return 0;
    {
      std::lock_guard lock(g_mu);
      views()[window] = std::move(view);
    }
    detail::watch_damage(window, &Damaged, nullptr);
    return window;
  } catch (...) {
    return 0;
  }
}

int tovui_wayland_set_scale(uint32_t window, int32_t scale) {
  View* v = find(window);
  if (!v || scale < 1) return 0;
  v->SetScale(scale);
  v->Update(window);
  return 1;
}

int tovui_wayland_surface_gone(uint32_t window) {
  try {
    auto view = take(window);
    if (!view) return 0;
    view->Release();
    view.reset();
    destroy_window(window);  // the form goes, as with a destroyed X window
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
