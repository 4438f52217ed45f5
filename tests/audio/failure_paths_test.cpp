// Failure paths and hand-offs between threads: every create path walked with
// each of its injection points failing in turn, calls that wait on a stream
// without holding up the others, and samples at full scale.
#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include "common/fault_plan.hpp"
#include "test_support.hpp"

using namespace audio_test;
using tovarin::audio::library;

namespace {

using Clock = std::chrono::steady_clock;

// A source whose seek waits until the test lets it go (or 2 s pass).
class SlowSeekSource : public SynthSource {
 public:
  SlowSeekSource() : SynthSource(44100, 2, 441000, noise16) {}
  std::promise<void> entered;
  std::shared_future<void> release;
  bool seek_to(int64_t frame) override {
    entered.set_value();
    release.wait_for(std::chrono::seconds(2));
    return SynthSource::seek_to(frame);
  }
};

}  // namespace

TEST_F(LibraryTest, ASeekThatWaitsForItsDecoderHoldsUpNoOtherStream) {
  auto slow = std::make_unique<SlowSeekSource>();
  std::promise<void> release;
  slow->release = release.get_future().share();
  auto entered = slow->entered.get_future();
  const HSTREAM seeking = tovarin::audio::create_stream_from_source(std::move(slow), 0);
  const HSTREAM other = make_stream(44100, 2, 44100, noise16);
  ASSERT_TRUE(seeking && other);
  play(other, 5);

  std::atomic<bool> seek_done{false};
  std::thread seeker([&] {
    EXPECT_TRUE(BASS_ChannelSetPosition(seeking, 4 * 4410, BASS_POS_BYTE));
    seek_done = true;
  });
  entered.wait();
  const auto t0 = Clock::now();
  EXPECT_EQ(BASS_ChannelGetPosition(other, BASS_POS_BYTE), 5u * 441 * 4);
  EXPECT_NE(BASS_ChannelGetLevel(other), static_cast<DWORD>(-1));
  EXPECT_TRUE(BASS_ChannelSetAttribute(other, BASS_ATTRIB_VOL, 0.5f));
  const auto took = Clock::now() - t0;
  // Answered while the seek still waits: nothing waited behind it.
  EXPECT_FALSE(seek_done.load());
  release.set_value();
  seeker.join();
  EXPECT_TRUE(seek_done.load());
  std::printf("calls on another stream during a seek: %.2f ms\n",
              std::chrono::duration<double, std::milli>(took).count());
  EXPECT_EQ(BASS_ChannelGetPosition(seeking, BASS_POS_BYTE), 4u * 4410);
}

TEST(RecordingCallbacks, ACallbackThatCallsTheLibraryDoesNotDeadlockAStopOrAFree) {
  setenv("TOVARIN_AUDIO_INPUT", "null", 1);
  ASSERT_TRUE(BASS_RecordInit(-1));
  std::atomic<int> calls{0};
  RECORDPROC* proc = [](HRECORD h, const void*, DWORD, void* user) -> BOOL {
    BASS_ChannelIsActive(h);  // takes the library's lock
    BASS_CHANNELINFO info;
    BASS_ChannelGetInfo(h, &info);
    ++*static_cast<std::atomic<int>*>(user);
    return 1;
  };
  const HRECORD a = BASS_RecordStart(8000, 1, 0, proc, &calls);
  const HRECORD b = BASS_RecordStart(8000, 1, 0, proc, &calls);
  ASSERT_TRUE(a && b);
  for (int i = 0; i < 200 && calls < 6; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(calls.load(), 6);
  // Each blocks forever if it waits for a capture thread while holding the
  // lock that thread's callback is waiting for.
  auto stopped = std::async(std::launch::async, [&] { return BASS_ChannelStop(a) && BASS_RecordFree(); });
  if (stopped.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "stopping a recording whose callback calls the library deadlocked";
    std::_Exit(1);
  }
  EXPECT_TRUE(stopped.get());
  EXPECT_EQ(BASS_ChannelIsActive(b), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
  unsetenv("TOVARIN_AUDIO_INPUT");
}

// A 16-bit pull clips at both ends: +1 and beyond give 32767 (never a wrap
// to -32768), -1 and beyond -32768; the float pull passes values through.
TEST_F(LibraryTest, SixteenBitSamplesClipAtFullScaleAndFloatsPassThrough) {
  const float in[] = {1.0f, 1.5f, 0.99999f, -1.0f, -1.5f, 0.5f, -0.5f, 100.f};
  const int16_t want[] = {32767, 32767, 32767, -32768, -32768, 16384, -16384, 32767};
  constexpr int kN = std::size(in);
  const HSTREAM h = make_stream(
      44100, 1, kN, [&](int64_t f, int) { return in[f]; }, BASS_STREAM_DECODE);
  ASSERT_TRUE(h);
  int16_t pcm[kN] = {};
  ASSERT_EQ(BASS_ChannelGetData(h, pcm, sizeof pcm), sizeof pcm);
  for (int i = 0; i < kN; ++i) EXPECT_EQ(pcm[i], want[i]) << in[i];

  ASSERT_TRUE(BASS_ChannelSetPosition(h, 0, BASS_POS_BYTE));
  float floats[kN] = {};
  ASSERT_EQ(BASS_ChannelGetData(h, floats, sizeof floats | BASS_DATA_FLOAT), sizeof floats);
  for (int i = 0; i < kN; ++i) EXPECT_EQ(floats[i], in[i]);

  // The wav: output clips what the mixer hands it the same way.
  const HSTREAM loud =
      make_stream(44100, 2, 4410, [](int64_t f, int c) { return (f % 2 ? 1.5f : -1.5f) * (c ? -1 : 1); });
  play(loud, 12);
  const Wav out = finish();
  ASSERT_TRUE(out.valid);
  size_t first = 0;
  while (first < out.frames() && out.at(first, 0) == 0) ++first;
  ASSERT_LT(first + 100, out.frames());
  for (size_t f = first + 10; f < first + 100; ++f) {
    const bool high = (f - first) % 2 != 0;
    EXPECT_EQ(out.at(f, 0), high ? 32767 : -32768) << f;
    EXPECT_EQ(out.at(f, 1), high ? -32768 : 32767) << f;
  }
}

#ifdef TOVARIN_FAULT_INJECTION

namespace {
size_t live_streams() {
  std::lock_guard lock(library().mu);
  return library().streams.all().size();
}
size_t live_effects() {
  std::lock_guard lock(library().mu);
  return library().fxs.all().size();
}

// A failed create answers 0 with a fault's or a refusal's code, never
// "no error".
void expect_failure_code() {
  const int code = BASS_ErrorGetCode();
  EXPECT_TRUE(code == BASS_ERROR_MEM || code == BASS_ERROR_UNKNOWN || code == BASS_ERROR_FILEOPEN ||
              code == BASS_ERROR_DEVICE)
      << code;
}

// Points of each path, printed once the walks are done.
void report_points(const char* path, long points) { std::printf("injection points: %-24s %ld\n", path, points); }
}  // namespace

TEST(FaultWalk, InitAndFreeFailCleanlyAtEveryPoint) {
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  const long points = fault_plan::Walk(
      [] {
        if (!BASS_Init(-1, 44100, 0, 0, nullptr)) {
          expect_failure_code();
          return;
        }
        BASS_Free();
      },
      [] {
        BASS_Free();  // when the walk made BASS_Free itself fail
        ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
        ASSERT_TRUE(BASS_Free());
      });
  EXPECT_GE(points, 5);
  report_points("BASS_Init + BASS_Free", points);
}

// Each create path: a failure leaves no handle behind, and the library
// makes the same object at once when asked again.
TEST_F(LibraryTest, EveryCreatePathFailsCleanlyAtEveryPoint) {
  const std::string wav = temp_file("walk.wav");
  ASSERT_TRUE(testwav::write(wav, 22050, 2, std::vector<int16_t>(2 * 2205, 1000)));
  struct Path {
    const char* name;
    std::function<DWORD()> create;
  };
  const HSTREAM host = make_stream(44100, 2, -1, noise16);
  const Path paths[] = {
      {"BASS_StreamCreateFile", [&] { return BASS_StreamCreateFile(0, wav.c_str(), 0, 0, 0); }},
      {"decoding stream", [&] { return BASS_StreamCreateFile(0, wav.c_str(), 0, 0, BASS_STREAM_DECODE); }},
      // As BASS_StreamCreateURL makes it once the source is open.
      {"stream of an open source",
       [] { return tovarin::audio::guarded<HSTREAM>(0, [] { return make_stream(44100, 2, 4410, noise16); }); }},
      {"BASS_ChannelSetFX", [&] { return BASS_ChannelSetFX(host, BASS_FX_DX8_ECHO, 1); }},
  };
  for (const Path& path : paths) {
    SCOPED_TRACE(path.name);
    const size_t streams = live_streams(), effects = live_effects();
    DWORD made = 0;
    const auto free_made = [&] {
      if ((made >> 30) == 2) {
        EXPECT_TRUE(BASS_ChannelRemoveFX(host, made));
      } else if (made) {
        EXPECT_TRUE(BASS_StreamFree(made));
      }
      made = 0;
    };
    const long points = fault_plan::Walk(
        [&] {
          made = path.create();
          if (!made) {
            expect_failure_code();
            EXPECT_EQ(live_streams(), streams);
            EXPECT_EQ(live_effects(), effects);
          }
        },
        [&] {
          free_made();
          made = path.create();
          ASSERT_NE(made, 0u);
          free_made();
          EXPECT_EQ(live_streams(), streams);
          EXPECT_EQ(live_effects(), effects);
        });
    EXPECT_GE(points, 2);
    report_points(path.name, points);
  }
}

TEST(FaultWalk, RecordInitAndStartFailCleanlyAtEveryPoint) {
  setenv("TOVARIN_AUDIO_INPUT", "null", 1);
  RECORDPROC* proc = [](HRECORD, const void*, DWORD, void*) -> BOOL { return 1; };
  const long init_points = fault_plan::Walk(
      [] {
        if (!BASS_RecordInit(-1)) expect_failure_code();
      },
      [] {
        BASS_RecordFree();
        ASSERT_TRUE(BASS_RecordInit(-1));
        ASSERT_TRUE(BASS_RecordFree());
      });
  report_points("BASS_RecordInit", init_points);
  ASSERT_TRUE(BASS_RecordInit(-1));
  HRECORD made = 0;
  const long start_points = fault_plan::Walk(
      [&] {
        made = BASS_RecordStart(8000, 1, 0, proc, nullptr);
        if (!made) {
          expect_failure_code();
          std::lock_guard lock(library().mu);
          EXPECT_TRUE(library().records.all().empty());
        }
      },
      [&] {
        if (made) {
          EXPECT_TRUE(BASS_ChannelStop(made));
        }
        made = BASS_RecordStart(8000, 1, 0, proc, nullptr);
        ASSERT_NE(made, 0u);
        EXPECT_TRUE(BASS_ChannelStop(made));
        made = 0;
      });
  report_points("BASS_RecordStart", start_points);
  EXPECT_GE(init_points, 2);
  EXPECT_GE(start_points, 3);
  EXPECT_TRUE(BASS_RecordFree());
  unsetenv("TOVARIN_AUDIO_INPUT");
}

#endif
