#include "desktop.hpp"

#include <SDL2/SDL.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include <tovarin/ui.h>

namespace host {

void ChooseDisplay(bool show) {
  if (!show) setenv("TOVUI_BACKEND", "model", 0);
}

namespace {

// Whether the Wayland compositor we would show on has a seat. SDL 2.26's
// Wayland driver crashes while starting on one that has none (a headless
// or kiosk compositor without input), so we ask first, on a connection of
// our own, with libwayland-client loaded only for this.
bool WaylandHasSeat() {
  void* lib = dlopen("libwayland-client.so.0", RTLD_NOW);
  if (!lib) return false;
  using Proxy = void;
  auto connect = reinterpret_cast<Proxy* (*)(const char*)>(dlsym(lib, "wl_display_connect"));
  auto disconnect = reinterpret_cast<void (*)(Proxy*)>(dlsym(lib, "wl_display_disconnect"));
  auto roundtrip = reinterpret_cast<int (*)(Proxy*)>(dlsym(lib, "wl_display_roundtrip"));
  auto marshal = reinterpret_cast<Proxy* (*)(Proxy*, uint32_t, const void*, uint32_t, uint32_t, ...)>(
      dlsym(lib, "wl_proxy_marshal_flags"));
  auto listen = reinterpret_cast<int (*)(Proxy*, void (**)(void), void*)>(dlsym(lib, "wl_proxy_add_listener"));
  auto version = reinterpret_cast<uint32_t (*)(Proxy*)>(dlsym(lib, "wl_proxy_get_version"));
  auto destroy = reinterpret_cast<void (*)(Proxy*)>(dlsym(lib, "wl_proxy_destroy"));
  const void* registry_interface = dlsym(lib, "wl_registry_interface");
  bool seat = false;
  Proxy* display = connect && disconnect && roundtrip && marshal && listen && version && destroy && registry_interface
                       ? connect(nullptr)
                       : nullptr;
  if (display) {
    Proxy* registry = marshal(display, 1 /* get_registry */, registry_interface, version(display), 0, nullptr);
    using Global = void (*)(void*, Proxy*, uint32_t, const char*, uint32_t);
    static const Global global = [](void* data, Proxy*, uint32_t, const char* name, uint32_t) {
      if (std::strcmp(name, "wl_seat") == 0) *static_cast<bool*>(data) = true;
    };
    static const auto global_remove = [](void*, Proxy*, uint32_t) {};
    static void (*listener[])(void) = {reinterpret_cast<void (*)()>(global),
                                       reinterpret_cast<void (*)()>(+global_remove)};
    listen(registry, listener, &seat);
    roundtrip(display);
    destroy(registry);
    disconnect(display);
  }
  // Left loaded: SDL loads the same library next.
  return seat;
}

}  // namespace

bool DesktopWindow::Open(uint32_t window, int32_t width, int32_t height, const char* title) {
  if (tovui_on_display() || IsOpen()) return false;
  const char* x_display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!x_display || !*x_display) && wayland && *wayland && !WaylandHasSeat()) {
    std::cerr << "tovarin: the Wayland compositor has no seat: no window on it\n";
    return false;
  }
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
  video_ = true;
  sdl_window_ = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height, 0);
  if (sdl_window_) renderer_ = SDL_CreateRenderer(sdl_window_, -1, SDL_RENDERER_SOFTWARE);
  // The window system's opaque 0xFFRRGGBB words are SDL's ARGB8888.
  if (renderer_)
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
  if (!texture_) {
    std::cerr << "tovarin: no window on the desktop: " << SDL_GetError() << "\n";
    Close();
    return false;
  }
  window_ = window;
  width_ = width;
  height_ = height;
  tovui_watch_damage(window, &DesktopWindow::Damaged, this);
  std::cout << "window: " << SDL_GetCurrentVideoDriver() << "\n";
  return true;
}

void DesktopWindow::Damaged(void* self, uint32_t, int32_t, int32_t, int32_t, int32_t) {
  static_cast<DesktopWindow*>(self)->dirty_ = true;
}

bool DesktopWindow::Update() {
  if (!IsOpen()) return true;
  bool open = true;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (event.type == SDL_QUIT) open = false;
    // Shown again, or its surface lost: paint the whole window.
    if (event.type == SDL_WINDOWEVENT) dirty_ = true;
  }
  if (dirty_) {
    dirty_ = false;
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture_, nullptr, &pixels, &pitch) == 0) {
      tovui_render(window_, pixels, pitch, width_, height_);
      SDL_UnlockTexture(texture_);
      SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
      SDL_RenderPresent(renderer_);
      ++frames_;
    }
  }
  return open;
}

void DesktopWindow::Close() {
  if (window_) tovui_watch_damage(window_, nullptr, nullptr);
  window_ = 0;
  if (texture_) SDL_DestroyTexture(texture_);
  if (renderer_) SDL_DestroyRenderer(renderer_);
  if (sdl_window_) SDL_DestroyWindow(sdl_window_);
  texture_ = nullptr;
  renderer_ = nullptr;
  sdl_window_ = nullptr;
  if (video_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  video_ = false;
}

}  // namespace host
