// The equalizer's and the effect family's exports, on the current slot.
// Before SetParentWindow there is no player, and they do nothing.
//
// A set export converts its queue texts in a fixed order and stops at the
// first that fails, showing its prefix and the conversion's message; then
// nothing is stored or applied.
#include <string>

#include "form/main_form.hpp"
#include "player/stream_player.hpp"
#include "plugin/args.hpp"
#include "format/convert.hpp"
#include "plugin/exports.hpp"
#include "plugin/guard.hpp"

using namespace tovarin;

namespace {

// Runs the conversions and the operation; a conversion failure is shown
// with the export's prefix.
template <class F>
void SetExport(const char* prefix, F&& body) {
  Guarded([&] {
    if (!Player) return;
    try {
      body(*Player);
    } catch (const ConvertError& e) {
      ShowMessage(std::string(prefix) + e.what());
    }
  });
}

float FloatArg(int index) { return FloatText(FileArg(index)); }
int32_t IntegerArg(int index) { return IntegerText(FileArg(index)); }

// The flanger and the chorus read the same seven texts; the phase text is
// converted before the waveform text.
struct ModulatedArgs {
  float WetDryMix, Depth, Delay, Feedback, Frequency;
  int32_t Waveform, Phase;
};
ModulatedArgs ReadModulatedArgs() {
  ModulatedArgs a{};
  a.WetDryMix = FloatArg(6);
  a.Depth = FloatArg(5);
  a.Delay = FloatArg(4);
  a.Feedback = FloatArg(3);
  a.Frequency = FloatArg(2);
  a.Phase = IntegerArg(0);
  a.Waveform = IntegerArg(1);
  return a;
}

template <class F>
void OnPlayer(F&& op) {
  Guarded([&] {
    if (Player) op(*Player);
  });
}

}  // namespace

// Equalizer.

TOVARIN_EXPORT void Bass_CreateEQ() {
  OnPlayer([](TStreamPlayer& p) { p.CreateEq(p.ChannelIndex); });
}

TOVARIN_EXPORT void Bass_EqSet() {
  OnPlayer([](TStreamPlayer& p) {
    p.SetEq(p.ChannelIndex, DataArg(2), static_cast<float>(DataArg(1)), static_cast<float>(DataArg(0)));
  });
}

TOVARIN_EXPORT void Bass_EqRemove() {
  OnPlayer([](TStreamPlayer& p) { p.RemoveEq(p.ChannelIndex); });
}

// Flanger.

TOVARIN_EXPORT void Bass_CreateFlanger() {
  OnPlayer([](TStreamPlayer& p) { p.CreateFlanger(p.ChannelIndex); });
}

TOVARIN_EXPORT void Bass_SetFlanger() {
  SetExport("Set Flanger Error - ", [](TStreamPlayer& p) {
    const ModulatedArgs a = ReadModulatedArgs();
    p.SetFlanger(p.ChannelIndex, a.WetDryMix, a.Depth, a.Delay, a.Feedback, a.Frequency, a.Waveform, a.Phase);
  });
}

TOVARIN_EXPORT void Bass_FlangerRemove() {
  OnPlayer([](TStreamPlayer& p) { p.RemoveFlanger(p.ChannelIndex); });
}

// Chorus.

TOVARIN_EXPORT void Bass_CreateChorus() {
  OnPlayer([](TStreamPlayer& p) { p.CreateChorus(p.ChannelIndex); });
}

TOVARIN_EXPORT void Bass_SetChorus() {
  // The chorus makes sure of the separator itself, even when a text then
  // fails to convert.
  Guarded([] { SetDecimalSeparator("."); });
  SetExport("Set Chorus Error - ", [](TStreamPlayer& p) {
    const ModulatedArgs a = ReadModulatedArgs();
    p.SetChorus(p.ChannelIndex, a.WetDryMix, a.Depth, a.Delay, a.Feedback, a.Frequency, a.Waveform, a.Phase);
  });
}

TOVARIN_EXPORT void Bass_ChorusRemove() {
  OnPlayer([](TStreamPlayer& p) { p.RemoveChorus(p.ChannelIndex); });
}

// Reverb.

TOVARIN_EXPORT void Bass_CreateReverb() {
  OnPlayer([](TStreamPlayer& p) { p.CreateReverb(p.ChannelIndex); });
}

TOVARIN_EXPORT void Bass_SetReverb() {
  SetExport("Set Reverb Error - ", [](TStreamPlayer& p) {
    const float in_gain = FloatArg(3);
    const float reverb_mix = FloatArg(2);
    const float reverb_time = FloatArg(1);
    const float high_ratio = FloatArg(0);
    p.SetReverb(p.ChannelIndex, in_gain, reverb_mix, reverb_time, high_ratio);
  });
}

TOVARIN_EXPORT void Bass_ReverbRemove() {
  OnPlayer([](TStreamPlayer& p) { p.RemoveReverb(p.ChannelIndex); });
}

// Echo.

TOVARIN_EXPORT void Bass_CreateEcho() {
  OnPlayer([](TStreamPlayer& p) { p.CreateEcho(p.ChannelIndex); });
}

TOVARIN_EXPORT void Bass_SetEcho() {
  SetExport("Set Echo Error - ", [](TStreamPlayer& p) {
    const float wet_dry = FloatArg(3);
    const float feedback = FloatArg(2);
    const float left_delay = FloatArg(1);
    const float right_delay = FloatArg(0);
    // Only the low byte of the integer counts: 256 is off.
    const int32_t pan_delay = (DataArg(0) & 0xFF) != 0 ? -1 : 0;
    p.SetEcho(p.ChannelIndex, wet_dry, feedback, left_delay, right_delay, pan_delay);
  });
}

TOVARIN_EXPORT void Bass_EchoRemove() {
  OnPlayer([](TStreamPlayer& p) { p.RemoveEcho(p.ChannelIndex); });
}

// Compressor.

TOVARIN_EXPORT void Bass_CreateCompressor() {
  OnPlayer([](TStreamPlayer& p) { p.CreateCompressor(p.ChannelIndex); });
}

TOVARIN_EXPORT void Bass_SetCompressor() {
  SetExport("Set Compressor Error - ", [](TStreamPlayer& p) {
    const float gain = FloatArg(5);
    const float attack = FloatArg(4);
    const float release = FloatArg(3);
    const float threshold = FloatArg(2);
    const float ratio = FloatArg(1);
    const float predelay = FloatArg(0);
    p.SetCompressor(p.ChannelIndex, gain, attack, release, threshold, ratio, predelay);
  });
}

TOVARIN_EXPORT void Bass_CompressorRemove() {
  OnPlayer([](TStreamPlayer& p) { p.RemoveCompressor(p.ChannelIndex); });
}
