/*
 * A GTK 4 player in C, native on Wayland: the plug-in's form and spectrum
 * are a subsurface of the player's own window (tovui_wayland_window), drawn
 * by the plug-in over the player's drawing area. GTK's main loop runs the
 * plug-in's fades and timers and tells it when the form changed.
 *
 *   gtk4_player FILE              plays FILE
 *   gtk4_player --selftest FILE   play, pause, play, stop by script; exit 0
 *                                 when all went well (TOVARIN_SCREEN_CHECK:
 *                                 a command that must succeed while playing)
 *   gtk4_player --seconds N FILE  plays N seconds, prints the CPU time used
 *   gtk4_player --seconds N --unshown FILE
 *                                 the same with the form drawn in a window
 *                                 in memory that nobody shows (what showing
 *                                 it costs is the difference)
 *
 * Build: make -C examples/c gtk4_player (against an installed tovarin).
 */
#include <dlfcn.h>
#include <gdk/wayland/gdkwayland.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include <tovarin/plugin.h>
#include <tovarin/ui.h>

#ifndef TOVARIN_PLUGIN
#define TOVARIN_PLUGIN "Plugin.so"
#endif

enum { AREA_W = 360, AREA_H = 120 };

#define FIELD(name, ordinal, ret, params, args) ret(*name) params;
static struct { TOVARIN_PLUGIN_EXPORTS(FIELD) } api;
#undef FIELD

static struct {
  GtkWidget *window, *area;
  uint32_t lent; /* the tovui window over the area */
  double x, y;   /* where it was last put, in the surface */
  const char* path;
  int selftest, unshown, step, ticks, looks, held_at, ok;
  double seconds;
  GMainLoop* loop;
} p = {.x = -1, .y = -1};

static int resolve(void* lib) {
#define RESOLVE(name, ...)                \
  *(void**)&api.name = dlsym(lib, #name); \
  if (!api.name) return 0;
  TOVARIN_PLUGIN_EXPORTS(RESOLVE)
#undef RESOLVE
  return 1;
}

static long number(void (*query)(void)) {
  query();
  return strtol(api.GetFile(), NULL, 10);
}

static long level(void) { return number(api.Bass_GetLLevel) + number(api.Bass_GetRLevel); }

/* The area's place in the window's surface: its offset in the window plus
 * the surface's own offset (the shadow and border GTK draws around it). */
static void place(void) {
  GtkNative* native = gtk_widget_get_native(p.area);
  double x = 0, y = 0, sx = 0, sy = 0;
  if (!gtk_widget_translate_coordinates(p.area, GTK_WIDGET(native), 0, 0, &x, &y)) return;
  gtk_native_get_surface_transform(native, &sx, &sy);
  if (x + sx == p.x && y + sy == p.y) return;
  p.x = x + sx;
  p.y = y + sy;
  if (p.lent && !p.unshown) tovui_set_rect(p.lent, (int32_t)p.x, (int32_t)p.y, AREA_W, AREA_H);
}

/* Under test the area is pure red, a colour the form never shows: any red
 * on the screen is a part of the area that the subsurface fails to cover. */
static void draw_area(GtkDrawingArea* area, cairo_t* cr, int w, int h, gpointer data) {
  (void)area, (void)w, (void)h, (void)data;
  if (p.selftest) {
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_paint(cr);
  }
}

/* The form follows the area after every layout of the window, before GTK
 * paints and commits the frame: that commit moves the subsurface too. (A
 * draw function is no place for this: an area that only moves is not drawn
 * again, GTK reuses its last drawing.) */
static void laid_out(GdkFrameClock* clock, gpointer data) {
  (void)clock, (void)data;
  place();
}

/* Before the surface goes, the subsurface must. */
static gboolean closing(GtkWindow* window, gpointer data) {
  (void)window, (void)data;
  if (p.lent && !p.unshown) tovui_wayland_surface_gone(p.lent);
  p.lent = 0;
  g_main_loop_quit(p.loop);
  return FALSE;
}

static double cpu_seconds(void) {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return (double)u.ru_utime.tv_sec + (double)u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

static double cpu_at_start;

static gboolean report(gpointer data) {
  (void)data;
  printf("cpu: %.3f s\n", cpu_seconds() - cpu_at_start);
  fflush(stdout);
  closing(NULL, NULL);
  return G_SOURCE_REMOVE;
}

static void start(GtkWidget* window, gpointer data) {
  (void)data;
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
  GdkDisplay* display = gdk_surface_get_display(surface);
  if (!GDK_IS_WAYLAND_DISPLAY(display)) {
    fprintf(stderr, "gtk4_player: not a Wayland display\n");
    g_main_loop_quit(p.loop);
    return;
  }
  place();
  if (p.unshown)
    p.lent = tovui_create_window(0, 0, 0, AREA_W, AREA_H);
  else
    p.lent =
        tovui_wayland_window(gdk_wayland_display_get_wl_display(display), gdk_wayland_surface_get_wl_surface(surface),
                             (int32_t)p.x, (int32_t)p.y, AREA_W, AREA_H);
  if (!p.lent) {
    fprintf(stderr, "gtk4_player: no subsurface\n");
    g_main_loop_quit(p.loop);
    return;
  }
  if (!p.unshown) tovui_wayland_set_scale(p.lent, gdk_surface_get_scale_factor(surface));
  /* After GTK's own layout handlers, which size and place the widgets. */
  g_signal_connect_after(gdk_surface_get_frame_clock(surface), "layout", G_CALLBACK(laid_out), NULL);
  api.SetParentWindow(p.lent);
  api.Draw(0, 0, 0, AREA_W, AREA_H);
  api.Bass_Init();
  api.SetData(1);
  api.Bass_ChannelNum();
  api.SetFile(p.path);
  if (!api.Bass_Create()) {
    fprintf(stderr, "gtk4_player: cannot play %s\n", p.path);
    g_main_loop_quit(p.loop);
    return;
  }
  api.SetFile("first");
  api.SetFile("040#200#255#012#016#032#"); /* pen, then brush */
  api.SetData(5);                          /* bar width */
  api.SetData(10);                         /* interval, ms */
  api.SetData(AREA_W / 5);                 /* bars */
  api.SetData(AREA_H);                     /* height */
  api.StartDraw();
  api.Bass_Play();
  if (p.seconds > 0) {
    cpu_at_start = cpu_seconds();
    g_timeout_add((guint)(p.seconds * 1000), report, NULL);
  }
}

static void button(GtkWidget* box, const char* label, void (*action)(void)) {
  GtkWidget* b = gtk_button_new_with_label(label);
  g_signal_connect_swapped(b, "clicked", G_CALLBACK(action), NULL);
  gtk_box_append(GTK_BOX(box), b);
}

/* The scripted session: each step runs every 50 ms until it is done. */
static gboolean tick(gpointer data) {
  (void)data;
  const long pos = number(api.Bass_GetPosition);
  const char* names[] = {"play", "on screen", "paused", "held", "play again", "stopped", "no frames while stopped"};
  int done = 0;
  ++p.ticks;
  switch (p.step) {
    case 0: done = pos >= 1 && level() > 0; break;
    case 1: {
      const char* check = getenv("TOVARIN_SCREEN_CHECK");
      done = !check || system(check) == 0;
      if (!done && ++p.looks > 40) p.step = 99;
      if (done) api.Bass_Pause();
      break;
    }
    case 2:
      done = level() == 0;
      p.held_at = (int)pos;
      p.ticks = 0;
      break;
    case 3:
      if (pos != p.held_at) p.step = 99;
      done = p.ticks >= 20;
      if (done) api.Bass_Play();
      break;
    case 4:
      done = pos >= p.held_at + 1;
      if (done) api.Bass_Stop();
      break;
    case 5:
      done = level() == 0;
      p.ticks = 0;
      break;
    case 6:
      /* Stopped, the form is hidden: once its last picture has gone, a
         second in which the plug-in commits nothing to its subsurface. The
         marks go to standard error, where WAYLAND_DEBUG writes the requests,
         so that a test can count the commits between them. */
      if (p.ticks == 5) fprintf(stderr, "selftest: frames from here\n");
      done = p.ticks >= 25;
      if (done) fprintf(stderr, "selftest: frames to here\n");
      break;
  }
  if (p.step == 99 || p.ticks > 400) {
    printf("selftest: FAILED at %s\n", p.step < 7 ? names[p.step] : "a step");
    g_main_loop_quit(p.loop);
    return G_SOURCE_REMOVE;
  }
  if (!done) return G_SOURCE_CONTINUE;
  printf("selftest: %s\n", names[p.step]);
  fflush(stdout);
  if (++p.step < 7) return G_SOURCE_CONTINUE;
  closing(NULL, NULL);
  /* Without its surface the plug-in plays on, showing nothing. */
  api.Draw(0, 0, 0, AREA_W, AREA_H);
  api.Bass_Play();
  api.Bass_Stop();
  p.ok = 1;
  printf("selftest: passed\n");
  return G_SOURCE_REMOVE;
}

int main(int argc, char** argv) {
  int i = 1;
  for (; i < argc - 1; ++i) {
    if (strcmp(argv[i], "--selftest") == 0)
      p.selftest = 1;
    else if (strcmp(argv[i], "--unshown") == 0)
      p.unshown = 1;
    else if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc - 1)
      p.seconds = atof(argv[++i]);
    else
      break;
  }
  if (i != argc - 1) {
    fprintf(stderr, "usage: gtk4_player [--selftest | --seconds N [--unshown]] FILE\n");
    return 2;
  }
  p.path = argv[i];
  /* The window system keeps its windows in memory; the compositor shows them. */
  setenv("TOVUI_BACKEND", "model", 0);
  const char* plugin = getenv("TOVARIN_PLUGIN");
  void* lib = dlopen(plugin && *plugin ? plugin : TOVARIN_PLUGIN, RTLD_NOW);
  if (!lib || !resolve(lib)) {
    fprintf(stderr, "gtk4_player: cannot load the plug-in: %s\n", dlerror());
    return 1;
  }
  gtk_init();
  p.loop = g_main_loop_new(NULL, FALSE);
  p.window = gtk_window_new();
  gtk_window_set_title(GTK_WINDOW(p.window), "tovarin");
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  p.area = gtk_drawing_area_new();
  gtk_widget_set_size_request(p.area, AREA_W, AREA_H);
  gtk_widget_set_halign(p.area, GTK_ALIGN_START);
  gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(p.area), draw_area, NULL, NULL);
  gtk_box_append(GTK_BOX(box), p.area);
  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  button(buttons, "Play", api.Bass_Play);
  button(buttons, "Pause", api.Bass_Pause);
  button(buttons, "Stop", api.Bass_Stop);
  gtk_box_append(GTK_BOX(box), buttons);
  gtk_window_set_child(GTK_WINDOW(p.window), box);
  g_signal_connect(p.window, "map", G_CALLBACK(start), NULL);
  g_signal_connect(p.window, "close-request", G_CALLBACK(closing), NULL);
  gtk_window_present(GTK_WINDOW(p.window));
  if (p.selftest) g_timeout_add(50, tick, NULL);
  g_main_loop_run(p.loop);
  api.Bass_Free();
  return p.selftest && !p.ok ? 1 : 0;
}
