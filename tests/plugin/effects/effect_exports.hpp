// The equalizer's and effects' exports, resolved from the loaded plug-in.
#pragma once

#include <dlfcn.h>

#include <tovarin/plugin.h>

struct EffectExports {
#define EFFECT_EXPORTS(X)                                                                                     \
  X(Bass_CreateEQ) X(Bass_EqSet) X(Bass_EqRemove) X(Bass_CreateFlanger) X(Bass_SetFlanger)                    \
  X(Bass_FlangerRemove) X(Bass_CreateChorus) X(Bass_SetChorus) X(Bass_ChorusRemove) X(Bass_CreateReverb)      \
  X(Bass_SetReverb) X(Bass_ReverbRemove) X(Bass_CreateEcho) X(Bass_SetEcho) X(Bass_EchoRemove)                \
  X(Bass_CreateCompressor) X(Bass_SetCompressor) X(Bass_CompressorRemove)
#define EFFECT_FIELD(name) decltype(&::name) name = nullptr;
  EFFECT_EXPORTS(EFFECT_FIELD)
#undef EFFECT_FIELD

  bool Resolve(void* library) {
#define EFFECT_RESOLVE(name)                                         \
  name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  if (!name) return false;
    EFFECT_EXPORTS(EFFECT_RESOLVE)
#undef EFFECT_RESOLVE
    return true;
  }
};
