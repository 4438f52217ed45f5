// Flanger, chorus, reverb, echo and compressor: one pattern for the five.
// Each kind has a handle table by slot and one parameter store for the whole
// player; create replaces the slot's effect of that kind and applies the
// store, set stores and applies, remove detaches. A kind is one record of
// the table below; the operations are the templates that follow.
#include "audio/bass.h"
#include "player/report.hpp"
#include "player/stream_player.hpp"

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

// One kind of effect: its library type, its handle table and its store in
// the player, its three messages, and its record made from the store.
template <class Params, class Record>
struct Kind {
  DWORD Type;
  SlotTable<uint32_t> TStreamPlayer::*Handles;
  Params TStreamPlayer::*Store;
  const char* CreateError;
  const char* SetError;
  const char* RemoveError;
  Record (*MakeRecord)(const Params&);
};

constexpr Kind<TFlangerParams, BASS_DX8_FLANGER> kFlanger{BASS_FX_DX8_FLANGER,
                                                          &TStreamPlayer::FlangerHandles,
                                                          &TStreamPlayer::FlangerParams,
                                                          "Create Flanger Error",
                                                          "SetFlanger Error",
                                                          "RemoveFlanger Error",
                                                          &ModulatedRecord};
constexpr Kind<TChorusParams, BASS_DX8_CHORUS> kChorus{BASS_FX_DX8_CHORUS,
                                                       &TStreamPlayer::ChorusHandles,
                                                       &TStreamPlayer::ChorusParams,
                                                       "Create CHORUS Error",
                                                       "SetCHORUS Error",
                                                       "RemoveCHORUS Error",
                                                       &ModulatedRecord};
constexpr Kind<TReverbParams, BASS_DX8_REVERB> kReverb{
    BASS_FX_DX8_REVERB,
    &TStreamPlayer::ReverbHandles,
    &TStreamPlayer::ReverbParams,
    "Create Reverb Error",
    "SetReverb Error",
    "RemoveReverb Error",
    [](const TReverbParams& p) {
      return BASS_DX8_REVERB{p.InGain, p.ReverbMix, p.ReverbTime, p.HighFreqRTRatio};
    }};
constexpr Kind<TEchoParams, BASS_DX8_ECHO> kEcho{
    BASS_FX_DX8_ECHO,
    &TStreamPlayer::EchoHandles,
    &TStreamPlayer::EchoParams,
    "Create Echo Error",
    "SetEcho Error",
    "RemoveEcho Error",
    [](const TEchoParams& p) {
      return BASS_DX8_ECHO{p.WetDryMix, p.Feedback, p.LeftDelay, p.RightDelay, p.PanDelay};
    }};
constexpr Kind<TCompressorParams, BASS_DX8_COMPRESSOR> kCompressor{
    BASS_FX_DX8_COMPRESSOR,
    &TStreamPlayer::CompressorHandles,
    &TStreamPlayer::CompressorParams,
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
  player.*kind.Store = values;
  const R record = kind.MakeRecord(values);
  Report(BASS_FXSetParameters((player.*kind.Handles)[slot], &record), kind.SetError);
}

template <class P, class R>
void RemoveEffect(TStreamPlayer& player, int32_t slot, const Kind<P, R>& kind) {
  if (!TStreamPlayer::ValidSlot(slot)) return;
  // The handle stays in the table; a slot that never had the effect passes
  // 0, which the library refuses.
  Report(BASS_ChannelRemoveFX(player.Streams[slot], (player.*kind.Handles)[slot]), kind.RemoveError);
}

template <class P, class R>
void CreateEffect(TStreamPlayer& player, int32_t slot, const Kind<P, R>& kind) {
  if (!TStreamPlayer::ValidSlot(slot)) return;
  // At most one effect of a kind per slot. A failed removal has shown its
  // own message; creation goes on.
  RemoveEffect(player, slot, kind);
  const uint32_t fx = BASS_ChannelSetFX(player.Streams[slot], kind.Type, kEffectPriority);
  if (!Report(fx != 0, kind.CreateError)) return;  // a fault stores nothing
  (player.*kind.Handles)[slot] = fx;
  const P stored = player.*kind.Store;
  SetEffect(player, slot, kind, stored);
}

}  // namespace

void TStreamPlayer::CreateFlanger(int32_t slot) { CreateEffect(*this, slot, kFlanger); }
void TStreamPlayer::SetFlanger(int32_t slot, const TFlangerParams& values) { SetEffect(*this, slot, kFlanger, values); }
void TStreamPlayer::RemoveFlanger(int32_t slot) { RemoveEffect(*this, slot, kFlanger); }

void TStreamPlayer::CreateChorus(int32_t slot) { CreateEffect(*this, slot, kChorus); }
void TStreamPlayer::SetChorus(int32_t slot, const TChorusParams& values) { SetEffect(*this, slot, kChorus, values); }
void TStreamPlayer::RemoveChorus(int32_t slot) { RemoveEffect(*this, slot, kChorus); }

void TStreamPlayer::CreateReverb(int32_t slot) { CreateEffect(*this, slot, kReverb); }
void TStreamPlayer::SetReverb(int32_t slot, const TReverbParams& values) { SetEffect(*this, slot, kReverb, values); }
void TStreamPlayer::RemoveReverb(int32_t slot) { RemoveEffect(*this, slot, kReverb); }

void TStreamPlayer::CreateEcho(int32_t slot) { CreateEffect(*this, slot, kEcho); }
void TStreamPlayer::SetEcho(int32_t slot, const TEchoParams& values) { SetEffect(*this, slot, kEcho, values); }
void TStreamPlayer::RemoveEcho(int32_t slot) { RemoveEffect(*this, slot, kEcho); }

void TStreamPlayer::CreateCompressor(int32_t slot) { CreateEffect(*this, slot, kCompressor); }
void TStreamPlayer::SetCompressor(int32_t slot, const TCompressorParams& values) {
  SetEffect(*this, slot, kCompressor, values);
}
void TStreamPlayer::RemoveCompressor(int32_t slot) { RemoveEffect(*this, slot, kCompressor); }

}  // namespace tovarin
