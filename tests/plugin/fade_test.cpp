// Transport with volume fades, heard through the wav: output.
#include <unistd.h>
#if defined(_WIN32)
#include <windows.h>
// windows.h first
#include <tlhelp32.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host_fixture.hpp"

namespace {

// Peak of the left channel in each millisecond of the output.
std::vector<int> Envelope(const WavData& wav) {
  std::vector<int> env;
  const size_t per_ms = static_cast<size_t>(wav.rate / 1000) * wav.channels;
  for (size_t i = 0; i + per_ms <= wav.samples.size(); i += per_ms) {
    int peak = 0;
    for (size_t j = i; j < i + per_ms; j += wav.channels) peak = std::max(peak, std::abs(int(wav.samples[j])));
    env.push_back(peak);
  }
  return env;
}

int FirstAtLeast(const std::vector<int>& env, int level, size_t from = 0) {
  for (size_t i = from; i < env.size(); ++i)
    if (env[i] >= level) return static_cast<int>(i);
  return -1;
}

class FadeTest : public WavOutputTest {
 protected:
  // The envelope of what was heard (the library is freed first).
  std::vector<int> Heard() { return Envelope(WavOutputTest::Heard()); }

  // A steady sine of amplitude 0.5: full volume peaks near 16384.
  static constexpr int kFull = 16384;
};

}  // namespace

TEST_F(FadeTest, PlayFadesInFromSilenceOverVolumeSteps) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("tone.wav", 3.0, 44100, 2, 1000.0)));
  plugin.Bass_Play();  // returns at once; the fade runs as we pump
  PumpFor(800);
  const auto env = Heard();
  const int start = FirstAtLeast(env, kFull / 20);
  ASSERT_GE(start, 0) << "nothing was heard";
  const int full = FirstAtLeast(env, kFull * 9 / 10, start);
  ASSERT_GT(full, start);
  // Volume 100: a hundred steps at least a millisecond apart; from 5 % to
  // 90 % of the volume is 85 of them.
  EXPECT_GE(full - start, 80) << "rise in " << (full - start) << " ms";
  // Nothing before the fade's first step.
  for (int i = 0; i < start; ++i) ASSERT_LT(env[i], kFull / 20);
}

TEST_F(FadeTest, StopFadesOutThenStopsAndPlayStartsAgainFromZero) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("long.wav", 10.0, 44100, 2, 1000.0)));
  plugin.Bass_Play();
  PumpFor(2600);
  const int before = plugin.Position();
  EXPECT_GE(before, 2);
  plugin.Bass_Stop();
  PumpFor(600);
  const uint32_t form = Form();
  EXPECT_FALSE(tovui_is_visible(form));  // the stop's last step hides the form
  const int stopped_at = plugin.Position();
  PumpFor(300);
  EXPECT_EQ(plugin.Position(), stopped_at);  // stopped, not fading any more

  plugin.Bass_Play();
  PumpFor(400);
  EXPECT_EQ(plugin.Position(), 0);  // rewound to 0 s
  PumpFor(1200);
  EXPECT_GE(plugin.Position(), 1);

  const auto env = Heard();
  // The fade out: from 90 % down to 5 % takes most of the hundred steps.
  const int loud_from = FirstAtLeast(env, kFull * 9 / 10);
  ASSERT_GE(loud_from, 0);
  int fall_start = -1, fall_end = -1;
  for (size_t i = loud_from; i < env.size(); ++i) {
    if (fall_start < 0 && env[i] < kFull * 9 / 10) fall_start = static_cast<int>(i);
    if (fall_start >= 0 && env[i] < kFull / 20) {
      fall_end = static_cast<int>(i);
      break;
    }
  }
  ASSERT_GT(fall_start, 0);
  ASSERT_GT(fall_end, fall_start);
  EXPECT_GE(fall_end - fall_start, 80) << "fall in " << (fall_end - fall_start) << " ms";
}

TEST_F(FadeTest, PauseFadesOutAndPlayGoesOnWhereItPaused) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("pause.wav", 10.0, 44100, 2, 1000.0)));
  plugin.Bass_Play();
  PumpFor(2600);
  plugin.Bass_Pause();
  PumpFor(500);
  const int paused_at = plugin.Position();
  EXPECT_GE(paused_at, 2);
  PumpFor(500);
  EXPECT_EQ(plugin.Position(), paused_at);
  plugin.Bass_Play();
  PumpFor(1500);
  EXPECT_GE(plugin.Position(), paused_at + 1);
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(FadeTest, VolumeZeroMakesTransportDoNothing) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("zero.wav", 3.0, 44100, 2, 1000.0)));
  plugin.SetVolume(0);
  plugin.Bass_Play();
  PumpFor(600);
  EXPECT_EQ(plugin.Position(), 0);
  const auto env = Heard();
  EXPECT_EQ(FirstAtLeast(env, 1), -1) << "something was heard";
}

TEST_F(FadeTest, StopDuringQueuedPlayStepsTurnsThemIntoStops) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("race.wav", 3.0, 44100, 2, 1000.0)));
  plugin.Bass_Play();
  // Answer the worker's volume request only, then let it queue its hundred
  // play steps while this thread does not pump.
  ASSERT_EQ(tovui_pump(2000), 1);
  // (100 steps of 1 ms: a loaded machine may need several times that.)
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  plugin.Bass_Stop();
  PumpFor(800);
  PumpUntil([&] { return !tovui_is_visible(Form()); }, 5000);
  // Steps 1 and 2 stopped instead of playing; the rest only set volumes,
  // and the stop's own fade followed.
  EXPECT_EQ(plugin.Position(), 0);
  EXPECT_FALSE(tovui_is_visible(Form()));
  // Volume ended where it was: the next play fades in over 100 steps again.
  plugin.Bass_Play();
  PumpFor(800);
  const auto env = Heard();
  const int start = FirstAtLeast(env, kFull / 20);
  ASSERT_GE(start, 0);
  const int full = FirstAtLeast(env, kFull * 9 / 10, start);
  EXPECT_GE(full - start, 80);
}

namespace {
// Fade workers alive in this process, by the name they give their threads.
#if defined(_WIN32)
int FadeThreads() {
  using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  static const auto get = reinterpret_cast<GetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetThreadDescription")));
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (!get || snapshot == INVALID_HANDLE_VALUE) return -1;
  int n = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
    PWSTR name = nullptr;
    if (thread && SUCCEEDED(get(thread, &name)) && name) {
      if (std::wstring(name) == L"tovarin-fade") ++n;
      LocalFree(name);
    }
    if (thread) CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return n;
}
#else
int FadeThreads() {
  int n = 0;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    if (std::getline(comm, name) && name == "tovarin-fade") ++n;
  }
  return n;
}
#endif
}  // namespace

TEST_F(FadeTest, WorkersStayFewAndAHugeVolumeFadesInAboutTwoSeconds) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("busy.wav", 10.0, 44100, 2, 1000.0)));
  int most = 0;
  // Play and stop every few milliseconds: one running fade, one waiting.
  for (int i = 0; i < 50; ++i) {
    plugin.Bass_Play();
    PumpFor(3);
    plugin.Bass_Stop();
    PumpFor(3);
    most = std::max(most, FadeThreads());
  }
  EXPECT_LE(most, 2);
  // 2^31-1 percent: a play fade of that many 1 ms steps would last 24 days.
  plugin.SetVolume(INT32_MAX);
  plugin.Bass_Play();
  for (int i = 0; i < 20; ++i) {
    plugin.Bass_Stop();
    PumpFor(2);
    plugin.Bass_Play();
    PumpFor(2);
    most = std::max(most, FadeThreads());
  }
  EXPECT_LE(most, 2);
  // The running fade and the waiting one, about 2 s each at most.
  EXPECT_TRUE(PumpUntil([] { return FadeThreads() == 0; }, 8000));
  PumpFor(100);  // their last steps, still queued, set volumes of their own
  ASSERT_EQ(FadeThreads(), 0);
  // Alone, a play fade of 2^31-1 percent takes about 2 s, then plays.
  plugin.SetVolume(INT32_MAX);
  const auto t0 = std::chrono::steady_clock::now();
  plugin.Bass_Play();
  EXPECT_TRUE(PumpUntil([] { return FadeThreads() == 0; }, 8000));
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_GT(took, std::chrono::milliseconds(1500));
  EXPECT_LT(took, std::chrono::seconds(6));
  EXPECT_GE(plugin.Position(), 1);
  // Bass_Free ends a fade under way.
  plugin.Bass_Stop();
  PumpFor(20);
  plugin.Bass_Free();
  EXPECT_EQ(FadeThreads(), 0);
  EXPECT_TRUE(MessageBoxes().empty());
}
