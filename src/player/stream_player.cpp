#include "player/stream_player.hpp"

#include "audio/bass.h"
#include "player/report.hpp"

namespace tovarin {

void TStreamPlayer::InitDevice(uint32_t window) {
  // A refusal (most often: already initialised by an earlier Bass_Init) is
  // not fatal: the host goes on, and the library's later refusals are as
  // silent as any other.
  BASS_Init(-1, 44100, 0, window, nullptr);
}

void TStreamPlayer::SetDefaults() {
  TEffectStores& s = stores_;
  s.EchoParams = TEchoParams{50.0f, 50.0f, 500.0f, 500.0f, 0};
  s.ChorusParams = TChorusParams{50.0f, 10.0f, 16.0f, 25.0f, 1.1f, 1, 3};
  // Ratio and Predelay have no fixed default of their own; the library's
  // defaults keep a fresh compressor valid.
  s.CompressorParams = TCompressorParams{0.0f, 10.0f, 200.0f, -20.0f, 3.0f, 4.0f};
  s.FlangerParams = TFlangerParams{50.0f, 100.0f, 2.0f, -50.0f, 0.25f, 1, 2};
  s.ReverbParams = TReverbParams{0.0f, 0.0f, 1000.0f, 0.001f};
  for (int band = 1; band <= kEqBands; ++band) s.EqBands[band] = TEqBand{0.0f, 12.0f, EqCenters[band]};
  volume_ = 100;
  channel_index_ = 1;
}

bool TStreamPlayer::CreateStream(int32_t index, const std::string& source) {
  if (!ValidSlot(index)) return false;
  TSlot& slot = slots_[index];
  flags_.IsUrl = false;
  slot.SourceName = source;
  if (slot.Stream != 0) {
    BASS_ChannelStop(slot.Stream);
    BASS_StreamFree(slot.Stream);
    slot.Stream = 0;
  }
  // "https:" does not contain "http:", yet names an internet stream all the same.
  if (source.find("http:") != std::string::npos || source.find("https:") != std::string::npos) {
    slot.Stream = BASS_StreamCreateURL(source.c_str(), 0, 0, nullptr, nullptr);
    flags_.IsUrl = true;
  } else {
    slot.Stream = BASS_StreamCreateFile(0, source.c_str(), 0, 0, 0);
  }
  return slot.Stream != 0;
}

void TStreamPlayer::FreeChannel(int32_t index) {
  // A fault in the first step is shown and the second goes on; a fault in
  // the second ends it.
  if (flags_.IsUrl && ValidSlot(index)) Report(BASS_StreamFree(Stream(index)), "Internet Free Error");
  if (ValidSlot(index) && !Report(BASS_ChannelStop(Stream(index)), "FreeChannel Error")) return;
  Report(BASS_Free(), "FreeChannel Error");
}

}  // namespace tovarin
