#include "form/main_form.hpp"

namespace tovarin {

// The display's frames. Drawing the spectrum belongs to the display; until it
// is built a tick draws nothing.
void TMainForm::Timer1Timer() {}
void TMainForm::Timer2Timer() {}

}  // namespace tovarin
