// The effect chain of a channel.
#include <algorithm>

#include "audio/api/library.hpp"

using namespace tovarin::audio;

HFX BASS_ChannelSetFX(DWORD handle, DWORD type, int32_t priority) {
  return guarded<HFX>(0, [&]() -> HFX {
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    Stream* s = find_stream(lib, handle);
    if (!s) return 0;
    auto effect = dsp::make_effect(type);
    if (!effect) return fail(BASS_ERROR_ILLTYPE);
    effect->prepare(s->channel->info().rate, s->channel->info().channels);
    auto slot = std::make_unique<FxSlot>();
    slot->type = type;
    slot->priority = priority;
    slot->stream = s;
    slot->effect = std::move(effect);
    slot->handle = lib.fxs.add(slot.get());
    if (!slot->handle) return fail(BASS_ERROR_MEM);
    // After every effect of the same or a higher priority.
    auto at = std::find_if(s->fx.begin(), s->fx.end(), [&](const auto& f) { return f->priority < priority; });
    HFX fx = slot->handle;
    s->fx.insert(at, std::move(slot));
    publish_fx(lib, s);
    set_error(BASS_OK);
    return fx;
  });
}

BOOL BASS_ChannelRemoveFX(DWORD handle, HFX fx) {
  return guarded<BOOL>(0, [&]() -> BOOL {
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    Stream* s = find_stream(lib, handle);
    if (!s) return 0;
    FxSlot* slot = lib.fxs.get(fx);
    if (!slot || slot->stream != s) return fail(BASS_ERROR_HANDLE);
    auto it = std::find_if(s->fx.begin(), s->fx.end(), [&](const auto& f) { return f.get() == slot; });
    std::unique_ptr<FxSlot> removed = std::move(*it);
    s->fx.erase(it);
    lib.fxs.remove(fx);
    publish_fx(lib, s);  // waits until the audio thread has let go of the old chain
    set_error(BASS_OK);
    return 1;
  });
}

BOOL BASS_FXSetParameters(HFX fx, const void* params) {
  return guarded<BOOL>(0, [&]() -> BOOL {
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    FxSlot* slot = lib.fxs.get(fx);
    if (!slot) return fail(BASS_ERROR_HANDLE);
    if (!params || !slot->effect->set_parameters(params)) return fail(BASS_ERROR_ILLPARAM);
    set_error(BASS_OK);
    return 1;
  });
}

BOOL BASS_FXGetParameters(HFX fx, void* params) {
  return guarded<BOOL>(0, [&]() -> BOOL {
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    FxSlot* slot = lib.fxs.get(fx);
    if (!slot) return fail(BASS_ERROR_HANDLE);
    if (!params) return fail(BASS_ERROR_ILLPARAM);
    slot->effect->get_parameters(params);
    set_error(BASS_OK);
    return 1;
  });
}
