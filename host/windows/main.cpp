// tovarin.exe: a small Windows host for Plugin.dll. It opens a window,
// lends it to the plug-in (whose form shows the spectrum display), and plays
// the files given on the command line one after another.
//
//   tovarin.exe [--seconds N] [--auto-close] FILE...
//
// --seconds N   stop after N seconds in all (for unattended runs)
// --auto-close  the plug-in's message boxes are printed and closed at once
//
// Exit status: 0 when every file opened and played, 1 otherwise, 2 for a
// bad command line or a plug-in that does not load.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <tovarin/plugin.h>

#include "ui/ui.hpp"

namespace {

struct Exports {
// clang-format off
#define HOST_EXPORTS(X)                                                          \
  X(SetPath) X(SetParentWindow) X(Draw) X(SetFile) X(GetFile) X(SetData)         \
  X(Bass_Init) X(Bass_ChannelNum) X(Bass_Create) X(Bass_Free) X(Bass_Play)       \
  X(Bass_Stop) X(Bass_GetPosition) X(Bass_GetLength) X(Bass_GetTags)             \
  X(StartDraw) X(GetInfo)
// clang-format on
#define HOST_FIELD(name) decltype(&::name) name = nullptr;
  HOST_EXPORTS(HOST_FIELD)
#undef HOST_FIELD

  bool Load(HMODULE module) {
#define HOST_RESOLVE(name)                                                                            \
  name = reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>(GetProcAddress(module, #name))); \
  if (!name) {                                                                                        \
    std::fprintf(stderr, "tovarin: Plugin.dll lacks %s\n", #name);                                    \
    return false;                                                                                     \
  }
    HOST_EXPORTS(HOST_RESOLVE)
#undef HOST_RESOLVE
    return true;
  }

  std::string Query(void (*op)()) {
    op();
    const char* text = GetFile();
    return text ? text : "";
  }
};

constexpr int kWidth = 340, kHeight = 140;
// The display: 80 pixels high, 4 ms ticks, so 320 pixels wide (the
// plug-in makes the area height x interval wide); 32 bars of 10 pixels.
constexpr int32_t kDisplayHeight = 80, kInterval = 4, kBarCount = 32, kBarWidth = 10;

bool g_closed = false;

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_CLOSE) {
    g_closed = true;
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

void PrintAndClose(void*, tovui::Handle box, const char* text, const char*) {
  std::fprintf(stderr, "tovarin: message from the plug-in: %s\n", text ? text : "");
  tovui::close_box(box);
}

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Pumps the thread's messages for up to ms milliseconds.
void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  MSG m;
  for (;;) {
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
    const DWORD spent = GetTickCount() - start;
    if (spent >= ms || g_closed) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
  }
}

}  // namespace

int main(int argc, char** argv) {
  double limit_s = -1;
  bool auto_close = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) {
      limit_s = std::atof(argv[++i]);
    } else if (a == "--auto-close") {
      auto_close = true;
    } else if (a == "--help" || a == "-h" || a.rfind("--", 0) == 0) {
      std::fprintf(a == "--help" || a == "-h" ? stdout : stderr,
                   "usage: tovarin.exe [--seconds N] [--auto-close] FILE...\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: tovarin.exe [--seconds N] [--auto-close] FILE...\n");
    return 2;
  }

  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string plugin_path = Folder(self) + "Plugin.dll";
  HMODULE module = LoadLibraryA(plugin_path.c_str());
  if (!module) {
    std::fprintf(stderr, "tovarin: cannot load %s (error %lu)\n", plugin_path.c_str(), GetLastError());
    return 2;
  }
  Exports api;
  if (!api.Load(module)) return 2;
  if (auto_close) tovui::set_presenter(&PrintAndClose, nullptr);

  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &HostProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "TovarinHost";
  RegisterClassExA(&wc);
  RECT frame{0, 0, kWidth, kHeight};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  HWND window =
      CreateWindowExA(0, "TovarinHost", api.GetInfo(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                      frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, wc.hInstance, nullptr);
  if (!window) {
    std::fprintf(stderr, "tovarin: cannot create a window\n");
    return 2;
  }
  ShowWindow(window, SW_SHOWNORMAL);

  api.SetPath(plugin_path.c_str());
  api.SetParentWindow(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)));
  api.Draw(0, 10, 10, 320, kDisplayHeight);
  api.Bass_Init();
  // Green bars on black.
  api.SetFile("first");
  api.SetFile("000#200#000#000#000#000#");
  api.SetData(kBarWidth);
  api.SetData(kInterval);
  api.SetData(kBarCount);
  api.SetData(kDisplayHeight);
  api.StartDraw();

  const DWORD start = GetTickCount();
  auto out_of_time = [&] { return limit_s >= 0 && (GetTickCount() - start) / 1000.0 >= limit_s; };
  int failures = 0;
  for (const std::string& file : files) {
    if (g_closed || out_of_time()) break;
    api.SetData(1);
    api.Bass_ChannelNum();
    api.SetFile(file.c_str());
    if (api.Bass_Create() != 1) {
      std::fprintf(stderr, "tovarin: cannot play %s\n", file.c_str());
      ++failures;
      continue;
    }
    api.SetFile("%TITL");
    const std::string title = api.Query(api.Bass_GetTags);
    const unsigned long length = std::strtoul(api.Query(api.Bass_GetLength).c_str(), nullptr, 10);
    std::printf("Playing %s%s%s (%lu s)\n", file.c_str(), title.empty() ? "" : " - ", title.c_str(), length);
    std::fflush(stdout);
    api.Bass_Play();
    // Until the position reaches the length (whole seconds: then one more
    // second), or stands still for 3 s, or the window closes.
    unsigned long last = 0;
    DWORD last_move = GetTickCount(), reached = 0;
    while (!g_closed && !out_of_time()) {
      Pump(100);
      const unsigned long pos = std::strtoul(api.Query(api.Bass_GetPosition).c_str(), nullptr, 10);
      if (pos != last) last_move = GetTickCount(), last = pos;
      if (length > 0 && pos >= length && !reached) reached = GetTickCount();
      if (reached && GetTickCount() - reached > 1000) break;
      if (GetTickCount() - last_move > 3000) break;
    }
    api.Bass_Stop();
    Pump(300);  // the stop's fade
  }
  api.Bass_Free();
  DestroyWindow(window);
  FreeLibrary(module);
  return failures ? 1 : 0;
}
