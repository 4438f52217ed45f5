#include "visual/frames.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace tovarin::visual {

namespace {

constexpr double kBarDivisor = 1091100.0;
constexpr double kStartDivisor = 1031009.0;

int32_t Saturate(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int32_t Count(int32_t count) { return std::min(count, kBins); }

void Clear(tovui::Bitmap& bitmap) { bitmap.fill_rect(0, 0, bitmap.width(), bitmap.height()); }

}  // namespace

uint32_t BinBits(float bin) { return std::bit_cast<uint32_t>(bin); }

int64_t RoundEven(float v) {
  // Done by hand: the host may have changed the floating-point rounding mode.
  const double d = v;
  const double floor = std::floor(d);
  const double frac = d - floor;
  double r = floor;
  if (frac > 0.5 || (frac == 0.5 && std::fmod(floor, 2.0) != 0.0)) r = floor + 1.0;
  return static_cast<int64_t>(r);
}

float BarValue(float bin, int32_t h) {
  float v = static_cast<float>(BinBits(bin) / kBarDivisor - 909.0 + h / 15.0);
  if (v < 0) v = 2;
  if (v > h) v = static_cast<float>(h);
  return v;
}

float LinePointValue(float bin, int32_t h) {
  float v = static_cast<float>(BinBits(bin) / kBarDivisor - 900.0);
  if (v > h) v = static_cast<float>(h);
  return v;
}

float LineStartValue(float bin) { return static_cast<float>(BinBits(bin) / kStartDivisor - 900.0); }

void DrawBarsFrame(tovui::Bitmap& bitmap, const Spectrum& fft, int32_t h, int32_t count, int32_t width) {
  Clear(bitmap);
  int64_t x = 1;
  for (int32_t i = 0; i < Count(count); ++i) {
    const int64_t top = int64_t{h} - RoundEven(BarValue(fft[i], h));
    bitmap.rectangle(Saturate(x), h, Saturate(x + width), Saturate(top));
    x += width;
  }
}

void DrawLineFrame(tovui::Bitmap& bitmap, const Spectrum& fft, int32_t h, int32_t count, int32_t width) {
  const float start = LineStartValue(fft[0]);
  Clear(bitmap);
  bitmap.move_to(0, Saturate(int64_t{h} - RoundEven(start)));
  const int32_t n = Count(count);
  int64_t x = 0;
  for (int32_t k = 1; k <= n; ++k) {
    float v = LinePointValue(fft[k - 1], h);
    if (k == n) v = 0;
    bitmap.line_to(Saturate(x + width), Saturate(int64_t{h} - RoundEven(v)));
    x += width;
  }
}

void SplitColorFields(const std::string& text, std::array<std::string, 7>& fields) {
  size_t start = 0;
  size_t field = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '#') continue;
    if (field < fields.size()) fields[field] = text.substr(start, 3);
    start = i + 1;
    ++field;
  }
}

}  // namespace tovarin::visual
