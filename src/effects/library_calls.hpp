// The effect calls of the audio library as the equalizer and the effect
// family make them.
//
// A refusal (a 0 or stale stream or effect handle, a value out of range, a
// library that is not initialised) is an ordinary answer: the operations
// carry on without a message. A fault inside the library (it ran out of
// memory or failed unexpectedly) is thrown as AudioFault, so that the
// operation's catch-all handler reports it with its own message box.
//
// Host thread only, like the player.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace tovarin {

class AudioFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Attaches an effect of the type to the stream; the handle as the library
// returns it, 0 included.
uint32_t AttachEffect(uint32_t stream, uint32_t type, int32_t priority);
// Detaches the effect from the stream.
void DetachEffect(uint32_t stream, uint32_t fx);
// Hands a parameter record (the library's record for the effect's type) to
// the effect.
void ApplyEffect(uint32_t fx, const void* record);

}  // namespace tovarin
