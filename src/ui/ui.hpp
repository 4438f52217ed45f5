// tovarin window system: the C++ API for the plug-in.
//
// A thread-aware model of a desktop window system: windows with procedures,
// per-thread message queues, timers, modal message boxes, and bitmaps with a
// canvas. The C API for hosts (include/tovarin/ui.h) is a thin layer on this.
//
// Backends. On Windows the operating system's own windows (win32/). On Linux
// the model (model/) always keeps the state; with an X display it also shows
// every window as a real X window (x11/), whose id is then the window's
// handle, and any X window of another program is a valid parent.
//
// Threads. Every window belongs to the thread that created it. Its procedure
// runs only on that thread: for posted messages and timers while that thread
// pumps (pump(), the C API's tovui_pump, or a message box's nested loop), and
// synchronously for WM_DESTROY inside destroy_window() (a child owned by
// another thread gets its WM_DESTROY on the destroying thread). post_message()
// may be called from any thread and never blocks. Every call is safe from any
// thread (short internal locks), but all except post_message, set_timer,
// kill_timer and close_box are meant for the owning thread; destroy_window is
// refused elsewhere. All calls are safe against stale handles, which fail
// quietly. No lock of the window system is held while a procedure or a
// presenter runs, so both may call back in freely.
//
// Handles are 32-bit, 0 means none, never reused while the process lives.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#define TOVUI_EXPORT
#elif defined(__GNUC__)
#define TOVUI_EXPORT __attribute__((visibility("default")))
#else
#define TOVUI_EXPORT
#endif

namespace tovui {

using Handle = uint32_t;

// Colours in the canvas API use the desktop platform's packing:
// red + 256 * green + 65536 * blue (so 255 is pure red).
using Color = uint32_t;
constexpr Color rgb(uint8_t r, uint8_t g, uint8_t b) { return Color(r) | (Color(g) << 8) | (Color(b) << 16); }
constexpr Color kWhite = 0xFFFFFF;
constexpr Color kBlack = 0x000000;

// Message numbers that the window system itself sends.
// (Where windows.h came first, its macros of the same values stand in.)
#if defined(WM_DESTROY) && defined(WM_TIMER) && defined(WM_USER)
static_assert(WM_DESTROY == 2 && WM_TIMER == 0x0113 && WM_USER == 0x0400);
#else
constexpr uint32_t WM_DESTROY = 2;
constexpr uint32_t WM_TIMER = 0x0113;  // wparam: the timer id
constexpr uint32_t WM_USER = 0x0400;
#endif

// A window procedure. Its result is the message's result (ignored for posted
// messages). It may create, destroy and post freely, and may show a message box.
using WindowProc = std::function<intptr_t(Handle window, uint32_t msg, uintptr_t wparam, intptr_t lparam)>;

struct Rect {
  int32_t x = 0, y = 0, width = 0, height = 0;  // relative to the parent's client area
};

// Windows. create_window returns 0 when parent is non-zero but not a live
// window. New windows are visible, owned by the calling thread, filled with
// `background`; a negative width or height counts as 0. Calls that return
// bool answer false for a stale handle.
TOVUI_EXPORT Handle create_window(Handle parent, Rect bounds, WindowProc proc = {}, Color background = kWhite);
// Destroys the window and its descendants, children first (depth first, in
// child order). Each receives WM_DESTROY while it is still a window (so it
// may still post to itself: such messages are discarded with it); then it
// is gone, with its timers and pending messages. Only the owning thread may
// destroy a window (false otherwise), and a window already being destroyed
// cannot be destroyed again (false).
TOVUI_EXPORT bool destroy_window(Handle window);
TOVUI_EXPORT bool is_window(Handle window);
TOVUI_EXPORT Handle get_parent(Handle window);  // 0: top-level or stale
// Moves the window under new_parent (0: top-level), keeping its bounds
// relative to the new parent. Returns the previous parent, 0 on failure (a
// stale handle, or a new parent that is the window itself or a descendant).
TOVUI_EXPORT Handle set_parent(Handle window, Handle new_parent);
TOVUI_EXPORT Handle child(Handle window, int32_t index);       // 0 past the last
TOVUI_EXPORT bool set_window_pos(Handle window, Rect bounds);  // move and size in one operation
TOVUI_EXPORT bool get_window_rect(Handle window, Rect& bounds);
TOVUI_EXPORT bool show_window(Handle window, bool show);
TOVUI_EXPORT bool is_visible(Handle window);
TOVUI_EXPORT bool set_window_proc(Handle window, WindowProc proc);
TOVUI_EXPORT Color background(Handle window);

// Messages. Posting to a dead window, or to one whose owning thread has
// ended, fails (false). A message posted to a window that dies before
// dispatch is discarded.
TOVUI_EXPORT bool post_message(Handle window, uint32_t msg, uintptr_t wparam, intptr_t lparam);
// Dispatches what is due for the calling thread, as tovui_pump: posted
// messages first, in posting order (those posted meanwhile wait for the next
// pump), then due timers, earliest first. Waits up to timeout_ms (0: no wait,
// negative: forever) for the first item. Returns how many were dispatched.
// An exception thrown by a procedure leaves through pump; the queue stays
// consistent.
TOVUI_EXPORT int pump(int32_t timeout_ms);
// Readable while the calling thread has something to pump, as tovui_event_fd;
// -1 on Windows, where hosts wait with MsgWaitForMultipleObjects.
TOVUI_EXPORT int event_fd();
// True when windows are shown on a display (X11, or the Windows desktop),
// false when they live in memory only. Chooses the display on first use.
TOVUI_EXPORT bool on_display();

// Timers: per window and id, on the window's owning thread, delivered as
// WM_TIMER (wparam = id) while that thread pumps. Setting an existing id
// replaces its interval and restarts it. A timer never queues a backlog: at
// most one tick is pending per timer, however long the thread did not pump.
// Interval 0 never ticks.
TOVUI_EXPORT bool set_timer(Handle window, uintptr_t id, uint32_t interval_ms);
TOVUI_EXPORT bool kill_timer(Handle window, uintptr_t id);

// A modal message box: hands the text to the installed presenter and runs a
// nested loop that keeps dispatching the calling thread's messages and timers
// until the box is closed (close_box). May be entered again from a
// procedure that runs inside the loop. owner may be 0 or stale.
TOVUI_EXPORT void message_box(Handle owner, const std::string& text, const std::string& caption);

// The presenter shows a box: called on the showing thread, with the box's
// handle, the text and the caption (valid for the call only). It may close
// the box at once or later, from any thread. Same type as tovui_presenter;
// nullptr restores the default: a modal dialog of the display's own, open
// until the user closes it, or without a display, the text printed on
// standard error and the box closed at once.
using Presenter = void (*)(void* user, Handle box, const char* text, const char* caption);
TOVUI_EXPORT void set_presenter(Presenter presenter, void* user);
// Closes an open box: true, or false when it is not open (unknown, closed).
TOVUI_EXPORT bool close_box(Handle box);

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
//   the pen from the current point towards (x, y), excluding (x, y) itself,
//   and makes (x, y) the current point. With n = max(|dx|, |dy|) steps, it
//   draws the n pixels i = 0 .. n-1 that lie i steps from the start along the
//   major axis and round(i * |dminor| / n) along the minor one, a half
//   rounding away from the start (the Bresenham line). A line to the current
//   point draws nothing.
// - Everything is clipped to the bitmap; coordinates outside are allowed, and
//   a shape costs no more than the part of it that lies inside.
// A bitmap side is at most kMaxBitmap pixels (larger sizes are cut to it).
//
// Two implementations, chosen at build time: pixels in memory drawn by this
// library (the window system's own), or a GDI DIB section drawn by GDI on
// Windows. The Windows one follows the platform's own pixel rules, which the
// rules above describe; pixels() exists only for the in-memory one.
constexpr int32_t kMaxBitmap = 8192;
class TOVUI_EXPORT Bitmap {
 public:
  Bitmap(int32_t width = 0, int32_t height = 0);
  void resize(int32_t width, int32_t height);  // new pixels are white
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  Color pixel(int32_t x, int32_t y) const;  // 0 outside
#if !defined(_WIN32)
  const std::vector<Color>& pixels() const { return pixels_; }
#else
  ~Bitmap();
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;
  Bitmap(Bitmap&&) noexcept;  // leaves the source unusable but destructible
  Bitmap& operator=(Bitmap&&) noexcept;
  struct Gdi;  // device context, DIB section, pen and brush
  Gdi& gdi() const { return *gdi_; }
#endif

  void set_pen(Color c) { pen_ = c; }
  Color pen() const { return pen_; }
  void set_brush(Color c) { brush_ = c; }
  Color brush() const { return brush_; }
  void fill_rect(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void move_to(int32_t x, int32_t y);
  void line_to(int32_t x, int32_t y);

 private:
  int32_t width_ = 0, height_ = 0;
#if !defined(_WIN32)
  std::vector<Color> pixels_;  // row by row
  // What a fill of the whole bitmap has to redo. While `uniform_` holds,
  // every pixel of row y outside [touched_[y].first, touched_[y].second) is
  // `clear_`, so clearing again with that colour rewrites only the touched
  // spans: a frame costs what was drawn on it, not the bitmap's size.
  std::vector<std::pair<int32_t, int32_t>> touched_;
  bool uniform_ = false;
  Color clear_ = 0;
  void touch(int32_t y, int32_t x0, int32_t x1);
#else
  std::unique_ptr<Gdi> gdi_;
#endif
  Color pen_ = kBlack, brush_ = kWhite;
  int32_t cur_x_ = 0, cur_y_ = 0;
};

// Copies the w x h block of src at (sx, sy) into the window's client surface
// at (dx, dy): a plain source copy, clipped to the source bitmap, to the
// window's client area and to `clip` (client coordinates) when given.
TOVUI_EXPORT bool blit(Handle window, int32_t dx, int32_t dy, int32_t w, int32_t h, const Bitmap& src, int32_t sx,
                       int32_t sy, const Rect* clip = nullptr);

// The window's own client surface (no children), row by row, in Color
// packing. A surface covers at most 4096 x 4096 pixels of its window; what
// lies beyond shows the window's background.
TOVUI_EXPORT bool read_surface(Handle window, std::vector<Color>& pixels, int32_t& width, int32_t& height);

// Presentation. compose: the window and its visible descendants (children
// over their parent, later siblings over earlier ones, each clipped to its
// parent's client area) as 0x00RRGGBB words, row by row, in the window's own
// size (at most 4096 a side). The window itself is drawn whether visible or not.
TOVUI_EXPORT bool compose(Handle window, std::vector<uint32_t>& rgb, int32_t& width, int32_t& height);
// The same into a caller's width x height buffer with the window's origin at
// (0, 0); pixels beyond the window are left as they were. False for a stale
// handle, a null buffer or an empty size.
TOVUI_EXPORT bool compose_into(Handle window, uint32_t* rgb, int32_t width, int32_t height);
// False where there is no PNG encoder (the Windows build) or the file cannot be written.
TOVUI_EXPORT bool save_png(Handle window, const std::string& path);
// The composed window as truecolour terminal text: each character cell shows
// two pixels, one above the other (an upper half block with foreground and
// background colours). max_columns > 0 samples a wider window down to fit.
// Empty for a stale handle or an empty window.
TOVUI_EXPORT std::string render_ansi(Handle window, int32_t max_columns = 0);

}  // namespace tovui
