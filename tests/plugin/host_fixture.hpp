// A test host: loads Plugin.so with dlopen, lends it a window, records the
// message boxes it shows, and pumps the window system while it waits.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <tovarin/plugin.h>
#include <tovarin/ui.h>

struct Plugin {
  void* library = nullptr;
#define PLUGIN_FIELD(name, ...) decltype(&::name) name = nullptr;
  TOVARIN_PLUGIN_EXPORTS(PLUGIN_FIELD)
#undef PLUGIN_FIELD

  bool Load();  // from TOVARIN_PLUGIN_PATH
  void Unload();

  std::string Query(void (*op)());
  std::string Format(const std::string& seconds);
  std::string Tag(const std::string& key);
  int32_t ChannelNum(int32_t slot);
  bool Create(const std::string& source);
  void SetVolume(int32_t percent);
  int Position();
};

// Records every message box and closes it at once.
std::vector<std::string>& MessageBoxes();
void InstallRecordingPresenter();

// Pumps the calling thread's window system until pred holds or the timeout
// passes; returns pred's last answer.
bool PumpUntil(const std::function<bool()>& pred, int timeout_ms);
void PumpFor(int ms);

// Fade workers alive in this process, by the name they give their threads:
// 0 once every fade has posted its last step.
int FadeThreads();
// The volume steps the fade workers posted to the form since the last
// ClearFadeSteps, in posting order. Counted where the window system takes
// them, which only Linux lets a test see (CanCountFadeSteps).
bool CanCountFadeSteps();
std::vector<int32_t> FadeSteps();
void ClearFadeSteps();
// 1, 2 ... n: the steps of a play fade to volume n.
std::vector<int32_t> Steps(int32_t from, int32_t to);

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Creates the host window and calls SetParentWindow with it.
  void LendWindow(int32_t width = 400, int32_t height = 300);
  // LendWindow, then Bass_Init (audio output as the environment says).
  void StartPlayer();
  uint32_t Form() const { return tovui_child(host_window, 0); }

  Plugin plugin;
  uint32_t host_window = 0;
  bool initialised = false;
};

// The export table's names and ordinals, from the module-definition file.
std::vector<std::pair<std::string, int>> ExportTable();

// Test media, made by code in a temporary folder.
std::string TempDir();
// A 16-bit PCM WAV made by ffmpeg: a sine of amplitude 0.5 in every
// channel, or silence when freq is 0. With `distinct`, channel c holds
// (c + 1) x freq at 0.5 / (c + 1), so that crossed channels show.
std::string MakeWav(const std::string& name, double seconds, int rate, int channels, double freq = 440.0,
                    bool distinct = false);
// Runs a shell command; true when it exits 0.
bool Run(const std::string& command);

// What the wav: output wrote, decoded as 44100 Hz stereo.
struct WavData {
  int rate = 0;
  int channels = 0;
  std::vector<int16_t> samples;  // interleaved
};
bool ReadWav(const std::string& path, WavData& out);

// A PluginTest whose audio output is a WAV file of its own, one per test.
class WavOutputTest : public PluginTest {
 protected:
  void SetUp() override;
  // Frees the library, which completes the file, and reads it back.
  WavData Heard();

  std::string output_;
};
