// The canvas's pixel rules, checked against pictures drawn by hand and
// against a floating-point line oracle.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <string>

#include "ui/ui.hpp"

using namespace tovui;

namespace {

constexpr Color kPen = rgb(255, 0, 0);
constexpr Color kBrush = rgb(0, 0, 255);

Bitmap canvas(int32_t w, int32_t h) {
  Bitmap b(w, h);
  b.set_pen(kPen);
  b.set_brush(kBrush);
  return b;
}

// One text row per pixel row: 'P' pen, 'B' brush, '.' white, '?' other.
std::string picture(const Bitmap& b) {
  std::string s;
  for (int32_t y = 0; y < b.height(); ++y) {
    for (int32_t x = 0; x < b.width(); ++x) {
      const Color c = b.pixel(x, y);
      s += c == kPen ? 'P' : c == kBrush ? 'B' : c == kWhite ? '.' : '?';
    }
    s += '\n';
  }
  return s;
}

}  // namespace

TEST(Canvas, FillExcludesRightAndBottomEdgesAndNormalisesCorners) {
  auto b = canvas(6, 4);
  b.fill_rect(1, 1, 4, 3);
  EXPECT_EQ(picture(b), "......\n.BBB..\n.BBB..\n......\n");
  auto c = canvas(6, 4);
  c.fill_rect(4, 3, 1, 1);
  EXPECT_EQ(picture(c), picture(b));
  auto e = canvas(3, 3);
  e.fill_rect(1, 1, 1, 3);  // no width
  EXPECT_EQ(picture(e), "...\n...\n...\n");
}

TEST(Canvas, RectangleOutlinesWithThePenAndFillsInsideWithTheBrush) {
  auto b = canvas(7, 5);
  b.rectangle(1, 1, 6, 5);
  EXPECT_EQ(picture(b),
            ".......\n"
            ".PPPPP.\n"
            ".PBBBP.\n"
            ".PBBBP.\n"
            ".PPPPP.\n");
  // A bar drawn upwards from its base line, as a display does.
  auto bar = canvas(4, 6);
  bar.rectangle(1, 6, 3, 3);
  EXPECT_EQ(picture(bar), "....\n....\n....\n.PP.\n.PP.\n.PP.\n");
}

TEST(Canvas, ThinAndEmptyRectangles) {
  auto one = canvas(4, 3);
  one.rectangle(1, 0, 2, 3);  // one pixel wide: all outline
  EXPECT_EQ(picture(one), ".P..\n.P..\n.P..\n");
  auto none = canvas(4, 3);
  none.rectangle(1, 1, 3, 1);  // no height
  none.rectangle(2, 0, 2, 3);  // no width
  EXPECT_EQ(picture(none), "....\n....\n....\n");
}

TEST(Canvas, ShapesAreClippedToTheBitmap) {
  auto b = canvas(4, 3);
  b.rectangle(-2, -2, 3, 2);
  EXPECT_EQ(picture(b), "BBP.\nPPP.\n....\n");
  auto f = canvas(3, 2);
  f.fill_rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  EXPECT_EQ(picture(f), "BBB\nBBB\n");
}

TEST(Canvas, LineExcludesItsLastPointAndMovesTheCurrentPoint) {
  auto b = canvas(6, 3);
  b.move_to(0, 1);
  b.line_to(4, 1);
  EXPECT_EQ(picture(b), "......\nPPPP..\n......\n");
  b.line_to(4, 3);  // continues from (4, 1)
  EXPECT_EQ(picture(b), "......\nPPPPP.\n....P.\n");
  auto dot = canvas(2, 2);
  dot.move_to(1, 1);
  dot.line_to(1, 1);
  EXPECT_EQ(picture(dot), "..\n..\n");
}

#if !defined(_WIN32)  // GDI breaks a tie between two pixels its own way
TEST(Canvas, LineFollowsBresenhamWithHalvesRoundedAwayFromTheStart) {
  const struct {
    int32_t width, height, x0, y0, x1, y1;
    const char* picture;
  } lines[] = {
      {6, 3, 0, 0, 5, 2, "PP....\n..PP..\n....P.\n"},
      {3, 2, 0, 0, 2, 1, "P..\n.P.\n"},                 // a tie
      {3, 2, 2, 1, 0, 0, ".P.\n..P\n"},                 // the same tie, drawn back
      {3, 5, 0, 4, 2, 0, "...\n..P\n.P.\n.P.\nP..\n"},  // steep
  };
  for (const auto& l : lines) {
    auto b = canvas(l.width, l.height);
    b.move_to(l.x0, l.y0);
    b.line_to(l.x1, l.y1);
    EXPECT_EQ(picture(b), l.picture) << l.x0 << "," << l.y0 << " to " << l.x1 << "," << l.y1;
  }
}

TEST(Canvas, LinesMatchAFloatingPointOracleInsideAndWhenClipped) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int32_t> coord(-40, 100);
  for (int round = 0; round < 400; ++round) {
    const int32_t x0 = coord(rng), y0 = coord(rng), x1 = coord(rng), y1 = coord(rng);
    auto small = canvas(50, 40);
    small.move_to(x0, y0);
    small.line_to(x1, y1);
    // Oracle: the same line, point by point, in floating point.
    auto want = canvas(50, 40);
    want.set_brush(kPen);
    const int32_t dx = x1 - x0, dy = y1 - y0, n = std::max(std::abs(dx), std::abs(dy));
    for (int32_t i = 0; i < n; ++i) {
      auto along = [&](int32_t d) { return int32_t(std::floor(double(i) * std::abs(d) / n + 0.5)) * (d < 0 ? -1 : 1); };
      const int32_t x = x0 + along(dx), y = y0 + along(dy);
      want.fill_rect(x, y, x + 1, y + 1);
    }
    ASSERT_EQ(picture(small), picture(want)) << "line " << x0 << "," << y0 << " to " << x1 << "," << y1;
  }
}

#endif

TEST(Canvas, AHugeLineCostsOnlyWhatLiesInside) {
  auto b = canvas(10, 10);
  const auto start = std::chrono::steady_clock::now();
  b.move_to(INT32_MIN, INT32_MIN);
  b.line_to(INT32_MAX, INT32_MAX);
  b.move_to(5, INT32_MAX);
  b.line_to(5, INT32_MIN);
  // Not a speed test: an unclipped walk would take minutes, not seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(b.pixel(i, i), kPen) << i;
    EXPECT_EQ(b.pixel(5, i), kPen) << i;
  }
}

TEST(Canvas, ResizeKeepsTheOverlapAndNewPixelsAreWhite) {
  auto b = canvas(3, 2);
  b.fill_rect(0, 0, 3, 2);
  b.resize(4, 1);
  EXPECT_EQ(picture(b), "BBB.\n");
  b.resize(-5, 3);
  EXPECT_EQ(b.width(), 0);
#if !defined(_WIN32)
  EXPECT_TRUE(b.pixels().empty());
#endif
}

// A full fill redraws only what was drawn since the last one: whatever was
// drawn (shapes clipped at every edge, lines, a resize), none of it may stay.
TEST(Canvas, AFullFillCoversEverythingDrawnSinceTheLast) {
  auto b = canvas(12, 9);
  std::mt19937 random(7);
  auto coord = [&] { return int32_t(random() % 20) - 4; };
  for (int round = 0; round < 200; ++round) {
    b.set_brush(round % 3 == 0 ? kPen : kBrush);  // the same colour again, or another
    b.fill_rect(-1, -1, 13, 10);
    std::string want;
    for (int32_t y = 0; y < b.height(); ++y) want += std::string(size_t(b.width()), round % 3 == 0 ? 'P' : 'B') + '\n';
    ASSERT_EQ(picture(b), want) << round;
    b.set_brush(kWhite);
    for (int shape = 0; shape < 3; ++shape) {
      b.rectangle(coord(), coord(), coord(), coord());
      b.fill_rect(coord(), coord(), coord(), coord());
      b.move_to(coord(), coord());
      b.line_to(coord(), coord());
    }
    if (round == 100) b.resize(12, 9);
  }
}
