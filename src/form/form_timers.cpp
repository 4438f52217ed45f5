#include "form/main_form.hpp"
#include "visual/display.hpp"

namespace tovarin {

void TMainForm::Timer1Timer() { BarsTick(*this); }
void TMainForm::Timer2Timer() { LineTick(*this); }

}  // namespace tovarin
