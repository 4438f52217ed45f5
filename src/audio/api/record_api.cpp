// Capture: the recording device, its inputs and recording channels.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/api/fault.hpp"
#include "audio/api/library.hpp"
#include "audio/api/thread_text.hpp"
#include "platform/platform.hpp"

using namespace tovarin::audio;

namespace tovarin::audio {

namespace {
// The recording whose callback runs on this thread, if any.
thread_local const Recording* t_in_callback = nullptr;
}  // namespace

void free_capture(Library& lib, Retired& retired) {
  // Their capture threads are stopped by `retired`, after mu is let go: a
  // callback may be waiting for mu. Room first, so that none is dropped.
  const std::vector<Recording*> live = lib.records.all();
  retired.records.reserve(retired.records.size() + live.size() + lib.retired_records.size());
  for (Recording* r : live) {
    lib.records.remove(r->handle);
    retired.records.emplace_back(r);
  }
  for (Recording* r : lib.retired_records) retired.records.emplace_back(r);
  lib.retired_records.clear();
  if (lib.capture_device) ++retired.modules;
  retired.capture_device = std::move(lib.capture_device);
  lib.input_volumes.clear();
}

bool stop_recording(DWORD handle) {
  Library& lib = library();
  std::unique_ptr<Recording> r;
  {
    std::lock_guard lock(lib.mu);
    Recording* found = lib.records.get(handle);
    if (!found) return false;
    lib.records.remove(handle);
    if (found == t_in_callback) {
      // The sink ends the capture when the callback returns.
      found->active = false;
      lib.retired_records.push_back(found);
      return true;
    }
    r.reset(found);
  }
  // The callback may be running: wait for it without holding the lock.
  r->capture.reset();
  return true;
}

}  // namespace tovarin::audio

namespace {
thread_local tovarin::audio::ThreadText t_input_name;
constexpr DWORD kInputOn = 0x20000;
}  // namespace

BOOL BASS_RecordInit(int32_t device) {
  return guarded<BOOL>(0, [&]() -> BOOL {
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    if (lib.capture_device) return fail(BASS_ERROR_ALREADY);
    if (device < -1 || device > 0) return fail(BASS_ERROR_DEVICE);
    const std::string env = tovarin::platform::env("TOVARIN_AUDIO_INPUT");
    std::string why;
    if (fault::fail(fault::Kind::Device)) return fail(BASS_ERROR_DEVICE);
    auto dev = open_capture_device(env.empty() ? "auto" : env, &why);
    if (!dev) return fail(BASS_ERROR_DEVICE);
    fault::alloc();
    lib.input_volumes.assign(dev->input_names().size(), 1.f);
    lib.current_input = 0;
    lib.record_volume = 1.f;
    lib.capture_device = std::move(dev);
    // Capture threads run this module's code: it stays loaded until they end.
    tovarin::platform::hold_module();
    set_error(BASS_OK);
    return 1;
  });
}

BOOL BASS_RecordFree() {
  return guarded<BOOL>(0, [&]() -> BOOL {
    Library& lib = library();
    std::vector<DWORD> handles;
    std::vector<Recording*> retired;
    {
      std::lock_guard lock(lib.mu);
      if (!lib.capture_device) return fail(BASS_ERROR_INIT);
      for (Recording* r : lib.records.all()) handles.push_back(r->handle);
      retired.swap(lib.retired_records);
    }
    for (DWORD h : handles) stop_recording(h);
    for (Recording* r : retired) {
      r->capture.reset();
      delete r;
    }
    Retired rest;
    std::lock_guard lock(lib.mu);
    free_capture(lib, rest);
    set_error(BASS_OK);
    return 1;
  });
}

const char* BASS_RecordGetInputName(int32_t input) {
  return guarded<const char*>(nullptr, [&]() -> const char* {
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    if (!lib.capture_device) return set_error(BASS_ERROR_INIT), nullptr;
    auto names = lib.capture_device->input_names();
    if (input < 0 || static_cast<size_t>(input) >= names.size()) return set_error(BASS_ERROR_ILLPARAM), nullptr;
    const char* name = t_input_name.keep(tovarin::platform::utf8_to_host(names[input]));
    set_error(BASS_OK);
    return name;
  });
}

BOOL BASS_RecordSetInput(int32_t input, DWORD flags, float volume) {
  return guarded<BOOL>(0, [&]() -> BOOL {
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    if (!lib.capture_device) return fail(BASS_ERROR_INIT);
    if (input < 0 || static_cast<size_t>(input) >= lib.input_volumes.size()) return fail(BASS_ERROR_ILLPARAM);
    // A negative volume leaves it as it is; above 1 is full volume.
    if (std::isnan(volume)) return fail(BASS_ERROR_ILLPARAM);
    if (volume >= 0) lib.input_volumes[input] = std::min(volume, 1.f);
    if (flags & kInputOn) lib.current_input = input;
    lib.record_volume = lib.input_volumes[lib.current_input];
    set_error(BASS_OK);
    return 1;
  });
}

HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user) {
  return guarded<HRECORD>(0, [&]() -> HRECORD {
    (void)flags;
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    if (!lib.capture_device) return fail(BASS_ERROR_INIT);
    if (freq == 0) freq = 44100;
    if (chans == 0) chans = 2;
    if (freq < 1000 || freq > 384000 || chans > 8) return fail(BASS_ERROR_FORMAT);
    // Every step that can fail comes before the handle is published; the
    // callback is told the handle that the table will give.
    const HRECORD handle = lib.records.reserve();
    if (!handle) return fail(BASS_ERROR_MEM);
    fault::alloc();
    auto rec = std::make_unique<Recording>();
    rec->proc = proc;
    rec->user = user;
    rec->handle = handle;
    Recording* r = rec.get();
    const int channels = static_cast<int>(chans);
    r->rate = static_cast<int>(freq);
    r->channels = channels;
    r->scratch.resize(static_cast<size_t>(freq / 10) * chans);
    std::atomic<float>* volume = &lib.record_volume;
    auto sink = [r, channels, volume](const int16_t* frames, size_t count) -> bool {
      if (!r->proc) return true;
      const size_t n = count * channels;
      const float v = volume->load(std::memory_order_relaxed);
      const int16_t* data = frames;
      if (v != 1.f) {
        if (r->scratch.size() < n) r->scratch.resize(n);  // only when a device hands over more than 100 ms
        for (size_t i = 0; i < n; ++i) r->scratch[i] = static_cast<int16_t>(std::lrint(frames[i] * v));
        data = r->scratch.data();
      }
      t_in_callback = r;
      bool go_on = r->proc(r->handle, data, static_cast<DWORD>(n * sizeof(int16_t)), r->user) != 0;
      t_in_callback = nullptr;
      if (!go_on) r->active = false;
      return r->active.load();  // also false once the callback stopped its own recording
    };
    std::string why;
    if (fault::fail(fault::Kind::Device)) return fail(BASS_ERROR_DEVICE);
    fault::thread_start();
    r->capture = lib.capture_device->start(static_cast<int>(freq), channels, sink, &why);
    if (!r->capture) return fail(BASS_ERROR_DEVICE);
    // Published: nothing below can fail.
    lib.records.add(rec.release());
    set_error(BASS_OK);
    return handle;
  });
}
