// Posted messages, pumping, timers and the descriptor a host polls.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tovarin/ui.h"
#include "ui/ui.hpp"

using namespace tovui;
using namespace std::chrono_literals;

namespace {

struct Seen {
  uint32_t msg;
  uintptr_t wparam;
  intptr_t lparam;
  bool operator==(const Seen&) const = default;
};

// A top-level window that records what its procedure receives.
struct Recorder {
  std::vector<Seen> seen;
  std::thread::id on;
  Handle w = 0;
  Recorder() {
    w = create_window(0, {0, 0, 10, 10}, [this](Handle, uint32_t msg, uintptr_t wp, intptr_t lp) {
      seen.push_back({msg, wp, lp});
      on = std::this_thread::get_id();
      return intptr_t(0);
    });
  }
  ~Recorder() { destroy_window(w); }
  int count(uint32_t msg) const {
    int n = 0;
    for (auto& s : seen) n += s.msg == msg;
    return n;
  }
};

bool readable(int fd, int timeout_ms = 0) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN);
}

// Pumps for about `ms` milliseconds; returns how many items were dispatched.
int pump_for(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  int n = 0;
  for (auto now = std::chrono::steady_clock::now(); now < end; now = std::chrono::steady_clock::now())
    n += pump(int32_t(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count()) + 1);
  return n;
}

}  // namespace

TEST(Messages, DispatchInPostingOrderOnTheOwningThread) {
  Recorder r;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(post_message(r.w, WM_USER + i, uintptr_t(i), -i));
  EXPECT_EQ(pump(0), 5);
  ASSERT_EQ(r.seen.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(r.seen[size_t(i)], (Seen{uint32_t(WM_USER + i), uintptr_t(i), -i}));
  EXPECT_EQ(pump(0), 0);
}

TEST(Messages, PostsFromOtherThreadsAllArriveInEachThreadsOrder) {
  Recorder r;
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> posters;
  std::atomic<int> failed{0};
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i)
        if (!post_message(r.w, WM_USER, uintptr_t(t), i)) ++failed;
    });
  int got = 0;
  while (got < kThreads * kEach) {
    const int n = pump(2000);
    ASSERT_GT(n, 0) << "posted messages did not arrive";
    got += n;
  }
  for (auto& p : posters) p.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(pump(0), 0);
  std::vector<intptr_t> next(kThreads, 0);
  for (auto& s : r.seen) {
    ASSERT_LT(s.wparam, uintptr_t(kThreads));
    EXPECT_EQ(s.lparam, next[s.wparam]++);
  }
  EXPECT_EQ(r.on, std::this_thread::get_id());
}

TEST(Messages, APumpWaitingForeverWakesForAPostFromAnotherThread) {
  Recorder r;
  std::thread poster([&] {
    std::this_thread::sleep_for(30ms);
    post_message(r.w, WM_USER + 7, 0, 0);
  });
  EXPECT_EQ(pump(-1), 1);
  poster.join();
  EXPECT_EQ(r.count(WM_USER + 7), 1);
}

TEST(Messages, AMessagePostedWhileDispatchingWaitsForTheNextPump) {
  Handle w = 0;
  int handled = 0;
  w = create_window(0, {0, 0, 1, 1}, [&](Handle self, uint32_t msg, uintptr_t, intptr_t) {
    if (msg == WM_USER) {
      ++handled;
      post_message(self, WM_USER, 0, 0);  // a handler that keeps itself going
    }
    return intptr_t(0);
  });
  post_message(w, WM_USER, 0, 0);
  EXPECT_EQ(pump(0), 1);
  EXPECT_EQ(pump(0), 1);
  EXPECT_EQ(handled, 2);
  destroy_window(w);
  EXPECT_EQ(pump(0), 0);
}

TEST(Messages, PostingToADeadWindowFailsAndQueuedOnesAreDiscarded) {
  Recorder keep;
  int got = 0;
  const Handle w = create_window(0, {0, 0, 1, 1}, [&](Handle, uint32_t msg, uintptr_t, intptr_t) {
    got += msg == WM_USER;
    return intptr_t(0);
  });
  ASSERT_TRUE(post_message(w, WM_USER, 0, 0));
  ASSERT_TRUE(post_message(keep.w, WM_USER, 0, 0));
  destroy_window(w);
  EXPECT_FALSE(post_message(w, WM_USER, 0, 0));
  EXPECT_EQ(pump(0), 1);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(keep.count(WM_USER), 1);
}

TEST(Messages, PostingToAWindowWhoseThreadEndedFails) {
  Handle w = 0;
  std::thread([&] { w = create_window(0, {0, 0, 1, 1}); }).join();
  EXPECT_TRUE(is_window(w));
  EXPECT_FALSE(post_message(w, WM_USER, 0, 0));
}

TEST(Messages, OnlyTheOwnersPumpDispatches) {
  Recorder r;
  post_message(r.w, WM_USER, 0, 0);
  int other = -1;
  std::thread([&] { other = pump(20); }).join();
  EXPECT_EQ(other, 0);
  EXPECT_EQ(pump(0), 1);
}

TEST(Timers, MessagesComeBeforeTimersInOnePump) {
  Recorder r;
  ASSERT_TRUE(set_timer(r.w, 9, 1));
  std::this_thread::sleep_for(10ms);
  post_message(r.w, WM_USER, 1, 0);
  post_message(r.w, WM_USER, 2, 0);
  EXPECT_EQ(pump(0), 3);
  const std::vector<Seen> want = {{WM_USER, 1, 0}, {WM_USER, 2, 0}, {WM_TIMER, 9, 0}};
  EXPECT_EQ(r.seen, want);
}

TEST(Timers, ALateTimerTicksOnceNotOncePerInterval) {
  Recorder r;
  ASSERT_TRUE(set_timer(r.w, 1, 50));
  ASSERT_TRUE(set_timer(r.w, 2, 50));
  std::this_thread::sleep_for(400ms);  // 8 intervals without pumping
  EXPECT_EQ(pump(0), 2);
  EXPECT_EQ(r.count(WM_TIMER), 2);
  // The next tick is a whole interval away, not due again at once: over
  // any later stretch each timer ticks at most once per interval begun.
  const auto from = std::chrono::steady_clock::now();
  const int more = pump_for(100);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from).count();
  EXPECT_LE(more, 2 * (ms / 50 + 1));
}

TEST(Timers, TickAtRoughlyTheirIntervalWhilePumping) {
  Recorder r;
  ASSERT_TRUE(set_timer(r.w, 1, 20));
  // Five ticks come (bounded), and never faster than the interval.
  const auto from = std::chrono::steady_clock::now();
  for (int i = 0; i < 3000 && r.count(WM_TIMER) < 5; ++i) pump(10);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from).count();
  ASSERT_EQ(r.count(WM_TIMER), 5);
  EXPECT_GE(ms, 5 * 20 - 2);
}

TEST(Timers, IntervalZeroNeverTicks) {
  Recorder r;
  ASSERT_TRUE(set_timer(r.w, 1, 0));
  EXPECT_FALSE(readable(event_fd(), 50));
  EXPECT_EQ(pump_for(100), 0);
  EXPECT_EQ(r.count(WM_TIMER), 0);
  // Setting it again with an interval makes it tick.
  ASSERT_TRUE(set_timer(r.w, 1, 1));
  EXPECT_GE(pump(1000), 1);
  EXPECT_EQ(r.seen.front(), (Seen{WM_TIMER, 1, 0}));
}

TEST(Timers, KillStopsTicksAndSettingAgainRestartsTheInterval) {
  Recorder r;
  ASSERT_TRUE(set_timer(r.w, 3, 5));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(kill_timer(r.w, 3));
  EXPECT_FALSE(kill_timer(r.w, 3));
  EXPECT_EQ(pump_for(50), 0);
  ASSERT_TRUE(set_timer(r.w, 3, 5));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(set_timer(r.w, 3, 10000));  // replaces the due 5 ms timer
  EXPECT_EQ(pump(30), 0);
}

TEST(EventFd, ReadableExactlyWhileSomethingIsToBePumped) {
  Recorder r;
  const int fd = tovui_event_fd();
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fd, tovui_event_fd());
  EXPECT_FALSE(readable(fd));
  std::thread([&] { post_message(r.w, WM_USER, 0, 0); }).join();
  EXPECT_TRUE(readable(fd));
  EXPECT_EQ(tovui_pump(0), 1);
  EXPECT_FALSE(readable(fd));
  // A timer coming due makes it readable without any pump in between.
  ASSERT_TRUE(set_timer(r.w, 1, 200));
  EXPECT_FALSE(readable(fd));
  EXPECT_TRUE(readable(fd, 2000));
  EXPECT_EQ(tovui_pump(0), 1);
  EXPECT_FALSE(readable(fd));
  kill_timer(r.w, 1);
}
