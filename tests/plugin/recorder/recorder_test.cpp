// The WAV recorder through its exports, capturing from the library's file
// input (a tone made by ffmpeg) or its silent input.
#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <csignal>
#include <cstdio>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "host_fixture.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint32_t U32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

// The header of a 44100 Hz stereo file holding 176400 bytes of sound, byte
// for byte, with its two sizes replaced for a file of the given size.
Bytes ExpectedStereoHeader(size_t file_size) {
  Bytes h = {0x52, 0x49, 0x46, 0x46, 0x34, 0xB1, 0x02, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74,
             0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1,
             0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x10, 0xB1, 0x02, 0x00};
  const uint32_t riff = static_cast<uint32_t>(file_size - 8), data = static_cast<uint32_t>(file_size - 44);
  for (int i = 0; i < 4; ++i) {
    h[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    h[40 + i] = static_cast<uint8_t>(data >> (8 * i));
  }
  return h;
}

// A file whose two sizes agree with its length.
void ExpectCompleted(const std::string& path) {
  const Bytes b = ReadAll(path);
  ASSERT_GE(b.size(), 44u) << path;
  EXPECT_EQ(U32(b, 4), b.size() - 8) << path;
  EXPECT_EQ(U32(b, 40), b.size() - 44) << path;
}

class RecorderTest : public PluginTest {
 protected:
  void TearDown() override {
    PluginTest::TearDown();
    unsetenv("TOVARIN_AUDIO_INPUT");
  }

  static void Input(const std::string& choice) { setenv("TOVARIN_AUDIO_INPUT", choice.c_str(), 1); }
  // Record_Init on the silent input: its answer.
  int InitSilence() {
    Input("null");
    return plugin.Record_Init();
  }
  void Start(const std::string& path, int32_t rate, int32_t channels) {
    plugin.SetFile(path.c_str());
    plugin.SetData(rate);
    plugin.SetData(channels);
    plugin.Record_Start();
  }
  // Start, `ms` of capture, then Record_Stop.
  void Record(const std::string& path, int32_t rate, int32_t channels, int ms) {
    Start(path, rate, channels);
    Wait(ms);
    plugin.Record_Stop();
  }
  std::string Devices() { return plugin.Query(plugin.Record_GetDevices); }
  static std::string Out(const std::string& name) { return TempDir() + "/rec-" + name; }
  static void Wait(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  // Waits until the capture has written the file up to `bytes`.
  static void UntilSize(const std::string& path, uintmax_t bytes) {
    std::error_code ec;
    for (int i = 0; i < 3000 && !(std::filesystem::file_size(path, ec) >= bytes && !ec); ++i) Wait(10);
    ASSERT_GE(std::filesystem::file_size(path, ec), bytes) << path;
  }
  // Starts a 44100 Hz stereo capture into `path` and waits for its first sound.
  void StartUntilSound(const std::string& path) {
    Start(path, 44100, 2);
    UntilSize(path, 45);
  }
};

}  // namespace

TEST_F(RecorderTest, CapturesAToneIntoAWavWithTheExactHeaderAndTheSameSamples) {
  const std::string tone = MakeWav("rec-in.wav", 1.0, 44100, 2, 1000.0, true);
  Input("wav:" + tone);
  ASSERT_NE(plugin.Record_Init(), 0);
  const std::string out = Out("tone.wav");
  StartUntilSound(out);
  // Placeholders while it runs.
  Bytes running = ReadAll(out);
  ASSERT_GE(running.size(), 44u);
  EXPECT_EQ(U32(running, 4), 36u);
  EXPECT_EQ(U32(running, 40), 0u);
  UntilSize(out, 44 + 176400 + 17640);  // the whole tone, then 0.1 s of silence
  plugin.Record_Stop();
  const Bytes b = ReadAll(out);
  ASSERT_GT(b.size(), 44u + 176400u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 44), ExpectedStereoHeader(b.size()));
  EXPECT_EQ((b.size() - 44) % 4, 0u);
  // ffmpeg reads both; the capture begins with the tone, sample for sample.
  WavData in, rec;
  ASSERT_TRUE(ReadWav(tone, in));
  ASSERT_TRUE(ReadWav(out, rec));
  ASSERT_GE(rec.samples.size(), in.samples.size());
  size_t diffs = 0;
  for (size_t i = 0; i < in.samples.size(); ++i) diffs += in.samples[i] != rec.samples[i];
  EXPECT_EQ(diffs, 0u);
  for (size_t i = in.samples.size(); i < rec.samples.size(); ++i) ASSERT_EQ(rec.samples[i], 0) << i;
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(RecorderTest, RefusedInitStillRecordsAnEmptyFileReplacingAnOldOne) {
  Input("wav:/nonexistent/input.wav");
  EXPECT_EQ(plugin.Record_Init(), 0);
  const std::string out = Out("empty.wav");
  { std::ofstream(out) << std::string(1000, 'x'); }
  Record(out, 44100, 2, 100);
  const Bytes b = ReadAll(out);
  ASSERT_EQ(b.size(), 44u);
  EXPECT_EQ(U32(b, 4), 36u);
  EXPECT_EQ(U32(b, 40), 0u);
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(RecorderTest, StartAndStopAreIgnoredWhenAlreadyInThatState) {
  ASSERT_NE(InitSilence(), 0);
  plugin.Record_Stop();  // nothing to stop
  const std::string first = Out("first.wav"), second = Out("second.wav");
  std::filesystem::remove(second);
  StartUntilSound(first);
  const auto before = std::filesystem::file_size(first);
  Start(second, 44100, 2);
  EXPECT_FALSE(std::filesystem::exists(second));
  UntilSize(first, before + 1);  // the first goes on
  plugin.Record_Stop();
  const Bytes done = ReadAll(first);
  plugin.Record_Stop();
  Wait(100);
  EXPECT_EQ(ReadAll(first), done);
  ExpectCompleted(first);
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(RecorderTest, AFileThatCannotBeCreatedShowsStartRecordErrorAndStaysIdle) {
  EXPECT_EQ(Devices(), "");  // no capture device yet
  ASSERT_NE(InitSilence(), 0);
  EXPECT_EQ(Devices(), "Silence#");
  Start("/nonexistent-folder/x.wav", 44100, 2);
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"Start Record Error"});
  // Still idle: the next start goes ahead.
  const std::string out = Out("after-error.wav");
  Record(out, 44100, 2, 100);
  ExpectCompleted(out);
  EXPECT_EQ(MessageBoxes().size(), 1u);
}

TEST_F(RecorderTest, ANewInitCompletesTheFileOfACaptureStillRunning) {
  ASSERT_NE(InitSilence(), 0);
  const std::string first = Out("replaced.wav");
  StartUntilSound(first);
  plugin.Record_Init();  // the device is open already: the library says 0
  ExpectCompleted(first);
  const Bytes done = ReadAll(first);
  EXPECT_GT(done.size(), 44u);
  // The new recorder records on its own.
  const std::string second = Out("next.wav");
  StartUntilSound(second);
  EXPECT_EQ(ReadAll(first), done);  // nothing more reaches the first file
  plugin.Record_Stop();
  ExpectCompleted(second);
  EXPECT_GT(std::filesystem::file_size(second), 44u);
}

#if !defined(_WIN32)
TEST_F(RecorderTest, UnloadingWhileRecordingCompletesTheFile) {
  ASSERT_NE(InitSilence(), 0);
  const std::string out = Out("unload.wav");
  StartUntilSound(out);
  plugin.Unload();
  ExpectCompleted(out);
  EXPECT_GT(std::filesystem::file_size(out), 44u);
}
#else
// Windows cannot end the capture from the library's unload (the loader's
// lock is held there), so an unloaded library that records stays loaded and
// goes on recording; the file is completed when the process ends. A child
// process (this test again) records, unloads and ends without a stop.
TEST_F(RecorderTest, UnloadingWhileRecordingCompletesTheFileWhenTheProcessEnds) {
  if (const char* child_out = std::getenv("TOVARIN_TEST_RECORD_AND_END")) {
    ASSERT_NE(InitSilence(), 0);
    Start(child_out, 44100, 2);
    Wait(200);
    plugin.Unload();
    Wait(100);
    std::exit(0);
  }
  const std::string out = Out("unload.wav");
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string line = std::string("\"") + self +
                     "\" --gtest_filter=" + ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() +
                     "." + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  setenv("TOVARIN_TEST_RECORD_AND_END", out.c_str(), 1);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const bool started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  unsetenv("TOVARIN_TEST_RECORD_AND_END");
  ASSERT_TRUE(started);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(code, 0u);
  ExpectCompleted(out);
  EXPECT_GT(std::filesystem::file_size(out), 44u);
}
#endif

#if !defined(_WIN32)  // a file-size limit is a POSIX resource limit
TEST_F(RecorderTest, AStopWhoseSizePatchFailsStillEndsTheRecordingAndSaysSo) {
  ASSERT_NE(InitSilence(), 0);
  const std::string out = Out("full.wav");
  StartUntilSound(out);
  // A disk that takes no more: writes fail with EFBIG instead of a signal.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit tiny = old;
  tiny.rlim_cur = 4;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  plugin.Record_Stop();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"Stop Record Error"});
  // Closed: no descriptor of this process names the file any more.
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    EXPECT_NE(std::filesystem::read_symlink(fd.path(), ec).string(), out);
  }
  // Idle again: a second stop does nothing, a start records anew.
  plugin.Record_Stop();
  EXPECT_EQ(MessageBoxes().size(), 1u);
  const std::string next = Out("next.wav");
  Record(next, 44100, 2, 200);
  ExpectCompleted(next);
  EXPECT_EQ(MessageBoxes().size(), 1u);
}

#endif

TEST_F(RecorderTest, RateOrChannelsZeroGiveAHeaderOfTheFormatCaptured) {
  ASSERT_NE(InitSilence(), 0);
  struct Case {
    int32_t rate, channels;
    const char* probed;  // ffprobe's rate,channels
  } cases[] = {{0, 0, "44100,2"}, {22050, 0, "22050,2"}, {0, 1, "44100,1"}};
  for (const Case& c : cases) {
    const std::string out = Out("zero-" + std::to_string(c.rate) + "-" + std::to_string(c.channels) + ".wav");
    SCOPED_TRACE(out);
    Record(out, c.rate, c.channels, 200);
    ExpectCompleted(out);
    const Bytes b = ReadAll(out);
    ASSERT_GE(b.size(), 44u);
    const uint32_t rate = U32(b, 24), channels = b[22] | (b[23] << 8);
    EXPECT_EQ(U32(b, 28), rate * channels * 2);     // byte rate
    EXPECT_EQ(b[32] | (b[33] << 8), channels * 2);  // block align
    EXPECT_EQ((b.size() - 44) % (channels * 2), 0u);
    FILE* p =
        popen(("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 '" + out + "'").c_str(), "r");
    ASSERT_TRUE(p);
    char line[64] = {};
    const bool got = fgets(line, sizeof line, p) != nullptr;
    pclose(p);
    ASSERT_TRUE(got);
    EXPECT_EQ(std::string(line).substr(0, std::string(line).find('\n')), c.probed);
  }
  EXPECT_TRUE(MessageBoxes().empty());
}
