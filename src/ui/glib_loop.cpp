// The host's own GLib main loop runs the window system's messages and timers.
//
// GTK hosts run GLib's default main context on their main thread, and so do
// Qt hosts on Linux (Qt's default event dispatcher is GLib's). When GLib is
// already in the process, a thread that owns windows and runs that context
// gets a source on it that watches its queue's descriptor (readable when a
// message is posted or a timer is due) and dispatches as tovui_pump(0) would.
// GLib is found at run time and never linked or loaded by us: a host without
// it pumps through tovui_event_fd and tovui_pump.
#include <dlfcn.h>
#include <unistd.h>

#include "ui/model/internal.hpp"

namespace tovui::detail {
namespace {

// The few GLib entry points used, with GLib's own types spelled out.
using MainContextDefault = void* (*)();
using MainContextIsOwner = int (*)(void* context);
using FdSourceFunc = int (*)(int fd, unsigned condition, void* user);
using DestroyNotify = void (*)(void* data);
using UnixFdAddFull = unsigned (*)(int priority, int fd, unsigned condition, FdSourceFunc function, void* user,
                                   DestroyNotify notify);
constexpr unsigned kIoIn = 1;      // G_IO_IN
constexpr int kPriorityDefault = 0;  // G_PRIORITY_DEFAULT
constexpr int kSourceRemove = 0, kSourceContinue = 1;

struct GLib {
  MainContextDefault context_default = nullptr;
  MainContextIsOwner is_owner = nullptr;
  UnixFdAddFull fd_add = nullptr;
  bool present() const { return context_default && is_owner && fd_add; }
};

// GLib's symbols, when something in the process loaded it (Python loads its
// modules' libraries privately, so the library is asked for by name too).
GLib find_glib() {
  GLib g;
  void* lib = dlopen("libglib-2.0.so.0", RTLD_LAZY | RTLD_NOLOAD);
  auto sym = [lib](const char* name) {
    void* s = lib ? dlsym(lib, name) : nullptr;
    return s ? s : dlsym(RTLD_DEFAULT, name);
  };
  g.context_default = reinterpret_cast<MainContextDefault>(sym("g_main_context_default"));
  g.is_owner = reinterpret_cast<MainContextIsOwner>(sym("g_main_context_is_owner"));
  g.fd_add = reinterpret_cast<UnixFdAddFull>(sym("g_unix_fd_add_full"));
  return g;  // the library stays loaded by whoever loaded it; our reference is kept
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
  const GLib g = find_glib();
  if (!g.present()) return;
  // The main thread is where GTK and Qt run their loop; any other thread
  // only while it is running the default context itself.
  if (gettid() != getpid() && !g.is_owner(g.context_default())) return;
  if (queue->host_loop.exchange(true)) return;
  g.fd_add(kPriorityDefault, queue->poll_fd(), kIoIn, &dispatch, new std::shared_ptr<ThreadQueue>(queue), &forget);
}

}  // namespace tovui::detail
