// The host's own short piece: a few seconds of tones written as a WAV file,
// so that a fresh machine has something to play.
#pragma once

#include <string>

namespace host {

// Writes the piece to path (16-bit stereo, 44100 Hz). False on an I/O error.
bool WriteMelody(const std::string& path);

}  // namespace host
