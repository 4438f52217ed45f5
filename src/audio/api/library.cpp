// Library state, initialisation and teardown, stream lifetime.
#include "audio/api/library.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

extern "C" {
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

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
    std::unique_lock lock(lib->mu, std::try_to_lock);
    watching = true;
    if (!lock.owns_lock()) continue;  // a control call runs: look again soon
    if (!lib->initialised) {
      watching = false;
      continue;
    }
    if (lib->mixer->take_ended())
      for (Stream* s : lib->streams.all())
        if ((s->flags & BASS_STREAM_AUTOFREE) && s->channel->ended()) free_stream(*lib, s);
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

void teardown(Library& lib) {
  stop_housekeeper(lib);
  // With the output stopped no block runs, so nothing below waits on it.
  if (lib.output) lib.output->stop();
  for (Stream* s : lib.streams.all()) free_stream(lib, s);
  lib.output.reset();
  lib.mixer.reset();
  lib.initialised = false;
  platform::release_module();
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
        std::lock_guard lock(lib->mu);
        if (lib->initialised) teardown(*lib);
        free_capture(*lib);
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

void free_stream(Library& lib, Stream* s) {
  s->channel->set_state(PlayState::Stopped);
  if (lib.mixer) lib.mixer->remove(s->channel.get());
  delete s->channel->swap_fx(nullptr);
  for (auto& fx : s->fx) lib.fxs.remove(fx->handle);
  lib.streams.remove(s->handle);
  delete s;  // the source's decoder thread ends here
}

void publish_fx(Library& lib, Stream* s) {
  auto chain = std::make_unique<FxChain>();
  for (auto& fx : s->fx) chain->effects.push_back(fx->effect.get());
  const FxChain* old = s->channel->swap_fx(chain.release());
  lib.mixer->synchronize();
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
  auto channel = std::make_unique<Channel>(std::move(source), out_rate, lookback);
  std::string why;
  if (!channel->init(&why)) return fail(BASS_ERROR_FORMAT);
  auto stream = std::make_unique<Stream>();
  stream->flags = flags;
  stream->handle = lib.streams.add(stream.get());
  if (!stream->handle) return fail(BASS_ERROR_MEM);
  stream->channel = std::move(channel);
  stream->channel->source().start();
  if (decode)
    stream->channel->set_state(PlayState::Playing);
  else
    lib.mixer->add(stream->channel.get());
  set_error(BASS_OK);
  return stream.release()->handle;
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
    auto mixer = std::make_unique<Mixer>(static_cast<int>(freq));
    std::string why;
    auto output = open_output(choice, static_cast<int>(freq), &why);
    if (!output || !output->start(mixer.get(), &why)) {
      // A machine without sound still plays, silently, in real time.
      if (choice != "auto") return fail(BASS_ERROR_DEVICE);
      output = make_null_output("", static_cast<int>(freq));
      if (!output->start(mixer.get(), &why)) return fail(BASS_ERROR_DEVICE);
    }
    lib.rate = static_cast<int>(freq);
    lib.mixer = std::move(mixer);
    lib.output = std::move(output);
    lib.initialised = true;
    {
      std::lock_guard hk(lib.hk_mu);
      lib.hk_quit = false;
    }
    lib.housekeeper = std::thread(housekeeping, &lib);
    tovarin::platform::name_thread(lib.housekeeper, "tovarin-house");
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
    std::lock_guard lock(lib.mu);
    if (!lib.initialised) return fail(BASS_ERROR_INIT);
    teardown(lib);
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
    Library& lib = library();
    std::lock_guard lock(lib.mu);
    Stream* s = find_stream(lib, handle);
    if (!s) return 0;
    free_stream(lib, s);
    set_error(BASS_OK);
    return 1;
  });
}
