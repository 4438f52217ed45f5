// The plug-in's form: a borderless child window inside the host's window.
//
// SetParentWindow creates a TMainForm under the window a host lends; its
// creation (FormCreate) makes the drawing bitmap and the player. The form
// carries the spectrum display area PaintBox1 and its timers Timer1 (bars)
// and Timer2 (line), and receives the fade messages MSG_GET_VOLUME and
// MSG_CHANGE_VOLUME that the fade workers post.
//
// Threads: the form, its timers and its handlers belong to the thread that
// called SetParentWindow (the host's thread); so do the module variables
// below. Fade workers reach the form only by posting to its window and
// through its FadeLink, which is safe from any thread.
//
// Lifetimes: a second SetParentWindow makes another form and leaves the
// earlier one (with its player and bitmap) where it is. When the host
// destroys its window, the form's window goes with it and the form releases
// its timers and paint box; the form object stays until the plug-in is
// unloaded, and then every form's window is destroyed, so that no window
// procedure outlives the library's code.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ui/ui.hpp"

namespace tovarin {

class TStreamPlayer;

constexpr uint32_t MSG_GET_VOLUME = 1459;
constexpr uint32_t MSG_CHANGE_VOLUME = 1167;
// The deferred release request a form posts to itself when its window dies.
constexpr uint32_t CM_RELEASE = 0xB01F;

// A millisecond timer of the form's window, delivered on the form's thread.
class TTimer {
 public:
  TTimer(tovui::Handle window, uintptr_t id, uint32_t interval) : window_(window), id_(id), interval_(interval) {}
  ~TTimer();
  bool Enabled() const { return enabled_; }
  uint32_t Interval() const { return interval_; }
  void SetEnabled(bool on);
  void SetInterval(uint32_t ms);  // restarts a running timer
  uintptr_t Id() const { return id_; }

 private:
  tovui::Handle window_;
  uintptr_t id_;
  uint32_t interval_;
  bool enabled_ = false;
};

// A windowless drawing area on the form: a rectangle of the form's client
// area into which bitmaps are copied, clipped to it.
struct TPaintBox {
  tovui::Handle Parent = 0;
  tovui::Rect Bounds{0, 0, 1, 1};
  // Copies the w x h block of src at (sx, sy) to the area's point (x, y).
  bool CopyFrom(int32_t x, int32_t y, int32_t w, int32_t h, const tovui::Bitmap& src, int32_t sx, int32_t sy) const;
};

// The hand-shake between a form and the fade workers that post to it. A
// worker counts its MSG_GET_VOLUME request; the form's GetVolume counts the
// answer. Workers wait on Answered; the form's death wakes them for good.
struct FadeLink {
  explicit FadeLink(tovui::Handle window) : Window(window) {}
  const tovui::Handle Window;
  // Guarded by Mutex.
  std::mutex Mutex;
  std::condition_variable Answered;
  uint64_t Requests = 0;
  uint64_t Answers = 0;
  bool Alive = true;
};

class TMainForm {
 public:
  // Creates the window under parent (111 x 240 at its top-left, white),
  // runs FormCreate, then shows the form. Handle() is 0 if the window system
  // refused the parent.
  explicit TMainForm(tovui::Handle parent);
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  tovui::Handle Handle() const { return handle_; }
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
  void Show();
  void Hide();

  // Owned components, in creation order; empty once WM_DESTROY released them.
  std::unique_ptr<TPaintBox> PaintBox1;
  std::unique_ptr<TTimer> Timer1;
  std::unique_ptr<TTimer> Timer2;
  std::shared_ptr<FadeLink> Fade;

  void FormCreate();
  void FormDestroy();
  void Timer1Timer();
  void Timer2Timer();
  void GetVolume();
  void ChangeVolume(int32_t step);

 private:
  intptr_t WndProc(uint32_t msg, uintptr_t wparam, intptr_t lparam);
  void WMDestroy();

  tovui::Handle handle_ = 0;
  // What FormCreate made and FormDestroy releases.
  std::unique_ptr<tovui::Bitmap> bitmap_;
  std::unique_ptr<TStreamPlayer> player_;
};

// Module state of the form (host thread).
extern uint32_t HostWindow;
extern TMainForm* MainForm;
extern tovui::Bitmap* DrawBitmap;
extern int32_t BarWidth;
extern int32_t BarCount;

void SetParentWindowImpl(uint32_t window);
void DrawImpl(int32_t left, int32_t top, int32_t width, int32_t height);

// A modal message box owned by the form (or by no window before there is
// one). The nested loop keeps dispatching, so exports may be re-entered:
// call it with no lock held.
void ShowMessage(const std::string& text);

}  // namespace tovarin
