// tovarin window system: the C++ API for the plug-in.
//
// A thread-aware model of a desktop window system: windows with procedures,
// per-thread message queues, timers, modal message boxes, and bitmaps with a
// canvas. The C API for hosts (include/tovarin/ui.h) is a thin layer on this.
//
// Threads. Every window belongs to the thread that created it. Its procedure
// runs only on that thread: for posted messages and timers while that thread
// pumps (pump(), the C API's tovui_pump, or a message box's nested loop), and
// synchronously for WM_DESTROY inside destroy_window(). post_message() may be
// called from any thread and never blocks. Every other call is meant for the
// owning thread; all calls are safe against stale handles, which fail quietly.
// No lock of the window system is held while a procedure or presenter runs.
//
// Handles are 32-bit, 0 means none, never reused while the process lives.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#if defined(__GNUC__)
#define TOVUI_EXPORT __attribute__((visibility("default")))
#else
#define TOVUI_EXPORT
#endif

namespace tovui {

using Handle = uint32_t;

// Colours in the canvas API use the desktop platform's packing:
// red + 256 * green + 65536 * blue (so 255 is pure red).
using Color = uint32_t;
constexpr Color rgb(uint8_t r, uint8_t g, uint8_t b) {
  return Color(r) | (Color(g) << 8) | (Color(b) << 16);
}
constexpr Color kWhite = 0xFFFFFF;
constexpr Color kBlack = 0x000000;

// Message numbers that the window system itself sends.
constexpr uint32_t WM_DESTROY = 2;
constexpr uint32_t WM_TIMER = 0x0113;  // wparam: the timer id
constexpr uint32_t WM_USER = 0x0400;

// A window procedure. Its result is the message's result (ignored for posted
// messages). It may create, destroy and post freely, and may show a message box.
using WindowProc = std::function<intptr_t(Handle window, uint32_t msg, uintptr_t wparam, intptr_t lparam)>;

struct Rect {
  int32_t x = 0, y = 0, width = 0, height = 0;  // relative to the parent's client area
};

// Windows. create_window returns 0 when parent is non-zero but not a live
// window. New windows are visible, filled with `background`.
TOVUI_EXPORT Handle create_window(Handle parent, Rect bounds, WindowProc proc = {}, Color background = kWhite);
TOVUI_EXPORT bool destroy_window(Handle window);  // children first, each gets WM_DESTROY
TOVUI_EXPORT bool is_window(Handle window);
TOVUI_EXPORT Handle get_parent(Handle window);  // 0: top-level or stale
// Moves the window under new_parent (0: top-level), keeping its bounds
// relative to the new parent. Returns the previous parent, 0 on failure (a
// stale handle, or a new parent that is the window itself or a descendant).
TOVUI_EXPORT Handle set_parent(Handle window, Handle new_parent);
TOVUI_EXPORT Handle child(Handle window, int32_t index);  // 0 past the last
TOVUI_EXPORT bool set_window_pos(Handle window, Rect bounds);  // move and size in one operation
TOVUI_EXPORT bool get_window_rect(Handle window, Rect& bounds);
TOVUI_EXPORT bool show_window(Handle window, bool show);
TOVUI_EXPORT bool is_visible(Handle window);
TOVUI_EXPORT bool set_window_proc(Handle window, WindowProc proc);
TOVUI_EXPORT Color background(Handle window);

// Messages. Posting to a dead window fails (false). A message posted to a
// window that dies before dispatch is discarded.
TOVUI_EXPORT bool post_message(Handle window, uint32_t msg, uintptr_t wparam, intptr_t lparam);
// Dispatches what is due for the calling thread, as tovui_pump.
TOVUI_EXPORT int pump(int32_t timeout_ms);

// Timers: per window and id, on the window's owning thread, delivered as
// WM_TIMER (wparam = id) while that thread pumps. Setting an existing id
// replaces its interval and restarts it. A timer never queues a backlog: at
// most one tick is pending per timer, however long the thread did not pump.
// Interval 0 never ticks.
TOVUI_EXPORT bool set_timer(Handle window, uintptr_t id, uint32_t interval_ms);
TOVUI_EXPORT bool kill_timer(Handle window, uintptr_t id);

// A modal message box: hands the text to the installed presenter and runs a
// nested loop that keeps dispatching the calling thread's messages and timers
// until the box is closed (tovui_close_box). May be entered again from a
// procedure that runs inside the loop. owner may be 0 or stale.
TOVUI_EXPORT void message_box(Handle owner, const std::string& text, const std::string& caption);

// Bitmaps with a canvas.
//
// Pixel rules (those of the desktop platform):
// - fill_rect(l, t, r, b) fills the pixels x in [l, r), y in [t, b) with the
//   brush: the right and bottom edges are excluded. Corners given in any
//   order are normalised first.
// - rectangle(l, t, r, b) draws the outline of the same pixel area with the
//   pen (columns l and r-1, rows t and b-1) and fills the inside with the
//   brush. An area less than 1 pixel wide or high draws nothing.
// - move_to sets the current point; line_to(x, y) draws a 1-pixel line with
//   the pen from the current point towards (x, y), excluding (x, y) itself
//   (Bresenham), and makes (x, y) the current point.
// - Everything is clipped to the bitmap; coordinates outside are allowed.
class TOVUI_EXPORT Bitmap {
 public:
  Bitmap(int32_t width = 0, int32_t height = 0);
  void resize(int32_t width, int32_t height);  // new pixels are white
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  Color pixel(int32_t x, int32_t y) const;  // 0 outside
  const std::vector<Color>& pixels() const { return pixels_; }

  void set_pen(Color c) { pen_ = c; }
  Color pen() const { return pen_; }
  void set_brush(Color c) { brush_ = c; }
  Color brush() const { return brush_; }
  void fill_rect(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void move_to(int32_t x, int32_t y);
  void line_to(int32_t x, int32_t y);

 private:
  void put(int32_t x, int32_t y, Color c);
  int32_t width_ = 0, height_ = 0;
  std::vector<Color> pixels_;  // row by row
  Color pen_ = kBlack, brush_ = kWhite;
  int32_t cur_x_ = 0, cur_y_ = 0;
};

// Copies the w x h block of src at (sx, sy) into the window's client surface
// at (dx, dy): a plain source copy, clipped to the source bitmap, to the
// window's client area and to `clip` (client coordinates) when given.
TOVUI_EXPORT bool blit(Handle window, int32_t dx, int32_t dy, int32_t w, int32_t h, const Bitmap& src, int32_t sx,
                       int32_t sy, const Rect* clip = nullptr);

// The window's own client surface (no children), row by row, in Color packing.
TOVUI_EXPORT bool read_surface(Handle window, std::vector<Color>& pixels, int32_t& width, int32_t& height);

}  // namespace tovui
