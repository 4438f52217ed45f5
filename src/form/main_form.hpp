// The plug-in's window layer: its form (a borderless child window inside the
// host's window), the form's timers and display area, the hand-shake with
// the fade workers, and the form's message boxes.
//
// A form carries the spectrum display area PaintBox1 and its timers Timer1
// (bars) and Timer2 (line), and receives the fade messages MSG_GET_VOLUME
// and MSG_CHANGE_VOLUME that the fade workers post. What these mean is not
// the form's business: it hands its creation, destruction, timer ticks and
// fade messages to the TFormHandlers it was made with.
//
// Threads: the form, its timers and its handlers belong to the thread that
// made it (the host's thread). Fade workers reach the form only by posting
// to its window and through its FadeLink, which is safe from any thread.
//
// Lifetimes: the plug-in keeps every form it made. When the host destroys
// its window, the form's window goes with it and the form releases its
// timers and paint box; the form object stays until the plug-in is
// unloaded, and then its window is destroyed, so that no window procedure
// outlives the library's code.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ui/ui.hpp"

namespace tovarin {

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
// worker counts its MSG_GET_VOLUME request; the form's answer counts the
// answer. Workers wait on Answered; the form's death wakes them for good.
struct FadeLink {
  explicit FadeLink(tovui::Handle window) : Window(window) {}
  const tovui::Handle Window;  // set once, read by any thread
  // Guarded by Mutex: a worker writes Requests, the form's thread writes
  // Answers (Answer) and Alive (Close); each reads the other's under it.
  std::mutex Mutex;
  std::condition_variable Answered;
  uint64_t Requests = 0;
  uint64_t Answers = 0;
  bool Alive = true;

  // The form has answered the oldest request it had not answered.
  void Answer();
  // The form is gone: every waiting worker gives up.
  void Close();
};

class TMainForm;

// What a form hands on. The plug-in that makes the forms wires these; they
// run on the form's thread, and a failure in one stops at the form.
class TFormHandlers {
 public:
  virtual void FormCreate(TMainForm& form) = 0;  // the form's window exists
  virtual void Timer1Timer(TMainForm& form) = 0;
  virtual void Timer2Timer(TMainForm& form) = 0;
  virtual void GetVolume(TMainForm& form) = 0;                   // MSG_GET_VOLUME
  virtual void ChangeVolume(TMainForm& form, int32_t step) = 0;  // MSG_CHANGE_VOLUME

 protected:
  ~TFormHandlers() = default;
};

class TMainForm {
 public:
  // Creates the window under parent (111 x 240 at its top-left, white),
  // runs FormCreate, then shows the form. Handle() is 0 if the window system
  // refused the parent.
  TMainForm(tovui::Handle parent, TFormHandlers& handlers);
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  tovui::Handle Handle() const { return handle_; }
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
  void Show();
  void Hide();
  // Switches both timers off.
  void StopTimers();

  // Owned components, in creation order; empty once WM_DESTROY released them.
  std::unique_ptr<TPaintBox> PaintBox1;
  std::unique_ptr<TTimer> Timer1;
  std::unique_ptr<TTimer> Timer2;
  std::shared_ptr<FadeLink> Fade;

 private:
  intptr_t WndProc(uint32_t msg, uintptr_t wparam, intptr_t lparam);
  void WMDestroy();

  TFormHandlers& handlers_;
  tovui::Handle handle_ = 0;
};

// A modal message box owned by owner's window (by none when owner is null).
// The nested loop keeps dispatching, so exports may be re-entered: call it
// with no lock held.
void ShowMessageBox(const TMainForm* owner, const std::string& text);

// The plug-in's message box, owned by the newest form (by no window before
// there is one). The plug-in, which holds the forms, defines it.
void ShowMessage(const std::string& text);

}  // namespace tovarin
