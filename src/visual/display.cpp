#include "visual/display.hpp"

#include <stdexcept>

#include "form/main_form.hpp"
#include "player/stream_player.hpp"
#include "format/convert.hpp"
#include "visual/frames.hpp"

namespace tovarin {

int32_t DrawChannel = 0;
std::array<std::string, 7> ColorFields;

namespace {

// A colour from three integer-text fields, each taken as its low 8 bits.
// Blue is converted first, then green, then red.
tovui::Color FieldsColor(int first) {
  const int32_t blue = IntegerText(ColorFields[first + 2]);
  const int32_t green = IntegerText(ColorFields[first + 1]);
  const int32_t red = IntegerText(ColorFields[first]);
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

void StartDrawSteps(const DrawSettings& s) {
  visual::SplitColorFields(s.Colors, ColorFields);
  if (!Player) Missing("player");
  DrawChannel = Player->ChannelIndex;
  BarWidth = s.BarWidth;
  BarCount = s.BarCount;
  if (!DrawBitmap) Missing("bitmap");
  const tovui::Color pen = FieldsColor(1);
  DrawBitmap->set_pen(pen);
  const tovui::Color brush = FieldsColor(4);
  DrawBitmap->set_brush(brush);
  TMainForm* form = MainForm;
  if (!form || !form->PaintBox1) Missing("display area");
  // The width is the height times the interval, as a 32-bit product.
  form->PaintBox1->Bounds.width =
      static_cast<int32_t>(static_cast<uint32_t>(s.Height) * static_cast<uint32_t>(s.Interval));
  form->Show();
  Player->DrawMode = s.Mode;
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

FrameInputs Inputs(TMainForm& form) {
  if (!form.PaintBox1) Missing("display area");
  if (!Player) Missing("player");
  if (!DrawBitmap) Missing("bitmap");
  return {form.PaintBox1->Bounds.height, Player, DrawBitmap};
}

void Present(TMainForm& form, const tovui::Bitmap& bitmap) {
  form.PaintBox1->CopyFrom(0, 0, bitmap.width(), bitmap.height(), bitmap, 0, 0);
}

template <class Frame>
void Tick(TTimer* timer, Frame&& frame) {
  try {
    frame();
  } catch (...) {
    // Off before the message: the box's loop goes on dispatching ticks.
    if (timer) timer->SetEnabled(false);
    ShowMessage("Draw Visual Error");
  }
}

}  // namespace

void StartDraw(const DrawSettings& settings) {
  try {
    StartDrawSteps(settings);
  } catch (...) {
    ShowMessage("StartDraw error");
  }
}

void StopDraw() {
  TMainForm* form = MainForm;
  if (!form) return;
  form->Hide();
  if (form->Timer1) form->Timer1->SetEnabled(false);
  if (form->Timer2) form->Timer2->SetEnabled(false);
}

void BarsTick(TMainForm& form) {
  Tick(form.Timer1.get(), [&] {
    FrameInputs in = Inputs(form);
    in.Player->FetchFFT(DrawChannel);
    visual::DrawBarsFrame(*in.Bitmap, in.Player->FftBuffer, in.Height, BarCount, BarWidth);
    Present(form, *in.Bitmap);
  });
}

void LineTick(TMainForm& form) {
  Tick(form.Timer2.get(), [&] {
    FrameInputs in = Inputs(form);
    in.Player->FetchFFT(DrawChannel);
    visual::DrawLineFrame(*in.Bitmap, in.Player->FftBuffer, in.Height, BarCount, BarWidth);
    Present(form, *in.Bitmap);
  });
}

}  // namespace tovarin
