// Flanger, chorus, reverb, echo and compressor: one pattern for the five.
// Each kind has a handle table by slot and one parameter store for the whole
// player; create replaces the slot's effect of that kind and applies the
// store, set stores and applies, remove detaches. A kind is described by a
// small traits record below; the operations are the templates that follow.
#include "audio/bass.h"
#include "effects/library_calls.hpp"
#include "form/main_form.hpp"
#include "player/stream_player.hpp"

namespace tovarin {

namespace {

// The flanger's and chorus's store keeps Delay third; the library's record
// has it sixth.
BASS_DX8_CHORUS ModulatedRecord(const TFlangerParams& p) {
  return BASS_DX8_CHORUS{p.WetDryMix, p.Depth, p.Feedback, p.Frequency, static_cast<DWORD>(p.Waveform), p.Delay,
                         static_cast<DWORD>(p.Phase)};
}

struct Flanger {
  using Params = TFlangerParams;
  static constexpr DWORD kType = BASS_FX_DX8_FLANGER;
  static constexpr auto kHandles = &TStreamPlayer::FlangerHandles;
  static constexpr auto kStore = &TStreamPlayer::FlangerParams;
  static constexpr const char* kCreateError = "Create Flanger Error";
  static constexpr const char* kSetError = "SetFlanger Error";
  static constexpr const char* kRemoveError = "RemoveFlanger Error";
  static BASS_DX8_FLANGER Record(const Params& p) { return ModulatedRecord(p); }
};

struct Chorus {
  using Params = TChorusParams;
  static constexpr DWORD kType = BASS_FX_DX8_CHORUS;
  static constexpr auto kHandles = &TStreamPlayer::ChorusHandles;
  static constexpr auto kStore = &TStreamPlayer::ChorusParams;
  static constexpr const char* kCreateError = "Create CHORUS Error";
  static constexpr const char* kSetError = "SetCHORUS Error";
  static constexpr const char* kRemoveError = "RemoveCHORUS Error";
  static BASS_DX8_CHORUS Record(const Params& p) { return ModulatedRecord(p); }
};

struct Reverb {
  using Params = TReverbParams;
  static constexpr DWORD kType = BASS_FX_DX8_REVERB;
  static constexpr auto kHandles = &TStreamPlayer::ReverbHandles;
  static constexpr auto kStore = &TStreamPlayer::ReverbParams;
  static constexpr const char* kCreateError = "Create Reverb Error";
  static constexpr const char* kSetError = "SetReverb Error";
  static constexpr const char* kRemoveError = "RemoveReverb Error";
  static BASS_DX8_REVERB Record(const Params& p) {
    return BASS_DX8_REVERB{p.InGain, p.ReverbMix, p.ReverbTime, p.HighFreqRTRatio};
  }
};

struct Echo {
  using Params = TEchoParams;
  static constexpr DWORD kType = BASS_FX_DX8_ECHO;
  static constexpr auto kHandles = &TStreamPlayer::EchoHandles;
  static constexpr auto kStore = &TStreamPlayer::EchoParams;
  static constexpr const char* kCreateError = "Create Echo Error";
  static constexpr const char* kSetError = "SetEcho Error";
  static constexpr const char* kRemoveError = "RemoveEcho Error";
  static BASS_DX8_ECHO Record(const Params& p) {
    return BASS_DX8_ECHO{p.WetDryMix, p.Feedback, p.LeftDelay, p.RightDelay, p.PanDelay};
  }
};

struct Compressor {
  using Params = TCompressorParams;
  static constexpr DWORD kType = BASS_FX_DX8_COMPRESSOR;
  static constexpr auto kHandles = &TStreamPlayer::CompressorHandles;
  static constexpr auto kStore = &TStreamPlayer::CompressorParams;
  static constexpr const char* kCreateError = "Create Compressor Error";
  static constexpr const char* kSetError = "SetCompressor Error";
  static constexpr const char* kRemoveError = "RemoveCompressor Error";
  static BASS_DX8_COMPRESSOR Record(const Params& p) {
    return BASS_DX8_COMPRESSOR{p.Gain, p.Attack, p.Release, p.Threshold, p.Ratio, p.Predelay};
  }
};

// Every kind attaches at the same priority, so they run in the order the
// host created them.
constexpr int32_t kEffectPriority = 1;

template <class Kind>
void SetEffect(TStreamPlayer& player, int32_t slot, const typename Kind::Params& values) {
  if (!TStreamPlayer::ValidSlot(slot)) return;
  try {
    // Stored whether or not an effect is attached, and whether or not the
    // library accepts the values: the next create applies them.
    player.*Kind::kStore = values;
    const auto record = Kind::Record(values);
    ApplyEffect((player.*Kind::kHandles)[slot], &record);
  } catch (...) {
    ShowMessage(Kind::kSetError);
  }
}

template <class Kind>
void RemoveEffect(TStreamPlayer& player, int32_t slot) {
  if (!TStreamPlayer::ValidSlot(slot)) return;
  try {
    // The handle stays in the table; a slot that never had the effect
    // passes 0, which the library refuses.
    DetachEffect(player.Streams[slot], (player.*Kind::kHandles)[slot]);
  } catch (...) {
    ShowMessage(Kind::kRemoveError);
  }
}

template <class Kind>
void CreateEffect(TStreamPlayer& player, int32_t slot) {
  if (!TStreamPlayer::ValidSlot(slot)) return;
  // At most one effect of a kind per slot. A failed removal has shown its
  // own message; creation goes on.
  RemoveEffect<Kind>(player, slot);
  try {
    (player.*Kind::kHandles)[slot] = AttachEffect(player.Streams[slot], Kind::kType, kEffectPriority);
  } catch (...) {
    ShowMessage(Kind::kCreateError);
    return;
  }
  const typename Kind::Params stored = player.*Kind::kStore;
  SetEffect<Kind>(player, slot, stored);
}

}  // namespace

void TStreamPlayer::CreateFlanger(int32_t slot) { CreateEffect<Flanger>(*this, slot); }
void TStreamPlayer::SetFlanger(int32_t slot, float WetDryMix, float Depth, float Delay, float Feedback,
                               float Frequency, int32_t Waveform, int32_t Phase) {
  SetEffect<Flanger>(*this, slot, TFlangerParams{WetDryMix, Depth, Delay, Feedback, Frequency, Waveform, Phase});
}
void TStreamPlayer::RemoveFlanger(int32_t slot) { RemoveEffect<Flanger>(*this, slot); }

void TStreamPlayer::CreateChorus(int32_t slot) { CreateEffect<Chorus>(*this, slot); }
void TStreamPlayer::SetChorus(int32_t slot, float WetDryMix, float Depth, float Delay, float Feedback,
                              float Frequency, int32_t Waveform, int32_t Phase) {
  SetEffect<Chorus>(*this, slot, TChorusParams{WetDryMix, Depth, Delay, Feedback, Frequency, Waveform, Phase});
}
void TStreamPlayer::RemoveChorus(int32_t slot) { RemoveEffect<Chorus>(*this, slot); }

void TStreamPlayer::CreateReverb(int32_t slot) { CreateEffect<Reverb>(*this, slot); }
void TStreamPlayer::SetReverb(int32_t slot, float InGain, float ReverbMix, float ReverbTime,
                              float HighFreqRTRatio) {
  SetEffect<Reverb>(*this, slot, TReverbParams{InGain, ReverbMix, ReverbTime, HighFreqRTRatio});
}
void TStreamPlayer::RemoveReverb(int32_t slot) { RemoveEffect<Reverb>(*this, slot); }

void TStreamPlayer::CreateEcho(int32_t slot) { CreateEffect<Echo>(*this, slot); }
void TStreamPlayer::SetEcho(int32_t slot, float WetDryMix, float Feedback, float LeftDelay, float RightDelay,
                            int32_t PanDelay) {
  SetEffect<Echo>(*this, slot, TEchoParams{WetDryMix, Feedback, LeftDelay, RightDelay, PanDelay});
}
void TStreamPlayer::RemoveEcho(int32_t slot) { RemoveEffect<Echo>(*this, slot); }

void TStreamPlayer::CreateCompressor(int32_t slot) { CreateEffect<Compressor>(*this, slot); }
void TStreamPlayer::SetCompressor(int32_t slot, float Gain, float Attack, float Release, float Threshold,
                                  float Ratio, float Predelay) {
  SetEffect<Compressor>(*this, slot, TCompressorParams{Gain, Attack, Release, Threshold, Ratio, Predelay});
}
void TStreamPlayer::RemoveCompressor(int32_t slot) { RemoveEffect<Compressor>(*this, slot); }

}  // namespace tovarin
