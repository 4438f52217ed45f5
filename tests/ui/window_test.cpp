// Windows: the tree, bounds, visibility, destruction order and stale handles.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tovarin/ui.h"
#include "ui/ui.hpp"

using namespace tovui;

namespace {

struct Log {
  std::vector<std::pair<Handle, uint32_t>> seen;
  WindowProc proc() {
    return [this](Handle w, uint32_t msg, uintptr_t, intptr_t) {
      seen.push_back({w, msg});
      return intptr_t(0);
    };
  }
};

}  // namespace

TEST(Windows, TreeKeepsChildrenInCreationOrderAndBoundsRelativeToParent) {
  const uint32_t top = tovui_create_window(0, 5, 6, 400, 300);
  ASSERT_NE(top, 0u);
  const uint32_t a = tovui_create_window(top, 10, 20, 30, 40);
  const uint32_t b = tovui_create_window(top, -5, 0, 50, 60);
  EXPECT_EQ(tovui_get_parent(top), 0u);
  EXPECT_EQ(tovui_get_parent(a), top);
  EXPECT_EQ(tovui_child(top, 0), a);
  EXPECT_EQ(tovui_child(top, 1), b);
  EXPECT_EQ(tovui_child(top, 2), 0u);
  EXPECT_EQ(tovui_child(top, -1), 0u);
  int32_t x = 0, y = 0, w = 0, h = 0;
  ASSERT_EQ(tovui_get_rect(b, &x, &y, &w, &h), 1);
  EXPECT_EQ(x, -5);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(w, 50);
  EXPECT_EQ(h, 60);
  EXPECT_EQ(tovui_is_visible(a), 1);
  EXPECT_EQ(tovui_get_rect(a, nullptr, nullptr, nullptr, nullptr), 1);
  tovui_destroy_window(top);
}

TEST(Windows, CreateUnderADeadParentFails) {
  const uint32_t top = tovui_create_window(0, 0, 0, 10, 10);
  tovui_destroy_window(top);
  EXPECT_EQ(tovui_create_window(top, 0, 0, 5, 5), 0u);
  EXPECT_EQ(tovui_create_window(0xFFFFFFF0u, 0, 0, 5, 5), 0u);
}

TEST(Windows, StaleHandlesFailQuietlyAndAreNeverReused) {
  const uint32_t top = tovui_create_window(0, 1, 2, 3, 4);
  const uint32_t kid = tovui_create_window(top, 0, 0, 1, 1);
  ASSERT_EQ(tovui_destroy_window(top), 1);
  for (uint32_t h : {top, kid, 0u}) {
    int32_t x = 77;
    EXPECT_EQ(tovui_destroy_window(h), 0);
    EXPECT_EQ(tovui_get_parent(h), 0u);
    EXPECT_EQ(tovui_child(h, 0), 0u);
    EXPECT_EQ(tovui_get_rect(h, &x, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(x, 77);
    EXPECT_EQ(tovui_is_visible(h), 0);
    EXPECT_FALSE(is_window(h));
    EXPECT_FALSE(post_message(h, WM_USER, 0, 0));
    EXPECT_FALSE(set_timer(h, 1, 10));
    EXPECT_FALSE(kill_timer(h, 1));
    EXPECT_FALSE(set_window_pos(h, {0, 0, 5, 5}));
    EXPECT_FALSE(show_window(h, true));
    EXPECT_EQ(set_parent(h, 0), 0u);
    uint32_t px = 0;
    EXPECT_EQ(tovui_compose(h, &px, 1, 1), 0);
  }
  // Many new windows later, none takes an old number.
  for (int i = 0; i < 1000; ++i) {
    const uint32_t h = tovui_create_window(0, 0, 0, 1, 1);
    ASSERT_NE(h, top);
    ASSERT_NE(h, kid);
    tovui_destroy_window(h);
  }
}

TEST(Windows, DestroyGoesChildrenFirstAndEachGetsDestroyWhileStillAWindow) {
  Log log;
  std::vector<bool> alive_at_destroy;
  auto proc = [&](Handle w, uint32_t msg, uintptr_t, intptr_t) {
    if (msg == WM_DESTROY) {
      log.seen.push_back({w, msg});
      alive_at_destroy.push_back(is_window(w));
    }
    return intptr_t(0);
  };
  const Handle top = create_window(0, {0, 0, 100, 100}, proc);
  const Handle a = create_window(top, {0, 0, 10, 10}, proc);
  const Handle a1 = create_window(a, {0, 0, 5, 5}, proc);
  const Handle b = create_window(top, {0, 0, 10, 10}, proc);
  ASSERT_TRUE(destroy_window(top));
  const std::vector<std::pair<Handle, uint32_t>> want = {
      {a1, WM_DESTROY}, {a, WM_DESTROY}, {b, WM_DESTROY}, {top, WM_DESTROY}};
  EXPECT_EQ(log.seen, want);
  EXPECT_EQ(alive_at_destroy, std::vector<bool>(4, true));
  for (Handle h : {top, a, a1, b}) EXPECT_FALSE(is_window(h));
}

TEST(Windows, MessagePostedToItselfDuringDestroyIsDiscardedWithTheWindow) {
  int released = 0;
  const Handle host = create_window(0, {0, 0, 50, 50});
  const Handle form = create_window(host, {0, 0, 10, 10}, [&](Handle w, uint32_t msg, uintptr_t, intptr_t) {
    if (msg == WM_DESTROY) {
      EXPECT_TRUE(post_message(w, WM_USER + 1, 0, 0));
    }
    if (msg == WM_USER + 1) ++released;
    return intptr_t(0);
  });
  ASSERT_TRUE(set_timer(form, 1, 1));
  ASSERT_TRUE(destroy_window(host));
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(pump(20), 0);
  EXPECT_EQ(released, 0);
}

TEST(Windows, ADyingWindowCanNeitherBeDestroyedAgainNorTakeNewChildren) {
  bool again = true;
  Handle late = 1;
  const Handle top = create_window(0, {0, 0, 10, 10}, [&](Handle w, uint32_t msg, uintptr_t, intptr_t) {
    if (msg == WM_DESTROY) {
      again = destroy_window(w);
      late = create_window(w, {0, 0, 1, 1});
    }
    return intptr_t(0);
  });
  ASSERT_TRUE(destroy_window(top));
  EXPECT_FALSE(again);
  EXPECT_EQ(late, 0u);
}

TEST(Windows, OnlyTheOwningThreadDestroys) {
  const Handle w = create_window(0, {0, 0, 1, 1});
  bool other = true;
  std::thread([&] { other = destroy_window(w); }).join();
  EXPECT_FALSE(other);
  EXPECT_TRUE(is_window(w));
  EXPECT_TRUE(destroy_window(w));
}

TEST(Windows, SetParentMovesUnderTheNewParentAndRefusesCycles) {
  const Handle p = create_window(0, {0, 0, 100, 100});
  const Handle host = create_window(p, {10, 10, 50, 50});
  const Handle form = create_window(p, {0, 0, 20, 20});
  EXPECT_EQ(set_parent(form, host), p);
  EXPECT_EQ(get_parent(form), host);
  EXPECT_EQ(child(host, 0), form);
  EXPECT_EQ(child(p, 0), host);
  EXPECT_EQ(child(p, 1), 0u);
  EXPECT_EQ(set_parent(p, form), 0u);  // p is an ancestor of form
  EXPECT_EQ(set_parent(host, host), 0u);
  EXPECT_EQ(get_parent(p), 0u);
  destroy_window(p);
  EXPECT_FALSE(is_window(form));
}

TEST(Windows, ResizingKeepsTheOverlapAndFillsTheRestWithTheBackground) {
  const Handle w = create_window(0, {0, 0, 4, 3}, {}, rgb(0, 0, 255));
  Bitmap red(2, 2);
  red.set_brush(rgb(255, 0, 0));
  red.fill_rect(0, 0, 2, 2);
  ASSERT_TRUE(blit(w, 2, 1, 2, 2, red, 0, 0));
  ASSERT_TRUE(set_window_pos(w, {7, 8, 6, 2}));
  std::vector<Color> px;
  int32_t width = 0, height = 0;
  ASSERT_TRUE(read_surface(w, px, width, height));
  ASSERT_EQ(width, 6);
  ASSERT_EQ(height, 2);
  const Color R = rgb(255, 0, 0), B = rgb(0, 0, 255);
  const std::vector<Color> want = {B, B, B, B, B, B, B, B, R, R, B, B};
  EXPECT_EQ(px, want);
  destroy_window(w);
}

// The library a host runs with answers the version of the headers it was
// built from, in both forms.
TEST(Windows, VersionQueryAnswersTheHeadersVersion) {
  EXPECT_EQ(tovui_version(), uint32_t(TOVARIN_VERSION));
  EXPECT_EQ(tovui_version() >> 16, uint32_t(TOVARIN_VERSION_MAJOR));
  const std::string text = std::to_string(TOVARIN_VERSION_MAJOR) + "." + std::to_string(TOVARIN_VERSION_MINOR) + "." +
                           std::to_string(TOVARIN_VERSION_PATCH);
  EXPECT_STREQ(tovui_version_string(), text.c_str());
}
