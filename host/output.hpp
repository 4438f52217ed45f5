// The audio output as the listener should hear about it: which one is in
// use, and no sound-system noise in the terminal while it is opened.
#pragma once

#include <string>

#include "plugin_api.hpp"

namespace host {

// Bass_Init with standard error held back: what the sound libraries print
// there while the output opens (ALSA's "cannot find card" lines when no
// sound server answers) is dropped, anything else is passed on.
void InitQuietly(PluginApi& api);

// One line naming the output in use, e.g. "output: sound device (pulseaudio)"
// or "no sound device: playing to a silent output".
std::string OutputInUse();

}  // namespace host
