// Transport, positions, attributes and measurements of channels.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "audio/api/library.hpp"

using namespace tovarin::audio;

namespace {
constexpr QWORD kBadQword = static_cast<QWORD>(-1);

int64_t frame_bytes(const Stream* s) { return static_cast<int64_t>(s->channel->info().channels) * 2; }

// Bytes of a frame count, saturating instead of overflowing: whatever a
// source reports, a byte figure stays a figure.
QWORD frames_to_bytes(int64_t frames, const Stream* s) {
  const int64_t fb = frame_bytes(s);
  if (frames <= 0) return 0;
  if (frames > INT64_MAX / fb) return static_cast<QWORD>(INT64_MAX / fb * fb);
  return static_cast<QWORD>(frames * fb);
}

bool decoding(const Stream* s) { return s->flags & BASS_STREAM_DECODE; }

// Frames the channel has processed that the output has not played yet: the
// meters look back past them, so levels and spectrum show what is heard.
size_t unheard(Library& lib, const Stream* s) {
  const Channel& ch = *s->channel;
  if (decoding(s) || ch.ended() || !lib.output) return 0;
  return lib.output->with_latency([&](int latency) { return ch.unheard_frames(latency); });
}

// Runs fn(lib, stream) with the library and the stream locked and the
// handle checked.
template <class R, class Fn>
R with_stream(DWORD handle, R failure, Fn&& fn) {
  return guarded<R>(failure, [&]() -> R {
    Retired retired;
    return with_stream_op<R>(handle, failure, retired, [&](Library& lib, Stream* s, LibraryLock&) -> R {
      set_error(BASS_OK);
      return fn(lib, s, retired);
    });
  });
}

// The same for a call that waits on the stream (a seek, a decoder's pull):
// fn(lib, stream, lock) unlocks `lock` (the library) before it waits.
template <class R, class Fn>
R with_waiting_stream(DWORD handle, R failure, Fn&& fn) {
  return guarded<R>(failure, [&]() -> R {
    Retired retired;
    return with_stream_op<R>(handle, failure, retired, [&](Library& lib, Stream* s, LibraryLock& lock) -> R {
      set_error(BASS_OK);
      return fn(lib, s, lock);
    });
  });
}

// Seeks a channel with the library unlocked: the decoder may take a while
// to reposition. The stream's own lock keeps other calls off it meanwhile.
bool reposition(Library& lib, Channel* ch, int64_t frame, LibraryLock& lock) {
  std::shared_ptr<Mixer> mixer = lib.mixer;
  lock.unlock();
  if (!mixer) return ch->reposition(frame);
  return mixer->run_excluded(ch, [&] { return ch->reposition(frame); });
}
}  // namespace

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
  return with_waiting_stream<BOOL>(handle, 0, [&](Library& lib, Stream* s, LibraryLock& lock) -> BOOL {
    if (decoding(s)) return fail(BASS_ERROR_DECODE);
    Channel* ch = s->channel.get();
    if (restart) {
      if (!reposition(lib, ch, 0, lock)) return fail(BASS_ERROR_POSITION);
      lock.lock();
      // Freed, or the library freed, while it seeked.
      if (lib.streams.get(handle) != s) return fail(BASS_ERROR_HANDLE);
    }
    ch->set_state(PlayState::Playing);
    if (lib.output) lib.output->wake();
    wake_housekeeper(lib);
    return 1;
  });
}

BOOL BASS_ChannelPause(DWORD handle) {
  return with_stream<BOOL>(handle, 0, [&](Library&, Stream* s, Retired&) -> BOOL {
    if (decoding(s)) return fail(BASS_ERROR_DECODE);
    PlayState st = s->channel->state();
    if (st == PlayState::Paused) return fail(BASS_ERROR_ALREADY);
    if (st != PlayState::Playing) return fail(BASS_ERROR_NOPLAY);
    s->channel->set_state(PlayState::Paused);
    return 1;
  });
}

BOOL BASS_ChannelStop(DWORD handle) {
  if ((handle >> 30) == static_cast<DWORD>(HandleKind::Record)) {
    return guarded<BOOL>(
        0, [&]() -> BOOL { return stop_recording(handle) ? (set_error(BASS_OK), 1) : fail(BASS_ERROR_HANDLE); });
  }
  return with_stream<BOOL>(handle, 0, [&](Library& lib, Stream* s, Retired& retired) -> BOOL {
    if (s->flags & BASS_STREAM_AUTOFREE) {
      free_stream(lib, s, retired);
      return 1;
    }
    s->channel->set_state(PlayState::Stopped);
    return 1;
  });
}

DWORD BASS_ChannelIsActive(DWORD handle) {
  if ((handle >> 30) == static_cast<DWORD>(HandleKind::Record)) {
    return guarded<DWORD>(BASS_ACTIVE_STOPPED, [&]() -> DWORD {
      Library& lib = library();
      std::lock_guard lock(lib.mu);
      Recording* r = lib.records.get(handle);
      if (!r) return set_error(BASS_ERROR_HANDLE), BASS_ACTIVE_STOPPED;
      set_error(BASS_OK);
      return r->active ? BASS_ACTIVE_PLAYING : BASS_ACTIVE_STOPPED;
    });
  }
  return with_stream<DWORD>(handle, BASS_ACTIVE_STOPPED, [&](Library&, Stream* s, Retired&) -> DWORD {
    switch (s->channel->state()) {
      case PlayState::Playing: return s->channel->stalled() ? BASS_ACTIVE_STALLED : BASS_ACTIVE_PLAYING;
      case PlayState::Paused: return BASS_ACTIVE_PAUSED;
      default: return BASS_ACTIVE_STOPPED;
    }
  });
}

QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode) {
  return with_stream<QWORD>(handle, kBadQword, [&](Library& lib, Stream* s, Retired&) -> QWORD {
    if (mode != BASS_POS_BYTE) return set_error(BASS_ERROR_NOTAVAIL), kBadQword;
    const Channel& ch = *s->channel;
    // Everything mixed has been heard once the channel has ended.
    if (ch.ended() || decoding(s)) return frames_to_bytes(ch.heard_frame(0), s);
    return frames_to_bytes(lib.output->with_latency([&](int latency) { return ch.heard_frame(latency); }), s);
  });
}

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode) {
  return with_waiting_stream<QWORD>(handle, kBadQword, [&](Library&, Stream* s, LibraryLock& lock) -> QWORD {
    if (mode != BASS_POS_BYTE) return set_error(BASS_ERROR_NOTAVAIL), kBadQword;
    lock.unlock();  // a long file may still be counting its length: wait for it unlocked
    const int64_t len = s->channel->length();
    if (len < 0) return set_error(BASS_ERROR_NOTAVAIL), kBadQword;
    return frames_to_bytes(len, s);
  });
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode) {
  return with_waiting_stream<BOOL>(handle, 0, [&](Library& lib, Stream* s, LibraryLock& lock) -> BOOL {
    if (mode != BASS_POS_BYTE) return fail(BASS_ERROR_NOTAVAIL);
    if (pos > static_cast<QWORD>(INT64_MAX)) return fail(BASS_ERROR_POSITION);
    int64_t frame = static_cast<int64_t>(pos) / frame_bytes(s);
    // The start needs no length (which a long file may still be counting).
    if (frame > 0) {
      lock.unlock();  // the length may still be being counted: wait for it unlocked
      const int64_t len = s->channel->length();
      lock.lock();
      // Freed, or the library freed, while it waited.
      if (lib.streams.get(handle) != s) return fail(BASS_ERROR_HANDLE);
      if (len >= 0 && frame > len) return fail(BASS_ERROR_POSITION);
    }
    Channel* ch = s->channel.get();
    if (!reposition(lib, ch, frame, lock)) return fail(BASS_ERROR_POSITION);
    if (decoding(s)) ch->set_state(PlayState::Playing);  // a stopped or ended decoder goes on from here
    return 1;
  });
}

double BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
  return with_stream<double>(handle, -1.0, [&](Library&, Stream* s, Retired&) -> double {
    const auto& info = s->channel->info();
    return static_cast<double>(pos) / (static_cast<double>(info.rate) * frame_bytes(s));
  });
}

QWORD BASS_ChannelSeconds2Bytes(DWORD handle, double pos) {
  return with_stream<QWORD>(handle, kBadQword, [&](Library&, Stream* s, Retired&) -> QWORD {
    if (!(pos >= 0) || !std::isfinite(pos)) return set_error(BASS_ERROR_ILLPARAM), kBadQword;
    // Rounded down to a whole frame; the tiny bias keeps exact products
    // such as 0.1 s x 44100 from landing one frame short.
    double frames = std::floor(pos * s->channel->info().rate + 1e-6);
    if (frames > 9e15) return set_error(BASS_ERROR_ILLPARAM), kBadQword;
    return static_cast<QWORD>(frames) * static_cast<QWORD>(frame_bytes(s));
  });
}

BOOL BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value) {
  return with_stream<BOOL>(handle, 0, [&](Library&, Stream* s, Retired&) -> BOOL {
    if (std::isnan(value)) return fail(BASS_ERROR_ILLPARAM);
    if (attrib == BASS_ATTRIB_VOL) {
      if (value < 0 || std::isinf(value)) return fail(BASS_ERROR_ILLPARAM);
      s->channel->set_volume(value);
      return 1;
    }
    if (attrib == BASS_ATTRIB_PAN) {
      s->channel->set_pan(std::clamp(value, -1.f, 1.f));
      return 1;
    }
    return fail(BASS_ERROR_ILLTYPE);
  });
}

BOOL BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value) {
  return with_stream<BOOL>(handle, 0, [&](Library&, Stream* s, Retired&) -> BOOL {
    if (!value) return fail(BASS_ERROR_ILLPARAM);
    if (attrib == BASS_ATTRIB_VOL) return *value = s->channel->volume(), 1;
    if (attrib == BASS_ATTRIB_PAN) return *value = s->channel->pan(), 1;
    return fail(BASS_ERROR_ILLTYPE);
  });
}

DWORD BASS_ChannelGetLevel(DWORD handle) {
  return with_stream<DWORD>(handle, static_cast<DWORD>(-1), [&](Library& lib, Stream* s, Retired&) -> DWORD {
    Channel& ch = *s->channel;
    if (ch.state() != PlayState::Playing) return 0;
    const int chans = ch.history().channels();
    const size_t frames = std::max<size_t>(1, static_cast<size_t>(ch.info().rate) / 50);  // 20 ms
    float* buf = ch.scratch();  // holds 20 ms: no allocation per call
    ch.history().latest(buf, frames, unheard(lib, s));
    float peak[2] = {0, 0};
    for (size_t i = 0; i < frames; ++i)
      for (int c = 0; c < std::min(chans, 2); ++c) peak[c] = std::max(peak[c], std::fabs(buf[i * chans + c]));
    if (chans == 1) peak[1] = peak[0];
    auto word = [](float p) { return static_cast<DWORD>(std::lrint(std::min(p, 1.f) * 32768.f)); };
    return word(peak[0]) | (word(peak[1]) << 16);
  });
}

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info) {
  if ((handle >> 30) == static_cast<DWORD>(HandleKind::Record)) {
    // A capture's format: the rate and channel count asked for, or the
    // defaults that stood in for 0.
    return guarded<BOOL>(0, [&]() -> BOOL {
      Library& lib = library();
      std::lock_guard lock(lib.mu);
      Recording* r = lib.records.get(handle);
      if (!r) return fail(BASS_ERROR_HANDLE);
      if (!info) return fail(BASS_ERROR_ILLPARAM);
      *info = {};
      info->freq = static_cast<DWORD>(r->rate);
      info->chans = static_cast<DWORD>(r->channels);
      info->ctype = BASS_CTYPE_RECORD;
      info->origres = 16;
      set_error(BASS_OK);
      return 1;
    });
  }
  return with_stream<BOOL>(handle, 0, [&](Library&, Stream* s, Retired&) -> BOOL {
    if (!info) return fail(BASS_ERROR_ILLPARAM);
    const SourceInfo& src = s->channel->info();
    int rate = src.rate, channels = src.channels;
    s->channel->source().heard_format(&rate, &channels);
    *info = {};
    info->freq = static_cast<DWORD>(rate);
    info->chans = static_cast<DWORD>(channels);
    info->flags = s->flags;
    info->ctype = BASS_CTYPE_STREAM;
    info->origres = static_cast<DWORD>(src.bits);
    info->filename = src.location.c_str();
    return 1;
  });
}

namespace {
constexpr DWORD kBadDword = static_cast<DWORD>(-1);

// Sample data of a decoding stream: whole frames, 16-bit or float.
DWORD pull_samples(Stream* s, void* buffer, DWORD length) {
  Channel& ch = *s->channel;
  const bool as_float = length & BASS_DATA_FLOAT;
  const size_t chans = static_cast<size_t>(ch.info().channels);
  const size_t sample_bytes = as_float ? sizeof(float) : sizeof(int16_t);
  const size_t want = (length & ~BASS_DATA_FLOAT) / (sample_bytes * chans);
  if (ch.ended()) return set_error(BASS_ERROR_ENDED), kBadDword;
  if (ch.state() != PlayState::Playing) return set_error(BASS_ERROR_NOPLAY), kBadDword;
  // Floats into a buffer aligned for them are decoded in place; anything
  // else goes in pieces through the channel's scratch room (no allocation
  // per call, and the caller's buffer needs no particular alignment).
  uint8_t* out = static_cast<uint8_t*>(buffer);
  const bool in_place = as_float && reinterpret_cast<uintptr_t>(out) % alignof(float) == 0;
  const size_t piece = ch.scratch_frames();
  size_t have = 0;
  while (have < want) {
    const size_t ask = in_place ? want - have : std::min(piece, want - have);
    const size_t got = ch.decode(in_place ? reinterpret_cast<float*>(out) + have * chans : ch.scratch(), ask, 1000);
    const float* x = ch.scratch();
    const size_t n = got * chans;
    if (as_float) {
      if (!in_place) std::memcpy(out + have * chans * sizeof(float), x, n * sizeof(float));
    } else {
      int16_t pcm[256];
      for (size_t i = 0; i < n;) {
        const size_t m = std::min(n - i, std::size(pcm));
        for (size_t j = 0; j < m; ++j) {
          // As the wav: output: clip to full scale, round, keep 32767 the top.
          long v = std::lrint(std::clamp(x[i + j], -1.f, 1.f) * 32768.f);
          pcm[j] = static_cast<int16_t>(std::min(v, 32767L));
        }
        std::memcpy(out + (have * chans + i) * sizeof(int16_t), pcm, m * sizeof(int16_t));
        i += m;
      }
    }
    have += got;
    if (got < ask) break;  // ended or stalled
  }
  if (have == 0 && ch.ended()) return set_error(BASS_ERROR_ENDED), kBadDword;
  return static_cast<DWORD>(have * chans * sample_bytes);
}
}  // namespace

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
  return with_waiting_stream<DWORD>(handle, kBadDword, [&](Library& lib, Stream* s, LibraryLock& lock) -> DWORD {
    if (!buffer) return set_error(BASS_ERROR_ILLPARAM), kBadDword;
    if (length != BASS_DATA_FFT1024) {
      // Other FFT sizes and data flags are not offered; taking them for a
      // byte count would write far past the caller's buffer.
      if (length & ~(BASS_DATA_FLOAT | 0x3fffffffu)) return set_error(BASS_ERROR_ILLPARAM), kBadDword;
      if (!decoding(s)) return set_error(BASS_ERROR_NOTAVAIL), kBadDword;
      lock.unlock();  // the decoder may keep it waiting
      return pull_samples(s, buffer, length);
    }
    Channel& ch = *s->channel;
    const auto& hist = ch.history();
    float* frames = ch.scratch();  // holds 1024 frames: no allocation per call
    hist.latest(frames, dsp::Fft1024::kSize, unheard(lib, s));
    if (!lib.fft.magnitudes(frames, hist.channels(), static_cast<float*>(buffer)))
      return set_error(BASS_ERROR_UNKNOWN), kBadDword;
    return dsp::Fft1024::kBins * sizeof(float);
  });
}
