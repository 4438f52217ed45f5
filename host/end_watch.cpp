#include "end_watch.hpp"

#include <algorithm>

namespace host {

void EndWatch::Played(Clock::time_point now) {
  play_at_ = last_move_ = now;
  highest_ = 0;
  quiet_since_ = {};
  heard_ = false;
}

bool EndWatch::Ended(Clock::time_point now, uint32_t position, bool quiet) {
  if (position != position_) {
    position_ = position;
    last_move_ = now;
    highest_ = std::max(highest_, position);
  }
  if (url_ && highest_ > 0 && position == 0) return true;  // freed at its end
  if (!quiet) {
    heard_ = true;
    quiet_since_ = {};
  } else if (quiet_since_ == Clock::time_point{}) {
    quiet_since_ = now;
  }
  const bool started = heard_ || now - play_at_ >= kStartGrace;
  if (started && quiet) {
    if (length_ > 0 || !url_) {
      if (position >= length_) return true;
    } else if (now - quiet_since_ >= kQuietStream && last_move_ <= quiet_since_) {
      return true;
    }
  }
  return url_ && now - last_move_ > kStandStill;
}

}  // namespace host
