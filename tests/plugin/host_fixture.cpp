#include "host_fixture.hpp"

#include <dlfcn.h>
#include <unistd.h>
#if defined(_WIN32)
#include <windows.h>
// windows.h first
#include <tlhelp32.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "common/temp_dir.hpp"

bool Plugin::Load() {
  library = dlopen(TOVARIN_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!library) return false;
#define PLUGIN_RESOLVE(name, ...)                                    \
  name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
  if (!name) return false;
  TOVARIN_PLUGIN_EXPORTS(PLUGIN_RESOLVE)
#undef PLUGIN_RESOLVE
  return true;
}

void Plugin::Unload() {
  if (library) dlclose(library);
  library = nullptr;
}

std::string Plugin::Query(void (*op)()) {
  op();
  const char* text = GetFile();
  return text ? text : "<null>";
}

std::string Plugin::Format(const std::string& seconds) {
  SetFile(seconds.c_str());
  return Query(Bass_Sec2Format);
}

std::string Plugin::Tag(const std::string& key) {
  SetFile(key.c_str());
  return Query(Bass_GetTags);
}

int32_t Plugin::ChannelNum(int32_t slot) {
  SetData(slot);
  return Bass_ChannelNum();
}

bool Plugin::Create(const std::string& source) {
  SetFile(source.c_str());
  return Bass_Create() == 1;
}

void Plugin::SetVolume(int32_t percent) {
  SetData(percent);
  Bass_SetVolume();
}

int Plugin::Position() { return std::atoi(Query(Bass_GetPosition).c_str()); }

std::vector<std::string>& MessageBoxes() {
  static std::vector<std::string> boxes;
  return boxes;
}

namespace {
void RecordBox(void*, uint32_t box, const char* text, const char*) {
  MessageBoxes().push_back(text ? text : "");
  tovui_close_box(box);
}
}  // namespace

void InstallRecordingPresenter() {
  MessageBoxes().clear();
  tovui_set_presenter(&RecordBox, nullptr);
}

bool PumpUntil(const std::function<bool()>& pred, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= end) return pred();
    tovui_pump(5);
  }
  return true;
}

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
bool CanCountFadeSteps() { return false; }
std::vector<int32_t> FadeSteps() { return {}; }
void ClearFadeSteps() {}
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

namespace {
std::mutex g_steps_mutex;
std::vector<int32_t> g_steps;
}  // namespace

// The window system's post_message, taken over in this executable (which
// exports it) so that the plug-in's posts pass here first.
namespace tovui {
bool post_message(uint32_t window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  using Post = bool (*)(uint32_t, uint32_t, uintptr_t, intptr_t);
  static const auto real = reinterpret_cast<Post>(dlsym(RTLD_NEXT, "_ZN5tovui12post_messageEjjml"));
  constexpr uint32_t kChangeVolume = 1167;  // the form's volume step message
  if (msg == kChangeVolume) {
    std::lock_guard<std::mutex> lock(g_steps_mutex);
    g_steps.push_back(static_cast<int32_t>(lparam));
  }
  return real && real(window, msg, wparam, lparam);
}
}  // namespace tovui

// Only where the executable exports it (ENABLE_EXPORTS) does the plug-in
// reach the function above.
bool CanCountFadeSteps() {
  static const bool ok =
      dlsym(RTLD_DEFAULT, "_ZN5tovui12post_messageEjjml") == reinterpret_cast<void*>(&tovui::post_message);
  return ok;
}
std::vector<int32_t> FadeSteps() {
  std::lock_guard<std::mutex> lock(g_steps_mutex);
  return g_steps;
}
void ClearFadeSteps() {
  std::lock_guard<std::mutex> lock(g_steps_mutex);
  g_steps.clear();
}
#endif

std::vector<int32_t> Steps(int32_t from, int32_t to) {
  std::vector<int32_t> v;
  for (int32_t s = from; from <= to ? s <= to : s >= to; from <= to ? ++s : --s) v.push_back(s);
  return v;
}

void PumpFor(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) tovui_pump(5);
}

void PluginTest::SetUp() {
  if (!getenv("TOVARIN_AUDIO_OUTPUT")) setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  InstallRecordingPresenter();
  ClearFadeSteps();
  ASSERT_TRUE(plugin.Load()) << dlerror();
}

void PluginTest::TearDown() {
  if (plugin.library && initialised) plugin.Bass_Free();
  if (host_window) tovui_destroy_window(host_window);
  host_window = 0;
  plugin.Unload();
  tovui_set_presenter(nullptr, nullptr);
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
}

void PluginTest::LendWindow(int32_t width, int32_t height) {
  host_window = tovui_create_window(0, 0, 0, width, height);
  ASSERT_NE(host_window, 0u);
  plugin.SetParentWindow(host_window);
}

void PluginTest::StartPlayer() {
  LendWindow();
  plugin.Bass_Init();
  initialised = true;
}

std::vector<std::pair<std::string, int>> ExportTable() {
  std::vector<std::pair<std::string, int>> table;
  std::ifstream def(TOVARIN_SOURCE_DIR "/src/plugin/Plugin.def");
  for (std::string row; std::getline(def, row);) {
    char name[128];
    int ordinal = 0;
    if (sscanf(row.c_str(), " %127s @%d", name, &ordinal) == 2) table.emplace_back(name, ordinal);
  }
  return table;
}

// The media folder of this test process, removed when the process ends.
std::string TempDir() {
  static const tovarin::test::TempDir dir("tovarin-plugin-test");
  return dir.path();
}

std::string MakeWav(const std::string& name, double seconds, int rate, int channels, double freq, bool distinct) {
  const std::string path = TempDir() + "/" + name;
  // Channel c: a sine of freq and amplitude 0.5, or with `distinct` of
  // (c + 1) freq and 0.5 / (c + 1); silence when freq is 0.
  std::string expr;
  for (int c = 0; c < channels; ++c) {
    const int k = distinct ? c + 1 : 1;
    expr += c ? "|" : "";
    expr += freq > 0 ? std::to_string(0.5 / k) + "*sin(2*PI*" + std::to_string(freq * k) + "*t)" : "0";
  }
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i 'aevalsrc=" + expr + ":s=" + std::to_string(rate) + "' -t " +
                          std::to_string(seconds) + " -c:a pcm_s16le " + path;
  EXPECT_TRUE(Run(cmd)) << cmd;
  return path;
}

#if defined(_WIN32)
// Under Wine the tools are this machine's own, reached through /bin/sh.
bool Run(const std::string& command) { return RunUnixShell(command) == 0; }
#else
bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }
#endif

bool ReadWav(const std::string& path, WavData& out) {
  // ffmpeg decodes what the library wrote: an independent reader.
  const std::string raw = path + ".raw";
  if (!Run("ffmpeg -v error -y -i " + path + " -f s16le -ac 2 -ar 44100 " + raw)) return false;
  std::ifstream in(raw, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  out.rate = 44100;
  out.channels = 2;
  out.samples.resize(bytes.size() / 2);
  std::memcpy(out.samples.data(), bytes.data(), out.samples.size() * 2);
  return true;
}

void WavOutputTest::SetUp() {
  output_ = TempDir() + "/out-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".wav";
  setenv("TOVARIN_AUDIO_OUTPUT", ("wav:" + output_).c_str(), 1);
  PluginTest::SetUp();
}

WavData WavOutputTest::Heard() {
  plugin.Bass_Free();
  initialised = false;
  WavData wav;
  EXPECT_TRUE(ReadWav(output_, wav)) << output_;
  return wav;
}
