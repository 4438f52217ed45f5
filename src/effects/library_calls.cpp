#include "effects/library_calls.hpp"

#include "audio/bass.h"

namespace tovarin {

namespace {

// The library answers every failure the same way; only its error code tells
// a fault from a refusal.
void ThrowOnFault(bool failed, const char* call) {
  if (!failed) return;
  const int32_t code = BASS_ErrorGetCode();
  if (code == BASS_ERROR_MEM || code == BASS_ERROR_UNKNOWN) throw AudioFault(call);
}

}  // namespace

uint32_t AttachEffect(uint32_t stream, uint32_t type, int32_t priority) {
  const HFX fx = BASS_ChannelSetFX(stream, type, priority);
  ThrowOnFault(fx == 0, "BASS_ChannelSetFX");
  return fx;
}

void DetachEffect(uint32_t stream, uint32_t fx) {
  ThrowOnFault(BASS_ChannelRemoveFX(stream, fx) == 0, "BASS_ChannelRemoveFX");
}

void ApplyEffect(uint32_t fx, const void* record) {
  ThrowOnFault(BASS_FXSetParameters(fx, record) == 0, "BASS_FXSetParameters");
}

}  // namespace tovarin
