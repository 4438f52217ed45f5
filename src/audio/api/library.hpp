// The audio library's state behind the BASS_* calls (internal).
//
// Every control call takes Library::mu for its whole duration, so calls from
// several threads are serialised; the audio thread never takes it (see the
// mixer's header for the handoff). Opening a URL blocks, so it runs before
// the lock is taken. A housekeeping thread frees streams created with
// BASS_STREAM_AUTOFREE once they have ended, off the audio thread; it only
// ever try-locks mu, so BASS_Free can stop it while holding mu.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "audio/api/handles.hpp"
#include "audio/bass.h"
#include "audio/device/input.hpp"
#include "audio/device/output.hpp"
#include "audio/dsp/effect.hpp"
#include "audio/dsp/fft.hpp"
#include "audio/mixer/channel.hpp"
#include "audio/mixer/mixer.hpp"
#include "audio/source.hpp"

namespace tovarin::audio {

struct Stream;

struct FxSlot {
  uint32_t handle = 0;
  uint32_t type = 0;
  int32_t priority = 0;
  Stream* stream = nullptr;
  std::unique_ptr<dsp::Effect> effect;
};

struct Stream {
  uint32_t handle = 0;
  DWORD flags = 0;
  std::unique_ptr<Channel> channel;
  // Attached effects in processing order (priority high first, then order
  // of attachment).
  std::vector<std::unique_ptr<FxSlot>> fx;
};

struct Recording {
  uint32_t handle = 0;
  RECORDPROC* proc = nullptr;
  void* user = nullptr;
  std::unique_ptr<Capture> capture;
  std::atomic<bool> active{true};  // false once the callback asked to stop
  int rate = 0, channels = 0;      // what is captured (the defaults filled in)
  std::vector<int16_t> scratch;    // capture thread: samples after the input's volume
};

struct Library {
  std::mutex mu;  // every control call
  // guarded by mu
  bool initialised = false;
  int rate = 44100;
  std::unique_ptr<Mixer> mixer;
  std::unique_ptr<Output> output;
  HandleTable<Stream> streams{HandleKind::Stream};
  HandleTable<FxSlot> fxs{HandleKind::Fx};
  dsp::Fft1024 fft;
  // capture, guarded by mu
  std::unique_ptr<CaptureDevice> capture_device;
  std::vector<float> input_volumes;
  int current_input = 0;
  HandleTable<Recording> records{HandleKind::Record};
  // Stopped from their own callback, which cannot wait for its own thread:
  // silent from then on, freed with the capture device.
  std::vector<Recording*> retired_records;
  std::atomic<float> record_volume{1.f};  // read by capture threads
  // housekeeping thread
  std::thread housekeeper;
  std::mutex hk_mu;
  std::condition_variable hk_cv;
  bool hk_quit = false;  // guarded by hk_mu
  bool hk_play = false;  // guarded by hk_mu: a stream started playing
};

// The module's library, made on first use and deleted when the module is
// unloaded or the process exits, after every thread it started has ended.
Library& library();

// Runs an export's body: no exception escapes; one becomes the failure
// value with BASS_ERROR_MEM (out of memory) or BASS_ERROR_UNKNOWN.
template <class R, class Fn>
R guarded(R failure, Fn&& fn) noexcept;

// Per-thread error code of the last call.
void set_error(int32_t code);
inline BOOL fail(int32_t code) {
  set_error(code);
  return 0;
}

// The stream of a handle, or null with BASS_ERROR_HANDLE (or INIT). Call
// with mu held.
Stream* find_stream(Library& lib, DWORD handle);
// Stops, detaches and frees a stream and its effects. Call with mu held.
void free_stream(Library& lib, Stream* stream);
// Rebuilds the channel's effect chain from stream->fx. Call with mu held.
void publish_fx(Library& lib, Stream* stream);

// Tells the housekeeper that a stream started playing: it watches for ended
// streams only while one of them may end. Call with mu held.
void wake_housekeeper(Library& lib);

// Stops and frees a recording; the capture callback is not running and
// never runs again once this returns (called from that callback, it returns
// at once and the callback is not called again). Takes mu itself (the
// callback must not be waited for while mu is held). False when the handle
// is not a recording.
bool stop_recording(DWORD handle);
// Stops every recording and closes the capture device. Call with mu held.
void free_capture(Library& lib);

// Makes a stream of an opened source (the path of BASS_StreamCreateFile and
// BASS_StreamCreateURL after the source is open; tests use it with
// synthetic sources). 0 on failure with the error set.
HSTREAM create_stream_from_source(std::unique_ptr<Source> source, DWORD flags);

template <class R, class Fn>
R guarded(R failure, Fn&& fn) noexcept {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    set_error(BASS_ERROR_MEM);
  } catch (...) {
    set_error(BASS_ERROR_UNKNOWN);
  }
  return failure;
}

}  // namespace tovarin::audio
