// The host's window on a desktop. `tovarin play --show` with an X display
// makes the host's window a real window in which the plug-in draws its form
// and spectrum live; every other run keeps its windows in memory (PNG
// snapshots, terminal pictures), display or not.
#pragma once

namespace host {

// Call before the first window is made. A TOVUI_BACKEND the user set wins.
void ChooseDisplay(bool show);

}  // namespace host
