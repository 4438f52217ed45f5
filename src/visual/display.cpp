#include "visual/display.hpp"

#include <stdexcept>

#include "form/main_form.hpp"
#include "format/convert.hpp"
#include "player/stream_player.hpp"
#include "visual/frames.hpp"

namespace tovarin {

void TDisplay::Reset(tovui::Bitmap& bitmap) {
  BarWidth = 5;
  BarCount = 20;
  bitmap.set_pen(255);
  // Height first, then width, as the bitmap was sized originally.
  bitmap.resize(0, 200);
  bitmap.resize(512, 200);
}

namespace {

// A colour from three integer-text fields, each taken as its low 8 bits.
// Blue is converted first, then green, then red.
tovui::Color FieldsColor(const std::array<std::string, 7>& fields, int first) {
  const int32_t blue = IntegerText(fields[first + 2]);
  const int32_t green = IntegerText(fields[first + 1]);
  const int32_t red = IntegerText(fields[first]);
  return tovui::rgb(static_cast<uint8_t>(red), static_cast<uint8_t>(green), static_cast<uint8_t>(blue));
}

[[noreturn]] void Missing(const char* what) { throw std::runtime_error(std::string("no ") + what); }

void SwitchTimers(TMainForm& form, TTimer* on, TTimer* off, int32_t interval) {
  if (!on || !off) Missing("timers");
  on->SetInterval(static_cast<uint32_t>(interval));
  on->SetEnabled(true);
  off->SetEnabled(false);
  form.Show();
}

void StartDrawSteps(TDisplay& d, TStreamPlayer* player, tovui::Bitmap* bitmap, TMainForm* form, const DrawSettings& s) {
  visual::SplitColorFields(s.Colors, d.ColorFields);
  if (!player) Missing("player");
  d.DrawChannel = player->ChannelIndex();
  d.BarWidth = s.BarWidth;
  d.BarCount = s.BarCount;
  if (!bitmap) Missing("bitmap");
  const tovui::Color pen = FieldsColor(d.ColorFields, 1);
  bitmap->set_pen(pen);
  const tovui::Color brush = FieldsColor(d.ColorFields, 4);
  bitmap->set_brush(brush);
  if (!form || !form->PaintBox1) Missing("display area");
  // The width is the height times the interval, as a 32-bit product.
  form->PaintBox1->Bounds.width =
      static_cast<int32_t>(static_cast<uint32_t>(s.Height) * static_cast<uint32_t>(s.Interval));
  form->Show();
  player->SetDrawMode(s.Mode);
  if (s.Mode == "second") SwitchTimers(*form, form->Timer2.get(), form->Timer1.get(), s.Interval);
  if (s.Mode == "first") SwitchTimers(*form, form->Timer1.get(), form->Timer2.get(), s.Interval);
  form->PaintBox1->Bounds.height = s.Height;
}

// What a frame needs; a missing one fails the tick.
struct FrameInputs {
  int32_t Height;
  TStreamPlayer* Player;
  tovui::Bitmap* Bitmap;
};

FrameInputs Inputs(TStreamPlayer* player, tovui::Bitmap* bitmap, TMainForm& form) {
  if (!form.PaintBox1) Missing("display area");
  if (!player) Missing("player");
  if (!bitmap) Missing("bitmap");
  return {form.PaintBox1->Bounds.height, player, bitmap};
}

void Present(TMainForm& form, const tovui::Bitmap& bitmap) {
  form.PaintBox1->CopyFrom(0, 0, bitmap.width(), bitmap.height(), bitmap, 0, 0);
}

using FrameDrawing = void (*)(tovui::Bitmap&, const visual::Spectrum&, int32_t, int32_t, int32_t);

// One frame on the ticking form; a failure switches its timer off, then
// shows the message.
void Tick(TDisplay& d, TStreamPlayer* player, tovui::Bitmap* bitmap, TMainForm& form, TTimer* timer,
          FrameDrawing draw) {
  try {
    FrameInputs in = Inputs(player, bitmap, form);
    in.Player->FetchFFT(d.DrawChannel);
    draw(*in.Bitmap, in.Player->FftBuffer(), in.Height, d.BarCount, d.BarWidth);
    Present(form, *in.Bitmap);
  } catch (...) {
    // Off before the message: the box's loop goes on dispatching ticks.
    if (timer) timer->SetEnabled(false);
    ShowMessage("Draw Visual Error");
  }
}

}  // namespace

void StartDraw(TDisplay& display, TStreamPlayer* player, tovui::Bitmap* bitmap, TMainForm* form,
               const DrawSettings& settings) {
  try {
    StartDrawSteps(display, player, bitmap, form, settings);
  } catch (...) {
    ShowMessage("StartDraw error");
  }
}

void StopDraw(TMainForm* form) {
  if (!form) return;
  form->Hide();
  form->StopTimers();
}

void BarsTick(TDisplay& d, TStreamPlayer* player, tovui::Bitmap* bitmap, TMainForm& form) {
  Tick(d, player, bitmap, form, form.Timer1.get(), &visual::DrawBarsFrame);
}

void LineTick(TDisplay& d, TStreamPlayer* player, tovui::Bitmap* bitmap, TMainForm& form) {
  Tick(d, player, bitmap, form, form.Timer2.get(), &visual::DrawLineFrame);
}

}  // namespace tovarin
