// What the radio tests share: the URL source's names, the media and process
// helpers, and a clock to bound their waits.
#pragma once

#include <chrono>

#include "audio/source.hpp"
#include "media.hpp"
#include "process.hpp"

using tovarin::audio::open_url_source;
using tovarin::audio::Source;
using tovarin::audio::TagKey;
using namespace tovarin::test;
using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }
