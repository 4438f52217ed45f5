// When playback has ended, from what the exports show: positions in whole
// seconds and the two levels, which the library answers 0 once a stream has
// played out (and for digital silence). Pure: the caller passes the time.
//
// A file has ended when its levels are 0 and its position has reached the
// length (from then on at most a second of audio is left, so silence there
// can only shorten the end by the silence itself). A stream without a length
// has ended when it has been quiet for kQuietStream without its position
// moving; one that the library freed by itself answers position 0. The
// levels are 0 also in the moment between Bass_Play and the stream starting
// (the fade starts it), so they count only once sound was heard or
// kStartGrace has passed since the play. A URL stream that stops
// delivering data keeps its levels: after kStandStill without a moving
// position it counts as ended too. Nothing here runs while paused or
// stopped, and every play, resume or seek starts the watch afresh.
#pragma once

#include <chrono>
#include <cstdint>

namespace host {

class EndWatch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kStartGrace = std::chrono::milliseconds(500);
  static constexpr auto kQuietStream = std::chrono::milliseconds(400);
  static constexpr auto kStandStill = std::chrono::seconds(4);

  EndWatch(bool url, uint32_t length) : url_(url), length_(length) {}

  // A play, resume or seek at `now`.
  void Played(Clock::time_point now);
  // What the exports show at `now`: position in seconds, and whether both
  // levels are 0.
  bool Ended(Clock::time_point now, uint32_t position, bool quiet);

 private:
  bool url_;
  uint32_t length_;
  uint32_t position_ = 0, highest_ = 0;
  bool heard_ = false;
  Clock::time_point play_at_{}, last_move_{}, quiet_since_{};
};

}  // namespace host
