// The ten-band equalizer: one parametric band effect per band on the slot's
// stream, band k at priority k, settings kept once for the whole player.
//
// EqActive is one flag for all slots: CreateEq on any slot sets it, RemoveEq
// on any slot clears it, and while it is clear SetEq stores nothing.
#include "audio/bass.h"
#include "effects/library_calls.hpp"
#include "form/main_form.hpp"
#include "player/stream_player.hpp"

namespace tovarin {

namespace {

bool ValidBand(int32_t band) { return band >= 1 && band <= kEqBands; }

}  // namespace

void TStreamPlayer::CreateEq(int32_t slot) {
  if (!ValidSlot(slot)) return;
  try {
    // Bands attached by an earlier CreateEq on this slot would otherwise
    // stay in the stream for good, out of reach of RemoveEq and doubling
    // every gain. Handles that are stale or 0 are refused quietly.
    for (int band = 1; band <= kEqBands; ++band)
      if (EqHandles[slot][band] != 0) DetachEffect(Streams[slot], EqHandles[slot][band]);
    for (int band = 1; band <= kEqBands; ++band)
      EqHandles[slot][band] = AttachEffect(Streams[slot], BASS_FX_DX8_PARAMEQ, band);
    EqActive = 1;
    for (int band = 1; band <= kEqBands; ++band) SetEq(slot, band, EqBands[band].Gain, EqBands[band].Bandwidth);
  } catch (...) {
    ShowMessage("CreateEq Error");
  }
}

void TStreamPlayer::SetEq(int32_t slot, int32_t band, float gain, float bandwidth) {
  if (!ValidSlot(slot) || EqActive != 1) return;
  // A band the equalizer does not have has no centre and no effect.
  if (!ValidBand(band)) return;
  try {
    const float center = EqCenters[band];
    EqBands[band] = TEqBand{gain, bandwidth, center};
    // The centre always comes from the table; the library may refuse the
    // values, which are kept all the same.
    const BASS_DX8_PARAMEQ record{center, bandwidth, gain};
    ApplyEffect(EqHandles[slot][band], &record);
  } catch (...) {
    ShowMessage("SetEq Error");
  }
}

void TStreamPlayer::RemoveEq(int32_t slot) {
  if (!ValidSlot(slot) || EqActive != 1) return;
  try {
    for (int band = 1; band <= kEqBands; ++band) {
      DetachEffect(Streams[slot], EqHandles[slot][band]);
      EqActive = 0;
    }
  } catch (...) {
    ShowMessage("RemoveEq Error");
  }
}

}  // namespace tovarin
