// Linux: host texts are UTF-8 already, the environment and the C library's
// locale data answer directly, and the unload hook is a static destructor
// that may join the module's threads.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.hpp"

namespace tovarin::platform {

std::string host_to_utf8(std::string_view text) { return std::string(text); }
std::string utf8_to_host(std::string_view text) { return std::string(text); }

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string user_decimal_separator() {
  // A private locale object: the host's own setlocale stays as it is.
  std::string sep = ".";
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (loc != static_cast<locale_t>(0)) {
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    if (radix && *radix) sep = radix;
    freelocale(loc);
  }
  return sep;
}

void lower_thread_priority() {
  // One step below normal for this thread only (a nice value is per thread
  // on Linux); refused without privilege to raise it back, which is not needed.
  const id_t tid = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, tid);
  if (errno == 0) setpriority(PRIO_PROCESS, tid, current + 1);
}

void name_thread(std::thread& thread, const char* name) { pthread_setname_np(thread.native_handle(), name); }

StepPacer::StepPacer(std::chrono::microseconds period) : period_(period), next_(std::chrono::steady_clock::now()) {}
StepPacer::~StepPacer() = default;
void StepPacer::wait() { std::this_thread::sleep_until(next_deadline()); }
const char* StepPacer::method() const { return "sleep"; }

bool regular_file(const std::string& path, int64_t* size) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size) *size = static_cast<int64_t>(st.st_size);
  return true;
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

std::FILE* open_file(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

int create_file(const std::string& path) {
  ::unlink(path.c_str());
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

bool write_all(int fd, const void* data, size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t n = ::write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

namespace {
// The whole of `length` bytes at `offset` through pread or pwrite, however
// they split it up; false on an error or an early end.
template <class Byte, class Io>
bool whole_at(Io io, int fd, Byte* p, size_t length, int64_t offset) {
  while (length > 0) {
    const ssize_t n = io(fd, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    offset += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

bool write_at(int fd, const void* data, size_t length, int64_t offset) {
  return whole_at(::pwrite, fd, static_cast<const char*>(data), length, offset);
}

int open_read(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

bool read_at(int fd, void* data, size_t length, int64_t offset) {
  return whole_at(::pread, fd, static_cast<char*>(data), length, offset);
}

int64_t read_some_at(int fd, void* data, size_t length, int64_t offset) {
  ssize_t n;
  do {
    n = ::pread(fd, data, length, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

int64_t file_size(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void close_file(int fd) {
  if (fd >= 0) ::close(fd);
}

bool sound_system_present() {
  // Without a sound server or a sound card SDL falls through to ALSA, which
  // fails noisily; an explicit SDL_AUDIODRIVER is always tried.
  if (!env("SDL_AUDIODRIVER").empty() || !env("PULSE_SERVER").empty()) return true;
  if (const std::string runtime = env("XDG_RUNTIME_DIR"); !runtime.empty())
    if (path_exists(runtime + "/pulse/native") || path_exists(runtime + "/pipewire-0")) return true;
  if (path_exists("/run/pulse/native") || path_exists("/var/run/pulse/native")) return true;
  bool pcm = false;
  if (DIR* snd = ::opendir("/dev/snd")) {
    while (const dirent* e = ::readdir(snd))
      if (std::strncmp(e->d_name, "pcm", 3) == 0) pcm = true;
    ::closedir(snd);
  }
  return pcm;
}

bool process_exiting() { return false; }
void hold_module() {}
void release_module() {}

void keep_library_loaded(const void* symbol) {
  Dl_info info{};
  if (dladdr(symbol, &info) && info.dli_fname) dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace tovarin::platform
