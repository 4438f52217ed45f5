// Block copies into windows, the compositor, PNG files and terminal text.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tovarin/ui.h"
#include "ui/ui.hpp"

using namespace tovui;

namespace {

constexpr Color kRed = rgb(255, 0, 0);
constexpr uint32_t kRedWord = 0xFF0000, kWhiteWord = 0xFFFFFF, kBlueWord = 0x0000FF, kGreenWord = 0x00FF00;

Bitmap solid(int32_t w, int32_t h, Color c) {
  Bitmap b(w, h);
  b.set_brush(c);
  b.fill_rect(0, 0, w, h);
  return b;
}

std::vector<uint32_t> composed(uint32_t window, int32_t w, int32_t h, uint32_t fill = 0x123456) {
  std::vector<uint32_t> px(size_t(w) * size_t(h), fill);
  EXPECT_EQ(tovui_compose(window, px.data(), w, h), 1);
  return px;
}

}  // namespace

TEST(Blit, CopiesABlockClippedToSourceWindowAndClipRect) {
  const Handle w = create_window(0, {0, 0, 8, 4});
  Bitmap src(3, 3);
  src.set_brush(kRed);
  src.fill_rect(0, 0, 3, 3);
  src.set_brush(rgb(0, 0, 255));
  src.fill_rect(2, 0, 3, 3);  // a blue last column
  const Rect clip{1, 0, 5, 2};
  ASSERT_TRUE(blit(w, 0, 0, 10, 10, src, 0, 0, &clip));  // larger than the source
  ASSERT_TRUE(blit(w, 6, 3, 3, 3, src, 1, 0));           // runs past the window
  const auto px = composed(w, 8, 4);
  const uint32_t W = kWhiteWord, R = kRedWord, B = kBlueWord;
  const std::vector<uint32_t> want = {W, R, B, W, W, W, W, W,  //
                                      W, R, B, W, W, W, W, W,  //
                                      W, W, W, W, W, W, W, W,  //
                                      W, W, W, W, W, W, R, B};
  EXPECT_EQ(px, want);
  EXPECT_FALSE(blit(0, 0, 0, 1, 1, src, 0, 0));
  destroy_window(w);
}

TEST(Compose, ChildrenLieOverTheirParentClippedToItAndHiddenOnesAreLeftOut) {
  const uint32_t host = tovui_create_window(0, 0, 0, 6, 4);
  const Handle a = create_window(host, {1, 1, 2, 2}, {}, rgb(0, 0, 255));
  const Handle b = create_window(host, {2, 2, 10, 10}, {}, rgb(0, 255, 0));  // runs past the host
  const Handle b1 = create_window(b, {-1, 0, 2, 1}, {}, kRed);               // half outside b
  const uint32_t W = kWhiteWord, B = kBlueWord, G = kGreenWord, R = kRedWord;
  EXPECT_EQ(composed(host, 6, 4), (std::vector<uint32_t>{W, W, W, W, W, W,  //
                                                         W, B, B, W, W, W,  //
                                                         W, B, R, G, G, G,  //
                                                         W, W, G, G, G, G}));
  show_window(b, false);
  EXPECT_EQ(composed(host, 6, 4), (std::vector<uint32_t>{W, W, W, W, W, W,  //
                                                         W, B, B, W, W, W,  //
                                                         W, B, B, W, W, W,  //
                                                         W, W, W, W, W, W}));
  EXPECT_EQ(tovui_is_visible(b), 0);
  EXPECT_EQ(tovui_is_visible(b1), 1);  // its own flag; it is not drawn with b hidden
  show_window(b, true);
  // A child over the whole host hides it; hidden, it leaves the host's own
  // pixels (painted, not skipped as covered) with the others over them.
  const Handle cover = create_window(host, {-1, -1, 8, 6}, {}, kRed);
  EXPECT_EQ(composed(host, 6, 4), std::vector<uint32_t>(24, R));
  show_window(cover, false);
  EXPECT_EQ(composed(host, 6, 4)[0], W);
  tovui_destroy_window(host);
  (void)a;
}

TEST(Compose, PixelsOutsideTheWindowStayAsTheyWere) {
  const uint32_t w = tovui_create_window(0, 3, 3, 2, 1);
  const auto px = composed(w, 3, 2, 7);
  EXPECT_EQ(px, (std::vector<uint32_t>{kWhiteWord, kWhiteWord, 7, 7, 7, 7}));
  uint32_t one = 0;
  EXPECT_EQ(tovui_compose(w, nullptr, 1, 1), 0);
  EXPECT_EQ(tovui_compose(w, &one, 0, 1), 0);
  tovui_destroy_window(w);
}

TEST(Compose, AFormSizedChildShowsWhiteAtTheTopLeftOfItsHost) {
  const Handle host = create_window(0, {0, 0, 400, 300}, {}, rgb(0, 0, 0));
  const Handle form = create_window(host, {0, 0, 111, 240});
  std::vector<uint32_t> px;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(compose(host, px, w, h));
  ASSERT_EQ(w, 400);
  ASSERT_EQ(h, 300);
  int white = 0;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const bool inside = x < 111 && y < 240;
      white += px[size_t(y) * w + x] == kWhiteWord;
      if (inside != (px[size_t(y) * w + x] == kWhiteWord)) FAIL() << x << "," << y;
    }
  EXPECT_EQ(white, 111 * 240);
  destroy_window(host);
  (void)form;
}

TEST(Png, TheFileHoldsTheComposedPixels) {
  const uint32_t host = tovui_create_window(0, 0, 0, 5, 3);
  const Handle kid = create_window(host, {1, 1, 2, 1}, {}, rgb(10, 20, 30));
  const auto path = std::filesystem::temp_directory_path() / ("tovui_png_" + std::to_string(getpid()) + ".png");
  ASSERT_EQ(tovui_save_png(host, path.c_str()), 1);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_file(&image, path.c_str()), 0);
  EXPECT_EQ(image.width, 5u);
  EXPECT_EQ(image.height, 3u);
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb_bytes(PNG_IMAGE_SIZE(image));
  ASSERT_NE(png_image_finish_read(&image, nullptr, rgb_bytes.data(), 0, nullptr), 0);
  auto at = [&](int x, int y) {
    const uint8_t* p = &rgb_bytes[size_t(y * 5 + x) * 3];
    return std::vector<int>{p[0], p[1], p[2]};
  };
  EXPECT_EQ(at(0, 0), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(at(1, 1), (std::vector<int>{10, 20, 30}));
  EXPECT_EQ(at(2, 1), (std::vector<int>{10, 20, 30}));
  EXPECT_EQ(at(3, 1), (std::vector<int>{255, 255, 255}));
  std::filesystem::remove(path);
  EXPECT_EQ(tovui_save_png(host, "/nonexistent-dir/x.png"), 0);
  tovui_destroy_window(host);
  EXPECT_EQ(tovui_save_png(host, path.c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(path));
  (void)kid;
}

TEST(Terminal, TwoPixelsACellInTruecolour) {
  const Handle w = create_window(0, {0, 0, 2, 3}, {}, rgb(1, 2, 3));
  Bitmap red = solid(1, 1, kRed);
  blit(w, 0, 0, 1, 1, red, 0, 0);
  const std::string s = render_ansi(w);
  // Row pair 0-1: red over the background, then the background twice;
  // row 2 has no partner below.
  EXPECT_EQ(s,
            "\x1b[38;2;255;0;0m\x1b[48;2;1;2;3m\xe2\x96\x80"
            "\x1b[38;2;1;2;3m\x1b[48;2;1;2;3m\xe2\x96\x80\x1b[0m\n"
            "\x1b[38;2;1;2;3m\x1b[49m\xe2\x96\x80"
            "\x1b[38;2;1;2;3m\x1b[49m\xe2\x96\x80\x1b[0m\n");
  const Handle wide = create_window(0, {0, 0, 100, 2});
  const std::string narrow = render_ansi(wide, 10);
  size_t cells = 0;
  for (size_t p = narrow.find("\xe2\x96\x80"); p != std::string::npos; p = narrow.find("\xe2\x96\x80", p + 1)) ++cells;
  EXPECT_EQ(cells, 10u);
  EXPECT_EQ(render_ansi(0), "");
  destroy_window(w);
  destroy_window(wide);
}
