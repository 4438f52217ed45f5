// The plug-in: one object that owns everything the exports act on, and the
// handlers that its forms hand their events to.
//
// Members, in the order they are made: the argument queues and the result,
// the sessions (each form with its player and bitmap), the display, the
// recorder and the fade workers. The destructor is the unload sequence (see
// plugin.cpp).
//
// Threads: everything here belongs to the host's thread, except what the
// fade workers and the capture callback share, which their own classes
// guard.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "form/main_form.hpp"
#include "player/fades.hpp"
#include "player/stream_player.hpp"
#include "plugin/args.hpp"
#include "recorder/recorder.hpp"
#include "visual/display.hpp"

namespace tovarin {

// One form and what its FormCreate made for it. The form goes first when a
// session is released (members go in reverse order), then its bitmap and
// player.
struct TSession {
  std::unique_ptr<TStreamPlayer> Player;
  std::unique_ptr<tovui::Bitmap> DrawBitmap;
  std::unique_ptr<TMainForm> Form;  // null while SetParentWindow makes it
};

class Plugin final : public TFormHandlers {
 public:
  Plugin() = default;
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // The argument queues and the result.
  ArgQueues Args;
  // The window SetParentWindow was given last.
  uint32_t HostWindow = 0;
  // Every form with its player and bitmap, newest last (SetParentWindow
  // adds one, unload releases them). The newest is the current session: its
  // form is MainForm (Draw moves it, message boxes belong to it), its player
  // is the one the exports act on, its bitmap the one the display draws in.
  std::vector<TSession> Sessions;
  TMainForm* MainForm() const { return Sessions.empty() ? nullptr : Sessions.back().Form.get(); }
  TStreamPlayer* Player() const { return Sessions.empty() ? nullptr : Sessions.back().Player.get(); }
  tovui::Bitmap* DrawBitmap() const { return Sessions.empty() ? nullptr : Sessions.back().DrawBitmap.get(); }
  // Set once Bass_Init has asked the library for its output.
  bool AudioOpened = false;
  // The spectrum display's settings.
  TDisplay Display;
  // The recorder, null before the first Record_Init.
  std::unique_ptr<TBassRecorder> Recorder;
  // The transport's fade workers.
  TFadeWorkers Fades;

  // The form's handlers.
  void FormCreate(TMainForm& form) override;
  void Timer1Timer(TMainForm& form) override;
  void Timer2Timer(TMainForm& form) override;
  void GetVolume(TMainForm& form) override;
  void ChangeVolume(TMainForm& form, int32_t step) override;

  // Operations of the exports that are more than a call.
  void SetParentWindow(uint32_t window);
  void Draw(int32_t left, int32_t top, int32_t width, int32_t height);
  void InitPlayer();
  void FreePlayer();
  // Records the command and starts a fade to carry it out.
  void Transport(int32_t command);
};

// The plug-in, made at the first export call and destroyed when the library
// is unloaded (or the process ends).
Plugin& ThePlugin();

}  // namespace tovarin
