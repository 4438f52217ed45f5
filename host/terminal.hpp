// Terminal helpers of the host: a window drawn with half-block characters in
// 24-bit colour, and single-key input.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// Prints the composed window, two pixel rows per text line ("▀" with the
// upper pixel as foreground and the lower as background), scaled down to at
// most max_columns columns.
void ShowWindow(uint32_t window, int max_columns);

// The same as text: the window's top max_height pixel rows (all when 0), one
// line per two of them after scaling; *lines receives the count of lines.
std::string RenderWindow(uint32_t window, int max_columns, int max_height, int* lines);

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
