// The player's part of the spectrum display: the FFT of one slot.
#include "audio/bass.h"
#include "player/stream_player.hpp"

namespace tovarin {

void TStreamPlayer::FetchFFT(int32_t slot) {
  // After a stop the buffer keeps the last spectrum, so the display holds
  // still. A slot outside 1..32 names no stream: the buffer stays as it is.
  if (Stopped || !ValidSlot(slot)) return;
  BASS_ChannelGetData(Streams[slot], FftBuffer.data(), BASS_DATA_FFT1024);
}

}  // namespace tovarin
