// The ten-band equalizer (effects.hpp).
#include "audio/bass.h"
#include "effects/effects.hpp"
#include "player/report.hpp"

namespace tovarin {

namespace {

bool ValidBand(int32_t band) { return band >= 1 && band <= kEqBands; }

}  // namespace

void CreateEq(TStreamPlayer& player, int32_t slot) {
  if (!TStreamPlayer::ValidSlot(slot)) return;
  const uint32_t stream = player.Stream(slot);
  auto& handles = player.Effects(slot).Eq;
  // Bands attached by an earlier CreateEq on this slot would otherwise stay
  // in the stream for good, out of reach of RemoveEq and doubling every
  // gain. Handles that are stale or 0 are refused quietly.
  for (int band = 1; band <= kEqBands; ++band)
    if (handles[band] != 0 && !Report(BASS_ChannelRemoveFX(stream, handles[band]), "CreateEq Error")) return;
  for (int band = 1; band <= kEqBands; ++band) {
    const uint32_t fx = BASS_ChannelSetFX(stream, BASS_FX_DX8_PARAMEQ, band);
    if (!Report(fx != 0, "CreateEq Error")) return;  // a fault stores nothing
    handles[band] = fx;
  }
  player.SetEqActive(true);
  for (int band = 1; band <= kEqBands; ++band) {
    const TEqBand stored = player.Stores().EqBands[band];
    SetEq(player, slot, band, stored.Gain, stored.Bandwidth);
  }
}

void SetEq(TStreamPlayer& player, int32_t slot, int32_t band, float gain, float bandwidth) {
  if (!TStreamPlayer::ValidSlot(slot) || !player.Flags().EqActive) return;
  // A band the equalizer does not have has no centre and no effect.
  if (!ValidBand(band)) return;
  const float center = EqCenters[band];
  player.Stores().EqBands[band] = TEqBand{gain, bandwidth, center};
  // The centre always comes from the table; the library may refuse the
  // values, which are kept all the same.
  const BASS_DX8_PARAMEQ record{center, bandwidth, gain};
  Report(BASS_FXSetParameters(player.Effects(slot).Eq[band], &record), "SetEq Error");
}

void RemoveEq(TStreamPlayer& player, int32_t slot) {
  if (!TStreamPlayer::ValidSlot(slot) || !player.Flags().EqActive) return;
  const auto& handles = player.Effects(slot).Eq;
  // A fault ends the loop: the bands after it stay attached.
  for (int band = 1; band <= kEqBands; ++band) {
    if (!Report(BASS_ChannelRemoveFX(player.Stream(slot), handles[band]), "RemoveEq Error")) return;
    player.SetEqActive(false);
  }
}

}  // namespace tovarin
