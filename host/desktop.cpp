#include "desktop.hpp"

#include <cstdlib>

namespace host {

void ChooseDisplay(bool show) {
  if (!show) setenv("TOVUI_BACKEND", "model", 0);
}

}  // namespace host
