// The player: 32 stream slots, their effect handles, the settings shared by
// all slots, the transport with volume fades, and the queries on a stream.
//
// Threads: the player's fields belong to the host's thread, which calls the
// exports and also runs the form's fade handlers. A fade worker (fades.hpp)
// touches no field. The audio library is driven only from the host's thread.
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

namespace tovarin {

constexpr int kSlots = 32;
constexpr int kEqBands = 10;
constexpr int kFftBins = 512;

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

// Slot-indexed tables carry an unused entry 0 so that index i is slot i.
template <class T>
using SlotTable = std::array<T, kSlots + 1>;

class TStreamPlayer {
 public:
  // Host thread.
  uint8_t Stopped = 0;
  uint8_t EqActive = 0;
  uint8_t IsUrl = 0;
  SlotTable<uint32_t> Streams{};
  SlotTable<uint32_t> FlangerHandles{};
  SlotTable<uint32_t> ReverbHandles{};
  SlotTable<uint32_t> EchoHandles{};
  SlotTable<uint32_t> ChorusHandles{};
  SlotTable<uint32_t> CompressorHandles{};
  TReverbParams ReverbParams{};
  TChorusParams ChorusParams{};
  TEchoParams EchoParams{};
  TCompressorParams CompressorParams{};
  TFlangerParams FlangerParams{};
  std::array<TEqBand, kEqBands + 1> EqBands{};
  SlotTable<std::string> SourceNames;
  SlotTable<std::array<uint32_t, kEqBands + 1>> EqHandles{};
  std::array<float, kFftBins> FftBuffer{};
  int32_t ChannelIndex = 0;
  int32_t Volume = 0;
  std::string DrawMode;

  static bool ValidSlot(int32_t index) { return index >= 1 && index <= kSlots; }

  // Slots (the library's output, the defaults, opening and freeing).
  void InitDevice(uint32_t window);
  void SetDefaults();
  bool CreateStream(int32_t index, const std::string& source);
  void FreeChannel(int32_t index);

  // Transport, carried out by the fade's ChangeVolume handler.
  void Play(int32_t index);
  void Stop(int32_t index);
  void Pause(int32_t index);

  // Queries.
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

  // Equalizer (src/effects).
  void CreateEq(int32_t slot);
  void SetEq(int32_t slot, int32_t band, float gain, float bandwidth);
  void RemoveEq(int32_t slot);

  // Effect family (src/effects): create, set, remove per kind.
  void CreateFlanger(int32_t slot);
  void SetFlanger(int32_t slot, const TFlangerParams& values);
  void RemoveFlanger(int32_t slot);
  void CreateChorus(int32_t slot);
  void SetChorus(int32_t slot, const TChorusParams& values);
  void RemoveChorus(int32_t slot);
  void CreateReverb(int32_t slot);
  void SetReverb(int32_t slot, const TReverbParams& values);
  void RemoveReverb(int32_t slot);
  void CreateEcho(int32_t slot);
  void SetEcho(int32_t slot, const TEchoParams& values);
  void RemoveEcho(int32_t slot);
  void CreateCompressor(int32_t slot);
  void SetCompressor(int32_t slot, const TCompressorParams& values);
  void RemoveCompressor(int32_t slot);

  // Spectrum display (src/visual): fills FftBuffer from the slot's stream.
  void FetchFFT(int32_t slot);
};

}  // namespace tovarin
