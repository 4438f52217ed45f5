// Helpers for the audio library's tests: a synthetic Source and a fixture
// that runs the library on a manually paced wav: output.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "audio/api/library.hpp"
#include "audio/bass.h"
#include "audio/device/paced_output.hpp"
#include "audio/source.hpp"
#include "common/temp_dir.hpp"
#include "common/wav.hpp"

namespace audio_test {

using tovarin::audio::Source;
using tovarin::audio::SourceInfo;
using tovarin::audio::TagKey;

// Sample value of frame f, channel c.
using Generator = std::function<float(int64_t f, int c)>;

// A sound made by a formula: seekable, finite (or endless with length -1).
class SynthSource : public Source {
 public:
  SynthSource(int rate, int channels, int64_t length, Generator gen) : gen_(std::move(gen)) {
    info_.rate = rate;
    info_.channels = channels;
    info_.length_frames = length;
    info_.location = "synth";
  }
  std::map<TagKey, std::string> tags;

  const SourceInfo& info() const override { return info_; }
  void start() override {}
  bool seek_to(int64_t frame) override {
    if (frame < 0 || (info_.length_frames >= 0 && frame > info_.length_frames)) return false;
    pos_.store(frame);
    return true;
  }
  int64_t file_position(uint32_t mode) const override { return mode == BASS_FILEPOS_END ? 12345 : -1; }
  std::string tag(TagKey key) const override {
    auto it = tags.find(key);
    return it == tags.end() ? "" : it->second;
  }
  size_t read(float* out, size_t frames) override {
    int64_t p = pos_.load();
    if (info_.length_frames >= 0) frames = std::min<int64_t>(frames, info_.length_frames - p);
    for (size_t i = 0; i < frames; ++i)
      for (int c = 0; c < info_.channels; ++c) out[i * info_.channels + c] = gen_(p + i, c);
    pos_.store(p + frames);
    return frames;
  }
  bool finished() const override { return info_.length_frames >= 0 && pos_.load() >= info_.length_frames; }
  int64_t position() const override { return pos_.load(); }

 private:
  SourceInfo info_;
  Generator gen_;
  std::atomic<int64_t> pos_{0};
};

// Reproducible pseudo-random 16-bit values, exactly representable as floats.
inline float noise16(int64_t f, int c) {
  uint32_t x = static_cast<uint32_t>(f * 2654435761u + c * 40503u + 12345u);
  x ^= x >> 13;
  x *= 0x5bd1e995u;
  x ^= x >> 15;
  return static_cast<int16_t>(x & 0xffff) / 32768.f;
}

inline HSTREAM make_stream(int rate, int channels, int64_t length, Generator gen, DWORD flags = 0,
                           SynthSource** raw = nullptr) {
  auto src = std::make_unique<SynthSource>(rate, channels, length, std::move(gen));
  if (raw) *raw = src.get();
  return tovarin::audio::create_stream_from_source(std::move(src), flags);
}

using testwav::Wav;
inline Wav read_wav(const std::string& path) { return testwav::read(path); }

// A file in this process's folder for what the tests make, removed at its end.
inline std::string temp_file(const std::string& name) {
  static const tovarin::test::TempDir dir("tovarin-audio");
  return dir.file(name);
}

// The library on a wav: output whose blocks of 10 ms run only when the
// test asks for them.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = temp_file("out-" + std::to_string(counter_++) + ".wav");
    setenv("TOVARIN_AUDIO_OUTPUT", ("wav:" + path_).c_str(), 1);
    tovarin::audio::testing_set_manual_pacing(true);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
  }
  void TearDown() override {
    BASS_Free();
    tovarin::audio::testing_set_manual_pacing(false);
  }
  static void run_blocks(long n) { ASSERT_TRUE(tovarin::audio::testing_run_blocks(n)); }
  // Starts h and runs `blocks` blocks.
  static void play(HSTREAM h, long blocks) {
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    run_blocks(blocks);
  }
  Wav finish() {
    BASS_Free();
    return read_wav(path_);
  }
  std::string path_;
  static inline int counter_ = 0;
};

}  // namespace audio_test
