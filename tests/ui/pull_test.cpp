// The pull path: opaque pixels with a stride, and damage told on the owner's pump.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "tovarin/ui.h"
#include "ui/ui.hpp"

using namespace tovui;

namespace {

using Area = std::array<int32_t, 4>;

struct Watcher {
  std::vector<Area> calls;
  static void record(void* user, uint32_t, int32_t x, int32_t y, int32_t w, int32_t h) {
    static_cast<Watcher*>(user)->calls.push_back({x, y, w, h});
  }
  // What one pass of the queue tells, then forgotten.
  std::vector<Area> pumped() {
    calls.clear();
    tovui_pump(0);
    return std::move(calls);
  }
};

Bitmap solid(int32_t w, int32_t h, Color c) {
  Bitmap b(w, h);
  b.set_brush(c);
  b.fill_rect(0, 0, w, h);
  return b;
}

}  // namespace

TEST(Render, OpaqueWordsInMachineOrderWithTheHostsStride) {
  const uint32_t host = tovui_create_window(0, 0, 0, 2, 2);
  create_window(host, {1, 0, 1, 1}, {}, rgb(10, 20, 30));
  constexpr int32_t kStride = 12;  // 3 words a row: the last one is the host's padding
  std::vector<uint8_t> px(kStride * 2, 0x77);
  ASSERT_EQ(tovui_render(host, px.data(), kStride, 2, 2), 1);
  uint32_t word;
  std::memcpy(&word, &px[4], 4);
  EXPECT_EQ(word, 0xFF0A141Eu);
  std::memcpy(&word, &px[0], 4);
  EXPECT_EQ(word, 0xFFFFFFFFu);
  EXPECT_EQ(px[8], 0x77);  // padding untouched
  EXPECT_EQ(px[kStride + 4 + 3], 0xFF);
  if constexpr (std::endian::native == std::endian::little) {  // B, G, R, A
    EXPECT_EQ(std::vector<uint8_t>(px.begin() + 4, px.begin() + 8), (std::vector<uint8_t>{30, 20, 10, 255}));
  }
  // A stride too short for the width, or not whole words, is refused.
  EXPECT_EQ(tovui_render(host, px.data(), 4, 2, 2), 0);
  EXPECT_EQ(tovui_render(host, px.data(), 10, 2, 2), 0);
  tovui_destroy_window(host);
  EXPECT_EQ(tovui_render(host, px.data(), kStride, 2, 2), 0);
}

TEST(Damage, ToldOnThePumpOnlyWhenShownPixelsChange) {
  const uint32_t host = tovui_create_window(0, 0, 0, 100, 50);
  const Handle form = create_window(host, {10, 5, 40, 40});
  Watcher watcher;
  ASSERT_EQ(tovui_watch_damage(host, &Watcher::record, &watcher), 1);
  EXPECT_TRUE(watcher.calls.empty());  // never from inside the call
  EXPECT_EQ(watcher.pumped(), (std::vector<Area>{{0, 0, 100, 50}}));
  EXPECT_TRUE(watcher.pumped().empty());

  // Two blits, one call: the changed rows of both, in the host's coordinates,
  // clipped to the form.
  const Bitmap red = solid(5, 3, rgb(255, 0, 0));
  blit(form, 2, 1, 5, 3, red, 0, 0);
  blit(form, 38, 30, 5, 3, red, 0, 0);
  EXPECT_EQ(watcher.pumped(), (std::vector<Area>{{12, 6, 38, 32}}));
  // The same frame again is no change.
  blit(form, 2, 1, 5, 3, red, 0, 0);
  EXPECT_TRUE(watcher.pumped().empty());

  // Hidden: told once where the form was, then its drawing costs nothing.
  show_window(form, false);
  EXPECT_EQ(watcher.pumped(), (std::vector<Area>{{10, 5, 40, 40}}));
  blit(form, 0, 0, 5, 3, solid(5, 3, rgb(0, 0, 255)), 0, 0);
  EXPECT_TRUE(watcher.pumped().empty());
  show_window(form, true);
  EXPECT_EQ(watcher.pumped(), (std::vector<Area>{{10, 5, 40, 40}}));

  // Moved: where it was and where it is.
  set_window_pos(form, {0, 0, 20, 20});
  EXPECT_EQ(watcher.pumped(), (std::vector<Area>{{0, 0, 50, 45}}));
  // Gone.
  destroy_window(form);
  EXPECT_EQ(watcher.pumped(), (std::vector<Area>{{0, 0, 20, 20}}));

  // Ended by NULL, and with the window: a pending change is dropped.
  const Handle kid = create_window(host, {0, 0, 5, 5});
  ASSERT_EQ(tovui_watch_damage(host, nullptr, nullptr), 1);
  destroy_window(kid);
  EXPECT_TRUE(watcher.pumped().empty());
  ASSERT_EQ(tovui_watch_damage(host, &Watcher::record, &watcher), 1);
  tovui_destroy_window(host);
  EXPECT_TRUE(watcher.pumped().empty());
  EXPECT_EQ(tovui_watch_damage(host, &Watcher::record, &watcher), 0);
}
