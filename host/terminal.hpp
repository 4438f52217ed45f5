// Terminal helpers of the host: a window drawn with half-block characters in
// 24-bit colour, and single-key input.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// Prints the composed window, two pixel rows per text line ("▀" with the
// upper pixel as foreground and the lower as background), scaled down to at
// most max_columns columns.
void ShowWindow(uint32_t window, int max_columns);

// The same as text: the window's top max_height pixel rows (all when 0), one
// line per two of them after scaling; *lines receives the count of lines.
std::string RenderWindow(uint32_t window, int max_columns, int max_height, int* lines);

// The status line while playing, e.g. "[playing] 00:12 / 03:40  vol 80%";
// without the length part when `length` is empty.
std::string StatusLine(std::string_view state, const std::string& position, const std::string& length, int volume);

// Prints a status line: rewritten in place on a terminal, a line each on a
// pipe or file (which then sees each line as it comes).
void PrintStatus(const std::string& line, bool tty);

// The top `height` pixel rows of a window (the plug-in's display area)
// redrawn live in the terminal, in place above the status line, at most 25
// frames a second.
class LiveSpectrum {
 public:
  LiveSpectrum(uint32_t window, int height) : window_(window), height_(height) {}
  // Draws a frame with the status line below it, unless the last frame is
  // younger than a frame period.
  void Frame(const std::string& status_line);
  // A line was printed over the status line: the next frame starts below it.
  void LinePrinted() { lines_ = 0; }

 private:
  static constexpr auto kFramePeriod = std::chrono::milliseconds(40);
  uint32_t window_;
  int height_;
  int lines_ = 0;
  std::chrono::steady_clock::time_point next_{};
};

// Raw single-key input from a terminal on stdin; restores the terminal when
// destroyed.
class RawKeys {
 public:
  RawKeys();
  ~RawKeys();
  bool active() const { return active_; }
  // Reads what is waiting: a printable key, or "left"/"right" for arrows.
  // Empty when nothing is there.
  std::string Read();

 private:
  bool active_ = false;
  std::string pending_;
  struct Saved;
  Saved* saved_ = nullptr;
};

}  // namespace host
