// The keys of the reference host while it plays, as one table.
#pragma once

#include <string_view>

namespace host {

enum class Action { None, Quit, Next, Previous, PauseResume, Stop, Play, Back, Forward, Louder, Quieter };

// What a key read by RawKeys asks for (None for a key without a meaning).
Action KeyAction(std::string_view key);

}  // namespace host
