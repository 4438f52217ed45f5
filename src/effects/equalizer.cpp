// The ten-band equalizer: one parametric band effect per band on the slot's
// stream, band k at priority k, settings kept once for the whole player.
//
// EqActive is one flag for all slots: CreateEq on any slot sets it, RemoveEq
// on any slot clears it, and while it is clear SetEq stores nothing.
#include "audio/bass.h"
#include "player/report.hpp"
#include "player/stream_player.hpp"

namespace tovarin {

namespace {

bool ValidBand(int32_t band) { return band >= 1 && band <= kEqBands; }

}  // namespace

void TStreamPlayer::CreateEq(int32_t slot) {
  if (!ValidSlot(slot)) return;
  // Bands attached by an earlier CreateEq on this slot would otherwise stay
  // in the stream for good, out of reach of RemoveEq and doubling every
  // gain. Handles that are stale or 0 are refused quietly.
  for (int band = 1; band <= kEqBands; ++band)
    if (EqHandles[slot][band] != 0 &&
        !Report(BASS_ChannelRemoveFX(Streams[slot], EqHandles[slot][band]), "CreateEq Error"))
      return;
  for (int band = 1; band <= kEqBands; ++band) {
    const uint32_t fx = BASS_ChannelSetFX(Streams[slot], BASS_FX_DX8_PARAMEQ, band);
    if (!Report(fx != 0, "CreateEq Error")) return;  // a fault stores nothing
    EqHandles[slot][band] = fx;
  }
  EqActive = 1;
  for (int band = 1; band <= kEqBands; ++band) SetEq(slot, band, EqBands[band].Gain, EqBands[band].Bandwidth);
}

void TStreamPlayer::SetEq(int32_t slot, int32_t band, float gain, float bandwidth) {
  if (!ValidSlot(slot) || EqActive != 1) return;
  // A band the equalizer does not have has no centre and no effect.
  if (!ValidBand(band)) return;
  const float center = EqCenters[band];
  EqBands[band] = TEqBand{gain, bandwidth, center};
  // The centre always comes from the table; the library may refuse the
  // values, which are kept all the same.
  const BASS_DX8_PARAMEQ record{center, bandwidth, gain};
  Report(BASS_FXSetParameters(EqHandles[slot][band], &record), "SetEq Error");
}

void TStreamPlayer::RemoveEq(int32_t slot) {
  if (!ValidSlot(slot) || EqActive != 1) return;
  // A fault ends the loop: the bands after it stay attached.
  for (int band = 1; band <= kEqBands; ++band) {
    if (!Report(BASS_ChannelRemoveFX(Streams[slot], EqHandles[slot][band]), "RemoveEq Error")) return;
    EqActive = 0;
  }
}

}  // namespace tovarin
