// Wine starts a Unix program given to CreateProcess, but hands back neither
// a handle to wait on nor its exit status: the shell writes the status into
// a file when the command is done, and that file is waited for.
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

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
