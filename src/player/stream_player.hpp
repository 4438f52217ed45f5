// The player: 32 stream slots, the flags and settings shared by all slots,
// the transport, and the queries on a stream.
//
// A slot is one record (TSlot): its stream, the name it was opened from and
// the effects attached to it. The player owns the slots and writes them; the
// equalizer and the effect family (src/effects) reach a slot only through
// Stream() and Effects(), and their settings through Stores(); the spectrum
// display asks for the FFT with FetchFFT() and reads FftBuffer().
//
// Threads: every field belongs to the host's thread, which calls the exports
// and also runs the form's timer and fade handlers. A fade worker
// (fades.hpp) touches no field of the player. The audio library is driven
// only from the host's thread.
//
// Slots are 1..32. Every operation that takes a slot checks it and does
// nothing outside; ChannelIndex itself is stored unchecked. The library's
// refusals are carried on without a message, except where an operation names
// its own message box ("Play Error", "SetVolume Error", ...).
//
// Lifetime: the plug-in makes a player for each form and releases it with
// the form; releasing it frees nothing of the audio library.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>

namespace tovarin {

constexpr int kSlots = 32;
constexpr int kEqBands = 10;
constexpr int kFftBins = 512;

// The effect parameter stores, one record per kind.
struct TFlangerParams {  // also the chorus store
  float WetDryMix, Depth, Delay, Feedback, Frequency;
  int32_t Waveform, Phase;
};
using TChorusParams = TFlangerParams;
struct TReverbParams {
  float InGain, ReverbMix, ReverbTime, HighFreqRTRatio;
};
struct TEchoParams {
  float WetDryMix, Feedback, LeftDelay, RightDelay;
  int32_t PanDelay;  // 0 off, -1 on
};
struct TCompressorParams {
  float Gain, Attack, Release, Threshold, Ratio, Predelay;
};
struct TEqBand {
  float Gain, Bandwidth, Center;
};

// Centre frequencies of the equalizer bands 1..10 (index 0 unused).
inline constexpr std::array<float, kEqBands + 1> EqCenters = {0.0f,    80.0f,   170.0f,   310.0f,   600.0f,  1000.0f,
                                                              3000.0f, 6000.0f, 12000.0f, 14000.0f, 16000.0f};

// The effects attached to one slot's stream: a handle per kind, one per
// equalizer band (1..10, index 0 unused). 0 where none was attached.
struct TSlotEffects {
  uint32_t Flanger = 0, Reverb = 0, Echo = 0, Chorus = 0, Compressor = 0;
  std::array<uint32_t, kEqBands + 1> Eq{};
};

// One stream slot.
struct TSlot {
  uint32_t Stream = 0;     // 0: an empty slot
  std::string SourceName;  // the file name or URL last given to CreateStream
  TSlotEffects Effects;
};

// The player-wide flags: one each for the whole player, not per slot.
struct TPlayerFlags {
  // Set by Stop; cleared by Pause and by a Play that finds it set. While it
  // is set, the levels and the FFT do not ask the library.
  bool Stopped = false;
  // Set by CreateEq on any slot, cleared by RemoveEq on any slot.
  bool EqActive = false;
  // Whether the stream created last, in whatever slot, is an internet one.
  bool IsUrl = false;
};

// The effects' settings, one set for the whole player: a set operation
// stores its values, and every create applies what is stored.
struct TEffectStores {
  TReverbParams ReverbParams{};
  TChorusParams ChorusParams{};
  TEchoParams EchoParams{};
  TCompressorParams CompressorParams{};
  TFlangerParams FlangerParams{};
  std::array<TEqBand, kEqBands + 1> EqBands{};  // 1..10
};

class TStreamPlayer {
 public:
  static bool ValidSlot(int32_t index) { return index >= 1 && index <= kSlots; }

  // --- state --------------------------------------------------------------
  // The current slot, which every per-stream export acts on (unchecked).
  int32_t ChannelIndex() const { return channel_index_; }
  void SetChannelIndex(int32_t index) { channel_index_ = index; }
  // The last volume set, in percent.
  int32_t Volume() const { return volume_; }
  const TPlayerFlags& Flags() const { return flags_; }
  // The display mode, "first" (bars) or "second" (line), that play shows.
  const std::string& DrawMode() const { return draw_mode_; }
  void SetDrawMode(std::string mode) { draw_mode_ = std::move(mode); }

  // --- what the effects reach of a slot and of the player ------------------
  // The slot's stream; 0 for an empty slot and outside 1..32.
  uint32_t Stream(int32_t index) const { return ValidSlot(index) ? slots_[index].Stream : 0; }
  // The slot's effect handles; index 1..32, checked by the caller.
  TSlotEffects& Effects(int32_t index) { return slots_[index].Effects; }
  TEffectStores& Stores() { return stores_; }
  void SetEqActive(bool active) { flags_.EqActive = active; }

  // --- slots (the library's output, the defaults, opening and freeing) ----
  void InitDevice(uint32_t window);
  void SetDefaults();
  bool CreateStream(int32_t index, const std::string& source);
  void FreeChannel(int32_t index);

  // --- transport, carried out by the fade's ChangeVolume handler -----------
  void Play(int32_t index);
  void Stop(int32_t index);
  void Pause(int32_t index);

  // --- queries --------------------------------------------------------------
  uint32_t GetPosition(int32_t index);
  uint32_t GetLength(int32_t index);
  static std::string Sec2Format(uint32_t seconds);
  void SetPosition(int32_t index, float seconds);
  void SetVolume(int32_t index, int32_t percent);
  void SetPan(int32_t index, int32_t percent);
  uint16_t GetRLevel(int32_t index);
  uint16_t GetLLevel(int32_t index);
  uint32_t GetFreq(int32_t index);
  std::string GetChannels(int32_t index);
  uint32_t GetBit(int32_t index);
  std::string GetTags(int32_t index, const std::string& key);
  static int64_t GetCPU();

  // --- spectrum: fills FftBuffer from the slot's stream ---------------------
  void FetchFFT(int32_t slot);
  const std::array<float, kFftBins>& FftBuffer() const { return fft_buffer_; }

 private:
  std::array<TSlot, kSlots + 1> slots_{};  // 1..32, entry 0 unused
  TPlayerFlags flags_;
  TEffectStores stores_;
  std::array<float, kFftBins> fft_buffer_{};
  int32_t channel_index_ = 0;
  int32_t volume_ = 0;
  std::string draw_mode_;
};

}  // namespace tovarin
