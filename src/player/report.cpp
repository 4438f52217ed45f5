#include "player/report.hpp"

#include "audio/bass.h"
#include "form/main_form.hpp"

namespace tovarin {

bool LibraryFault(bool ok) {
  if (ok) return false;
  const int32_t code = BASS_ErrorGetCode();
  return code == BASS_ERROR_MEM || code == BASS_ERROR_UNKNOWN;
}

bool Report(bool ok, const char* message) {
  if (!LibraryFault(ok)) return true;
  ShowMessage(message);
  return false;
}

}  // namespace tovarin
