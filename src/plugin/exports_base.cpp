// The plug-in's description, its argument queues and its window exports.
#include "form/main_form.hpp"
#include "plugin/args.hpp"
#include "plugin/exports.hpp"
#include "plugin/guard.hpp"

using namespace tovarin;

TOVARIN_EXPORT const char* Copyright() { return "tovarin audio playback plug-in, (c) the tovarin developers"; }

TOVARIN_EXPORT void GetShortInfo() {}

TOVARIN_EXPORT const char* GetInfo() { return "Tovarin 1.0 betta"; }

TOVARIN_EXPORT int32_t GetType() { return 0; }

TOVARIN_EXPORT void SetPath(const char* path) {
  Guarded([&] { Exports().PluginPath = path ? path : ""; });
}

TOVARIN_EXPORT void SetParentWindow(uint32_t window) {
  Guarded([&] { SetParentWindowImpl(window); });
}

TOVARIN_EXPORT void Draw(int32_t /*ignored*/, int32_t left, int32_t top, int32_t width, int32_t height) {
  Guarded([&] { DrawImpl(left, top, width, height); });
}

TOVARIN_EXPORT void SetFile(const char* text) {
  Guarded([&] { PushFile(text); });
}

TOVARIN_EXPORT const char* GetFile() { return Exports().FileResult.c_str(); }

TOVARIN_EXPORT void SetData(int32_t value) { PushData(value); }

TOVARIN_EXPORT int32_t GetData() { return Exports().DataResult; }
