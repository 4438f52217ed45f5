#include "desktop.hpp"

#include <SDL2/SDL.h>

#include <cstdlib>
#include <iostream>

#include <tovarin/ui.h>

namespace host {

void ChooseDisplay(bool show) {
  if (!show) setenv("TOVUI_BACKEND", "model", 0);
}

bool DesktopWindow::Open(uint32_t window, int32_t width, int32_t height, const char* title) {
  if (tovui_on_display() || IsOpen()) return false;
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
