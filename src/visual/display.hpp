// The spectrum display: set up by StartDraw, stopped by StopDraw, drawn by
// the form's timers (Timer1 bars, Timer2 line) from the FFT of one slot.
//
// StartDraw takes pen and brush colours from a "#"-separated colour string,
// the mode ("first" bars, "second" line; anything else switches no timer),
// the display area's height, the bar count and width, and the timer
// interval. A colour field that is not an integer text ends it with the
// message "StartDraw error", keeping what the earlier steps did. A frame
// that fails switches its own timer off, then shows "Draw Visual Error".
//
// Threads: everything here runs on the form's thread (the host's), from the
// exports and from timer ticks; there is no lock. The frames draw into the
// given bitmap from the given player's FftBuffer (both the newest form's,
// null before the first form), and copy the result to the ticking form's
// display area.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ui/ui.hpp"

namespace tovarin {

class TMainForm;
class TStreamPlayer;

// The display's settings (host thread).
struct TDisplay {
  int32_t BarWidth = 0;
  int32_t BarCount = 0;
  int32_t DrawChannel = 0;
  std::array<std::string, 7> ColorFields;  // fields 1..6

  // For a new form's bitmap: 512 x 200 with a blue pen, 20 bars of 5 pixels.
  void Reset(tovui::Bitmap& bitmap);
};

struct DrawSettings {
  std::string Colors;  // "RRR#GGG#BBB#RRR#GGG#BBB#": pen, then brush
  std::string Mode;
  int32_t Height = 0;  // also a factor of the area's width
  int32_t BarCount = 0;
  int32_t Interval = 0;  // milliseconds; the other factor of the width
  int32_t BarWidth = 0;
};

// player, bitmap and form: the newest (null before SetParentWindow).
void StartDraw(TDisplay& display, TStreamPlayer* player, tovui::Bitmap* bitmap, TMainForm* form,
               const DrawSettings& settings);
void StopDraw(TMainForm* form);

// One frame each on the ticking form; a failure is handled here (timer off,
// then the message).
void BarsTick(TDisplay& display, TStreamPlayer* player, tovui::Bitmap* bitmap, TMainForm& form);
void LineTick(TDisplay& display, TStreamPlayer* player, tovui::Bitmap* bitmap, TMainForm& form);

}  // namespace tovarin
