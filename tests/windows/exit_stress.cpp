// exit-stress.exe: hosts that end at any moment must end at once.
//
//   exit-stress.exe run N SEED FOLDER [SCENARIO,...]
//                            N children, one after another, taking the
//                            scenarios in turn (all, or those named); prints
//                            a line per child and the counts
//   exit-stress.exe child SCENARIO DELAY_MS HOW FOLDER EVENT INDEX
//
// A child loads Plugin.dll (from its own folder), lends it a window and
// works through SCENARIO until DELAY_MS after its start; then it signals
// EVENT and ends: HOW "exit" calls exit() from a thread of its own, so the
// host's thread may be anywhere, even inside the plug-in; "main" returns
// from main between two calls. Scenarios:
//   open    opens three files into three slots over and over (tags, length)
//   play    plays three slots with the display on, pumping messages
//   fade    play, pause and stop over and over (the fades run)
//   record  records into FOLDER\rec-INDEX.wav while playing
//   free    plays, then Bass_Free; the delay counts from there
//   unload  plays, Bass_Free, FreeLibrary; the delay counts from there
// Every other child also plays into FOLDER\out-INDEX.wav (the "wav:" output).
//
// The parent waits for the signal, then at most 5 s for the child to end;
// a child still there then has hung, and is ended (or kept for a debugger
// when EXIT_STRESS_KEEP is set). After a "main" exit, a recording and a WAV
// output file must have their sizes in the header (complete). Exit status:
// 0 when every child ended in time with complete files, 1 otherwise.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <tovarin/plugin.h>

#include "ui/ui.hpp"

namespace {

struct Api {
#define STRESS_FIELD(name, ordinal, ret, params, args) ret(*name) params = nullptr;
  TOVARIN_PLUGIN_EXPORTS(STRESS_FIELD)
#undef STRESS_FIELD
};

constexpr const char* kScenarios[] = {"open", "play", "fade", "record", "free", "unload"};
constexpr DWORD kEndLimitMs = 5000;

std::string g_folder;
DWORD g_deadline = 0;  // GetTickCount() at which the child ends
HANDLE g_event = nullptr;
bool g_main_exit = false;

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Self() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  return self;
}

bool Due() { return static_cast<int32_t>(GetTickCount() - g_deadline) >= 0; }

// The "main" way out: between two calls of the host's thread.
void EndIfDue() {
  if (!g_main_exit || !Due()) return;
  SetEvent(g_event);
  std::exit(0);
}

void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    EndIfDue();
    const DWORD spent = GetTickCount() - start;
    if (spent >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
  }
}

void CloseBox(void*, tovui::Handle box, const char*, const char*) { tovui::close_box(box); }

void Open(Api& api, int slot, int file) {
  api.SetData(slot);
  api.Bass_ChannelNum();
  api.SetFile((g_folder + "tone" + std::to_string(file) + ".mp3").c_str());
  api.Bass_Create();
  EndIfDue();
  api.SetFile("%TITL");
  api.Bass_GetTags();
  api.Bass_GetLength();
}

void PlayThree(Api& api) {
  // The display: bars, green on black, 4 ms ticks.
  api.SetFile("first");
  api.SetFile("000#200#000#000#000#000#");
  for (int d : {10, 4, 32, 80}) api.SetData(d);
  api.StartDraw();
  for (int slot = 1; slot <= 3; ++slot) {
    Open(api, slot, slot);
    api.Bass_Play();
    EndIfDue();
  }
}

HANDLE g_rearmed = nullptr;

// Restarts the clock: the exit comes DELAY_MS after this moment.
void Rearm(DWORD delay) {
  g_deadline = GetTickCount() + delay;
  SetEvent(g_rearmed);
}

DWORD WINAPI ExitThread(void*) {
  for (;;) {
    const int32_t left = static_cast<int32_t>(g_deadline - GetTickCount());
    if (left <= 0) break;
    WaitForSingleObject(g_rearmed, static_cast<DWORD>(left));
  }
  SetEvent(g_event);
  std::exit(0);
}

int Child(const std::string& scenario, DWORD delay, const std::string& how, HANDLE event, int index) {
  g_event = event;
  g_main_exit = how == "main";
  g_deadline = GetTickCount() + delay;
  g_rearmed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const bool two_phase = scenario == "free" || scenario == "unload";
  if (two_phase) g_deadline = GetTickCount() + 60000;  // rearmed below
  if (!g_main_exit) CloseHandle(CreateThread(nullptr, 0, &ExitThread, nullptr, 0, nullptr));
  if (index % 2)
    SetEnvironmentVariableA("TOVARIN_AUDIO_OUTPUT",
                            ("wav:" + g_folder + "out-" + std::to_string(index) + ".wav").c_str());

  const std::string plugin = Folder(Self()) + "Plugin.dll";
  HMODULE module = LoadLibraryA(plugin.c_str());
  if (!module) return 3;
  Api api;
#define STRESS_RESOLVE(name, ...)                                                                          \
  api.name = reinterpret_cast<decltype(api.name)>(reinterpret_cast<void*>(GetProcAddress(module, #name))); \
  if (!api.name) return 3;
  TOVARIN_PLUGIN_EXPORTS(STRESS_RESOLVE)
#undef STRESS_RESOLVE
  tovui::set_presenter(&CloseBox, nullptr);
  WNDCLASSA wc{};
  wc.lpfnWndProc = &DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "ExitStressHost";
  RegisterClassA(&wc);
  HWND window = CreateWindowA("ExitStressHost", "exit-stress", WS_OVERLAPPEDWINDOW, 0, 0, 360, 160, nullptr, nullptr,
                              wc.hInstance, nullptr);
  api.SetPath(plugin.c_str());
  api.SetParentWindow(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)));
  api.Draw(0, 10, 10, 320, 80);
  api.Bass_Init();
  EndIfDue();

  if (scenario == "open") {
    for (int round = 0;; ++round)
      for (int slot = 1; slot <= 3; ++slot) Open(api, slot, (round + slot) % 3 + 1);
  }
  if (scenario == "record") {
    api.Record_Init();
    api.SetFile((g_folder + "rec-" + std::to_string(index) + ".wav").c_str());
    api.SetData(2);
    api.SetData(44100);
    api.Record_Start();
  }
  PlayThree(api);
  if (scenario == "fade") {
    for (;;) {
      for (auto op : {api.Bass_Pause, api.Bass_Play, api.Bass_Stop, api.Bass_Play}) {
        op();
        Pump(60);
        api.Bass_GetPosition();
      }
    }
  }
  if (two_phase) {
    Pump(300);
    api.Bass_Free();
    Rearm(delay);
    if (scenario == "unload") FreeLibrary(module);
  }
  for (;;) {
    Pump(50);
    if (scenario != "unload") api.Bass_GetPosition();
  }
}

// --- the parent ----------------------------------------------------------------

// "complete": the header's sizes match the file; "short": a file of less than
// a header; "" when there is no file.
std::string WavState(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "";
  uint8_t h[44] = {};
  const size_t got = std::fread(h, 1, sizeof h, f);
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  if (got < sizeof h) return "short";
  auto at = [&](int i) {
    return uint32_t(h[i]) | uint32_t(h[i + 1]) << 8 | uint32_t(h[i + 2]) << 16 | uint32_t(h[i + 3]) << 24;
  };
  const bool ok = at(4) == uint32_t(size - 8) && at(40) == uint32_t(size - 44);
  return ok ? "complete" : "stale";
}

struct Counts {
  int runs = 0, ended = 0, hung = 0, failed = 0, incomplete = 0;
  DWORD slowest = 0;
};

int Parent(int n, unsigned seed, const std::string& folder, std::vector<std::string> scenarios) {
  if (scenarios.empty()) scenarios.assign(std::begin(kScenarios), std::end(kScenarios));
  std::mt19937 rng(seed);
  std::map<std::string, Counts> counts;
  const bool keep = std::getenv("EXIT_STRESS_KEEP") != nullptr;
  for (int i = 0; i < n; ++i) {
    const std::string scenario = scenarios[i % scenarios.size()];
    const bool two_phase = scenario == "free" || scenario == "unload";
    // Early exits land in loading, Bass_Init and the first opens; later ones
    // in the steady state. After Bass_Free, within the first 100 ms.
    const DWORD delay = two_phase ? rng() % 100 : rng() % 1500;
    const std::string how = rng() % 3 == 0 ? "main" : "exit";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE event = CreateEventA(&inherit, TRUE, FALSE, nullptr);
    const std::string line = "\"" + Self() + "\" child " + scenario + " " + std::to_string(delay) + " " + how + " \"" +
                             folder + "\" " + std::to_string(reinterpret_cast<uintptr_t>(event)) + " " +
                             std::to_string(i);
    std::vector<char> cmd(line.begin(), line.end());
    cmd.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    Counts& c = counts[scenario];
    ++c.runs;
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
      std::printf("%3d %-6s cannot start (error %lu)\n", i, scenario.c_str(), GetLastError());
      ++c.failed;
      CloseHandle(event);
      continue;
    }
    const HANDLE both[] = {event, pi.hProcess};
    // Starting Wine's process and the plug-in on a busy machine: generous.
    const DWORD first = WaitForMultipleObjects(2, both, FALSE, 120000);
    std::string result;
    if (first == WAIT_OBJECT_0) {
      const DWORD signalled = GetTickCount();
      if (WaitForSingleObject(pi.hProcess, kEndLimitMs) == WAIT_OBJECT_0) {
        const DWORD took = GetTickCount() - signalled;
        if (took > c.slowest) c.slowest = took;
        ++c.ended;
        result = "ended in " + std::to_string(took) + " ms";
      } else {
        ++c.hung;
        result = "HUNG (pid " + std::to_string(pi.dwProcessId) + ")";
        if (!keep) TerminateProcess(pi.hProcess, 9);
      }
    } else {
      DWORD code = 0;
      GetExitCodeProcess(pi.hProcess, &code);
      ++c.failed;
      result = first == WAIT_OBJECT_0 + 1 ? "FAILED: ended early with status " + std::to_string(code)
                                          : "FAILED: never ready";
      if (first != WAIT_OBJECT_0 + 1) TerminateProcess(pi.hProcess, 9);
    }
    // Files: complete after a "main" exit; reported either way.
    for (const char* kind : {"rec-", "out-"}) {
      const std::string path = folder + kind + std::to_string(i) + ".wav";
      const std::string state = WavState(path);
      if (state.empty()) continue;
      result += std::string(", ") + (kind[0] == 'r' ? "recording " : "wav output ") + state;
      if (how == "main" && state != "complete" && result.find("ended") == 0) {
        ++c.incomplete;
        result += " (INCOMPLETE)";
      }
      DeleteFileA(path.c_str());
    }
    std::printf("%3d %-6s %-4s at %4lu ms: %s\n", i, scenario.c_str(), how.c_str(), delay, result.c_str());
    std::fflush(stdout);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(event);
  }
  Counts all;
  std::printf("scenario  runs  ended  hung  failed  incomplete  slowest end (ms)\n");
  for (auto& [name, c] : counts) {
    std::printf("%-8s %5d %6d %5d %7d %11d %8lu\n", name.c_str(), c.runs, c.ended, c.hung, c.failed, c.incomplete,
                c.slowest);
    all.runs += c.runs, all.ended += c.ended, all.hung += c.hung, all.failed += c.failed;
    all.incomplete += c.incomplete;
    if (c.slowest > all.slowest) all.slowest = c.slowest;
  }
  std::printf("%-8s %5d %6d %5d %7d %11d %8lu\n", "all", all.runs, all.ended, all.hung, all.failed, all.incomplete,
              all.slowest);
  return all.ended == all.runs && all.incomplete == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "run" && (argc == 5 || argc == 6)) {
    std::string folder = argv[4];
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    std::vector<std::string> scenarios;
    for (std::string list = argc == 6 ? argv[5] : ""; !list.empty();) {
      const size_t comma = list.find(',');
      scenarios.push_back(list.substr(0, comma));
      list = comma == std::string::npos ? "" : list.substr(comma + 1);
    }
    return Parent(std::atoi(argv[2]), static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)), folder, scenarios);
  }
  if (mode == "child" && argc == 8) {
    g_folder = argv[5];
    return Child(argv[2], std::strtoul(argv[3], nullptr, 10), argv[4],
                 reinterpret_cast<HANDLE>(static_cast<uintptr_t>(std::strtoull(argv[6], nullptr, 10))),
                 std::atoi(argv[7]));
  }
  std::fprintf(stderr, "usage: exit-stress.exe run N SEED FOLDER [SCENARIO,...]\n");
  return 2;
}
