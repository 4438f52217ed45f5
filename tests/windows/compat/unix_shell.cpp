// Wine starts a Unix program given to CreateProcess, but hands back neither
// a handle to wait on nor its exit status: the shell writes the status into
// a file when the command is done, and that file is waited for.
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "posix.h"

int RunUnixShell(const std::string& command, int timeout_ms) {
  static std::atomic<unsigned> counter{0};
  const std::string done = "/tmp/tovarin-win-run-" + std::to_string(_getpid()) + "-" + std::to_string(counter++);
  std::string script = "(" + command + "); echo $? > " + done + ".part; mv " + done + ".part " + done;
  // Windows command-line quoting of the one argument (the commands hold no
  // backslash before a quote).
  std::string quoted = "\"";
  for (char c : script) {
    if (c == '"') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  // The tests write their commands in UTF-8, as the Unix side reads them.
  const std::string line = "/bin/sh -c " + quoted;
  std::wstring wide(line.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, line.c_str(), int(line.size()), wide.data(), int(wide.size())));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (wide.empty() || !CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return -1;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream in(done);
    int status = -1;
    if (in >> status) {
      in.close();
      std::remove(done.c_str());
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

namespace {
struct Piped {
  FILE* stream;
  std::string path;
  int status;
};
std::vector<Piped>& PipedStreams() {
  static std::vector<Piped> streams;
  return streams;
}
}  // namespace

FILE* TestPopen(const char* command, const char* mode) {
  if (!command || !mode || mode[0] != 'r') return nullptr;
  static std::atomic<unsigned> counter{0};
  const std::string path = "/tmp/tovarin-win-popen-" + std::to_string(_getpid()) + "-" + std::to_string(counter++);
  const int status = RunUnixShell(std::string(command) + " > " + path);
  FILE* stream = std::fopen(path.c_str(), "r");
  if (!stream) return nullptr;
  PipedStreams().push_back({stream, path, status});
  return stream;
}

int TestPclose(FILE* stream) {
  auto& streams = PipedStreams();
  for (auto it = streams.begin(); it != streams.end(); ++it) {
    if (it->stream != stream) continue;
    std::fclose(stream);
    std::remove(it->path.c_str());
    const int status = it->status;
    streams.erase(it);
    return status < 0 ? -1 : status << 8;
  }
  return -1;
}
