#include "form/main_form.hpp"

#include <vector>

#include "audio/bass.h"
#include "platform/platform.hpp"
#include "player/stream_player.hpp"

namespace tovarin {

uint32_t HostWindow = 0;
TMainForm* MainForm = nullptr;
tovui::Bitmap* DrawBitmap = nullptr;
int32_t BarWidth = 0;
int32_t BarCount = 0;

namespace {

constexpr uintptr_t kTimer1Id = 1;
constexpr uintptr_t kTimer2Id = 2;

// Every form made, newest last. Forms are never released while the library
// is loaded; at unload they go, after the fade workers have ended.
std::vector<std::unique_ptr<TMainForm>>& Forms() {
  static std::vector<std::unique_ptr<TMainForm>> forms;
  return forms;
}

struct UnloadGuard {
  ~UnloadGuard() {
    // An ending Windows process has ended every other thread, perhaps inside
    // a lock, and takes its windows with it: nothing is joined, locked or
    // destroyed then. The forms stay allocated: a form's destructor locks
    // its fade link and destroys a condition variable, and destroying one
    // takes a spin lock of the threads library that a thread ended in the
    // middle of its first wait leaves taken for ever.
    if (platform::process_exiting()) {
      for (auto& form : Forms()) (void)form.release();
      return;
    }
    StopFadeWorkers();
    // The audio library's threads run code of this library: they must not
    // outlive it. Refused (harmlessly) when Bass_Free already ran.
    if (AudioOpened) BASS_Free();
    auto& forms = Forms();
    while (!forms.empty()) forms.pop_back();  // newest first
    MainForm = nullptr;
  }
};
// Constructed after Forms() above is first used (at load), so it is
// destroyed before it.
const bool kFormsReady = (Forms(), PrepareFadeWorkers(), true);
UnloadGuard unload_guard;

}  // namespace

// --- TTimer ---------------------------------------------------------------

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

// --- TMainForm ------------------------------------------------------------

TMainForm::TMainForm(tovui::Handle parent) {
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
  FormCreate();
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
  {
    std::lock_guard<std::mutex> lock(Fade->Mutex);
    Fade->Alive = false;
  }
  Fade->Answered.notify_all();
  FormDestroy();
}

void TMainForm::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  tovui::set_window_pos(handle_, tovui::Rect{left, top, width, height});
}

void TMainForm::Show() { tovui::show_window(handle_, true); }
void TMainForm::Hide() { tovui::show_window(handle_, false); }

void TMainForm::FormCreate() {
  bitmap_ = std::make_unique<tovui::Bitmap>();
  DrawBitmap = bitmap_.get();
  player_ = std::make_unique<TStreamPlayer>();
  Player = player_.get();
  BarWidth = 5;
  BarCount = 20;
  DrawBitmap->set_pen(255);
  // Height first, then width, as the bitmap was sized originally.
  DrawBitmap->resize(0, 200);
  DrawBitmap->resize(512, 200);
}

void TMainForm::FormDestroy() {
  // Only what this form made: a newer form's bitmap and player stay.
  if (DrawBitmap == bitmap_.get()) DrawBitmap = nullptr;
  bitmap_.reset();
  if (Player == player_.get()) Player = nullptr;
  player_.reset();
}

intptr_t TMainForm::WndProc(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  try {
    switch (msg) {
      case MSG_GET_VOLUME:
        GetVolume();
        break;
      case MSG_CHANGE_VOLUME:
        ChangeVolume(static_cast<int32_t>(lparam));
        break;
      case tovui::WM_TIMER:
        if (wparam == kTimer1Id && Timer1 && Timer1->Enabled()) Timer1Timer();
        if (wparam == kTimer2Id && Timer2 && Timer2->Enabled()) Timer2Timer();
        break;
      case tovui::WM_DESTROY:
        WMDestroy();
        break;
      default:
        break;
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
  {
    std::lock_guard<std::mutex> lock(Fade->Mutex);
    Fade->Alive = false;
  }
  Fade->Answered.notify_all();
}

void TMainForm::GetVolume() {
  SavedVolume.store(Player ? Player->Volume : 0);
  {
    std::lock_guard<std::mutex> lock(Fade->Mutex);
    ++Fade->Answers;
  }
  Fade->Answered.notify_all();
}

void TMainForm::ChangeVolume(int32_t step) {
  TStreamPlayer* player = Player;
  if (!player) return;
  const int32_t command = PendingCommand.load();
  if (command == kCommandPlay && step < 2) {
    player->SetVolume(player->ChannelIndex, 0);
    player->Play(player->ChannelIndex);
    if (player->DrawMode == "second") {
      if (Timer2) Timer2->SetEnabled(true);
      if (Timer1) Timer1->SetEnabled(false);
      Show();
    }
    if (player->DrawMode == "first") {
      if (Timer1) Timer1->SetEnabled(true);
      if (Timer2) Timer2->SetEnabled(false);
      Show();
    }
  }
  // The command is read again: a handler above may have shown a message box
  // whose loop let another export change it.
  const int32_t now = PendingCommand.load();
  if (step > 2 || now == kCommandPlay) {
    player->SetVolume(player->ChannelIndex, step);
    return;
  }
  if (now == kCommandStop) player->Stop(player->ChannelIndex);
  if (now == kCommandPause) player->Pause(player->ChannelIndex);
  player->SetVolume(player->ChannelIndex, SavedVolume.load());
  Hide();
  if (Timer1) Timer1->SetEnabled(false);
  if (Timer2) Timer2->SetEnabled(false);
}

// --- exports' operations ----------------------------------------------------

void SetParentWindowImpl(uint32_t window) {
  HostWindow = window;
  // A handle that is not a window gets no form (and keeps any earlier one).
  if (!tovui::is_window(window)) return;
  const tovui::Handle grand_parent = tovui::get_parent(HostWindow);
  std::unique_ptr<TMainForm> form;
  if (grand_parent != 0) {
    form = std::make_unique<TMainForm>(tovui::get_parent(HostWindow));
    tovui::set_parent(form->Handle(), HostWindow);
  } else {
    form = std::make_unique<TMainForm>(HostWindow);
  }
  MainForm = form.get();
  Forms().push_back(std::move(form));
}

void DrawImpl(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (MainForm) MainForm->SetBounds(left, top, width, height);
}

void ShowMessage(const std::string& text) {
  tovui::message_box(MainForm ? MainForm->Handle() : 0, text, "tovarin");
}

}  // namespace tovarin
