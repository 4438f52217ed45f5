// Flanger, chorus, reverb, echo and compressor (effects.hpp): one pattern
// for the five. A kind is one record of the table below; the operations are
// the templates that follow.
#include "audio/bass.h"
#include "effects/effects.hpp"
#include "player/report.hpp"

namespace tovarin {

namespace {

// The flanger's and chorus's store keeps Delay third; the library's record
// has it sixth.
BASS_DX8_CHORUS ModulatedRecord(const TFlangerParams& p) {
  return BASS_DX8_CHORUS{p.WetDryMix,
                         p.Depth,
                         p.Feedback,
                         p.Frequency,
                         static_cast<DWORD>(p.Waveform),
                         p.Delay,
                         static_cast<DWORD>(p.Phase)};
}

// One kind of effect: its library type, its handle in a slot's effects and
// its store, its three messages, and its record made from the store.
template <class Params, class Record>
struct Kind {
  DWORD Type;
  uint32_t TSlotEffects::*Handle;
  Params TEffectStores::*Store;
  const char* CreateError;
  const char* SetError;
  const char* RemoveError;
  Record (*MakeRecord)(const Params&);
};

constexpr Kind<TFlangerParams, BASS_DX8_FLANGER> kFlanger{
    BASS_FX_DX8_FLANGER,    &TSlotEffects::Flanger, &TEffectStores::FlangerParams,
    "Create Flanger Error", "SetFlanger Error",     "RemoveFlanger Error",
    &ModulatedRecord};
constexpr Kind<TChorusParams, BASS_DX8_CHORUS> kChorus{
    BASS_FX_DX8_CHORUS,   &TSlotEffects::Chorus, &TEffectStores::ChorusParams, "Create CHORUS Error", "SetCHORUS Error",
    "RemoveCHORUS Error", &ModulatedRecord};
constexpr Kind<TReverbParams, BASS_DX8_REVERB> kReverb{
    BASS_FX_DX8_REVERB,
    &TSlotEffects::Reverb,
    &TEffectStores::ReverbParams,
    "Create Reverb Error",
    "SetReverb Error",
    "RemoveReverb Error",
    [](const TReverbParams& p) {
      return BASS_DX8_REVERB{p.InGain, p.ReverbMix, p.ReverbTime, p.HighFreqRTRatio};
    }};
constexpr Kind<TEchoParams, BASS_DX8_ECHO> kEcho{
    BASS_FX_DX8_ECHO,
    &TSlotEffects::Echo,
    &TEffectStores::EchoParams,
    "Create Echo Error",
    "SetEcho Error",
    "RemoveEcho Error",
    [](const TEchoParams& p) {
      return BASS_DX8_ECHO{p.WetDryMix, p.Feedback, p.LeftDelay, p.RightDelay, p.PanDelay};
    }};
constexpr Kind<TCompressorParams, BASS_DX8_COMPRESSOR> kCompressor{
    BASS_FX_DX8_COMPRESSOR,
    &TSlotEffects::Compressor,
    &TEffectStores::CompressorParams,
    "Create Compressor Error",
    "SetCompressor Error",
    "RemoveCompressor Error",
    [](const TCompressorParams& p) {
      return BASS_DX8_COMPRESSOR{p.Gain, p.Attack, p.Release, p.Threshold, p.Ratio, p.Predelay};
    }};

// Every kind attaches at the same priority, so they run in the order the
// host created them.
constexpr int32_t kEffectPriority = 1;

template <class P, class R>
void SetEffect(TStreamPlayer& player, int32_t slot, const Kind<P, R>& kind, const P& values) {
  if (!TStreamPlayer::ValidSlot(slot)) return;
  // Stored whether or not an effect is attached, and whether or not the
  // library accepts the values: the next create applies them.
  player.Stores().*kind.Store = values;
  const R record = kind.MakeRecord(values);
  Report(BASS_FXSetParameters(player.Effects(slot).*kind.Handle, &record), kind.SetError);
}

template <class P, class R>
void RemoveEffect(TStreamPlayer& player, int32_t slot, const Kind<P, R>& kind) {
  if (!TStreamPlayer::ValidSlot(slot)) return;
  // The handle stays in the table; a slot that never had the effect passes
  // 0, which the library refuses.
  Report(BASS_ChannelRemoveFX(player.Stream(slot), player.Effects(slot).*kind.Handle), kind.RemoveError);
}

template <class P, class R>
void CreateEffect(TStreamPlayer& player, int32_t slot, const Kind<P, R>& kind) {
  if (!TStreamPlayer::ValidSlot(slot)) return;
  // At most one effect of a kind per slot. A failed removal has shown its
  // own message; creation goes on.
  RemoveEffect(player, slot, kind);
  const uint32_t fx = BASS_ChannelSetFX(player.Stream(slot), kind.Type, kEffectPriority);
  if (!Report(fx != 0, kind.CreateError)) return;  // a fault stores nothing
  player.Effects(slot).*kind.Handle = fx;
  const P stored = player.Stores().*kind.Store;
  SetEffect(player, slot, kind, stored);
}

}  // namespace

void CreateFlanger(TStreamPlayer& p, int32_t slot) { CreateEffect(p, slot, kFlanger); }
void CreateChorus(TStreamPlayer& p, int32_t slot) { CreateEffect(p, slot, kChorus); }
void CreateReverb(TStreamPlayer& p, int32_t slot) { CreateEffect(p, slot, kReverb); }
void CreateEcho(TStreamPlayer& p, int32_t slot) { CreateEffect(p, slot, kEcho); }
void CreateCompressor(TStreamPlayer& p, int32_t slot) { CreateEffect(p, slot, kCompressor); }

void SetFlanger(TStreamPlayer& p, int32_t slot, const TFlangerParams& v) { SetEffect(p, slot, kFlanger, v); }
void SetChorus(TStreamPlayer& p, int32_t slot, const TChorusParams& v) { SetEffect(p, slot, kChorus, v); }
void SetReverb(TStreamPlayer& p, int32_t slot, const TReverbParams& v) { SetEffect(p, slot, kReverb, v); }
void SetEcho(TStreamPlayer& p, int32_t slot, const TEchoParams& v) { SetEffect(p, slot, kEcho, v); }
void SetCompressor(TStreamPlayer& p, int32_t slot, const TCompressorParams& v) { SetEffect(p, slot, kCompressor, v); }

void RemoveFlanger(TStreamPlayer& p, int32_t slot) { RemoveEffect(p, slot, kFlanger); }
void RemoveChorus(TStreamPlayer& p, int32_t slot) { RemoveEffect(p, slot, kChorus); }
void RemoveReverb(TStreamPlayer& p, int32_t slot) { RemoveEffect(p, slot, kReverb); }
void RemoveEcho(TStreamPlayer& p, int32_t slot) { RemoveEffect(p, slot, kEcho); }
void RemoveCompressor(TStreamPlayer& p, int32_t slot) { RemoveEffect(p, slot, kCompressor); }

}  // namespace tovarin
