// The audio library's state behind the BASS_* calls (internal).
//
// Every control call takes Library::mu while it reads or changes the
// library's tables, so calls from several threads are serialised; the audio
// thread never takes it (see the mixer's header for the handoff). Nothing
// waits while holding mu: work that waits (opening a URL, a decoder's seek,
// a decoding stream's pull, joining a decoder's or a capture's thread) runs
// after mu is let go. What a call frees goes into a Retired, declared before
// the lock, so it is destroyed (threads joined) after the lock is released;
// a call that waits on a stream holds the stream (Stream::self) and the
// stream's own op_mu instead of mu. Lock order: Stream::op_mu, then mu.
//
// A housekeeping thread frees streams created with BASS_STREAM_AUTOFREE once
// they have ended, off the audio thread; it only ever try-locks mu, so
// BASS_Free can stop it while holding mu.
//
// Create paths publish a handle last: everything that can fail (allocations,
// a thread's start, the mixer's list) comes before, and a handle table
// reserves its room first, so adding cannot fail.
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

#include "audio/api/fault.hpp"
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
  ~Stream();  // frees the effect chain, then the effects, then the channel
  uint32_t handle = 0;
  DWORD flags = 0;
  std::unique_ptr<Channel> channel;
  // Attached effects in processing order (priority high first, then order
  // of attachment).
  std::vector<std::unique_ptr<FxSlot>> fx;
  // The library's own reference while the handle is live (guarded by mu). A
  // call that works on the stream without mu copies it, so the stream lives
  // until that call is done even if it is freed meanwhile.
  std::shared_ptr<Stream> self;
  // Serialises the calls that touch the channel's control-thread state
  // (seeking, pulling, effects, meters): taken before mu, never under it.
  std::mutex op_mu;
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
  std::shared_ptr<Mixer> mixer;  // shared with calls that wait on a stream
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

// What a call takes out of the library under mu, to be ended once mu is let
// go: declare it before the lock. Stopping a stream's decoder or a capture
// joins a thread, which must not happen under mu (a recording callback that
// calls into the library would deadlock, and every other call would wait).
struct Retired {
  Retired() = default;
  Retired(const Retired&) = delete;
  Retired& operator=(const Retired&) = delete;
  ~Retired();  // recordings, then the capture device, then streams, then the output and mixer
  std::vector<std::shared_ptr<Stream>> streams;
  std::vector<std::unique_ptr<Recording>> records;
  std::unique_ptr<CaptureDevice> capture_device;
  std::unique_ptr<Output> output;
  std::shared_ptr<Mixer> mixer;
  int modules = 0;  // platform::release_module() calls owed once the threads have ended
};

// The module's library, made on first use and deleted when the module is
// unloaded or the process exits, after every thread it started has ended.
Library& library();

// Runs an export's body: no exception escapes; one becomes the failure
// value with BASS_ERROR_MEM (out of memory) or BASS_ERROR_UNKNOWN. Its entry
// is an injection point: any call may meet a fault there, as a call that
// allocates may.
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
// Stops a stream and takes it out of the mixer and the handle tables; the
// stream itself (and its decoder's thread) ends with `retired`. Call with mu
// held.
void free_stream(Library& lib, Stream* stream, Retired& retired);
// The effect chain of stream->fx, leaving out `without` (may throw: nothing
// is changed then).
std::unique_ptr<FxChain> make_fx_chain(const Stream& stream, const FxSlot* without = nullptr);
// Puts the chain in place and frees the old one once the audio thread has
// let go of it. Call with mu held; cannot fail.
void install_fx_chain(Library& lib, Stream* stream, std::unique_ptr<FxChain> chain) noexcept;

// Library::mu, held by a call that may let go of it before it waits.
using LibraryLock = std::unique_lock<std::mutex>;

// Runs fn(lib, stream, lock) for the live stream of a handle, with the
// stream's op_mu and mu (`lock`) held; failure, with the error set, when the
// handle is not a live stream. fn may unlock `lock` before it waits: the
// stream stays alive and its op_mu held until fn returns. Whatever fn puts
// in `retired` ends after both locks are let go.
template <class R, class Fn>
R with_stream_op(DWORD handle, R failure, Retired& retired, Fn&& fn);

// Tells the housekeeper that a stream started playing: it watches for ended
// streams only while one of them may end. Call with mu held.
void wake_housekeeper(Library& lib);

// Stops and frees a recording; the capture callback is not running and
// never runs again once this returns (called from that callback, it returns
// at once and the callback is not called again). Takes mu itself (the
// callback must not be waited for while mu is held). False when the handle
// is not a recording.
bool stop_recording(DWORD handle);
// Stops every recording and closes the capture device: both end with
// `retired`. Call with mu held.
void free_capture(Library& lib, Retired& retired);

// Makes a stream of an opened source (the path of BASS_StreamCreateFile and
// BASS_StreamCreateURL after the source is open; tests use it with
// synthetic sources). 0 on failure with the error set.
HSTREAM create_stream_from_source(std::unique_ptr<Source> source, DWORD flags);

template <class R, class Fn>
R with_stream_op(DWORD handle, R failure, Retired& retired, Fn&& fn) {
  (void)retired;  // declared by the caller before the locks below
  Library& lib = library();
  std::shared_ptr<Stream> held;  // outlives the locks: the stream's last holder may free it
  {
    std::lock_guard lock(lib.mu);
    Stream* s = find_stream(lib, handle);
    if (!s) return failure;
    held = s->self;
  }
  std::lock_guard op(held->op_mu);
  std::unique_lock lock(lib.mu);
  // Freed while this call waited for the stream.
  if (lib.streams.get(handle) != held.get()) return set_error(BASS_ERROR_HANDLE), failure;
  return fn(lib, held.get(), lock);
}

template <class R, class Fn>
R guarded(R failure, Fn&& fn) noexcept {
  try {
    fault::alloc();
    return fn();
  } catch (const std::bad_alloc&) {
    set_error(BASS_ERROR_MEM);
  } catch (...) {
    set_error(BASS_ERROR_UNKNOWN);
  }
  return failure;
}

}  // namespace tovarin::audio
