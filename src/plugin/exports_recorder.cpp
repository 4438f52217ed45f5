// The recorder's exports. Before the first Record_Init there is no
// recorder: starting and stopping do nothing, while the input list and the
// input level go to the library all the same.
#include "plugin/args.hpp"
#include "plugin/exports.hpp"
#include "plugin/guard.hpp"
#include "recorder/recorder.hpp"

using namespace tovarin;

TOVARIN_EXPORT int32_t Record_Init() {
  return GuardedResult<int32_t>(0, [] { return static_cast<int32_t>(NewRecorder().InitRecord()); });
}

TOVARIN_EXPORT void Record_GetDevices() {
  Guarded([] {
    SetFileResult({});
    SetFileResult(TBassRecorder::GetDevices());
  });
}

TOVARIN_EXPORT void Record_SetDevice() {
  Guarded([] { TBassRecorder::SetRecordDevice(DataArg(1), DataArg(0)); });
}

TOVARIN_EXPORT void Record_Start() {
  Guarded([] {
    const std::string path = FileArg(0);
    const int32_t rate = DataArg(1);
    const int32_t channels = DataArg(0);
    if (TBassRecorder* r = Recorder.load()) r->StartRecord(path, rate, channels);
  });
}

TOVARIN_EXPORT void Record_Stop() {
  Guarded([] {
    if (TBassRecorder* r = Recorder.load()) r->StopRecord();
  });
}
