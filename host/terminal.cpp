#include "terminal.hpp"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <tovarin/ui.h>

namespace host {

std::string RenderWindow(uint32_t window, int max_columns, int max_height, int* lines) {
  if (lines) *lines = 0;
  int32_t w = 0, h = 0;
  if (!tovui_get_rect(window, nullptr, nullptr, &w, &h) || w <= 0 || h <= 0) return "";
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h, 0);
  if (!tovui_compose(window, pixels.data(), w, h)) return "";
  if (max_height > 0) h = std::min<int32_t>(h, max_height);
  const int columns = std::max(1, std::min<int>(w, max_columns));
  const double scale = static_cast<double>(w) / columns;
  const int rows = std::max(1, static_cast<int>(h / scale));
  auto at = [&](int col, int row) {
    const int x = std::min<int>(w - 1, static_cast<int>(col * scale));
    const int y = std::min<int>(h - 1, static_cast<int>(row * scale));
    return pixels[static_cast<size_t>(y) * w + x];
  };
  std::string out;
  for (int row = 0; row < rows; row += 2) {
    for (int col = 0; col < columns; ++col) {
      const uint32_t top = at(col, row);
      const uint32_t bottom = row + 1 < rows ? at(col, row + 1) : 0;
      char cell[64];
      std::snprintf(cell, sizeof cell, "\x1b[38;2;%u;%u;%um\x1b[48;2;%u;%u;%um\u2580", (top >> 16) & 255,
                    (top >> 8) & 255, top & 255, (bottom >> 16) & 255, (bottom >> 8) & 255, bottom & 255);
      out += cell;
    }
    out += "\x1b[0m\n";
    if (lines) ++*lines;
  }
  return out;
}

void ShowWindow(uint32_t window, int max_columns) {
  if (tovui_on_display()) return;  // a real window has shown it all along
  const std::string out = RenderWindow(window, max_columns, 0, nullptr);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

std::string StatusLine(std::string_view state, const std::string& position, const std::string& length, int volume) {
  return "[" + std::string(state) + "] " + position + (length.empty() ? "" : " / " + length) + "  vol " +
         std::to_string(volume) + "%";
}

void PrintStatus(const std::string& line, bool tty) {
  if (tty)
    std::printf("\r\x1b[K%s", line.c_str());
  else
    std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void LiveSpectrum::Frame(const std::string& status_line) {
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return;
  next_ = now + kFramePeriod;
  int lines = 0;
  std::string out = lines_ > 0 ? "\r\x1b[" + std::to_string(lines_) + "A" : std::string("\r\x1b[K");
  out += RenderWindow(window_, 80, height_, &lines);
  out += "\x1b[K" + status_line;
  lines_ = lines;
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

struct RawKeys::Saved {
  termios mode;
};

RawKeys::RawKeys() {
  if (!isatty(STDIN_FILENO)) return;
  saved_ = new Saved;
  if (tcgetattr(STDIN_FILENO, &saved_->mode) != 0) return;
  termios raw = saved_->mode;
  raw.c_lflag &= ~(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

RawKeys::~RawKeys() {
  if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_->mode);
  delete saved_;
}

std::string RawKeys::Read() {
  if (!active_) return {};
  char buf[32];
  const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
  if (n > 0) pending_.append(buf, static_cast<size_t>(n));
  if (pending_.empty()) return {};
  if (pending_[0] == '\x1b') {
    if (pending_.size() >= 3 && pending_[1] == '[') {
      const char code = pending_[2];
      pending_.erase(0, 3);
      if (code == 'C') return "right";
      if (code == 'D') return "left";
      return Read();
    }
    if (pending_.size() < 3) {
      // A lone escape, or an arrow whose bytes are still on their way.
      if (n <= 0) pending_.clear();
      return {};
    }
    pending_.erase(0, 1);
    return Read();
  }
  std::string key(1, pending_[0]);
  pending_.erase(0, 1);
  return key;
}

}  // namespace host
