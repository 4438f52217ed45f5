/*
 * A minimal host of the tovarin plug-in: opens a window, plays one file
 * through Plugin.so and prints its tags, format, position and length.
 *
 * Build against an installed tovarin with CMake (CMakeLists.txt beside this
 * file: find_package(tovarin)), with make (the Makefile), or by hand:
 *   cc play.c -o play $(pkg-config --cflags --libs tovarin) \
 *      -DTOVARIN_PLUGIN="\"$(pkg-config --variable=plugin tovarin)\"" \
 *      -Wl,-rpath,$(pkg-config --variable=libdir tovarin) -ldl
 * Run:  ./play song.flac        (TOVARIN_PLUGIN=/path/Plugin.so overrides)
 */
#include <dlfcn.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <tovarin/plugin.h>
#include <tovarin/ui.h>

#ifndef TOVARIN_PLUGIN
#define TOVARIN_PLUGIN "Plugin.so"
#endif

/* The exports, resolved by name from the loaded plug-in. */
#define FIELD(name, ordinal, ret, params, args) ret(*name) params;
static struct { TOVARIN_PLUGIN_EXPORTS(FIELD) } api;
#undef FIELD

static int resolve(void* lib) {
#define RESOLVE(name, ...)                                \
  *(void**)&api.name = dlsym(lib, #name);                 \
  if (!api.name) {                                        \
    fprintf(stderr, "play: Plugin.so lacks " #name "\n"); \
    return 0;                                             \
  }
  TOVARIN_PLUGIN_EXPORTS(RESOLVE)
#undef RESOLVE
  return 1;
}

/* A query export leaves its answer as text; GetFile returns it. */
static unsigned long query_number(void (*query)(void)) {
  query();
  return strtoul(api.GetFile(), NULL, 10);
}

static const char* tag(const char* key) {
  api.SetFile(key);
  api.Bass_GetTags();
  return api.GetFile();
}

static double now_s(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: play FILE\n");
    return 2;
  }
  /* The window-system library must be of the major version built against. */
  if (tovui_version() >> 16 != TOVARIN_VERSION_MAJOR) {
    fprintf(stderr, "play: libtovarin-ui is %s, built for %d.x\n", tovui_version_string(), TOVARIN_VERSION_MAJOR);
    return 1;
  }
  const char* plugin = getenv("TOVARIN_PLUGIN") ? getenv("TOVARIN_PLUGIN") : TOVARIN_PLUGIN;
  void* lib = dlopen(plugin, RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "play: cannot load %s: %s\n", plugin, dlerror());
    return 1;
  }
  if (!resolve(lib)) return 1;
  printf("%s\n", api.GetInfo());

  /* 1. Lend the plug-in a window, then initialise the audio library. */
  uint32_t window = tovui_create_window(0, 0, 0, 320, 256);
  api.SetParentWindow(window);
  api.Draw(0, 0, 0, 320, 256);
  api.Bass_Init();

  /* 2. Open the file into slot 1: push the slot, select it; push the path, create. */
  api.SetData(1);
  api.Bass_ChannelNum();
  api.SetFile(argv[1]);
  if (!api.Bass_Create()) {
    fprintf(stderr, "play: cannot open %s\n", argv[1]);
    api.Bass_Free();
    return 3;
  }
  printf("title: %s\n", tag("%TITL"));
  printf("artist: %s\n", tag("%ARTI"));
  printf("album: %s\n", tag("%ALBM"));
  const unsigned long rate = query_number(api.Bass_GetFreq);
  api.Bass_GetChannels();
  printf("format: %lu Hz, %s\n", rate, api.GetFile());
  const unsigned long length = query_number(api.Bass_GetLength); /* whole seconds */
  printf("length: %lu s\n", length);

  /* 3. Play (a fade-in run by the plug-in on this thread's messages) and poll. */
  api.Bass_Play();
  const double start = now_s();
  unsigned long shown = (unsigned long)-1;
  int heard = 0;
  for (;;) {
    struct pollfd fd = {tovui_event_fd(), POLLIN, 0};
    poll(&fd, 1, 50);
    tovui_pump(0);
    const unsigned long position = query_number(api.Bass_GetPosition);
    const int quiet = query_number(api.Bass_GetLLevel) == 0 && query_number(api.Bass_GetRLevel) == 0;
    if (position != shown) {
      printf("position: %lu / %lu s\n", position, length);
      fflush(stdout);
      shown = position;
    }
    /* The levels fall to 0 once the stream has played out. */
    if (!quiet) heard = 1;
    if (quiet && position >= length && (heard || now_s() - start > 0.5)) break;
    if (now_s() - start > length + 10.0) {
      fprintf(stderr, "play: playback did not end\n");
      break;
    }
  }
  printf("ended\n");
  api.Bass_Free();
  tovui_destroy_window(window);
  dlclose(lib);
  return 0;
}
