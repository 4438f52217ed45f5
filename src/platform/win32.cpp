// Windows: host texts are in the system's ANSI code page, file names go to
// the wide-character calls, and the module's unload hook is DllMain's
// DLL_PROCESS_DETACH, which runs before the static destructors and tells
// them whether the process is ending.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// windows.h first
#include <mmsystem.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cwchar>

#include "platform/platform.hpp"

namespace tovarin::platform {
namespace {

std::atomic<bool> g_process_exiting{false};

std::wstring widen(std::string_view text, UINT code_page) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string narrow(std::wstring_view wide, UINT code_page) {
  if (wide.empty()) return {};
  const int n =
      WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr, nullptr);
  return text;
}

std::wstring wide_path(const std::string& utf8) { return widen(utf8, CP_UTF8); }

}  // namespace

std::string host_to_utf8(std::string_view text) { return narrow(widen(text, CP_ACP), CP_UTF8); }
std::string utf8_to_host(std::string_view text) { return narrow(widen(text, CP_UTF8), CP_ACP); }

std::string env(const char* name) {
  const std::wstring wname = widen(name, CP_UTF8);
  std::wstring value(64, L'\0');
  for (;;) {
    const DWORD n = GetEnvironmentVariableW(wname.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return {};
    if (n < value.size()) {
      value.resize(n);
      return narrow(value, CP_UTF8);
    }
    value.assign(n, L'\0');  // n counts the terminating zero here
  }
}

std::string user_decimal_separator() {
  char sep[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, sizeof sep) <= 1) return ".";
  return sep;
}

void lower_thread_priority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }

void name_thread(std::thread& thread, const char* name) {
  // Windows 10 1607 and later; looked up, so that older systems still load
  // the module.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto set = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (set) set(pthread_gethandle(thread.native_handle()), widen(name, CP_UTF8).c_str());
}

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x2
#endif

StepPacer::StepPacer(std::chrono::microseconds period) : period_(period), next_(std::chrono::steady_clock::now()) {
  // Windows 10 1803 and later; refused by older systems and by Wine.
  timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  if (!timer_) raised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
}

StepPacer::~StepPacer() {
  if (timer_) CloseHandle(timer_);
  if (raised_) timeEndPeriod(1);
}

void StepPacer::wait() {
  const auto left = next_deadline() - std::chrono::steady_clock::now();
  if (left <= left.zero()) return;
  if (timer_) {
    // Relative due time, in 100 ns units (negative).
    LARGE_INTEGER due;
    due.QuadPart = -std::max<LONGLONG>(1, std::chrono::duration_cast<std::chrono::nanoseconds>(left).count() / 100);
    if (SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
      WaitForSingleObject(timer_, INFINITE);
      return;
    }
  }
  // Whole milliseconds, rounded up: never before the deadline.
  Sleep(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

const char* StepPacer::method() const {
  return timer_ ? "high-resolution timer" : raised_ ? "timeBeginPeriod" : "sleep";
}

bool regular_file(const std::string& path, int64_t* size) {
  if (path.empty()) return false;
  // Opening tells a disk file from a device ("CON", "NUL", "COM1") or a pipe,
  // which GetFileAttributes cannot; a directory does not open without
  // FILE_FLAG_BACKUP_SEMANTICS.
  HANDLE h = CreateFileW(wide_path(path).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER length{};
  const bool ok = GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &length);
  CloseHandle(h);
  if (ok && size) *size = length.QuadPart;
  return ok;
}

bool path_exists(const std::string& path) {
  return !path.empty() && GetFileAttributesW(wide_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::FILE* open_file(const std::string& path, const char* mode) {
  return _wfopen(wide_path(path).c_str(), widen(mode, CP_UTF8).c_str());
}

int create_file(const std::string& path) {
  const std::wstring wide = wide_path(path);
  _wunlink(wide.c_str());
  return _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

namespace {
// One WriteFile or ReadFile at an offset, in pieces of at most 1 GiB. An
// offset of -1 writes at the end of the file (atomically, like O_APPEND), so
// appending and positional writes never share a file position.
bool transfer_at(int fd, void* data, size_t length, int64_t offset, bool write) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE) return false;
  char* p = static_cast<char*>(data);
  while (length > 0) {
    OVERLAPPED at{};
    at.Offset = offset < 0 ? 0xFFFFFFFFu : static_cast<DWORD>(offset);
    at.OffsetHigh = offset < 0 ? 0xFFFFFFFFu : static_cast<DWORD>(offset >> 32);
    const DWORD chunk = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
    DWORD done = 0;
    const BOOL ok = write ? WriteFile(h, p, chunk, &done, &at) : ReadFile(h, p, chunk, &done, &at);
    if (!ok || done == 0) return false;
    p += done;
    if (offset >= 0) offset += done;
    length -= done;
  }
  return true;
}
}  // namespace

bool write_all(int fd, const void* data, size_t length) {
  return transfer_at(fd, const_cast<void*>(data), length, -1, true);
}

bool write_at(int fd, const void* data, size_t length, int64_t offset) {
  return offset >= 0 && transfer_at(fd, const_cast<void*>(data), length, offset, true);
}

int open_read(const std::string& path) { return _wopen(wide_path(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT); }

bool read_at(int fd, void* data, size_t length, int64_t offset) {
  return offset >= 0 && transfer_at(fd, data, length, offset, false);
}

int64_t read_some_at(int fd, void* data, size_t length, int64_t offset) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD done = 0;
  const DWORD chunk = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
  if (h == INVALID_HANDLE_VALUE || offset < 0) return errno = EBADF, -1;
  if (ReadFile(h, data, chunk, &done, &at)) return done;
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : (errno = EIO, -1);
}

int64_t file_size(int fd) { return fd < 0 ? -1 : _filelengthi64(fd); }

void close_file(int fd) {
  if (fd >= 0) _close(fd);
}

// Every Windows has an audio service; SDL picks WASAPI, DirectSound or
// winmm and fails quietly when none opens.
bool sound_system_present() { return true; }

bool process_exiting() { return g_process_exiting.load(); }

void hold_module() {
  static const char anchor = 0;
  HMODULE self = nullptr;
  // Counts one more reference on the module that holds this code.
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&anchor), &self);
}

void release_module() {
  static const char anchor = 0;
  HMODULE self = nullptr;
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&anchor), &self))
    FreeLibrary(self);
}

// FFmpeg and SDL are linked into this module.
void keep_library_loaded(const void*) {}

}  // namespace tovarin::platform

// The unload hook. A process that ends has already ended every other thread
// (their locks may be left taken); a FreeLibrary runs under the loader's lock,
// which a thread needs to end. Either way the static destructors that follow
// must not wait for threads: the first case they learn from
// process_exiting(), the second cannot arise while a thread holds the module.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) tovarin::platform::g_process_exiting.store(true);
  return TRUE;
}

// The module's entry point, ahead of the C runtime's: the static
// constructors and DllMain at load, the destructors at unload, and the
// runtime's thread notifications all run on the host's thread, in the
// plug-in's own floating-point environment.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);
extern "C" BOOL WINAPI TovarinDllEntry(HANDLE module, DWORD reason, LPVOID reserved) {
  tovarin::platform::HostFloatScope scope;
  return DllMainCRTStartup(module, reason, reserved);
}
