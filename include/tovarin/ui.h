/*
 * tovarin window system: the C API for hosts.
 *
 * A small desktop-style window system shared by a host and the tovarin
 * plug-in (one instance per process: libtovarin-ui.so). Windows form a tree;
 * each belongs to the thread that created it, and only that thread pumps its
 * messages and timers. Handles are 32-bit, 0 means none, and a handle is never
 * reused while the process lives: a call with a stale handle fails quietly
 * (returns 0 / does nothing).
 *
 * Binary interface: libtovarin-ui.so.1 exports exactly the calls declared
 * here, under the symbol version TOVUI_1; what else it exports serves only
 * the Plugin.so of the same build, which refuses to load beside another.
 *
 * Displays: with an X display (DISPLAY set and a connection opens) every
 * window is also a real X window on a connection of the library's own, and
 * its handle is the X window id; an X window of any toolkit (a GtkWidget's
 * native window, a QWidget's winId()) may then be lent as a parent.
 * Without one, windows live in memory only (tovui_compose, tovui_save_png,
 * tovui_write_ansi show them, a host paints them with tovui_render, or a
 * Wayland host shows them in its surface: see "Lending a window" below). TOVUI_BACKEND=model or TOVUI_BACKEND=x11 in
 * the environment forces the choice, made once per process.
 *
 * Who pumps: every thread that owns windows must have its messages and
 * timers dispatched.
 * - GTK hosts, and Qt hosts on Linux (Qt's event loop is GLib's there), need
 *   do nothing: when GLib is in the process, the library adds a source to
 *   GLib's default main context for the main thread's windows (or for a
 *   thread that is running that context when it creates its first window),
 *   so the host's own main loop dispatches them.
 * - Any other host (SDL, Tk, its own poll loop) adds tovui_event_fd to its
 *   loop and calls tovui_pump(0) when it is readable, or calls tovui_pump
 *   regularly.
 *
 * Threads: tovui_pump and tovui_event_fd act for the calling thread. Posting
 * (from the C++ API) is allowed from any thread. tovui_close_box may be called
 * from any thread.
 *
 * Each call's note ends with [thread; wait; nested]: the threads that may
 * call it; how long it may keep the caller ("no wait": microseconds, at most
 * a short internal lock; it never waits for a device, file or display); and
 * "nested ok" when it may be called while a message box is open on that
 * thread (from a window procedure or host handler that the box's loop
 * dispatches, or from the presenter): no lock of the library is held while a
 * procedure or a presenter runs.
 *
 * Pixels: tovui_compose writes one 0x00RRGGBB word per pixel, row by row;
 * tovui_render (the pull path, below) writes opaque pixels with a stride.
 *
 * No C++ exception leaves these functions: one thrown by a window procedure
 * during tovui_pump ends that call, which then answers 0.
 */
#ifndef TOVARIN_UI_H
#define TOVARIN_UI_H

#include <stdint.h>

/* The version of these headers, shared with plugin.h. */
#include "version.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TOVUI_API __attribute__((visibility("default")))
#else
#define TOVUI_API
#endif

/* A visible window owned by the calling thread; parent 0 makes a top-level
 * window. x and y are relative to the parent's client area. White background.
 * Returns 0 when parent is given but is not a live window.
 * [any thread, which owns the new window; on a display, a round trip to
 * the X server when the parent is another program's window; nested ok] */
TOVUI_API uint32_t tovui_create_window(uint32_t parent, int32_t x, int32_t y, int32_t width, int32_t height);

/* Destroys the window and its descendants, children first; each receives
 * WM_DESTROY (2) before it goes, with its timers and pending messages.
 * Returns 1, or 0 for a stale handle, a window already being destroyed, or a
 * call from a thread other than the window's owner.
 * [the window's owner; runs the windows' WM_DESTROY procedures before it
 * returns; nested ok] */
TOVUI_API int tovui_destroy_window(uint32_t window);

/* The parent window, 0 for a top-level window or a stale handle.
 * [any thread; no wait; nested ok] */
TOVUI_API uint32_t tovui_get_parent(uint32_t window);

/* The index-th child in creation/attachment order, 0 past the last.
 * [any thread; no wait; nested ok] */
TOVUI_API uint32_t tovui_child(uint32_t window, int32_t index);

/* Bounds relative to the parent's client area. Returns 1, or 0 for a stale
 * handle (outputs untouched). Any output pointer may be NULL.
 * [any thread; no wait; nested ok] */
TOVUI_API int tovui_get_rect(uint32_t window, int32_t* x, int32_t* y, int32_t* width, int32_t* height);

/* 1 when the window's own visible flag is set, else 0.
 * [any thread; no wait; nested ok] */
TOVUI_API int tovui_is_visible(uint32_t window);

/* 1 when windows are shown on a display (X11), 0 when they live in memory
 * only. Chooses the display on first use, as making a window does.
 * [any thread; the first call of the process opens the display (connecting
 * to the X server); nested ok] */
TOVUI_API int tovui_on_display(void);

/* Dispatches what is due for the calling thread: posted messages first (in
 * posting order; those posted meanwhile wait for the next call), then due
 * timers, earliest first. Waits up to timeout_ms (0: no wait, negative:
 * forever) for the first item. Returns how many were dispatched. A timer
 * never queues a backlog: however late, it ticks once and its next tick is a
 * whole interval later.
 * [for the calling thread's own windows; up to timeout_ms, plus what the
 * procedures it runs take; nested ok] */
TOVUI_API int tovui_pump(int32_t timeout_ms);

/* A file descriptor that is readable (POLLIN) while the calling thread has
 * something to pump: a posted message, or a timer that is due. It becomes
 * readable by itself when the next timer comes due, so a host can add it to
 * its poll loop with no timeout of its own, and call tovui_pump(0) when it is
 * readable. Do not read from it or close it: it is owned by the library (an
 * epoll descriptor over an eventfd and a timerfd), one per thread, and is
 * the same on every call from that thread.
 * [for the calling thread; no wait; nested ok] */
TOVUI_API int tovui_event_fd(void);

/* Modal message boxes are handed to a presenter. It is called on the thread
 * that shows the box; the box stays open until tovui_close_box(box), and while
 * it is open that thread keeps dispatching its messages and timers (so
 * exports may be entered again). The call that showed the box returns when
 * it is closed. NULL restores the default presenter: on an X display a modal
 * dialog of the library's own over the owner's top-level window, with the
 * text and an OK button, open until the user closes it (it has no time
 * limit); without a display, the text printed on standard error and the box
 * closed at once.
 * tovui_set_presenter: [any thread; no wait; nested ok]. It applies to the
 * boxes shown after it.
 * tovui_close_box: [any thread; no wait; nested ok]. Returns 1, or 0 when
 * the box is not open. */
typedef void (*tovui_presenter)(void* user, uint32_t box, const char* text, const char* caption);
TOVUI_API void tovui_set_presenter(tovui_presenter presenter, void* user);
TOVUI_API int tovui_close_box(uint32_t box);

/* The window and its visible descendants composed into pixels (width x height,
 * 0x00RRGGBB, row by row); parts outside the window stay as they were.
 * Returns 1, or 0 for a stale handle or bad arguments.
 * [any thread; no wait beyond the copy; nested ok] */
TOVUI_API int tovui_compose(uint32_t window, uint32_t* pixels, int32_t width, int32_t height);

/* The composed window written as an RGB PNG file. Returns 1 on success.
 * [any thread; writes the file; nested ok] */
TOVUI_API int tovui_save_png(uint32_t window, const char* path);

/* The composed window written to fd as truecolour terminal text, two pixels
 * a character cell (an upper half block: top pixel in the foreground, bottom
 * one in the background). max_columns > 0 samples a wider window down to fit
 * that many columns. Returns 1 on success.
 * [any thread; writes to fd, waiting while it is full (a pipe); nested ok] */
TOVUI_API int tovui_write_ansi(uint32_t window, int fd, int32_t max_columns);

/* The running library's version, TOVARIN_MAKE_VERSION(major, minor, patch):
 * a host built with these headers may check that
 * tovui_version() >> 16 == TOVARIN_VERSION_MAJOR and that
 * tovui_version() >= TOVARIN_VERSION. tovui_version_string() gives the same
 * as "major.minor.patch" (static storage).
 * [any thread; no wait; nested ok] */
TOVUI_API uint32_t tovui_version(void);
TOVUI_API const char* tovui_version_string(void);

/* ---- Lending a window: three ways ----------------------------------------
 *
 * The plug-in puts its form inside the window a host gives SetParentWindow.
 * Pick by what the host has:
 * 1. An X11 child window (an X display, the host's toolkit on X11 or
 *    XWayland): lend the X window id of the area (GTK 3: a native GdkWindow's
 *    XID; Qt: winId()). The form is a real X window; the host paints nothing.
 * 2. The pull path (any toolkit, any display server, or none): lend a window
 *    made with tovui_create_window(0, ...) while no X display is in use
 *    (TOVUI_BACKEND=model forces that), watch it with tovui_watch_damage and
 *    paint it with tovui_render in the host's own drawing code (GTK 4: a
 *    GdkMemoryTexture; Qt: a QImage in paintEvent; SDL: a streaming
 *    texture). Works for native Wayland players with no extra library.
 * 3. A Wayland subsurface (native Wayland hosts that can hand over their
 *    wl_surface): tovui_wayland_window, below. The form is a subsurface of
 *    the host's surface, drawn by the plug-in; the host paints nothing.
 * Whichever way, the host's thread pumps the window system as said above.
 *
 * What it costs: with the pull path the host's toolkit draws a frame of its
 * own for every picture of the spectrum, and GTK 4 (4.8, cairo renderer)
 * redraws its whole window for it: measured on weston, the GTK 4 player
 * drawing the spectrum took 3.6 to 4 times the CPU of the same play with
 * the spectrum drawn but not shown. In a subsurface the toolkit draws
 * nothing while the form changes: 1.34 times, like an X11 child window
 * (1.2 to 1.4). A GTK 4 host on Wayland that cares for its CPU lends
 * its surface (3); the pull path (2) is the way for a host with no
 * wl_surface to hand over (another display server, or none).
 * bench/ui/gtk_cpu.sh measures all three.
 */

/* ---- The pull path --------------------------------------------------------
 *
 * Pixels: tovui_render writes one 32-bit word per pixel, 0xFFRRGGBB in the
 * machine's byte order: opaque (alpha 255). On little-endian machines the
 * bytes in memory are B, G, R, A, which toolkits take as they are:
 * GDK_MEMORY_B8G8R8A8 (or _PREMULTIPLIED), QImage::Format_RGB32 or
 * Format_ARGB32, CAIRO_FORMAT_RGB24 or ARGB32, SDL_PIXELFORMAT_ARGB8888,
 * WL_SHM_FORMAT_XRGB8888.
 *
 * Damage: a watched window tells its watcher when its pixels, or those of a
 * visible descendant, changed, and where. A display that is stopped draws
 * nothing and a hidden form shows nothing, so neither is told: a host that
 * paints only when told composes no frame then. */

/* Composes the window and its visible descendants into the host's buffer:
 * width x height pixels with the window's origin at (0, 0), rows `stride`
 * bytes apart (a multiple of 4, at least 4 * width). Pixels beyond the
 * window stay as they were. Allocates nothing; costs width x height.
 * Returns 1, or 0 for a stale handle or bad arguments.
 * [any thread; no wait beyond composing; nested ok] */
TOVUI_API int tovui_render(uint32_t window, void* pixels, int32_t stride, int32_t width, int32_t height);

/* Called with the rectangle, in the window's coordinates, that holds every
 * change since the previous call. */
typedef void (*tovui_damage_callback)(void* user, uint32_t window, int32_t x, int32_t y, int32_t width, int32_t height);

/* Watches the window for damage: the callback runs on the window's owning
 * thread while it pumps (GTK and Qt hosts: from GLib's main loop; others:
 * inside tovui_pump, after tovui_event_fd became readable), at most once a
 * pump, and only when something changed. The first call, soon after this
 * one, covers the whole window; so does one after the window is resized.
 * One watcher a window: a new call replaces it, a NULL callback ends it.
 * The watch ends with the window. It may render, and call any function,
 * from the callback. Returns 1, or 0 for a stale handle.
 * [the window's owning thread; no wait; nested ok] */
TOVUI_API int tovui_watch_damage(uint32_t window, tovui_damage_callback callback, void* user);

/* Moves and sizes a window: bounds relative to its parent's client area (for
 * a top-level window lent as a Wayland subsurface: the host's area in its
 * surface; the new place is sent at once and shows with the host's next
 * commit of its surface, so call it after laying out a frame, before that
 * frame is committed). Returns 1, or 0 for a stale handle.
 * [the window's owning thread; no wait; nested ok] */
TOVUI_API int tovui_set_rect(uint32_t window, int32_t x, int32_t y, int32_t width, int32_t height);

/* ---- A Wayland subsurface --------------------------------------------------
 *
 * For a native Wayland host that lends its own surface. The window system
 * shows the window's visible children (the plug-in's form) in a
 * desynchronised wl_subsurface of that surface, over the area where they
 * lie, with wl_shm buffers of its own and an empty input region (every
 * click goes to the host). All it sends goes through an event queue of its
 * own on the host's connection: it never dispatches the host's queue and
 * never commits the host's surface, so a change of position shows with the
 * host's next commit. It commits at most one picture a frame of the
 * compositor's (wl_surface.frame; the host's own loop reads the events off
 * the connection, as it does for itself). libwayland-client is loaded at
 * run time (the host's own copy); nothing here is linked. Windows must live
 * in memory (no X display, or TOVUI_BACKEND=model). Call everything on the
 * host's thread, the one that runs its main loop (GLib's, or one that pumps
 * tovui). */

/* A window standing for the area x, y, width x height of the host's surface
 * (wl_display* and wl_surface*, as GDK or Qt give them), to lend to
 * SetParentWindow. Move or size it with tovui_set_rect when the area moves.
 * Returns 0 when it cannot be made (no libwayland-client, a compositor
 * without wl_subcompositor, windows on an X display).
 * [the host's main-loop thread; one round trip to the compositor on our own
 * queue; not from a message box] */
TOVUI_API uint32_t tovui_wayland_window(void* wl_display, void* wl_surface, int32_t x, int32_t y, int32_t width,
                                        int32_t height);

/* The host's surface is drawn at an integer scale (GDK: the surface's scale
 * factor): the form is drawn that many device pixels to a pixel. Returns 1,
 * or 0 for a window that is not a subsurface, or scale < 1.
 * [the host's main-loop thread; no wait; nested ok] */
TOVUI_API int tovui_wayland_set_scale(uint32_t window, int32_t scale);

/* The host's surface is about to be destroyed: call this first. The
 * subsurface and everything of ours on the connection go, and so does the
 * window, with the form in it (as when a lent X window is destroyed): the
 * plug-in goes on playing without a display. Returns 1, or 0 for a window
 * that is not a subsurface.
 * [the host's main-loop thread; no wait; not from a message box] */
TOVUI_API int tovui_wayland_surface_gone(uint32_t window);

#ifdef __cplusplus
}
#endif

#endif
