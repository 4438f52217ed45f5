// The host's own GLib main loop runs the window system's messages and timers.
//
// GTK hosts run GLib's default main context on their main thread, and so do
// Qt hosts on Linux (Qt's default event dispatcher is GLib's). When GLib is
// already in the process, a thread that owns windows and runs that context
// gets a source on it that watches its queue's descriptor (readable when a
// message is posted or a timer is due) and dispatches as tovui_pump(0) would.
// GLib is found at run time and never linked or loaded by us: a host without
// it pumps through tovui_event_fd and tovui_pump. While a message box is
// open, its loop iterates the same context, so the host's windows stay alive.
#include <dlfcn.h>
#include <unistd.h>

#include "ui/model/internal.hpp"

namespace tovui::detail {
namespace {

// The few GLib entry points used, with GLib's own types spelled out.
using MainContextDefault = void* (*)();
using MainContextIsOwner = int (*)(void* context);
using MainContextIteration = int (*)(void* context, int may_block);
using MainContextAcquire = int (*)(void* context);
using MainContextRelease = void (*)(void* context);
using FdSourceFunc = int (*)(int fd, unsigned condition, void* user);
using DestroyNotify = void (*)(void* data);
using UnixFdSourceNew = void* (*)(int fd, unsigned condition);
using SourceSetCallback = void (*)(void* source, FdSourceFunc func, void* data, DestroyNotify notify);
using SourceSetCanRecurse = void (*)(void* source, int can_recurse);
using SourceAttach = unsigned (*)(void* source, void* context);
using SourceUnref = void (*)(void* source);
constexpr unsigned kIoIn = 1;  // G_IO_IN
constexpr int kSourceRemove = 0, kSourceContinue = 1;

struct GLib {
  MainContextDefault context_default = nullptr;
  MainContextIsOwner is_owner = nullptr;
  MainContextIteration iteration = nullptr;
  MainContextAcquire acquire = nullptr;
  MainContextRelease release = nullptr;
  UnixFdSourceNew fd_source_new = nullptr;
  SourceSetCallback set_callback = nullptr;
  SourceSetCanRecurse set_can_recurse = nullptr;
  SourceAttach attach = nullptr;
  SourceUnref unref = nullptr;
  bool present() const {
    return context_default && is_owner && iteration && acquire && release && fd_source_new && set_callback &&
           set_can_recurse && attach && unref;
  }
};

// GLib's symbols, when something in the process loaded it (Python loads its
// modules' libraries privately, so the library is asked for by name too).
// Looked up once: GLib, once in, stays.
const GLib& glib() {
  static const GLib g = [] {
    GLib g;
    void* lib = dlopen("libglib-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
    auto sym = [lib](const char* name) {
      void* s = lib ? dlsym(lib, name) : nullptr;
      return s ? s : dlsym(RTLD_DEFAULT, name);
    };
    g.context_default = reinterpret_cast<MainContextDefault>(sym("g_main_context_default"));
    g.is_owner = reinterpret_cast<MainContextIsOwner>(sym("g_main_context_is_owner"));
    g.iteration = reinterpret_cast<MainContextIteration>(sym("g_main_context_iteration"));
    g.acquire = reinterpret_cast<MainContextAcquire>(sym("g_main_context_acquire"));
    g.release = reinterpret_cast<MainContextRelease>(sym("g_main_context_release"));
    g.fd_source_new = reinterpret_cast<UnixFdSourceNew>(sym("g_unix_fd_source_new"));
    g.set_callback = reinterpret_cast<SourceSetCallback>(sym("g_source_set_callback"));
    g.set_can_recurse = reinterpret_cast<SourceSetCanRecurse>(sym("g_source_set_can_recurse"));
    g.attach = reinterpret_cast<SourceAttach>(sym("g_source_attach"));
    g.unref = reinterpret_cast<SourceUnref>(sym("g_source_unref"));
    return g;
  }();
  return g;
}

int dispatch(int, unsigned, void* user) {
  auto& queue = *static_cast<std::shared_ptr<ThreadQueue>*>(user);
  // The source runs where the context runs; a queue is pumped only by its
  // own thread.
  if (this_thread_queue() != queue) return kSourceRemove;
  try {
    queue->pump(0, {});
  } catch (...) {
    // A procedure's failure must not unwind through GLib.
  }
  return kSourceContinue;
}

void forget(void* user) { delete static_cast<std::shared_ptr<ThreadQueue>*>(user); }

}  // namespace

void attach_host_loop(const std::shared_ptr<ThreadQueue>& queue) {
  if (!queue || queue->host_loop.load()) return;
  // Looked for only once GLib may be in: when the first window is made.
  const GLib& g = glib();
  if (!g.present()) return;
  // The main thread is where GTK and Qt run their loop; any other thread
  // only while it is running the default context itself.
  if (gettid() != getpid() && !g.is_owner(g.context_default())) return;
  if (queue->host_loop.exchange(true)) return;
  void* source = g.fd_source_new(queue->poll_fd(), kIoIn);
  g.set_callback(source, &dispatch, new std::shared_ptr<ThreadQueue>(queue), &forget);
  // A message box shown from a timer or message runs the loop again inside
  // this source's dispatch: the source must be dispatched there too.
  g.set_can_recurse(source, 1);
  g.attach(source, nullptr);  // the default context
  g.unref(source);
}

bool iterate_host_loop(const std::shared_ptr<ThreadQueue>& queue) {
  if (!queue->host_loop.load() || this_thread_queue() != queue) return false;
  const GLib& g = glib();
  // Another thread may be running the context (then this one cannot).
  void* context = g.context_default();
  if (!g.acquire(context)) return false;
  g.iteration(context, 1);
  g.release(context);
  return true;
}

}  // namespace tovui::detail
