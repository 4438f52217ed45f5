// The equalizer and the effect family on a player's slot.
//
// Equalizer: ten parametric bands on the slot's stream, band k at priority
// k; the bands' settings are kept once for the whole player. EqActive is one
// flag for all slots: CreateEq on any slot sets it, RemoveEq on any slot
// clears it, and while it is clear SetEq stores nothing.
//
// Flanger, chorus, reverb, echo and compressor: one effect of each kind per
// slot, one parameter store per kind for the whole player. Create replaces
// the slot's effect of that kind and applies the store; set stores, then
// applies to the slot's effect; remove detaches it (the handle stays).
//
// Every operation does nothing for a slot outside 1..32. Faults of the
// library show the operation's message; refusals pass quietly (report.hpp).
// Host thread.
#pragma once

#include <cstdint>

#include "player/stream_player.hpp"

namespace tovarin {

void CreateEq(TStreamPlayer& player, int32_t slot);
void SetEq(TStreamPlayer& player, int32_t slot, int32_t band, float gain, float bandwidth);
void RemoveEq(TStreamPlayer& player, int32_t slot);

// The effect family, by operation.
void CreateFlanger(TStreamPlayer& player, int32_t slot);
void CreateChorus(TStreamPlayer& player, int32_t slot);
void CreateReverb(TStreamPlayer& player, int32_t slot);
void CreateEcho(TStreamPlayer& player, int32_t slot);
void CreateCompressor(TStreamPlayer& player, int32_t slot);
void SetFlanger(TStreamPlayer& player, int32_t slot, const TFlangerParams& values);
void SetChorus(TStreamPlayer& player, int32_t slot, const TChorusParams& values);
void SetReverb(TStreamPlayer& player, int32_t slot, const TReverbParams& values);
void SetEcho(TStreamPlayer& player, int32_t slot, const TEchoParams& values);
void SetCompressor(TStreamPlayer& player, int32_t slot, const TCompressorParams& values);
void RemoveFlanger(TStreamPlayer& player, int32_t slot);
void RemoveChorus(TStreamPlayer& player, int32_t slot);
void RemoveReverb(TStreamPlayer& player, int32_t slot);
void RemoveEcho(TStreamPlayer& player, int32_t slot);
void RemoveCompressor(TStreamPlayer& player, int32_t slot);

}  // namespace tovarin
