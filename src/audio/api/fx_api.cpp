// The effect chain of a channel.
#include <algorithm>

#include "audio/api/library.hpp"

using namespace tovarin::audio;

namespace {

// The stream of an effect handle, or 0 with the error set (mu held).
DWORD stream_of(DWORD fx) {
  Library& lib = library();
  std::lock_guard lock(lib.mu);
  FxSlot* slot = lib.fxs.get(fx);
  if (!slot) return set_error(BASS_ERROR_HANDLE), 0;
  return slot->stream->handle;
}

// Runs fn(lib, slot) with the effect's stream and the library locked: the
// channel may be resetting its effects in a seek meanwhile otherwise.
template <class Fn>
BOOL with_fx(HFX fx, Fn&& fn) {
  return guarded<BOOL>(0, [&]() -> BOOL {
    const DWORD stream = stream_of(fx);
    if (!stream) return 0;
    Retired retired;
    return with_stream_op<BOOL>(stream, 0, retired, [&](Library& lib, Stream*, LibraryLock&) -> BOOL {
      FxSlot* slot = lib.fxs.get(fx);
      if (!slot) return fail(BASS_ERROR_HANDLE);  // removed meanwhile
      return fn(slot);
    });
  });
}

}  // namespace

HFX BASS_ChannelSetFX(DWORD handle, DWORD type, int32_t priority) {
  return guarded<HFX>(0, [&]() -> HFX {
    Retired retired;
    return with_stream_op<HFX>(handle, 0, retired, [&](Library& lib, Stream* s, LibraryLock&) -> HFX {
      // Everything that can fail comes before the handle is published.
      const HFX fx = lib.fxs.reserve();
      if (!fx) return fail(BASS_ERROR_MEM);
      fault::alloc();
      auto effect = dsp::make_effect(type);
      if (!effect) return fail(BASS_ERROR_ILLTYPE);
      effect->prepare(s->channel->info().rate, s->channel->info().channels);
      fault::alloc();
      auto slot = std::make_unique<FxSlot>();
      slot->handle = fx;
      slot->type = type;
      slot->priority = priority;
      slot->stream = s;
      slot->effect = std::move(effect);
      s->fx.reserve(s->fx.size() + 1);
      // After every effect of the same or a higher priority.
      auto at = std::find_if(s->fx.begin(), s->fx.end(), [&](const auto& f) { return f->priority < priority; });
      FxSlot* added = s->fx.insert(at, std::move(slot))->get();  // room reserved: cannot fail
      std::unique_ptr<FxChain> chain;
      try {
        chain = make_fx_chain(*s);
      } catch (...) {
        s->fx.erase(std::find_if(s->fx.begin(), s->fx.end(), [&](const auto& f) { return f.get() == added; }));
        throw;
      }
      // Published: nothing below can fail.
      lib.fxs.add(added);
      install_fx_chain(lib, s, std::move(chain));
      set_error(BASS_OK);
      return fx;
    });
  });
}

BOOL BASS_ChannelRemoveFX(DWORD handle, HFX fx) {
  return guarded<BOOL>(0, [&]() -> BOOL {
    Retired retired;
    return with_stream_op<BOOL>(handle, 0, retired, [&](Library& lib, Stream* s, LibraryLock&) -> BOOL {
      FxSlot* slot = lib.fxs.get(fx);
      if (!slot || slot->stream != s) return fail(BASS_ERROR_HANDLE);
      // The chain without it, made before anything changes.
      std::unique_ptr<FxChain> chain = make_fx_chain(*s, slot);
      auto it = std::find_if(s->fx.begin(), s->fx.end(), [&](const auto& f) { return f.get() == slot; });
      std::unique_ptr<FxSlot> removed = std::move(*it);  // freed once the old chain is let go
      s->fx.erase(it);
      lib.fxs.remove(fx);
      install_fx_chain(lib, s, std::move(chain));  // waits until the audio thread has let go of the old chain
      set_error(BASS_OK);
      return 1;
    });
  });
}

BOOL BASS_FXSetParameters(HFX fx, const void* params) {
  return with_fx(fx, [&](FxSlot* slot) -> BOOL {
    if (!params || !slot->effect->set_parameters(params)) return fail(BASS_ERROR_ILLPARAM);
    set_error(BASS_OK);
    return 1;
  });
}

BOOL BASS_FXGetParameters(HFX fx, void* params) {
  return with_fx(fx, [&](FxSlot* slot) -> BOOL {
    if (!params) return fail(BASS_ERROR_ILLPARAM);
    slot->effect->get_parameters(params);
    set_error(BASS_OK);
    return 1;
  });
}
