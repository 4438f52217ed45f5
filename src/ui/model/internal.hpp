// Insides of the window system, shared by its source files only.
//
// The model keeps every window's state, queue, timers and surface. On a
// Linux desktop a native backend (x11/) shows the same windows on the
// display: see Native below.
//
// Two kinds of state, each with its own lock:
// - the window registry (registry().mu): every live window, the tree, bounds,
//   visibility, procedures and client surfaces; also the open message boxes.
// - one ThreadQueue per thread that owns windows or pumps (ThreadQueue::mu):
//   its posted messages, its timers and the descriptors that make
//   tovui_event_fd readable.
// When both are needed the registry lock is taken first. Neither is held
// while a window procedure or a presenter runs.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/platform.hpp"
#include "ui/ui.hpp"

namespace tovui::detail {

// Monotonic clock in nanoseconds (the clock the timer descriptors use).
using tovarin::platform::now_ns;

// A handle from the single process-wide sequence: windows and message boxes
// share it, so no handle is ever given twice.
Handle next_handle();

struct Posted {
  uint64_t seq;  // posting order within the queue
  Handle window;
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
};

struct Timer {
  uint32_t interval_ms = 0;  // 0: set but never ticks
  int64_t due_ns = 0;        // next tick, monotonic
  uint64_t order = 0;        // creation order, breaks ties between equal due times
};

// The message queue and timers of one thread. Created on first need by
// that thread; it outlives the thread for as long as windows refer to it.
class ThreadQueue {
 public:
  ThreadQueue();
  ~ThreadQueue();
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  // Any thread. False once the owning thread has ended.
  bool post(Handle window, uint32_t msg, uintptr_t wparam, intptr_t lparam);
  bool set_timer(Handle window, uintptr_t id, uint32_t interval_ms);
  bool kill_timer(Handle window, uintptr_t id);
  void kill_timers(Handle window);  // every timer of a window that is going away
  void wake();                      // makes a waiting pump look again (message box closed)
  void end();                       // the owning thread has ended

  // Owning thread only.
  int poll_fd() const { return epoll_fd_; }
  std::atomic<bool> host_loop{false};  // a GLib source dispatches this queue
  // Dispatches what is due; waits up to timeout_ms (negative: forever) for
  // the first item, and stops waiting early once stop() returns true.
  int pump(int32_t timeout_ms, const std::function<bool()>& stop);

 private:
  // Takes the next posted message with seq <= last, or false. Locks mu_.
  bool take_message(uint64_t last, Posted& out);
  // Takes the earliest timer due at `now`, or false, and sets its next tick
  // a whole interval ahead (so one pass ticks each timer at most once).
  bool take_timer(int64_t now, Handle& window, uintptr_t& id);
  int dispatch_due();
  void wait(int32_t timeout_ms);
  void rearm_locked();   // timer descriptor to the earliest due tick
  void settle_locked();  // event descriptor readable iff a message is queued

  std::mutex mu_;
  // guarded by mu_
  std::deque<Posted> posted_;
  uint64_t next_seq_ = 1;
  std::map<std::pair<Handle, uintptr_t>, Timer> timers_;
  uint64_t next_timer_order_ = 1;
  bool ended_ = false;
  // fixed after construction
  int event_fd_ = -1;  // eventfd: counter > 0 while a message is queued (or a wake is pending)
  int timer_fd_ = -1;  // timerfd: expires at the earliest due tick
  int epoll_fd_ = -1;  // both of the above: what tovui_event_fd hands out
};

// A host that paints a window itself and wants to hear when its pixels
// change (tovui_watch_damage). Guarded by Registry::mu.
using DamageCallback = void (*)(void* user, Handle window, int32_t x, int32_t y, int32_t width, int32_t height);
struct DamageWatch {
  DamageCallback callback = nullptr;
  void* user = nullptr;
  int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // what changed since the last call, [x0, x1) x [y0, y1)
  bool queued = false;                     // a kDamage message is on its way to the owner
};

// A live window. Guarded by Registry::mu.
struct Window {
  Handle handle = 0;
  Handle parent = 0;
  std::vector<Handle> children;  // creation / attachment order; later ones lie on top
  Rect bounds;
  bool visible = true;
  bool destroying = false;  // destroy_window has begun on it
  std::thread::id owner_id;
  std::shared_ptr<ThreadQueue> owner;
  std::shared_ptr<const WindowProc> proc;  // null: no procedure
  Color background = kWhite;
  // The client surface, row by row. It covers at most kMaxSurface pixels in
  // each direction; the rest of a larger window shows its background.
  int32_t surface_w = 0, surface_h = 0;
  std::vector<Color> surface;
  std::unique_ptr<DamageWatch> watch;  // null: nobody watches this window
};

constexpr int32_t kMaxSurface = 4096;

struct Registry {
  std::mutex mu;
  std::unordered_map<Handle, std::unique_ptr<Window>> windows;  // guarded by mu
  Window* find(Handle h) {                                      // mu held
    auto it = windows.find(h);
    return it == windows.end() ? nullptr : it->second.get();
  }
};

// The process-wide registry; never destroyed, so it outlives every thread
// and every static object that might still call in.
Registry& registry();

// The calling thread's queue, created on first use.
std::shared_ptr<ThreadQueue> this_thread_queue();

// Delivers one message to a window's procedure on the calling thread, if the
// window is still alive. Returns true when a procedure (or none) was reached.
bool deliver(Handle window, uint32_t msg, uintptr_t wparam, intptr_t lparam);

// The owner's queue of a live window, or null.
std::shared_ptr<ThreadQueue> queue_of(Handle window);

// A window and its visible descendants into a caller's width x height
// buffer (stride in pixels; 0: width); pixels outside the window are left
// alone.
enum class PixelFormat {
  kColor,   // the canvas's own packing
  kRgb,     // 0x00RRGGBB (tovui_compose)
  kOpaque,  // 0xFFRRGGBB (tovui_render)
};
// origin_x, origin_y: the window's point that lands on the buffer's (0, 0).
bool compose_into(Handle window, Color* out, int32_t width, int32_t height, PixelFormat format = PixelFormat::kColor,
                  int32_t stride = 0, int32_t origin_x = 0, int32_t origin_y = 0);
// The same into a buffer of the window's own size (at most kMaxSurface a side).
bool compose_colors(Handle window, std::vector<Color>& out, int32_t& width, int32_t& height);

// A message the window system posts to itself: the display destroyed the
// window (its host's window went), so the owning thread destroys it in the
// model too, which gives it WM_DESTROY. Never reaches a procedure.
constexpr uint32_t kNativeGone = 0x03FF;

// A message the window system posts to itself: a watched window's pixels
// changed, so its owner thread calls the watcher (damage.cpp). Never reaches
// a procedure.
constexpr uint32_t kDamage = 0x03FE;

// The area [x0, x1) x [y0, y1) of w's client area changed on screen: every
// watcher of w or of an ancestor through which it shows hears of it.
// Registry lock held.
void damage_locked(Registry& r, const Window& w, int64_t x0, int64_t y0, int64_t x1, int64_t y1);
// w's whole area in its parent changed (shown, hidden, moved, made, gone).
void damage_in_parent_locked(Registry& r, const Window& w);
// Calls the watcher of `window` with what changed since its last call.
// Owner thread, no lock held.
void deliver_damage(Handle window);
// The pull path's two calls, as tovui_watch_damage and tovui_render.
bool watch_damage(Handle window, DamageCallback callback, void* user);
bool render(Handle window, void* pixels, int32_t stride_bytes, int32_t width, int32_t height);

// A display that shows the model's windows as real windows (X11 on Linux).
// Every model window is one native window, whose id is the window's handle;
// windows of other programs may be lent as parents. The model calls the
// native side after each change; all calls but the first two are made with
// the registry lock held and never wait for the display. A native side whose
// display went away goes on accepting calls and does nothing.
class Native {
 public:
  virtual ~Native() = default;
  // A window of another program that may be lent as a parent (asks the
  // display; no lock held). foreign_parent: its parent, 0 for a top-level one.
  virtual bool foreign(Handle window) = 0;
  virtual Handle foreign_parent(Handle window) = 0;
  // A native window for w (its bounds, background and visibility), under
  // `parent` (0: a top-level window). Returns the handle to use, 0 when none
  // could be made (the model then numbers the window itself).
  virtual Handle create(Handle parent, const Window& w) = 0;
  virtual void destroy(Handle window) = 0;
  virtual void configure(const Window& w) = 0;                 // bounds changed
  virtual void map(const Window& w) = 0;                       // visible flag changed
  virtual void reparent(const Window& w) = 0;                  // parent changed
  virtual void damage(const Window& w, const Rect& area) = 0;  // surface pixels in area changed
  // A message box as a modal dialog over owner's top-level window: its OK
  // (Enter, Escape, a click) closes the box with close_box. False when it
  // cannot be shown. end_box takes it down however the box was closed.
  virtual bool show_box(Handle box, Handle owner, const std::string& text, const std::string& caption) = 0;
  virtual void end_box(Handle box) = 0;
};

// The process's native display, chosen once on first use: null when the
// model alone serves (no display, or TOVUI_BACKEND=model).
Native* native();

// Lets the host's GLib main loop dispatch this queue, when GLib is in the
// process and the calling thread runs its default main context (once per
// queue; see glib_loop.cpp).
void attach_host_loop(const std::shared_ptr<ThreadQueue>& queue);
// One blocking iteration of the host's GLib loop, which also dispatches the
// queue; false (nothing done) when no host loop dispatches it here.
bool iterate_host_loop(const std::shared_ptr<ThreadQueue>& queue);

}  // namespace tovui::detail
