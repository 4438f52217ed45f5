// Windows, messages, timers and message boxes on Windows: the operating
// system's own, reached through user32. Each window made here belongs to one
// registered class whose procedure hands the messages that the plug-in
// cares about (WM_DESTROY, WM_TIMER and WM_USER and above) to the stored
// WindowProc, and everything else to DefWindowProc. A window's background is
// painted on WM_ERASEBKGND in its own colour.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "ui/win32/win32.hpp"

namespace tovui {

namespace {

constexpr char kClassName[] = "TovarinWindow";

// Owned by the window (GWLP_USERDATA), freed at WM_NCDESTROY; touched only
// on the window's thread.
struct WindowData {
  WindowProc proc;
  Color background = kWhite;
};

WindowData* DataOf(HWND hwnd) { return reinterpret_cast<WindowData*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)); }

LRESULT CALLBACK ClassProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  WindowData* data = DataOf(hwnd);
  if (msg == WM_NCCREATE) {
    data = static_cast<WindowData*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
  }
  if (!data) return DefWindowProcA(hwnd, msg, wparam, lparam);
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(hwnd, &r);
    HBRUSH brush = CreateSolidBrush(data->background);
    FillRect(reinterpret_cast<HDC>(wparam), &r, brush);
    DeleteObject(brush);
    return 1;
  }
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    delete data;
    return DefWindowProcA(hwnd, msg, wparam, lparam);
  }
  if (data->proc && (msg == WM_DESTROY || msg == WM_TIMER || msg >= WM_USER)) {
    // A copy: the procedure may replace itself (set_window_proc) while it runs.
    WindowProc proc = data->proc;
    intptr_t result = 0;
    try {
      result = proc(ToHandle(hwnd), msg, wparam, lparam);
    } catch (...) {
      // No C++ exception may unwind through user32.
    }
    if (msg >= WM_USER) return result;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ClassProc), &module);
  return module;
}

// True while the process ends: the system has ended every other thread then,
// perhaps inside the window system's own lock, which nothing may wait for.
bool ProcessEnding() {
  using Query = BOOLEAN(NTAPI*)();
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlDllShutdownInProgress")));
  return query && query();
}

// The class is registered on first use and unregistered when the module
// unloads, so that a reloaded module registers its own procedure; at the
// end of the process it goes with the process.
struct WindowClass {
  HINSTANCE instance = nullptr;
  bool registered = false;
  ~WindowClass() {
    if (registered && !ProcessEnding()) UnregisterClassA(kClassName, instance);
  }
};
WindowClass window_class;
std::once_flag class_once;

bool EnsureClass() {
  std::call_once(class_once, [] {
    window_class.instance = ThisModule();
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &ClassProc;
    wc.hInstance = window_class.instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    window_class.registered = RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  });
  return window_class.registered;
}

}  // namespace

Handle create_window(Handle parent, Rect bounds, WindowProc proc, Color background) {
  if (parent != 0 && !IsWindow(Hwnd(parent))) return 0;
  if (!EnsureClass()) return 0;
  auto* data = new WindowData{std::move(proc), background};
  // A child is borderless by construction; a top-level window made here is
  // a borderless pop-up.
  const DWORD style = (parent ? WS_CHILD : WS_POPUP) | WS_VISIBLE | WS_CLIPSIBLINGS;
  HWND hwnd = CreateWindowExA(0, kClassName, "", style, bounds.x, bounds.y, std::max(bounds.width, 0),
                              std::max(bounds.height, 0), Hwnd(parent), nullptr, window_class.instance, data);
  if (!hwnd) {
    delete data;  // WM_NCCREATE never stored it, or WM_NCDESTROY already freed it
    return 0;
  }
  // Painted now, not at the next pump: a new window shows its background at once.
  UpdateWindow(hwnd);
  return ToHandle(hwnd);
}

bool destroy_window(Handle window) {
  HWND hwnd = Hwnd(window);
  if (!IsWindow(hwnd) || GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId()) return false;
  return DestroyWindow(hwnd) != 0;
}

bool is_window(Handle window) { return window != 0 && IsWindow(Hwnd(window)); }

Handle get_parent(Handle window) { return is_window(window) ? ToHandle(GetParent(Hwnd(window))) : 0; }

Handle set_parent(Handle window, Handle new_parent) {
  if (!is_window(window) || (new_parent != 0 && !is_window(new_parent))) return 0;
  return ToHandle(SetParent(Hwnd(window), Hwnd(new_parent)));
}

Handle child(Handle window, int32_t index) {
  if (!is_window(window) || index < 0) return 0;
  // In creation order: user32 puts a new child below its older siblings.
  HWND c = GetWindow(Hwnd(window), GW_CHILD);
  for (int32_t i = 0; c && i < index; ++i) c = GetWindow(c, GW_HWNDNEXT);
  return ToHandle(c);
}

bool set_window_pos(Handle window, Rect bounds) {
  if (!is_window(window)) return false;
  const bool ok = SetWindowPos(Hwnd(window), nullptr, bounds.x, bounds.y, std::max(bounds.width, 0),
                               std::max(bounds.height, 0), SWP_NOZORDER | SWP_NOACTIVATE) != 0;
  UpdateWindow(Hwnd(window));  // the uncovered part shows the background at once
  return ok;
}

bool get_window_rect(Handle window, Rect& bounds) {
  if (!is_window(window)) return false;
  HWND hwnd = Hwnd(window);
  RECT r;
  if (!GetWindowRect(hwnd, &r)) return false;
  // Relative to the parent's client area (the screen for a top-level one).
  HWND parent = (GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD) ? GetParent(hwnd) : nullptr;
  if (parent) MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  bounds = Rect{r.left, r.top, r.right - r.left, r.bottom - r.top};
  return true;
}

bool show_window(Handle window, bool show) {
  if (!is_window(window)) return false;
  // Shown without activation: the host keeps its focus.
  ShowWindow(Hwnd(window), show ? SW_SHOWNA : SW_HIDE);
  if (show) UpdateWindow(Hwnd(window));
  return true;
}

// The window's own flag, whatever its ancestors show.
bool is_visible(Handle window) { return is_window(window) && (GetWindowLongA(Hwnd(window), GWL_STYLE) & WS_VISIBLE); }

bool set_window_proc(Handle window, WindowProc proc) {
  if (!is_window(window)) return false;
  HWND hwnd = Hwnd(window);
  if (GetClassLongPtrA(hwnd, GCLP_WNDPROC) != reinterpret_cast<ULONG_PTR>(&ClassProc)) return false;
  WindowData* data = DataOf(hwnd);
  if (!data) return false;
  data->proc = std::move(proc);
  return true;
}

Color background(Handle window) {
  if (!is_window(window)) return 0;
  HWND hwnd = Hwnd(window);
  if (GetClassLongPtrA(hwnd, GCLP_WNDPROC) != reinterpret_cast<ULONG_PTR>(&ClassProc)) return 0;
  WindowData* data = DataOf(hwnd);
  return data ? data->background : 0;
}

bool post_message(Handle window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  return window != 0 && PostMessageA(Hwnd(window), msg, wparam, lparam) != 0;
}

namespace {
// Marks the end of what was posted before a pump began (a thread message,
// wparam = the pump's own number, so that nested pumps tell theirs apart).
constexpr UINT kPumpMark = WM_APP + 0x3FF0;
thread_local WPARAM pump_number = 0;
}  // namespace

int pump(int32_t timeout_ms) {
  MSG m;
  if (timeout_ms != 0 && !PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE))
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout_ms < 0 ? INFINITE : DWORD(timeout_ms), QS_ALLINPUT);
  // Posted messages first, up to those that were there when this pump
  // began (what a handler posts meanwhile waits for the next pump), then the
  // due timers and painting. Bounded, so that nothing can hold the caller.
  const WPARAM mine = ++pump_number;
  PostThreadMessageA(GetCurrentThreadId(), kPumpMark, mine, 0);
  int count = 0;
  auto dispatch = [&](UINT first, UINT last, bool counted) {
    for (int n = 0; n < 1000 && PeekMessageA(&m, nullptr, first, last, PM_REMOVE); ++n) {
      if (m.message == WM_QUIT) {
        PostQuitMessage(int(m.wParam));  // left for the caller's own loop
        return false;
      }
      if (m.message == kPumpMark && m.hwnd == nullptr) {
        if (m.wParam == mine) return true;
        continue;  // an outer pump's mark: it will stop at the queue's end
      }
      TranslateMessage(&m);
      DispatchMessageA(&m);
      if (counted) ++count;
    }
    return true;
  };
  if (!dispatch(0, 0, true)) return count;  // stops at this pump's mark
  // Timers, each due one once (user32 makes at most one WM_TIMER per timer
  // until it is taken), then painting; both come after the posted messages.
  if (!dispatch(WM_TIMER, WM_TIMER, true)) return count;
  dispatch(WM_PAINT, WM_PAINT, false);
  return count;
}

int event_fd() { return -1; }  // Windows hosts pump with MsgWaitForMultipleObjects

bool set_timer(Handle window, uintptr_t id, uint32_t interval_ms) {
  if (!is_window(window)) return false;
  // An interval of 0 never ticks; user32 would make it its minimum period.
  if (interval_ms == 0) {
    KillTimer(Hwnd(window), id);
    return true;
  }
  return SetTimer(Hwnd(window), id, interval_ms, nullptr) != 0;
}

bool kill_timer(Handle window, uintptr_t id) { return is_window(window) && KillTimer(Hwnd(window), id) != 0; }

namespace {

// A presenter sees every message box of the thread that installed it as the
// box becomes active (a WH_CBT hook), and closes it with close_box.
struct Presenting {
  Presenter presenter = nullptr;
  void* user = nullptr;
  HHOOK hook = nullptr;
  std::vector<HWND> seen;  // boxes already handed over (activation repeats)
};
thread_local Presenting presenting;

LRESULT CALLBACK CbtHook(int code, WPARAM wparam, LPARAM lparam) {
  Presenting& p = presenting;
  if (code == HCBT_ACTIVATE && p.presenter) {
    HWND box = reinterpret_cast<HWND>(wparam);
    char cls[16] = {};
    GetClassNameA(box, cls, sizeof cls);
    std::erase_if(p.seen, [](HWND w) { return !IsWindow(w); });
    if (std::string(cls) == "#32770" && std::find(p.seen.begin(), p.seen.end(), box) == p.seen.end()) {
      p.seen.push_back(box);
      std::string text(4096, '\0'), caption(256, '\0');
      text.resize(GetDlgItemTextA(box, 0xFFFF, text.data(), int(text.size())));
      caption.resize(GetWindowTextA(box, caption.data(), int(caption.size())));
      p.presenter(p.user, ToHandle(box), text.c_str(), caption.c_str());
    }
  }
  return CallNextHookEx(p.hook, code, wparam, lparam);
}

}  // namespace

void set_presenter(Presenter presenter, void* user) {
  Presenting& p = presenting;
  p.presenter = presenter;
  p.user = user;
  if (presenter && !p.hook) p.hook = SetWindowsHookExA(WH_CBT, &CbtHook, nullptr, GetCurrentThreadId());
  if (!presenter && p.hook) {
    UnhookWindowsHookEx(p.hook);
    p.hook = nullptr;
    p.seen.clear();
  }
}

bool close_box(Handle box) {
  char cls[16] = {};
  if (!is_window(box) || !GetClassNameA(Hwnd(box), cls, sizeof cls) || std::string(cls) != "#32770") return false;
  return PostMessageA(Hwnd(box), WM_COMMAND, IDOK, 0) != 0;
}

void message_box(Handle owner, const std::string& text, const std::string& caption) {
  // MessageBoxA runs its own modal loop, which goes on dispatching the
  // thread's timers and posted messages: a procedure may show another box.
  // Without a presenter the box waits for the user, as on any desktop.
  MessageBoxA(is_window(owner) ? Hwnd(owner) : nullptr, text.c_str(), caption.c_str(), MB_OK);
}

namespace {

// The window's client area as it is on the screen (children included),
// through a DIB section: 0x00RRGGBB words, row by row.
bool Capture(Handle window, std::vector<uint32_t>& words, int32_t& width, int32_t& height) {
  if (!is_window(window)) return false;
  HWND hwnd = Hwnd(window);
  RECT r;
  GetClientRect(hwnd, &r);
  width = std::min<int32_t>(r.right - r.left, 4096);
  height = std::min<int32_t>(r.bottom - r.top, 4096);
  words.clear();
  if (width <= 0 || height <= 0) {
    width = height = 0;
    return true;
  }
  Bitmap shot(width, height);
  HDC wdc = GetDC(hwnd);
  if (!wdc) return false;
  const bool ok = BitBlt(shot.gdi().dc, 0, 0, width, height, wdc, 0, 0, SRCCOPY) != 0;
  ReleaseDC(hwnd, wdc);
  GdiFlush();
  if (!ok || !shot.gdi().bits) return false;
  words.assign(shot.gdi().bits, shot.gdi().bits + size_t(width) * size_t(height));
  for (uint32_t& w : words) w &= 0xFFFFFF;
  return true;
}

}  // namespace

bool blit(Handle window, int32_t dx, int32_t dy, int32_t w, int32_t h, const Bitmap& src, int32_t sx, int32_t sy,
          const Rect* clip) {
  if (!is_window(window)) return false;
  // Clipped to the source bitmap first, so that no undefined pixels move.
  if (sx < 0) w += sx, dx -= sx, sx = 0;
  if (sy < 0) h += sy, dy -= sy, sy = 0;
  w = std::min(w, src.width() - sx);
  h = std::min(h, src.height() - sy);
  if (w <= 0 || h <= 0) return true;
  HWND hwnd = Hwnd(window);
  HDC wdc = GetDC(hwnd);
  if (!wdc) return false;
  if (clip) IntersectClipRect(wdc, clip->x, clip->y, clip->x + clip->width, clip->y + clip->height);
  GdiFlush();
  const bool ok = BitBlt(wdc, dx, dy, w, h, src.gdi().dc, sx, sy, SRCCOPY) != 0;
  ReleaseDC(hwnd, wdc);
  return ok;
}

bool read_surface(Handle window, std::vector<Color>& pixels, int32_t& width, int32_t& height) {
  std::vector<uint32_t> words;
  if (!Capture(window, words, width, height)) return false;
  pixels.resize(words.size());
  for (size_t i = 0; i < words.size(); ++i)
    pixels[i] = ((words[i] >> 16) & 0xFF) | (words[i] & 0xFF00) | ((words[i] & 0xFF) << 16);
  return true;
}

bool compose(Handle window, std::vector<uint32_t>& rgb, int32_t& width, int32_t& height) {
  return Capture(window, rgb, width, height);
}

bool compose_into(Handle window, uint32_t* rgb, int32_t width, int32_t height) {
  if (!rgb || width <= 0 || height <= 0) return false;
  std::vector<uint32_t> shot;
  int32_t w = 0, h = 0;
  if (!Capture(window, shot, w, h)) return false;
  for (int32_t y = 0; y < std::min(h, height); ++y)
    std::copy_n(&shot[size_t(y) * w], std::min(w, width), &rgb[size_t(y) * width]);
  return true;
}

// The windows are on the screen: the Windows build has no PNG encoder and no
// terminal view of them.
bool save_png(Handle, const std::string&) { return false; }
std::string render_ansi(Handle, int32_t) { return {}; }

bool on_display() { return true; }

}  // namespace tovui
