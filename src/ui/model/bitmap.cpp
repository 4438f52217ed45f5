// Bitmaps and their canvas. The pixel rules are written in ui.hpp.
#include <algorithm>
#include <cstdlib>

#include "ui/ui.hpp"

namespace tovui {

Bitmap::Bitmap(int32_t width, int32_t height) { resize(width, height); }

void Bitmap::resize(int32_t width, int32_t height) {
  width = std::clamp(width, 0, kMaxBitmap);
  height = std::clamp(height, 0, kMaxBitmap);
  std::vector<Color> next(size_t(width) * size_t(height), kWhite);
  const int32_t cw = std::min(width, width_), ch = std::min(height, height_);
  for (int32_t y = 0; cw > 0 && y < ch; ++y) std::copy_n(&pixels_[size_t(y) * width_], cw, &next[size_t(y) * width]);
  pixels_.swap(next);
  width_ = width;
  height_ = height;
  touched_.assign(size_t(height), {0, 0});
  uniform_ = false;  // old pixels and white ones: the next full fill writes everything
}

void Bitmap::touch(int32_t y, int32_t x0, int32_t x1) {
  auto& t = touched_[size_t(y)];
  if (t.first >= t.second) {
    t = {x0, x1};
  } else {
    t.first = std::min(t.first, x0);
    t.second = std::max(t.second, x1);
  }
}

Color Bitmap::pixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[size_t(y) * width_ + x];
}

namespace {

// [lo, hi) of a normalised span, clipped to [0, limit).
bool clip_span(int32_t a, int32_t b, int32_t limit, int32_t& lo, int32_t& hi) {
  int64_t l = std::min(a, b), h = std::max(a, b);
  l = std::max<int64_t>(l, 0);
  h = std::min<int64_t>(h, limit);
  lo = int32_t(l);
  hi = int32_t(h);
  return l < h;
}

}  // namespace

void Bitmap::fill_rect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  int32_t x0, x1, y0, y1;
  if (!clip_span(left, right, width_, x0, x1) || !clip_span(top, bottom, height_, y0, y1)) return;
  Color* const p = pixels_.data();
  if (x0 == 0 && y0 == 0 && x1 == width_ && y1 == height_) {
    // The whole bitmap: only what was drawn since the last such fill, when
    // that fill had the same colour.
    const bool redo_all = !uniform_ || clear_ != brush_;
    for (int32_t y = 0; y < height_; ++y) {
      auto& t = touched_[size_t(y)];
      const int32_t a = redo_all ? 0 : t.first, b = redo_all ? width_ : t.second;
      if (a < b) std::fill(p + size_t(y) * width_ + a, p + size_t(y) * width_ + b, brush_);
      t = {0, 0};
    }
    uniform_ = true;
    clear_ = brush_;
    return;
  }
  for (int32_t y = y0; y < y1; ++y) {
    std::fill(p + size_t(y) * width_ + x0, p + size_t(y) * width_ + x1, brush_);
    touch(y, x0, x1);
  }
}

void Bitmap::rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  const int64_t l = std::min(left, right), r = std::max(left, right);
  const int64_t t = std::min(top, bottom), b = std::max(top, bottom);
  if (r - l < 1 || b - t < 1) return;
  // Interior first, then the outline over it, each clipped on its own.
  if (r - l > 2 && b - t > 2) fill_rect(int32_t(l + 1), int32_t(t + 1), int32_t(r - 1), int32_t(b - 1));
  int32_t x0, x1, y0, y1;
  if (clip_span(int32_t(l), int32_t(r), width_, x0, x1)) {
    for (int64_t y : {t, b - 1})
      if (y >= 0 && y < height_) {
        std::fill(&pixels_[size_t(y) * width_ + x0], &pixels_[size_t(y) * width_ + x1], pen_);
        touch(int32_t(y), x0, x1);
      }
  }
  if (clip_span(int32_t(t), int32_t(b), height_, y0, y1) && clip_span(int32_t(l), int32_t(r), width_, x0, x1)) {
    const bool has_left = l >= 0, has_right = r - 1 < width_;
    for (int32_t y = y0; y < y1; ++y) {
      Color* row = &pixels_[size_t(y) * width_];
      if (has_left) row[l] = pen_;
      if (has_right) row[r - 1] = pen_;
      touch(y, x0, x1);  // the inside was drawn too
    }
  }
}

void Bitmap::move_to(int32_t x, int32_t y) {
  cur_x_ = x;
  cur_y_ = y;
}

void Bitmap::line_to(int32_t x, int32_t y) {
  const int64_t x0 = cur_x_, y0 = cur_y_;
  cur_x_ = x;
  cur_y_ = y;
  const int64_t dx = int64_t(x) - x0, dy = int64_t(y) - y0;
  const int64_t n = std::max(std::llabs(dx), std::llabs(dy));  // pixels drawn: 0 .. n-1
  if (n == 0 || width_ == 0 || height_ == 0) return;
  const bool x_major = std::llabs(dx) >= std::llabs(dy);
  const int64_t major0 = x_major ? x0 : y0, minor0 = x_major ? y0 : x0;
  const int64_t dmajor = x_major ? dx : dy, dminor = x_major ? dy : dx;
  const int64_t smajor = dmajor < 0 ? -1 : 1, sminor = dminor < 0 ? -1 : 1;
  const int64_t am = std::llabs(dminor);
  const int64_t limit_major = x_major ? width_ : height_;
  const int64_t limit_minor = x_major ? height_ : width_;
  // Only the steps whose major coordinate lies inside the bitmap are visited,
  // so a line of any length costs at most one bitmap side.
  int64_t i0, i1;  // steps [i0, i1)
  if (smajor > 0) {
    i0 = std::max<int64_t>(0, -major0);
    i1 = std::min<int64_t>(n, limit_major - major0);
  } else {
    i0 = std::max<int64_t>(0, major0 - (limit_major - 1));
    i1 = std::min<int64_t>(n, major0 + 1);
  }
  for (int64_t i = i0; i < i1; ++i) {
    // Step i's minor offset: i * |dminor| / n rounded, halves away from the start.
    const __int128 num = __int128(2) * i * am + n;
    const int64_t off = int64_t(num / (__int128(2) * n));
    const int64_t mj = major0 + smajor * i, mn = minor0 + sminor * off;
    if (mn < 0 || mn >= limit_minor) continue;
    const int64_t px = x_major ? mj : mn, py = x_major ? mn : mj;
    pixels_[size_t(py) * width_ + size_t(px)] = pen_;
    touch(int32_t(py), int32_t(px), int32_t(px) + 1);
  }
}

}  // namespace tovui
