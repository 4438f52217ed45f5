// The host's end-of-playback watch on a made-up clock.
#include <gtest/gtest.h>

#include "end_watch.hpp"

namespace {

using host::EndWatch;
using ms = std::chrono::milliseconds;

// One reading of the exports at a time after the play.
struct Reading {
  int at_ms;
  uint32_t position;
  bool quiet;
  bool ended;
};

void Watch(bool url, uint32_t length, std::initializer_list<Reading> readings, const char* what) {
  const EndWatch::Clock::time_point t0{std::chrono::seconds(100)};
  EndWatch watch(url, length);
  watch.Played(t0);
  for (const Reading& r : readings)
    EXPECT_EQ(watch.Ended(t0 + ms(r.at_ms), r.position, r.quiet), r.ended) << what << " at " << r.at_ms << " ms";
}

}  // namespace

TEST(EndWatch, FilesEndQuietAtTheirLength) {
  Watch(false, 3, {{100, 0, true, false}, {200, 1, false, false}, {2900, 3, false, false}, {2950, 3, true, true}},
        "file played out");
  // The silence before the stream starts is not its end, even for a clip
  // shorter than half a second (length 0).
  Watch(false, 0, {{10, 0, true, false}, {400, 0, true, false}, {600, 0, true, true}}, "clip that never sounded");
  Watch(false, 5, {{3000, 2, true, false}}, "silence inside a file");
}

TEST(EndWatch, StreamsEndWhenFreedStillOrSilent) {
  Watch(true, 0, {{1000, 1, false, false}, {1100, 0, false, true}}, "freed at its end");
  Watch(true, 0, {{1000, 1, false, false}, {1200, 1, true, false}, {1700, 1, true, true}}, "silent and not moving");
  Watch(true, 0, {{1000, 1, false, false}, {1200, 1, true, false}, {1500, 2, true, false}, {1700, 2, true, false}},
        "silent while its position moves");
  Watch(true, 0, {{1000, 1, false, false}, {5000, 1, false, false}, {5100, 1, false, true}}, "stands still, loud");
  Watch(true, 8, {{1000, 8, true, true}}, "a file over http with a length");
}
