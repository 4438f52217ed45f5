// Per-thread message queues, timers and the descriptor a host can poll.
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "ui/model/internal.hpp"

namespace tovui {
namespace detail {

ThreadQueue::ThreadQueue() {
  event_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  timer_fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  for (int fd : {event_fd_, timer_fd_}) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
  }
}

ThreadQueue::~ThreadQueue() {
  for (int fd : {epoll_fd_, timer_fd_, event_fd_})
    if (fd >= 0) close(fd);
}

bool ThreadQueue::post(Handle window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  std::lock_guard lock(mu_);
  if (ended_) return false;
  posted_.push_back({next_seq_++, window, msg, wparam, lparam});
  const uint64_t one = 1;
  ssize_t n = write(event_fd_, &one, sizeof one);
  (void)n;  // only fails when the counter is saturated: it is readable then anyway
  return true;
}

void ThreadQueue::wake() {
  const uint64_t one = 1;
  ssize_t n = write(event_fd_, &one, sizeof one);
  (void)n;
}

bool ThreadQueue::set_timer(Handle window, uintptr_t id, uint32_t interval_ms) {
  std::lock_guard lock(mu_);
  if (ended_) return false;
  auto [it, fresh] = timers_.try_emplace({window, id});
  Timer& t = it->second;
  if (fresh) t.order = next_timer_order_++;
  t.interval_ms = interval_ms;
  t.due_ns = now_ns() + int64_t(interval_ms) * 1000000;
  rearm_locked();
  return true;
}

bool ThreadQueue::kill_timer(Handle window, uintptr_t id) {
  std::lock_guard lock(mu_);
  const bool found = timers_.erase({window, id}) > 0;
  if (found) rearm_locked();
  return found;
}

void ThreadQueue::kill_timers(Handle window) {
  std::lock_guard lock(mu_);
  auto it = timers_.lower_bound({window, 0});
  while (it != timers_.end() && it->first.first == window) it = timers_.erase(it);
  rearm_locked();
}

void ThreadQueue::end() {
  std::lock_guard lock(mu_);
  ended_ = true;
  posted_.clear();
  timers_.clear();
  settle_locked();
  rearm_locked();
}

void ThreadQueue::rearm_locked() {
  int64_t due = INT64_MAX;
  for (const auto& [key, t] : timers_)
    if (t.interval_ms > 0 && t.due_ns < due) due = t.due_ns;
  itimerspec spec{};  // all zero: disarmed
  if (due != INT64_MAX) {
    if (due <= 0) due = 1;  // 0 would disarm
    spec.it_value.tv_sec = time_t(due / 1000000000);
    spec.it_value.tv_nsec = long(due % 1000000000);
  }
  // Setting the timer also clears an expiry that was not read.
  timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &spec, nullptr);
}

void ThreadQueue::settle_locked() {
  if (!posted_.empty()) return;
  uint64_t count;
  ssize_t n = read(event_fd_, &count, sizeof count);
  (void)n;  // EAGAIN: it was not readable
}

bool ThreadQueue::take_message(uint64_t last, Posted& out) {
  std::lock_guard lock(mu_);
  if (posted_.empty() || posted_.front().seq > last) return false;
  out = posted_.front();
  posted_.pop_front();
  settle_locked();
  return true;
}

bool ThreadQueue::take_timer(int64_t now, Handle& window, uintptr_t& id) {
  std::lock_guard lock(mu_);
  Timer* best = nullptr;
  for (auto& [key, t] : timers_) {
    if (t.interval_ms == 0 || t.due_ns > now) continue;
    if (!best || t.due_ns < best->due_ns || (t.due_ns == best->due_ns && t.order < best->order)) {
      best = &t;
      window = key.first;
      id = key.second;
    }
  }
  if (!best) return false;
  // One tick however late it is: the next is a whole interval from now.
  best->due_ns = now_ns() + int64_t(best->interval_ms) * 1000000;
  rearm_locked();
  return true;
}

int ThreadQueue::dispatch_due() {
  uint64_t last;
  {
    std::lock_guard lock(mu_);
    last = next_seq_ - 1;  // messages posted while dispatching wait for the next pump
  }
  int n = 0;
  Posted m;
  while (take_message(last, m))
    if (deliver(m.window, m.msg, m.wparam, m.lparam)) ++n;
  const int64_t now = now_ns();
  Handle window;
  uintptr_t id;
  while (take_timer(now, window, id))
    if (deliver(window, WM_TIMER, id, 0)) ++n;
  return n;
}

int ThreadQueue::pump(int32_t timeout_ms, const std::function<bool()>& stop) {
  const int64_t deadline = timeout_ms < 0 ? INT64_MAX : now_ns() + int64_t(timeout_ms) * 1000000;
  for (;;) {
    const int n = dispatch_due();
    if (n > 0) return n;
    {
      // Drop readiness that nothing stands behind (a wake, an expiry whose
      // timer went), before looking at stop(): a wake after this stays.
      std::lock_guard lock(mu_);
      settle_locked();
      rearm_locked();
    }
    if (stop && stop()) return 0;
    int wait_ms = -1;
    if (deadline != INT64_MAX) {
      const int64_t left = deadline - now_ns();
      if (left <= 0) return 0;
      wait_ms = int((std::min<int64_t>(left, int64_t(INT_MAX) * 1000000) + 999999) / 1000000);
    }
    pollfd p{epoll_fd_, POLLIN, 0};
    while (poll(&p, 1, wait_ms) < 0 && errno == EINTR) {
    }
  }
}

std::shared_ptr<ThreadQueue> this_thread_queue() {
  struct Holder {
    std::shared_ptr<ThreadQueue> q;
    ~Holder() {
      if (q) q->end();
    }
  };
  thread_local Holder holder;
  if (!holder.q) holder.q = std::make_shared<ThreadQueue>();
  return holder.q;
}

}  // namespace detail

int pump(int32_t timeout_ms) { return detail::this_thread_queue()->pump(timeout_ms, {}); }

int event_fd() { return detail::this_thread_queue()->poll_fd(); }

}  // namespace tovui
