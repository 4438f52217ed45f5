// Modal message boxes: a presenter shows them, a nested loop keeps the
// showing thread's messages and timers flowing until the box is closed.
#include <cstdio>

#include "ui/model/internal.hpp"

namespace tovui {
namespace {

struct Box {
  std::shared_ptr<detail::ThreadQueue> queue;  // the showing thread's
  bool open = true;
};

struct Boxes {
  std::mutex mu;
  // guarded by mu
  std::unordered_map<Handle, Box> open;
  Presenter presenter = nullptr;
  void* user = nullptr;
};

Boxes& boxes() {
  static Boxes* b = new Boxes;  // leaked on purpose, like the window registry
  return *b;
}

bool box_open(Handle box) {
  auto& b = boxes();
  std::lock_guard lock(b.mu);
  auto it = b.open.find(box);
  return it != b.open.end() && it->second.open;
}

void default_presenter(void*, Handle box, const char* text, const char* caption) {
  if (caption && *caption)
    std::fprintf(stderr, "%s: %s\n", caption, text);
  else
    std::fprintf(stderr, "%s\n", text);
  close_box(box);
}

}  // namespace

void set_presenter(Presenter presenter, void* user) {
  auto& b = boxes();
  std::lock_guard lock(b.mu);
  b.presenter = presenter;
  b.user = presenter ? user : nullptr;
}

bool close_box(Handle box) {
  std::shared_ptr<detail::ThreadQueue> queue;
  {
    auto& b = boxes();
    std::lock_guard lock(b.mu);
    auto it = b.open.find(box);
    if (it == b.open.end() || !it->second.open) return false;
    it->second.open = false;
    queue = it->second.queue;
  }
  queue->wake();  // the nested loop may be waiting for something to pump
  return true;
}

void message_box(Handle owner, const std::string& text, const std::string& caption) {
  auto queue = detail::this_thread_queue();
  const Handle box = detail::next_handle();
  Presenter presenter;
  void* user;
  {
    auto& b = boxes();
    std::lock_guard lock(b.mu);
    b.open.emplace(box, Box{queue, true});
    presenter = b.presenter ? b.presenter : default_presenter;
    user = b.user;
  }
  struct Forget {  // the box goes from the table however the loop is left
    Handle box;
    ~Forget() {
      auto& b = boxes();
      std::lock_guard lock(b.mu);
      b.open.erase(box);
    }
  } forget{box};
  // On a display, a box nobody presents is a dialog of the display's own.
  detail::Native* display = presenter == default_presenter ? detail::native() : nullptr;
  if (!display || !display->show_box(box, owner, text, caption)) {
    display = nullptr;
    presenter(user, box, text.c_str(), caption.c_str());
  }
  const std::function<bool()> closed = [box] { return !box_open(box); };
  // The host's own loop where one dispatches this thread (its windows stay
  // alive), else this thread's messages and timers alone.
  while (!closed())
    if (!detail::iterate_host_loop(queue)) queue->pump(-1, closed);
  if (display) display->end_box(box);
}

}  // namespace tovui
