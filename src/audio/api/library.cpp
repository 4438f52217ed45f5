// Library state, initialisation and teardown, stream lifetime.
#include "audio/api/library.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

extern "C" {
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include "audio/api/fault.hpp"
#include "platform/platform.hpp"

namespace tovarin::audio {

namespace {
thread_local int32_t t_error = BASS_OK;

// Frees the auto-free streams that ended. It looks every 100 ms while such
// a stream plays, and otherwise sleeps until one starts playing.
void housekeeping(Library* lib) {
  tovarin::platform::use_default_float_environment();
  bool watching = false;
  for (;;) {
    {
      std::unique_lock lock(lib->hk_mu);
      const auto woken = [&] { return lib->hk_quit || lib->hk_play; };
      if (watching)
        lib->hk_cv.wait_for(lock, std::chrono::milliseconds(100), woken);
      else
        lib->hk_cv.wait(lock, woken);
      if (lib->hk_quit) return;
      lib->hk_play = false;
    }
    Retired retired;  // ended streams' decoders are joined after mu is let go
    std::unique_lock lock(lib->mu, std::try_to_lock);
    watching = true;
    if (!lock.owns_lock()) continue;  // a control call runs: look again soon
    if (!lib->initialised) {
      watching = false;
      continue;
    }
    if (lib->mixer->take_ended())
      for (Stream* s : lib->streams.all())
        if ((s->flags & BASS_STREAM_AUTOFREE) && s->channel->ended()) free_stream(*lib, s, retired);
    // Keep looking while one plays, and also when one ended after the mixer
    // was asked above: its end is taken on the next round, not never.
    watching = false;
    for (Stream* s : lib->streams.all())
      watching |= (s->flags & BASS_STREAM_AUTOFREE) && !(s->flags & BASS_STREAM_DECODE) &&
                  (s->channel->state() == PlayState::Playing || s->channel->ended());
  }
}

}  // namespace

void wake_housekeeper(Library& lib) {
  {
    std::lock_guard lock(lib.hk_mu);
    lib.hk_play = true;
  }
  lib.hk_cv.notify_all();
}

namespace {

void stop_housekeeper(Library& lib) {
  {
    std::lock_guard lock(lib.hk_mu);
    lib.hk_quit = true;
  }
  lib.hk_cv.notify_all();
  if (lib.housekeeper.joinable()) lib.housekeeper.join();
}

// Takes everything of an initialised library out into `retired`, which
// stops the output before it frees the streams and the mixer.
void teardown(Library& lib, Retired& retired) {
  // Room first: nothing below can fail.
  const std::vector<Stream*> streams = lib.streams.all();
  retired.streams.reserve(retired.streams.size() + streams.size());
  stop_housekeeper(lib);  // it never waits for mu, so joining it here is safe
  retired.output = std::move(lib.output);
  retired.mixer = std::move(lib.mixer);
  for (Stream* s : streams) free_stream(lib, s, retired);
  lib.initialised = false;
  ++retired.modules;
}

// Frees the library when the plug-in is unloaded or the process exits
// normally, so output threads stop and a WAV output is completed.
// Created on first use; deleted only when the module goes away.
std::atomic<Library*> g_library{nullptr};
std::mutex g_library_create;
// Set when the module's finaliser has freed the library: a call that comes
// later (from another finaliser of the module) fails instead of making a new
// library that nothing would free, once per unload.
std::atomic<bool> g_library_gone{false};

struct AtUnload {
  ~AtUnload() {
    tovarin::platform::HostFloatScope host_fp;  // the host's thread, inside its unload call
    // A process that is ending on Windows has ended the library's threads
    // already, perhaps inside a lock: nothing is joined or locked then.
    if (platform::process_exiting()) return;
    {
      std::lock_guard lock(g_library_create);
      g_library_gone.store(true);
    }
    Library* lib = g_library.exchange(nullptr);
    if (!lib) return;
    try {
      {
        Retired retired;
        std::lock_guard lock(lib->mu);
        if (lib->initialised) teardown(*lib, retired);
        free_capture(*lib, retired);
      }
      stop_housekeeper(*lib);
      delete lib;
    } catch (...) {
    }
  }
} g_at_unload;
}  // namespace

namespace {

// The shared libraries under FFmpeg stay loaded once this library has been:
// some of their constructors allocate memory that unloading never frees
// (about 12 KB on every load of the plug-in), and loading them all again
// costs tens of milliseconds. SDL, loaded when a device is first wanted,
// stays loaded too (sdl_audio.cpp). The plug-in itself still unloads.
void keep_dependencies_loaded() {
  for (const void* symbol :
       {reinterpret_cast<const void*>(&avformat_version), reinterpret_cast<const void*>(&swresample_version)})
    platform::keep_library_loaded(symbol);
}

}  // namespace

Library& library() {
  Library* lib = g_library.load(std::memory_order_acquire);
  if (lib) return *lib;
  std::lock_guard lock(g_library_create);
  lib = g_library.load(std::memory_order_relaxed);
  if (!lib) {
    if (g_library_gone.load()) throw std::runtime_error("the audio library is unloaded");
    keep_dependencies_loaded();
    lib = new Library;
    g_library.store(lib, std::memory_order_release);
  }
  return *lib;
}

void set_error(int32_t code) { t_error = code; }

Stream* find_stream(Library& lib, DWORD handle) {
  Stream* s = lib.streams.get(handle);
  if (!s) set_error(BASS_ERROR_HANDLE);
  return s;
}

Stream::~Stream() {
  // Out of the mixer by now: nothing else sees the chain.
  if (channel) delete channel->swap_fx(nullptr);
}

Retired::~Retired() {
  try {
    records.clear();  // each capture's thread ends here
    capture_device.reset();
    // With the output stopped no block runs, so the streams and the mixer
    // can go.
    if (output) output->stop();
    output.reset();
    streams.clear();  // a stream's decoder thread ends with its last holder
    mixer.reset();
  } catch (...) {
  }
  for (; modules > 0; --modules) platform::release_module();
}

void free_stream(Library& lib, Stream* s, Retired& retired) {
  retired.streams.reserve(retired.streams.size() + 1);  // the only step that may fail, so first
  s->channel->set_state(PlayState::Stopped);
  // Without a mixer (teardown), the output is stopped before the stream goes.
  if (lib.mixer) lib.mixer->remove(s->channel.get());
  // Nothing below can fail: the tables reserved their room on the way in.
  for (auto& fx : s->fx) lib.fxs.remove(fx->handle);
  lib.streams.remove(s->handle);
  retired.streams.push_back(std::move(s->self));
}

std::unique_ptr<FxChain> make_fx_chain(const Stream& s, const FxSlot* without) {
  fault::alloc();
  auto chain = std::make_unique<FxChain>();
  chain->effects.reserve(s.fx.size());
  for (auto& fx : s.fx)
    if (fx.get() != without) chain->effects.push_back(fx->effect.get());
  return chain;
}

void install_fx_chain(Library& lib, Stream* s, std::unique_ptr<FxChain> chain) noexcept {
  const FxChain* old = s->channel->swap_fx(chain.release());
  if (lib.mixer) lib.mixer->synchronize();
  delete old;
}

HSTREAM create_stream_from_source(std::unique_ptr<Source> source, DWORD flags) {
  if (!source) return fail(BASS_ERROR_FILEFORM);
  Library& lib = library();
  std::lock_guard lock(lib.mu);
  if (!lib.initialised) return fail(BASS_ERROR_INIT);
  // A decoding stream keeps its own rate (no resampler) and never joins the
  // mixer: its caller pulls it.
  const bool decode = flags & BASS_STREAM_DECODE;
  const int out_rate = decode ? source->info().rate : lib.rate;
  // The meters look back over the output's latency: room for what it
  // reports now or 100 ms, whichever is more (a device may take over from
  // the silent stand-in later and report its latency only then).
  const int lookback = decode ? 0 : std::max(lib.output->latency_frames(), lib.rate / 10);
  // Every step that can fail comes before the handle is published; what a
  // failing step leaves is freed by the unique_ptrs.
  const uint32_t handle = lib.streams.reserve();
  if (!handle) return fail(BASS_ERROR_MEM);
  fault::alloc();
  auto channel = std::make_unique<Channel>(std::move(source), out_rate, lookback);
  std::string why;
  if (!channel->init(&why)) return fail(BASS_ERROR_FORMAT);
  fault::alloc();
  auto stream = std::make_shared<Stream>();
  stream->flags = flags;
  stream->handle = handle;
  stream->channel = std::move(channel);
  stream->channel->source().start();
  if (decode)
    stream->channel->set_state(PlayState::Playing);
  else
    lib.mixer->add(stream->channel.get());  // stopped: silent until played
  // Published: nothing below can fail.
  lib.streams.add(stream.get());
  stream->self = stream;
  set_error(BASS_OK);
  return handle;
}

}  // namespace tovarin::audio

using namespace tovarin::audio;

int32_t BASS_ErrorGetCode() { return t_error; }

BOOL BASS_Init(int32_t device, DWORD freq, DWORD, DWORD, const void*) {
  return guarded<BOOL>(0, [&]() -> BOOL {
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    if (lib.initialised) return fail(BASS_ERROR_ALREADY);
    if (device < -1 || device > 1) return fail(BASS_ERROR_DEVICE);
    if (freq == 0) freq = 44100;
    if (freq < 8000 || freq > 384000) return fail(BASS_ERROR_ILLPARAM);
    const std::string env = tovarin::platform::env("TOVARIN_AUDIO_OUTPUT");
    std::string choice = device == 0 ? "null" : !env.empty() ? env : "auto";
    fault::alloc();
    auto mixer = std::make_shared<Mixer>(static_cast<int>(freq));
    std::string why;
    // Whatever fails below stops the output again before the call answers.
    std::unique_ptr<Output> output;
    struct StopOnFailure {
      std::unique_ptr<Output>& output;
      ~StopOnFailure() {
        if (output) output->stop();
      }
    } stop_on_failure{output};
    auto start = [&] {
      if (fault::fail(fault::Kind::Device)) return false;
      fault::thread_start();
      return output->start(mixer.get(), &why);
    };
    if (!fault::fail(fault::Kind::Device)) output = open_output(choice, static_cast<int>(freq), &why);
    if (!output || !start()) {
      // A machine without sound still plays, silently, in real time.
      if (choice != "auto") return fail(BASS_ERROR_DEVICE);
      output = make_null_output("", static_cast<int>(freq));
      if (!start()) return fail(BASS_ERROR_DEVICE);
    }
    {
      std::lock_guard hk(lib.hk_mu);
      lib.hk_quit = false;
    }
    fault::thread_start();
    std::thread housekeeper(housekeeping, &lib);
    // Published: nothing below can fail.
    lib.housekeeper = std::move(housekeeper);
    tovarin::platform::name_thread(lib.housekeeper, "tovarin-house");
    lib.rate = static_cast<int>(freq);
    lib.mixer = std::move(mixer);
    lib.output = std::move(output);
    lib.initialised = true;
    // The library's threads run this module's code: it stays loaded until
    // BASS_Free has ended them.
    tovarin::platform::hold_module();
    set_error(BASS_OK);
    return 1;
  });
}

BOOL BASS_Free() {
  return guarded<BOOL>(0, [&]() -> BOOL {
    Library& lib = library();
    Retired retired;
    std::lock_guard lock(lib.mu);
    if (!lib.initialised) return fail(BASS_ERROR_INIT);
    teardown(lib, retired);
    set_error(BASS_OK);
    return 1;
  });
}

float BASS_GetCPU() {
  return guarded<float>(0.f, [&]() -> float {
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    if (!lib.initialised) {
      set_error(BASS_ERROR_INIT);
      return 0.f;
    }
    set_error(BASS_OK);
    return lib.mixer->cpu();
  });
}

BOOL BASS_StreamFree(HSTREAM handle) {
  return guarded<BOOL>(0, [&]() -> BOOL {
    Retired retired;  // the decoder's thread is joined once the locks are let go
    return with_stream_op<BOOL>(handle, 0, retired, [&](Library& lib, Stream* s, LibraryLock&) -> BOOL {
      free_stream(lib, s, retired);
      set_error(BASS_OK);
      return 1;
    });
  });
}
