// A host with a floating-point environment of its own: Delphi's (invalid
// operation, divide by zero and overflow unmasked) on Windows, the same
// through feenableexcept on Linux, under each rounding mode. Every export the
// host calls is checked on the way back: the host finds its control words as
// it set them and no exception flag that it did not have. Nothing may trap,
// and the answers are those of a host in the default environment.
#include <cfenv>
#include <fstream>
#include <string>
#include <vector>

#include "common/wav.hpp"
#include "host_fixture.hpp"

namespace {

// The host's x86 floating-point state: the x87 unit and SSE.
struct FpState {
  uint16_t x87_control = 0, x87_flags = 0;
  uint32_t mxcsr = 0;

  static FpState Now() {
    FpState s;
    uint16_t status;
    asm volatile("fnstcw %0" : "=m"(s.x87_control));
    asm volatile("fnstsw %0" : "=m"(status));
    asm volatile("stmxcsr %0" : "=m"(s.mxcsr));
    s.x87_flags = status & 0x3F;
    return s;
  }
  uint32_t mxcsr_control() const { return mxcsr & ~0x3Fu; }
  uint32_t flags() const { return (mxcsr & 0x3Fu) | (uint32_t{x87_flags} << 8); }
};

FpState g_host;     // as the host set it
Plugin g_real;      // the exports themselves
int g_changed = 0;  // exports after which the host's state was not its own

void ExpectHostState(const char* after, const FpState& before, bool flags = true) {
  const FpState now = FpState::Now();
  const bool same = now.x87_control == g_host.x87_control && now.mxcsr_control() == g_host.mxcsr_control() &&
                    (!flags || (now.flags() & ~before.flags()) == 0);
  if (!same && ++g_changed <= 5)
    ADD_FAILURE() << "after " << after << std::hex << ": x87 control " << now.x87_control << " (host "
                  << g_host.x87_control << "), MXCSR " << now.mxcsr << " (host " << g_host.mxcsr << "), flags "
                  << now.flags() << " (before " << before.flags() << ")";
}

// Each export, called through a check of the host's state.
#define CHECKED_EXPORT(name, ordinal, ret, params, args) \
  ret Checked_##name params {                            \
    struct Check {                                       \
      FpState before = FpState::Now();                   \
      ~Check() { ExpectHostState(#name, before); }       \
    } check;                                             \
    return g_real.name args;                             \
  }
TOVARIN_PLUGIN_EXPORTS(CHECKED_EXPORT)
#undef CHECKED_EXPORT

// Rounding modes: x87 RC bits 10-11 and MXCSR RC bits 13-14 hold the same code.
enum Rounding { kNearest = 0, kDown = 1, kUp = 2, kTowardZero = 3 };

// Loads both control words, with no exception flag raised.
void LoadControl(uint16_t x87, uint32_t mxcsr) {
  asm volatile("fnclex");
  asm volatile("fldcw %0" : : "m"(x87));
  asm volatile("ldmxcsr %0" : : "m"(mxcsr));
}

void SetHostEnvironment(Rounding rounding) {
#if defined(_WIN32)
  // A Delphi program's: x87 0x1332 and MXCSR 0x1900 (PM UM DM masked), here
  // with the rounding mode asked for.
  LoadControl(static_cast<uint16_t>(0x1332 | rounding << 10), 0x1900u | uint32_t(rounding) << 13);
#else
  static const int kModes[] = {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO};
  std::fesetround(kModes[rounding]);
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
#endif
  g_host = FpState::Now();
}

// A 16-bit PCM WAV of silence, exact to the byte (the bit rate depends on
// the file's size).
std::string WriteWav(const std::string& name, uint32_t rate, uint16_t channels, uint32_t frames) {
  const std::string path = TempDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << testwav::header(rate, channels, 16, frames * channels * 2u)
                                        << std::string(frames * channels * 2u, '\0');
  return path;
}

class HostFpTest : public PluginTest, public ::testing::WithParamInterface<Rounding> {
 protected:
  void SetUp() override {
    g_changed = 0;
    SetHostEnvironment(GetParam());
    const FpState before = FpState::Now();
    PluginTest::SetUp();  // loads the plug-in in the host's environment
#if defined(_WIN32)
    ExpectHostState("loading", before);
#else
    // Loading Plugin.so loads FFmpeg's system libraries first, and some of
    // their constructors leave the inexact flag raised before any code of
    // the plug-in runs: only the control words are the plug-in's to keep.
    ExpectHostState("loading", before, false);
#endif
    LoadControl(g_host.x87_control, g_host.mxcsr_control());  // any flag from here on is the plug-in's
    g_real = plugin;
#define USE_CHECKED(name, ...) plugin.name = &Checked_##name;
    TOVARIN_PLUGIN_EXPORTS(USE_CHECKED)
#undef USE_CHECKED
  }
  void TearDown() override {
    const FpState before = FpState::Now();
    PluginTest::TearDown();  // Bass_Free, then unloading
    ExpectHostState("unloading", before);
    LoadControl(0x037F, 0x1F80);
  }
  void Pump(int ms) {
    const FpState before = FpState::Now();
    PumpFor(ms);  // the form's timers and fade steps, on this thread
    ExpectHostState("pumping", before);
  }
  std::string Query(void (*op)()) { return plugin.Query(op); }
};

// The whole session once, in Delphi's environment with rounding to nearest.
using HostFpSession = HostFpTest;
TEST_P(HostFpSession, NeitherTrapsNorChangesTheHostsEnvironment) {
  StartPlayer();
  plugin.Draw(0, 0, 0, 300, 200);
  const std::string silent = WriteWav("silent.wav", 44100, 2, 88200);
  const std::string empty = WriteWav("empty.wav", 44100, 2, 0);
  plugin.ChannelNum(2);
  plugin.Create(empty);
  EXPECT_EQ(Query(plugin.Bass_GetLength), "0");
  EXPECT_EQ(Query(plugin.Bass_GetBit), "0");  // no length: no rate
  plugin.ChannelNum(1);
  ASSERT_TRUE(plugin.Create(silent));

  // All effects, with sound values (their float texts first, then any
  // integer texts), and the ten bands.
  const struct {
    void (*create)();
    void (*set)();
    std::vector<const char*> texts;
    size_t floats;
  } effects[] = {{plugin.Bass_CreateFlanger, plugin.Bass_SetFlanger, {"50", "100", "2", "-50", "0.25", "1", "2"}, 5},
                 {plugin.Bass_CreateChorus, plugin.Bass_SetChorus, {"50", "10", "16", "25", "1.1", "1", "3"}, 5},
                 {plugin.Bass_CreateReverb, plugin.Bass_SetReverb, {"-3", "-10", "1000", "0.5"}, 4},
                 {plugin.Bass_CreateEcho, plugin.Bass_SetEcho, {"50", "50", "300", "300"}, 4},
                 {plugin.Bass_CreateCompressor, plugin.Bass_SetCompressor, {"6", "10", "200", "-20", "3", "4"}, 6}};
  for (const auto& e : effects) {
    e.create();
    for (const char* t : e.texts) plugin.SetFile(t);
    plugin.SetData(1);  // the echo's pan delay
    e.set();
  }
  plugin.Bass_CreateEQ();
  for (int band = 0; band < 10; ++band) {
    for (int32_t v : {band, band - 5, 12}) plugin.SetData(v);  // band, gain dB, bandwidth semitones
    plugin.Bass_EqSet();
  }

  // Play with the spectrum in both modes, levels and queries.
  plugin.SetVolume(100);
  for (const char* mode : {"first", "second"}) {
    plugin.SetFile(mode);
    plugin.SetFile("255#000#000#000#000#255#");
    for (int32_t v : {5, 10, 20, 100}) plugin.SetData(v);  // width, interval, count, height
    plugin.StartDraw();
    plugin.Bass_Play();
    Pump(300);
    Query(plugin.Bass_GetLLevel), Query(plugin.Bass_GetRLevel), Query(plugin.Bass_GetCPU);
    EXPECT_EQ(Query(plugin.Bass_GetBit), "1412");
    plugin.SetData(1);
    plugin.Bass_SetPosition();
    plugin.Bass_Pause();
    Pump(200);
  }
  plugin.StopDraw();

  // Float texts at and past the float and double ranges: the nearest float,
  // an infinity past the range, which the effects refuse; no message.
  for (const char* t : {"3.4028235e38", "3.5e38", "-1e39", "1e309", "1e400", "-1e400", "1e-46", "1e-400"}) {
    for (const auto& e : effects) {
      for (size_t i = 0; i < e.texts.size(); ++i) plugin.SetFile(i < e.floats ? t : e.texts[i]);
      e.set();
    }
  }
  EXPECT_TRUE(MessageBoxes().empty()) << MessageBoxes().front();
  // A message box still shows, its loop running on the host's thread.
  for (int i = 0; i < 4; ++i) plugin.SetFile("abc");
  plugin.Bass_SetEcho();
  EXPECT_EQ(MessageBoxes().size(), 1u);
  plugin.Bass_Stop();
  Pump(300);
  EXPECT_EQ(g_changed, 0);
}

// Lengths, positions and bit rates whose rounding matters: 9.37 s (1411.74 ->
// 1412 kbit/s), 8 kHz mono 9.37 s (128.54 -> 129) and 0.718375 s (128.99 ->
// 129, length 0.72 -> 1).
TEST_P(HostFpTest, AnswersAreThoseOfTheDefaultEnvironment) {
  StartPlayer();
  struct File {
    std::string path;
    const char *length, *bit;
  } files[] = {{WriteWav("cd.wav", 44100, 2, 413217), "9", "1412"},
               {WriteWav("mono.wav", 8000, 1, 74960), "9", "129"},
               {WriteWav("short.wav", 8000, 1, 5747), "1", "129"}};
  int32_t slot = 1;
  for (const File& f : files) {
    plugin.ChannelNum(slot++);
    ASSERT_TRUE(plugin.Create(f.path));
    EXPECT_EQ(Query(plugin.Bass_GetLength), f.length) << f.path;
    EXPECT_EQ(Query(plugin.Bass_GetBit), f.bit) << f.path;
  }
  plugin.ChannelNum(1);
  plugin.SetData(5);
  plugin.Bass_SetPosition();
  EXPECT_EQ(Query(plugin.Bass_GetPosition), "5");
  EXPECT_EQ(plugin.Format("3725"), "02:05");
  EXPECT_EQ(plugin.Format("-1"), "28:15");
  EXPECT_EQ(g_changed, 0);
}

INSTANTIATE_TEST_SUITE_P(Delphi, HostFpSession, ::testing::Values(kNearest));
std::string ModeName(const ::testing::TestParamInfo<Rounding>& info) {
  static const char* const kNames[] = {"Nearest", "Down", "Up", "TowardZero"};
  return kNames[info.param];
}
INSTANTIATE_TEST_SUITE_P(Rounding, HostFpTest, ::testing::Values(kNearest, kDown, kUp, kTowardZero), ModeName);

}  // namespace
