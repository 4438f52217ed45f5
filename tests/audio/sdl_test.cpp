// The SDL2 output and input, through SDL's "disk" driver, which writes what
// the callback produced to a raw file and captures from one.
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "audio/device/backoff.hpp"
#include "test_support.hpp"

using namespace audio_test;

namespace {
template <class T>
std::vector<T> read_raw(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> b((std::istreambuf_iterator<char>(in)), {});
  std::vector<T> out(b.size() / sizeof(T));
  std::memcpy(out.data(), b.data(), out.size() * sizeof(T));
  return out;
}

// The output through SDL's disk driver, into a raw file of the test's own.
std::string use_disk_output(const char* name) {
  std::string raw = temp_file(name);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
  setenv("TOVARIN_AUDIO_OUTPUT", "auto", 1);
  return raw;
}
}  // namespace

TEST(SdlDevices, OutputPlaysThroughTheDeviceCallback) {
  const std::string raw = use_disk_output("out.raw");
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
  HSTREAM h = make_stream(44100, 2, 8820, noise16);
  ASSERT_TRUE(BASS_ChannelPlay(h, 0));
  for (int i = 0; i < 200 && BASS_ChannelIsActive(h) == BASS_ACTIVE_PLAYING; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  EXPECT_EQ(BASS_ChannelIsActive(h), BASS_ACTIVE_STOPPED);
  EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), 8820u * 4);
  ASSERT_TRUE(BASS_Free());
  unsetenv("SDL_AUDIODRIVER");
  auto out = read_raw<float>(raw);
  size_t first = 0;
  while (first < out.size() && out[first] == 0) ++first;
  first -= first % 2;
  ASSERT_GE(out.size(), first + 8820 * 2);
  for (int f = 0; f < 8820; ++f)
    for (int c = 0; c < 2; ++c) ASSERT_EQ(out[first + 2 * f + c], noise16(f, c)) << f;
}

TEST(SdlDevices, CaptureReadsTheDevice) {
  std::string raw = temp_file("in.raw");
  {
    std::vector<int16_t> in(44100);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(i * 7);
    std::ofstream f(raw, std::ios::binary);
    f.write(reinterpret_cast<const char*>(in.data()), in.size() * 2);
  }
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILEIN", raw.c_str(), 1);
  setenv("TOVARIN_AUDIO_INPUT", "auto", 1);
  ASSERT_TRUE(BASS_RecordInit(-1));
  struct Got {
    std::mutex mu;
    std::vector<int16_t> s;
  } got;
  auto proc = [](HRECORD, const void* buf, DWORD len, void* user) -> BOOL {
    auto* g = static_cast<Got*>(user);
    std::lock_guard lock(g->mu);
    auto* p = static_cast<const int16_t*>(buf);
    g->s.insert(g->s.end(), p, p + len / 2);
    return 1;
  };
  HRECORD h = BASS_RecordStart(44100, 2, 0, proc, &got);
  ASSERT_NE(h, 0u);
  for (int i = 0; i < 200; ++i) {
    {
      std::lock_guard lock(got.mu);
      if (got.s.size() >= 4096) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_TRUE(BASS_ChannelStop(h));
  ASSERT_TRUE(BASS_RecordFree());
  unsetenv("SDL_AUDIODRIVER");
  unsetenv("TOVARIN_AUDIO_INPUT");
  ASSERT_GE(got.s.size(), 4096u);
  for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(got.s[i], static_cast<int16_t>(i * 7)) << i;
}

// The rhythm in which a lost device (or a dropped stream) is tried again.
TEST(Backoff, DoublesUpToTheLongestAndStartsAgainAfterAReset) {
  using std::chrono::milliseconds;
  tovarin::audio::Backoff b(milliseconds(250), milliseconds(2000));
  for (int ms : {250, 500, 1000, 2000, 2000}) EXPECT_EQ(b.next(), milliseconds(ms));
  b.reset();
  EXPECT_EQ(b.next(), milliseconds(250));
}

// The watcher closes an idle device and opens it again when something
// plays, while the host's thread keeps reading positions and levels: what
// the reopening writes (the device's block and latency) is read race-free
// (ThreadSanitizer checks), and the position still ends at the length.
TEST(SdlDevices, ReopeningTheDeviceWhileTheHostReadsPositionsAndLevels) {
  const std::string raw = use_disk_output("reopen.raw");
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
  const HSTREAM first = make_stream(44100, 2, 2205, noise16);
  const HSTREAM second = make_stream(44100, 2, 4410, noise16);
  std::atomic<bool> done{false};
  std::thread host([&] {
    while (!done) {
      BASS_ChannelGetPosition(second, BASS_POS_BYTE);
      BASS_ChannelGetLevel(second);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const auto play_to_end = [](HSTREAM h) {
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    for (int i = 0; i < 200 && BASS_ChannelIsActive(h) != BASS_ACTIVE_STOPPED; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
  };
  play_to_end(first);
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));  // idle: the device closes
  play_to_end(second);                                           // and opens again
  done = true;
  host.join();
  EXPECT_EQ(BASS_ChannelGetPosition(second, BASS_POS_BYTE), 4410u * 4);
  ASSERT_TRUE(BASS_Free());
  unsetenv("SDL_AUDIODRIVER");
}
