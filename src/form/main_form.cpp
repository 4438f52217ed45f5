#include "form/main_form.hpp"

#include "platform/platform.hpp"

namespace tovarin {

namespace {

constexpr uintptr_t kTimer1Id = 1;
constexpr uintptr_t kTimer2Id = 2;

}  // namespace

// --- TTimer, TPaintBox, FadeLink -------------------------------------------

TTimer::~TTimer() {
  if (enabled_) tovui::kill_timer(window_, id_);
}

void TTimer::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  if (on)
    tovui::set_timer(window_, id_, interval_);
  else
    tovui::kill_timer(window_, id_);
}

void TTimer::SetInterval(uint32_t ms) {
  interval_ = ms;
  if (enabled_) tovui::set_timer(window_, id_, interval_);
}

bool TPaintBox::CopyFrom(int32_t x, int32_t y, int32_t w, int32_t h, const tovui::Bitmap& src, int32_t sx,
                         int32_t sy) const {
  return tovui::blit(Parent, Bounds.x + x, Bounds.y + y, w, h, src, sx, sy, &Bounds);
}

void FadeLink::Answer() {
  {
    std::lock_guard<std::mutex> lock(Mutex);
    ++Answers;
  }
  Answered.notify_all();
}

void FadeLink::Close() {
  {
    std::lock_guard<std::mutex> lock(Mutex);
    Alive = false;
  }
  Answered.notify_all();
}

// --- TMainForm ------------------------------------------------------------

TMainForm::TMainForm(tovui::Handle parent, TFormHandlers& handlers) : handlers_(handlers) {
  // ClientWidth 111 is applied; the stored height of 0 is not, so the form
  // keeps the default 240. A child's default position is its parent's
  // top-left corner.
  handle_ = tovui::create_window(
      parent, tovui::Rect{0, 0, 111, 240},
      [this](tovui::Handle, uint32_t msg, uintptr_t wparam, intptr_t lparam) { return WndProc(msg, wparam, lparam); },
      tovui::kWhite);
  PaintBox1 = std::make_unique<TPaintBox>();
  PaintBox1->Parent = handle_;
  Timer1 = std::make_unique<TTimer>(handle_, kTimer1Id, 10);
  Timer2 = std::make_unique<TTimer>(handle_, kTimer2Id, 1000);
  Fade = std::make_shared<FadeLink>(handle_);
  handlers_.FormCreate(*this);
  Show();
}

TMainForm::~TMainForm() {
  // Unload: the window must not keep a procedure that points into this code.
  if (tovui::is_window(handle_)) {
    tovui::set_window_proc(handle_, {});
    Timer1.reset();
    Timer2.reset();
    tovui::destroy_window(handle_);
  }
  Fade->Close();
}

void TMainForm::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  tovui::set_window_pos(handle_, tovui::Rect{left, top, width, height});
}

void TMainForm::Show() { tovui::show_window(handle_, true); }
void TMainForm::Hide() { tovui::show_window(handle_, false); }

void TMainForm::StopTimers() {
  if (Timer1) Timer1->SetEnabled(false);
  if (Timer2) Timer2->SetEnabled(false);
}

intptr_t TMainForm::WndProc(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  // The host's loop dispatches here (its timers, posted messages, a message
  // box's loop, GLib's source): the host's floating-point environment is in
  // force until this scope sets the plug-in's.
  platform::HostFloatScope host_fp;
  try {
    switch (msg) {
      case MSG_GET_VOLUME: handlers_.GetVolume(*this); break;
      case MSG_CHANGE_VOLUME: handlers_.ChangeVolume(*this, static_cast<int32_t>(lparam)); break;
      case tovui::WM_TIMER:
        if (wparam == kTimer1Id && Timer1 && Timer1->Enabled()) handlers_.Timer1Timer(*this);
        if (wparam == kTimer2Id && Timer2 && Timer2->Enabled()) handlers_.Timer2Timer(*this);
        break;
      case tovui::WM_DESTROY: WMDestroy(); break;
      default: break;
    }
  } catch (...) {
    // A handler's failure must not unwind into the window system.
  }
  return 0;
}

void TMainForm::WMDestroy() {
  // Owned components, last to first; the paint box is a control, so it is
  // detached from the form before it goes.
  Timer2.reset();
  Timer1.reset();
  if (PaintBox1) {
    PaintBox1->Parent = 0;
    PaintBox1.reset();
  }
  // The release request goes to a window that is dying, so the window
  // system discards it with the window: the form object stays until unload.
  tovui::post_message(handle_, CM_RELEASE, 0, 0);
  Fade->Close();
}

// --- message boxes ----------------------------------------------------------

void ShowMessageBox(const TMainForm* owner, const std::string& text) {
  // The box's loop runs the host's own handlers too, which may change the
  // floating-point environment: the plug-in's is set again when it returns.
  platform::HostFloatScope around_the_box;
  tovui::message_box(owner ? owner->Handle() : 0, text, "tovarin");
}

}  // namespace tovarin
