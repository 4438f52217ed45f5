// The spectrum display's exports.
#include "plugin/args.hpp"
#include "plugin/exports.hpp"
#include "plugin/guard.hpp"
#include "visual/display.hpp"

using namespace tovarin;

TOVARIN_EXPORT void StartDraw() {
  Guarded([] {
    // Copies: a message box's loop may let the host push meanwhile.
    DrawSettings s;
    s.Colors = FileArg(0);
    s.Mode = FileArg(1);
    s.Height = DataArg(0);
    s.BarCount = DataArg(1);
    s.Interval = DataArg(2);
    s.BarWidth = DataArg(3);
    tovarin::StartDraw(s);
  });
}

TOVARIN_EXPORT void StopDraw() {
  Guarded([] { tovarin::StopDraw(); });
}
