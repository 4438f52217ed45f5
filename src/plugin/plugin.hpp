// The plug-in: one object that owns everything the exports act on, and the
// handlers that its forms hand their events to.
//
// Members, in the order they are made: the argument queues and the result,
// the forms, the players, the display, the recorder and the fade workers.
// The destructor is the unload sequence (see plugin.cpp).
//
// Threads: everything here belongs to the host's thread, except what the
// fade workers and the capture callback share, which their own classes
// guard.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "form/main_form.hpp"
#include "player/fades.hpp"
#include "player/stream_player.hpp"
#include "plugin/args.hpp"
#include "recorder/recorder.hpp"
#include "visual/display.hpp"

namespace tovarin {

// What FormCreate made for each form, released by its FormDestroy.
template <class T>
class PerForm {
 public:
  T& Make(const TMainForm& form) {
    made_.emplace_back(&form, std::make_unique<T>());
    return *made_.back().second;
  }
  // The object made for form, taken out (null if none).
  std::unique_ptr<T> Take(const TMainForm& form) {
    for (auto it = made_.begin(); it != made_.end(); ++it) {
      if (it->first != &form) continue;
      std::unique_ptr<T> object = std::move(it->second);
      made_.erase(it);
      return object;
    }
    return nullptr;
  }

 private:
  std::vector<std::pair<const TMainForm*, std::unique_ptr<T>>> made_;
};

class Plugin final : public TFormHandlers {
 public:
  Plugin() = default;
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // The argument queues and the result.
  ArgQueues Args;
  // The forms; MainForm (the newest) is Forms.MainForm.
  uint32_t HostWindow = 0;
  TForms Forms;
  // Each form's player; Player is the newest form's (null before
  // SetParentWindow).
  PerForm<TStreamPlayer> Players;
  TStreamPlayer* Player = nullptr;
  // Set once Bass_Init has asked the library for its output.
  bool AudioOpened = false;
  // The spectrum display: each form's bitmap, and the display's state.
  PerForm<tovui::Bitmap> Bitmaps;
  TDisplay Display;
  // The recorder, null before the first Record_Init.
  std::unique_ptr<TBassRecorder> Recorder;
  // The transport's fade workers.
  TFadeWorkers Fades;

  // The form's handlers.
  void FormCreate(TMainForm& form) override;
  void FormDestroy(TMainForm& form) override;
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
