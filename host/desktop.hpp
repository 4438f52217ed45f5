// The host's window on a desktop. `tovarin play --show` with an X display
// makes the host's window a real window in which the plug-in draws its form
// and spectrum live. Without an X server (a Wayland session) the windows
// stay in memory and the host shows them itself in a window of SDL's (which
// speaks Wayland): it paints the window whenever the window system says its
// pixels changed (the pull path). Every other run keeps its windows in
// memory (PNG snapshots, terminal pictures), display or not.
#pragma once

#include <cstdint>

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;

namespace host {

// Call before the first window is made. A TOVUI_BACKEND the user set wins.
void ChooseDisplay(bool show);

// A desktop window showing one window of the window system, painted from
// its pixels. Owner thread only.
class DesktopWindow {
 public:
  DesktopWindow() = default;
  DesktopWindow(const DesktopWindow&) = delete;
  DesktopWindow& operator=(const DesktopWindow&) = delete;
  ~DesktopWindow() { Close(); }

  // Shows `window` (width x height) in a window of its own, unless the
  // window system shows it already (X11). False when no desktop window
  // could be opened (no display): nothing is shown then.
  bool Open(uint32_t window, int32_t width, int32_t height, const char* title);
  bool IsOpen() const { return sdl_window_ != nullptr; }
  // Handles the desktop's events and paints what changed. Call after each
  // pump. Returns false once the user closed the window.
  bool Update();
  void Close();
  // Frames painted so far.
  uint64_t Frames() const { return frames_; }

 private:
  static void Damaged(void* self, uint32_t window, int32_t x, int32_t y, int32_t width, int32_t height);

  uint32_t window_ = 0;
  int32_t width_ = 0, height_ = 0;
  bool dirty_ = false;
  bool video_ = false;  // SDL's video subsystem is ours to quit
  uint64_t frames_ = 0;
  SDL_Window* sdl_window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
};

}  // namespace host
