// Bitmaps on Windows: a DIB section drawn by GDI. GDI's own pixel rules are
// the ones ui.hpp describes (a rectangle excludes its right and bottom edge,
// a line its last point).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "ui/win32/win32.hpp"

namespace tovui {

namespace {

// GDI's coordinate space is narrower than 32 bits; shapes are cut to a
// margin around the bitmap before GDI sees them: rectangles exactly, lines
// only when they reach far beyond it (GDI draws anything nearer itself).
constexpr int32_t kMargin = 2;
constexpr double kLineReach = 1 << 20;

Color FromDib(uint32_t word) {  // 0x00RRGGBB -> red + 256 green + 65536 blue
  return ((word >> 16) & 0xFF) | (word & 0xFF00) | ((word & 0xFF) << 16);
}

}  // namespace

Bitmap::Bitmap(int32_t width, int32_t height) : gdi_(std::make_unique<Gdi>()) {
  gdi_->dc = CreateCompatibleDC(nullptr);
  resize(width, height);
}

Bitmap::Bitmap(Bitmap&&) noexcept = default;

Bitmap& Bitmap::operator=(Bitmap&& other) noexcept {
  if (this != &other) {
    this->~Bitmap();
    new (this) Bitmap(std::move(other));
  }
  return *this;
}

Bitmap::~Bitmap() {
  if (!gdi_) return;
  Gdi& g = *gdi_;
  if (g.dc) {
    if (g.first_bitmap) SelectObject(g.dc, g.first_bitmap);
    SelectObject(g.dc, GetStockObject(BLACK_PEN));
    SelectObject(g.dc, GetStockObject(WHITE_BRUSH));
    DeleteDC(g.dc);
  }
  if (g.dib) DeleteObject(g.dib);
  if (g.pen) DeleteObject(g.pen);
  if (g.brush) DeleteObject(g.brush);
}

void Bitmap::resize(int32_t width, int32_t height) {
  width = std::clamp(width, 0, kMaxBitmap);
  height = std::clamp(height, 0, kMaxBitmap);
  Gdi& g = *gdi_;
  GdiFlush();
  HBITMAP next = nullptr;
  void* bits = nullptr;
  if (width > 0 && height > 0 && g.dc) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    next = CreateDIBSection(g.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!next) width = height = 0;  // out of GDI memory: an empty bitmap
  } else {
    width = height = 0;
  }
  uint32_t* const to = static_cast<uint32_t*>(bits);
  if (to) {
    std::fill_n(to, size_t(width) * size_t(height), 0x00FFFFFFu);
    const int32_t cw = std::min(width, width_), ch = std::min(height, height_);
    for (int32_t y = 0; g.bits && cw > 0 && y < ch; ++y)
      std::memcpy(to + size_t(y) * width, g.bits + size_t(y) * width_, size_t(cw) * 4);
  }
  if (next) {
    HGDIOBJ old = SelectObject(g.dc, next);
    if (!g.first_bitmap) g.first_bitmap = old;
  } else if (g.first_bitmap) {
    SelectObject(g.dc, g.first_bitmap);
  }
  if (g.dib) DeleteObject(g.dib);
  g.dib = next;
  g.bits = to;
  width_ = width;
  height_ = height;
}

Color Bitmap::pixel(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || !gdi_->bits) return 0;
  GdiFlush();
  return FromDib(gdi_->bits[size_t(y) * width_ + x]);
}

namespace {

// Brings the DC's pen and brush up to the bitmap's colours.
void Sync(Bitmap::Gdi& g, Color pen, Color brush) {
  if (!g.pen || g.pen_color != pen) {
    HPEN next = CreatePen(PS_SOLID, 1, pen);
    if (next) {
      SelectObject(g.dc, next);
      if (g.pen) DeleteObject(g.pen);
      g.pen = next;
      g.pen_color = pen;
    }
  }
  if (!g.brush || g.brush_color != brush) {
    HBRUSH next = CreateSolidBrush(brush);
    if (next) {
      SelectObject(g.dc, next);
      if (g.brush) DeleteObject(g.brush);
      g.brush = next;
      g.brush_color = brush;
    }
  }
}

int32_t Cut(int64_t v, int32_t side) { return int32_t(std::clamp<int64_t>(v, -kMargin, int64_t(side) + kMargin)); }

}  // namespace

void Bitmap::fill_rect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (width_ == 0 || height_ == 0) return;
  Gdi& g = *gdi_;
  Sync(g, pen_, brush_);
  RECT r{Cut(std::min(left, right), width_), Cut(std::min(top, bottom), height_), Cut(std::max(left, right), width_),
         Cut(std::max(top, bottom), height_)};
  FillRect(g.dc, &r, g.brush);
}

void Bitmap::rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (width_ == 0 || height_ == 0) return;
  const int64_t l = std::min(left, right), r = std::max(left, right);
  const int64_t t = std::min(top, bottom), b = std::max(top, bottom);
  if (r - l < 1 || b - t < 1) return;
  Gdi& g = *gdi_;
  Sync(g, pen_, brush_);
  // Cutting to the margin keeps every visible pixel: an edge beyond it is
  // outside the bitmap either way.
  Rectangle(g.dc, Cut(l, width_), Cut(t, height_), Cut(r, width_), Cut(b, height_));
}

void Bitmap::move_to(int32_t x, int32_t y) {
  cur_x_ = x;
  cur_y_ = y;
}

void Bitmap::line_to(int32_t x, int32_t y) {
  double x0 = cur_x_, y0 = cur_y_, x1 = x, y1 = y;
  cur_x_ = x;
  cur_y_ = y;
  if (width_ == 0 || height_ == 0 || (x0 == x1 && y0 == y1)) return;
  // Liang-Barsky against the bitmap grown by kLineReach: only far-away
  // lines are cut, and their cut ends lie far outside the bitmap.
  const double lo_x = -kLineReach, hi_x = width_ + kLineReach, lo_y = -kLineReach, hi_y = height_ + kLineReach;
  const bool inside =
      x0 >= lo_x && x0 <= hi_x && x1 >= lo_x && x1 <= hi_x && y0 >= lo_y && y0 <= hi_y && y1 >= lo_y && y1 <= hi_y;
  if (!inside) {
    const double dx = x1 - x0, dy = y1 - y0;
    double t0 = 0, t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - lo_x, hi_x - x0, y0 - lo_y, hi_y - y0};
    for (int i = 0; i < 4; ++i) {
      if (p[i] == 0) {
        if (q[i] < 0) return;
        continue;
      }
      const double t = q[i] / p[i];
      if (p[i] < 0)
        t0 = std::max(t0, t);
      else
        t1 = std::min(t1, t);
    }
    if (t0 > t1) return;
    const double nx0 = x0 + t0 * dx, ny0 = y0 + t0 * dy, nx1 = x0 + t1 * dx, ny1 = y0 + t1 * dy;
    x0 = nx0, y0 = ny0, x1 = nx1, y1 = ny1;
  }
  Gdi& g = *gdi_;
  Sync(g, pen_, brush_);
  MoveToEx(g.dc, int(std::lround(x0)), int(std::lround(y0)), nullptr);
  LineTo(g.dc, int(std::lround(x1)), int(std::lround(y1)));
}

}  // namespace tovui
