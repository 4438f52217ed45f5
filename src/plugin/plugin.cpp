#include "plugin/plugin.hpp"

#include <new>

#include "audio/bass.h"
#include "format/convert.hpp"
#include "platform/platform.hpp"

namespace tovarin {

namespace {
// Runs the unload sequence when the module goes away, unless the process is
// ending on Windows: every other thread has been ended then, perhaps inside a
// lock, and the plug-in's destructors would lock, join and destroy
// synchronisation objects (a condition variable's destruction takes a spin
// lock of the threads library that a thread ended in the middle of its first
// wait leaves taken for ever). The plug-in is left as it is then; only a
// recording is completed, which needs no other thread.
struct Unload {
  Plugin* plugin;
  ~Unload() {
    platform::HostFloatScope host_fp;  // the host's thread, inside its unload call
    if (!platform::process_exiting())
      plugin->~Plugin();
    else
      CloseRecorder(plugin->Recorder.get());
  }
};
}  // namespace

Plugin& ThePlugin() {
  alignas(Plugin) static unsigned char storage[sizeof(Plugin)];
  static Plugin* const plugin = new (storage) Plugin;
  static const Unload unload{plugin};
  return *plugin;
}

// The unload sequence. The plug-in is made at its first export call, after
// the audio library's own state, so this runs while the library still works.
Plugin::~Plugin() {
  // No fade worker runs this library's code once it is gone.
  Fades.End(TFadeWorkers::kUnloading);
  // A running capture is stopped and its file completed.
  CloseRecorder(Recorder.get());
  // The audio library's threads run code of this library: they must not
  // outlive it. Refused (harmlessly) when Bass_Free already ran.
  if (AudioOpened) BASS_Free();
  // No window may keep a procedure that points into this code: the sessions
  // go newest first, each form's window before its player and bitmap.
  while (!Sessions.empty()) Sessions.pop_back();
}

// Message boxes belong to the newest form.
void ShowMessage(const std::string& text) { ShowMessageBox(ThePlugin().MainForm(), text); }

// --- the form's handlers ----------------------------------------------------

// Runs inside the form's making, whose session SetParentWindow has just
// added: the bitmap and the player are made into it.
void Plugin::FormCreate(TMainForm&) {
  TSession& session = Sessions.back();
  session.DrawBitmap = std::make_unique<tovui::Bitmap>();
  Display.Reset(*session.DrawBitmap);
  session.Player = std::make_unique<TStreamPlayer>();
}

void Plugin::Timer1Timer(TMainForm& form) { BarsTick(Display, Player(), DrawBitmap(), form); }
void Plugin::Timer2Timer(TMainForm& form) { LineTick(Display, Player(), DrawBitmap(), form); }

void Plugin::GetVolume(TMainForm& form) {
  const TStreamPlayer* player = Player();
  Fades.SavedVolume.store(player ? player->Volume() : 0);
  form.Fade->Answer();
}

void Plugin::ChangeVolume(TMainForm& form, int32_t step) {
  TStreamPlayer* player = Player();
  if (!player) return;
  const int32_t command = Fades.PendingCommand.load();
  if (command == kCommandPlay && step < 2) {
    player->SetVolume(player->ChannelIndex(), 0);
    player->Play(player->ChannelIndex());
    // The display comes back in the mode StartDraw chose last.
    const auto show = [&form](TTimer* on, TTimer* off) {
      if (on) on->SetEnabled(true);
      if (off) off->SetEnabled(false);
      form.Show();
    };
    if (player->DrawMode() == "second") show(form.Timer2.get(), form.Timer1.get());
    if (player->DrawMode() == "first") show(form.Timer1.get(), form.Timer2.get());
  }
  // The command is read again: a handler above may have shown a message box
  // whose loop let another export change it.
  const int32_t now = Fades.PendingCommand.load();
  if (step > 2 || now == kCommandPlay) {
    player->SetVolume(player->ChannelIndex(), step);
    return;
  }
  if (now == kCommandStop) player->Stop(player->ChannelIndex());
  if (now == kCommandPause) player->Pause(player->ChannelIndex());
  player->SetVolume(player->ChannelIndex(), Fades.SavedVolume.load());
  form.Hide();
  form.StopTimers();
}

// --- operations ---------------------------------------------------------------

void Plugin::SetParentWindow(uint32_t window) {
  HostWindow = window;
  // A handle that is not a window gets no form (and keeps any earlier one).
  if (!tovui::is_window(window)) return;
  const tovui::Handle grand_parent = tovui::get_parent(window);
  // The session is listed before its form is made: the form's FormCreate
  // fills it in.
  Sessions.emplace_back();
  TSession& session = Sessions.back();
  try {
    session.Form = std::make_unique<TMainForm>(grand_parent != 0 ? grand_parent : window, *this);
  } catch (...) {
    // A form that could not be made leaves no session: the one before stays
    // the current one.
    Sessions.pop_back();
    throw;
  }
  if (grand_parent != 0) tovui::set_parent(session.Form->Handle(), window);
}

void Plugin::Draw(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (TMainForm* form = MainForm()) form->SetBounds(left, top, width, height);
}

void Plugin::InitPlayer() {
  TStreamPlayer* player = Player();
  if (!player) return;
  AudioOpened = true;
  player->InitDevice(HostWindow);
  player->SetChannelIndex(1);
  player->SetDefaults();
  Fades.FadeLock = std::make_shared<std::mutex>();
  SetDecimalSeparator(".");
}

void Plugin::FreePlayer() {
  TStreamPlayer* player = Player();
  if (!player) return;
  player->FreeChannel(player->ChannelIndex());
  // A fade has nothing left to act on: no worker outlives the library.
  Fades.End(TFadeWorkers::kLibraryFreed);
}

void Plugin::Transport(int32_t command) {
  Fades.PendingCommand.store(command);
  if (Player() && MainForm()) Fades.Start(MainForm()->Fade);
}

}  // namespace tovarin
