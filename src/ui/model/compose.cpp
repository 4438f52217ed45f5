// The compositor: a window with its visible descendants in one image, and
// the two ways to present it (a PNG file, a truecolour terminal).
#include <png.h>

#include <algorithm>
#include <cstdio>

#include "ui/model/internal.hpp"

namespace tovui {
namespace detail {
namespace {

struct Area {
  int64_t x0, y0, x1, y1;  // [x0, x1) x [y0, y1)
  bool empty() const { return x0 >= x1 || y0 >= y1; }
};

Color to_rgb_word(Color c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

Color convert(Color c, PixelFormat format) {
  switch (format) {
    case PixelFormat::kColor: return c;
    case PixelFormat::kRgb: return to_rgb_word(c);
    case PixelFormat::kOpaque: break;
  }
  return 0xFF000000u | to_rgb_word(c);
}

// Writes n surface colours as `format`: one tight loop per format, which the
// compiler vectorises.
void convert_row(const Color* from, Color* to, int64_t n, PixelFormat format) {
  switch (format) {
    case PixelFormat::kColor: std::copy(from, from + n, to); return;
    case PixelFormat::kRgb:
      for (int64_t i = 0; i < n; ++i) to[i] = to_rgb_word(from[i]);
      return;
    case PixelFormat::kOpaque:
      for (int64_t i = 0; i < n; ++i) to[i] = 0xFF000000u | to_rgb_word(from[i]);
      return;
  }
}

// Paints w (its client origin at ox, oy of the image) and then its visible
// children over it, each clipped to its parent. Windows are opaque, so a
// window that a visible child covers wholly within the clip paints only the
// child (a form over the host's area, a picture over the form: each pixel
// is written once instead of once a level). Registry lock held.
void paint(Registry& r, const Window& w, int64_t ox, int64_t oy, Area clip, Color* out, int64_t stride,
           PixelFormat format) {
  clip = {std::max(clip.x0, ox), std::max(clip.y0, oy), std::min(clip.x1, ox + w.bounds.width),
          std::min(clip.y1, oy + w.bounds.height)};
  if (clip.empty()) return;
  bool covered = false;
  for (Handle c : w.children) {
    const Window* cw = r.find(c);
    if (!cw || !cw->visible) continue;
    const int64_t cx = ox + cw->bounds.x, cy = oy + cw->bounds.y;
    if (cx <= clip.x0 && cy <= clip.y0 && cx + cw->bounds.width >= clip.x1 && cy + cw->bounds.height >= clip.y1)
      covered = true;
  }
  if (!covered) {
    // Within the surface, then the background to its right and below.
    const int64_t sx_end = std::min(clip.x1, ox + w.surface_w), sy_end = std::min(clip.y1, oy + w.surface_h);
    const Color background = convert(w.background, format);
    for (int64_t y = clip.y0; y < clip.y1; ++y) {
      Color* row = out + y * stride;
      int64_t x = clip.x0;
      if (y < sy_end && x < sx_end) {
        convert_row(&w.surface[size_t((y - oy) * w.surface_w + (x - ox))], row + x, sx_end - x, format);
        x = sx_end;
      }
      std::fill(row + x, row + clip.x1, background);
    }
  }
  for (Handle c : w.children) {
    const Window* cw = r.find(c);
    if (cw && cw->visible) paint(r, *cw, ox + cw->bounds.x, oy + cw->bounds.y, clip, out, stride, format);
  }
}

}  // namespace

bool compose_into(Handle window, Color* out, int32_t width, int32_t height, PixelFormat format, int32_t stride,
                  int32_t origin_x, int32_t origin_y) {
  if (stride == 0) stride = width;
  if (!out || width <= 0 || height <= 0 || stride < width) return false;
  auto& r = registry();
  std::lock_guard lock(r.mu);
  const Window* w = r.find(window);
  if (!w) return false;
  paint(r, *w, -int64_t(origin_x), -int64_t(origin_y), {0, 0, width, height}, out, stride, format);
  return true;
}

bool compose_colors(Handle window, std::vector<Color>& out, int32_t& width, int32_t& height) {
  {
    auto& r = registry();
    std::lock_guard lock(r.mu);
    const Window* w = r.find(window);
    if (!w) return false;
    width = std::min(w->bounds.width, kMaxSurface);
    height = std::min(w->bounds.height, kMaxSurface);
  }
  out.assign(size_t(width) * size_t(height), kWhite);
  if (width == 0 || height == 0) return true;
  return compose_into(window, out.data(), width, height);
}

}  // namespace detail

bool compose(Handle window, std::vector<uint32_t>& rgb, int32_t& width, int32_t& height) {
  if (!detail::compose_colors(window, rgb, width, height)) return false;
  for (auto& p : rgb) p = detail::to_rgb_word(p);
  return true;
}

bool save_png(Handle window, const std::string& path) {
  std::vector<Color> px;
  int32_t w, h;
  if (!detail::compose_colors(window, px, w, h) || w == 0 || h == 0) return false;
  std::vector<uint8_t> bytes(size_t(w) * size_t(h) * 3);
  for (size_t i = 0; i < px.size(); ++i) {
    bytes[3 * i] = uint8_t(px[i]);
    bytes[3 * i + 1] = uint8_t(px[i] >> 8);
    bytes[3 * i + 2] = uint8_t(px[i] >> 16);
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png_uint_32(w);
  image.height = png_uint_32(h);
  image.format = PNG_FORMAT_RGB;
  const int ok = png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), w * 3, nullptr);
  png_image_free(&image);
  return ok != 0;
}

std::string render_ansi(Handle window, int32_t max_columns) {
  std::vector<Color> px;
  int32_t w, h;
  if (!detail::compose_colors(window, px, w, h) || w == 0 || h == 0) return {};
  // One cell shows two pixels one above the other; a wide window is sampled
  // every `step` pixels so that it fits max_columns.
  const int32_t step = (max_columns > 0 && w > max_columns) ? (w + max_columns - 1) / max_columns : 1;
  auto at = [&](int32_t x, int32_t y) { return px[size_t(y) * w + x]; };
  auto sgr = [](std::string& s, int layer, Color c) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "\x1b[%d;2;%u;%u;%um", layer, c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    s += buf;
  };
  std::string s;
  for (int32_t y = 0; y < h; y += 2 * step) {
    const bool lower = y + step < h;
    for (int32_t x = 0; x < w; x += step) {
      sgr(s, 38, at(x, y));
      if (lower)
        sgr(s, 48, at(x, y + step));
      else
        s += "\x1b[49m";
      s += "\xe2\x96\x80";  // upper half block
    }
    s += "\x1b[0m\n";
  }
  return s;
}

}  // namespace tovui
