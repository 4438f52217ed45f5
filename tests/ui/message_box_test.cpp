// Modal message boxes: the presenter, the nested loop, re-entrance.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tovarin/ui.h"
#include "ui/ui.hpp"

using namespace tovui;
using namespace std::chrono_literals;

namespace {

// Records every box and lets the test decide what happens while it is up.
struct Presenting {
  std::vector<std::string> texts;
  std::vector<uint32_t> boxes;
  std::function<void(uint32_t box)> on_show;
  Presenting() { tovui_set_presenter(&Presenting::present, this); }
  ~Presenting() { tovui_set_presenter(nullptr, nullptr); }
  static void present(void* user, uint32_t box, const char* text, const char* caption) {
    auto* self = static_cast<Presenting*>(user);
    self->texts.push_back(std::string(caption) + "|" + text);
    self->boxes.push_back(box);
    if (self->on_show) self->on_show(box);
  }
};

}  // namespace

TEST(MessageBox, DefaultPresenterPrintsOnStandardErrorAndClosesAtOnce) {
  tovui_set_presenter(nullptr, nullptr);
  testing::internal::CaptureStderr();
  message_box(0, "Play Error", "tovarin");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Play Error"), std::string::npos);
}

TEST(MessageBox, APresenterMayCloseTheBoxFromInside) {
  Presenting p;
  p.on_show = [](uint32_t box) { EXPECT_EQ(tovui_close_box(box), 1); };
  message_box(0, "text", "caption");
  ASSERT_EQ(p.texts, std::vector<std::string>{"caption|text"});
  EXPECT_EQ(tovui_close_box(p.boxes[0]), 0);  // closed already
  EXPECT_EQ(tovui_close_box(0), 0);
}

TEST(MessageBox, TheNestedLoopDispatchesPostedMessagesAndTimersUntilClosed) {
  Presenting p;
  int posted = 0, ticks = 0;
  uint32_t open_box = 0;
  const Handle w = create_window(0, {0, 0, 1, 1}, [&](Handle self, uint32_t msg, uintptr_t, intptr_t) {
    if (msg == WM_USER) ++posted;
    if (msg == WM_TIMER && ++ticks == 3) {
      kill_timer(self, 1);
      tovui_close_box(open_box);
    }
    return intptr_t(0);
  });
  p.on_show = [&](uint32_t box) {
    open_box = box;
    // Work arrives from another thread while the box is up.
    std::thread([w] {
      for (int i = 0; i < 10; ++i) post_message(w, WM_USER, 0, 0);
      set_timer(w, 1, 5);
    }).join();
  };
  message_box(w, "text", "caption");
  EXPECT_EQ(posted, 10);
  EXPECT_EQ(ticks, 3);
  destroy_window(w);
}

TEST(MessageBox, ABoxShownInsideTheLoopRunsItsOwnLoopAndTheOuterOneGoesOn) {
  Presenting p;
  std::vector<std::string> order;
  uint32_t outer = 0;
  const Handle w = create_window(0, {0, 0, 1, 1}, [&](Handle self, uint32_t msg, uintptr_t wp, intptr_t) {
    if (msg != WM_USER) return intptr_t(0);
    order.push_back("msg" + std::to_string(wp));
    if (wp == 1) {
      message_box(self, "inner", "c");  // entered again from inside the outer loop
      order.push_back("inner closed");
    }
    if (wp == 2) tovui_close_box(p.boxes.back());  // closes the inner box
    if (wp == 3) tovui_close_box(outer);
    return intptr_t(0);
  });
  p.on_show = [&](uint32_t box) {
    if (outer == 0) {
      outer = box;
      post_message(w, WM_USER, 1, 0);
    } else {
      post_message(w, WM_USER, 2, 0);
      post_message(w, WM_USER, 3, 0);
    }
  };
  message_box(w, "outer", "c");
  // The inner loop dispatches msg2 (closing itself) and, in the same pump,
  // msg3 (closing the outer box); both loops then end.
  const std::vector<std::string> want = {"msg1", "msg2", "msg3", "inner closed"};
  EXPECT_EQ(order, want);
  EXPECT_EQ(p.texts, (std::vector<std::string>{"c|outer", "c|inner"}));
  destroy_window(w);
}

TEST(MessageBox, AnotherThreadCanCloseTheBox) {
  Presenting p;
  std::thread closer;
  p.on_show = [&](uint32_t box) {
    closer = std::thread([box] {
      std::this_thread::sleep_for(30ms);
      tovui_close_box(box);
    });
  };
  const auto start = std::chrono::steady_clock::now();
  message_box(0, "wait", "c");
  closer.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 25ms);
}
