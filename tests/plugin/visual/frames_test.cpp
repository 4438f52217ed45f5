// The display's frames drawn from crafted spectra, checked pixel by pixel.
#include <gtest/gtest.h>

#include <cfenv>
#include <cstring>

#include "platform/platform.hpp"
#include "visual/frames.hpp"

using namespace tovarin::visual;

namespace {

constexpr tovui::Color kPen = tovui::rgb(255, 0, 0);
constexpr tovui::Color kBrush = tovui::rgb(0, 0, 64);

tovui::Bitmap Canvas() {
  tovui::Bitmap b(512, 200);
  b.set_pen(kPen);
  b.set_brush(kBrush);
  return b;
}

Spectrum Filled(float magnitude) {
  Spectrum s;
  s.fill(magnitude);
  return s;
}

float FromBits(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

int TopPen(const tovui::Bitmap& b, int x) {
  for (int y = 0; y < b.height(); ++y)
    if (b.pixel(x, y) == kPen) return y;
  return -1;
}

// Bar i's height: its left outline runs from its top down to row h - 1.
int BarHeight(const tovui::Bitmap& b, int i, int width, int h) {
  const int top = TopPen(b, 1 + i * width);
  return top < 0 ? 0 : h - top;
}

}  // namespace

TEST(BarsFrame, SilenceGivesBarsTwoPixelsHighFromXOne) {
  auto b = Canvas();
  DrawBarsFrame(b, Filled(0.f), 100, 20, 5);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(BarHeight(b, i, 5, 100), 2) << "bar " << i;
  EXPECT_EQ(b.pixel(0, 99), kBrush);
  EXPECT_EQ(b.pixel(100, 99), kPen);    // the last bar's right outline
  EXPECT_EQ(b.pixel(101, 99), kBrush);  // bars end at 1 + 20 x 5
}

TEST(Frames, UnitMagnitudeAt100HighGivesBarsOf74AndALineAt24) {
  auto bars = Canvas();
  DrawBarsFrame(bars, Filled(1.f), 100, 20, 5);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(BarHeight(bars, i, 5, 100), 74) << "bar " << i;
  EXPECT_EQ(bars.pixel(3, 27), kBrush);  // interior

  auto line = Canvas();
  DrawLineFrame(line, Filled(1.f), 100, 20, 5);
  for (int x = 6; x <= 95; ++x) EXPECT_EQ(TopPen(line, x), 24) << x;
  EXPECT_EQ(TopPen(line, 0), -1);           // point 0 lies at y = -33
  EXPECT_EQ(line.pixel(4, 13), kPen);       // on the way down from it
  EXPECT_EQ(line.pixel(100, 99), kPen);     // the last point lies on y = 100,
  EXPECT_EQ(line.pixel(100, 100), kBrush);  // itself excluded
}

// Known answers: a magnitude of 1.0 stands 74.07 high at H = 100, and each
// doubling adds 7.69 pixels; heights round halves to even in single
// precision, so magnitudes whose bars stand at exactly 73.5 and 72.5
// (H = 150) give 74 and 72, and the single just below 73.5 still 74 (a
// double would round it down).
TEST(BarsFrame, HeightsFollowTheMagnitudesLogarithmAndRoundAsSingles) {
  struct Case {
    uint32_t bits;  // the bin's float, as a pattern
    int h, height;
  } cases[] = {
      {0x3E800000, 100, 59},  // 0.25: 58.69
      {0x3F000000, 100, 66},  // 0.5: 66.38
      {0x3F800000, 100, 74},  // 1.0: 74.07
      {0x40000000, 100, 82},  // 2.0: 81.76
      {0x40800000, 100, 89},  // 4.0: 89.45
      {0x41000000, 100, 97},  // 8.0: 97.13
      {0x3A83126F, 100, 2},   // 0.001: below the scale
      {0x3F3F055E, 150, 74},  // 73.5
      {0x3F2E5F42, 150, 72},  // 72.5
      {0x3F3F055D, 150, 74},  // 73.5 less a millionth
  };
  // Whatever rounding mode the host set: the form's window procedure draws
  // inside the plug-in's floating-point scope (rounding down, the last case
  // would come to 73.49999 and 73).
  for (const int mode : {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO}) {
    std::fesetround(mode);
    const tovarin::platform::HostFloatScope scope;
    for (const Case& c : cases) {
      auto b = Canvas();
      Spectrum s{};
      s[0] = FromBits(c.bits);
      DrawBarsFrame(b, s, c.h, 1, 5);
      EXPECT_EQ(BarHeight(b, 0, 5, c.h), c.height) << std::hex << c.bits << " mode " << mode;
    }
  }
  std::fesetround(FE_TONEAREST);
}

TEST(Frames, PatternsReadUnsignedAndClampToTheAreaExceptLinePointZero) {
  auto b = Canvas();
  Spectrum s{};
  s[0] = 1e30f;   // far above h
  s[1] = -0.0f;   // pattern 2^31: huge when read unsigned
  s[2] = 1e-30f;  // below the scale: 2 pixels
  DrawBarsFrame(b, s, 60, 3, 5);
  EXPECT_EQ(BarHeight(b, 0, 5, 60), 60);
  EXPECT_EQ(BarHeight(b, 1, 5, 60), 60);
  EXPECT_EQ(BarHeight(b, 2, 5, 60), 2);

  auto line = Canvas();
  DrawLineFrame(line, Filled(1e30f), 80, 4, 10);
  for (int x = 10; x < 30; ++x) EXPECT_EQ(line.pixel(x, 0), kPen) << x;  // clamped to y = 0
  EXPECT_EQ(line.pixel(5, 0), kBrush);                                   // point 0 is far above, unclamped

  auto many = Canvas();
  DrawBarsFrame(many, Filled(1.f), 100, 100000, 1);  // cut to the 512 bins
  EXPECT_EQ(TopPen(many, 511), 26);
}

TEST(ColorFields, EachHashClosesAThreeCharacterField) {
  std::array<std::string, 7> f;
  SplitColorFields("255#255#000#000#000#064#", f);
  EXPECT_EQ(f[1], "255");
  EXPECT_EQ(f[6], "064");
  SplitColorFields("001#002#003#004#005#006", f);  // no sixth "#"
  EXPECT_EQ(f[5], "005");
  EXPECT_EQ(f[6], "064");
  SplitColorFields("0#0#0#0#0#0#", f);  // short fields take in the "#"
  EXPECT_EQ(f[1], "0#0");
  EXPECT_EQ(f[6], "0#");
  SplitColorFields("2550#1#2#3#4#5#6#", f);  // cut to three; a seventh is ignored
  EXPECT_EQ(f[1], "255");
  EXPECT_EQ(f[6], "5#6");
}
