// Soak: the plug-in under a long, full load, as a host drives it.
//
//   bench-soak [MINUTES]      (default 10; a positive number, e.g. 0.5)
//
// 32 slots play at once: 31 files (MP3, Ogg Vorbis, Opus, FLAC, WAV, AAC,
// made by ffmpeg at start) and one loopback station (the fault server's ICY
// stream with a changing title), each slot with the equalizer and all five
// effects, the spectrum display drawing bars from one of them. Every quarter
// of a second one slot whose time is up (2 to 8 s) is opened again: the
// library frees the old stream, the new one gets its effects and a fade in.
// The host's thread pumps the window system all the while.
//
// Reported at the end (a benchmark, not a test; nothing fails):
// - resident memory after the first minute and at the end, and the growth;
//   threads and file descriptors likewise;
// - underruns: for each slot's life, the audio it fell short of the wall
//   clock between its first and last position reading (more than 20 ms short
//   counts as an underrun), and how often a playing slot was seen stalled;
// - CPU: the process's CPU time against the wall clock (percent of one
//   core) after the first minute, and the mixer's own share as the
//   library reports it.
//
// The plug-in's code is compiled in (as a host would see it through its
// exports), so the bench can read the slots' stream handles and ask the
// library for exact positions. Output: the silent output unless
// TOVARIN_AUDIO_OUTPUT says otherwise.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <tovarin/plugin.h>
#include <tovarin/ui.h>

#include "audio/bass.h"
#include "common/temp_dir.hpp"
#include "plugin/plugin.hpp"
#include "process_stats.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

bool Run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

int g_boxes = 0;
void CloseBox(void*, uint32_t box, const char* text, const char*) {
  if (g_boxes++ < 5) std::fprintf(stderr, "message box: %s\n", text ? text : "");
  tovui_close_box(box);
}

void Pump(double seconds) {
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  do tovui_pump(2);
  while (Clock::now() < end);
}

// The loopback station: the fault server's ICY stream, its port read from its first line.
struct Station {
  pid_t pid = -1;
  int port = 0;
  bool Start(const std::string& mp3) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid = fork();
    if (pid == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      execl("/usr/bin/python3", "python3", TOVARIN_SOURCE_DIR "/tests/radio/fault_server.py", mp3.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // The read end stays open while the server runs: it may still be
    // writing the line's end, and a closed pipe would end it.
    out = fds[0];
    char line[32] = {};
    size_t have = 0;
    while (have < sizeof line - 1 && std::memchr(line, '\n', have) == nullptr) {
      const ssize_t n = read(out, line + have, sizeof line - 1 - have);
      if (n <= 0) break;
      have += static_cast<size_t>(n);
    }
    port = std::atoi(line);
    return port > 0;
  }
  int out = -1;
  ~Station() {
    if (out >= 0) close(out);
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

struct Slot {
  std::string source;
  Clock::time_point opened, due;
  bool measured = false;  // first reading taken
  Clock::time_point first_at;
  double first_pos = 0;  // seconds
  Clock::time_point last_at;
  double last_pos = 0;
};

struct Totals {
  int lives = 0;        // slot lives measured
  int underruns = 0;    // lives more than 20 ms short
  double short_ms = 0;  // audio short of the wall clock, summed
  double worst_ms = 0;
  long stalled_seen = 0;  // playing slots seen stalled
  long stall_checks = 0;
  int failed_opens = 0;
};

void Push(const std::string& s) { SetFile(s.c_str()); }

void Select(int slot) {
  SetData(slot);
  Bass_ChannelNum();
}

// The equalizer (two bands set) and the five effects on the current slot.
void AllEffects() {
  Bass_CreateEQ();
  SetData(3), SetData(4), SetData(12), Bass_EqSet();  // band 3: +4 dB, 12 semitones
  SetData(8), SetData(-3), SetData(12), Bass_EqSet();
  Bass_CreateFlanger();
  Bass_CreateChorus();
  Bass_CreateEcho();
  Bass_CreateReverb();
  Bass_CreateCompressor();
}

// Opens the slot's source with its effects and fades it in; pumps until the fade is through.
bool Open(int index, Slot& s, Totals& t) {
  Select(index);
  Push(s.source);
  const bool ok = Bass_Create() == 1;
  if (!ok) ++t.failed_opens;
  AllEffects();
  Bass_Play();
  Pump(0.15);
  s.opened = Clock::now();
  s.measured = false;
  return ok;
}

double PositionSeconds(int index) {
  const DWORD h = tovarin::ThePlugin().Player() ? tovarin::ThePlugin().Player()->Stream(index) : 0;
  if (!h) return -1;
  const QWORD bytes = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
  if (bytes == static_cast<QWORD>(-1)) return -1;
  return BASS_ChannelBytes2Seconds(h, bytes);
}

bool Playing(int index, bool* stalled) {
  const DWORD h = tovarin::ThePlugin().Player() ? tovarin::ThePlugin().Player()->Stream(index) : 0;
  const DWORD a = h ? BASS_ChannelIsActive(h) : BASS_ACTIVE_STOPPED;
  *stalled = a == BASS_ACTIVE_STALLED;
  return a == BASS_ACTIVE_PLAYING || a == BASS_ACTIVE_STALLED;
}

// A position reading; the first one a while after the fade starts the life's measure.
void Read(int index, Slot& s, Totals& t) {
  bool stalled = false;
  if (!Playing(index, &stalled)) return;
  ++t.stall_checks;
  if (stalled) ++t.stalled_seen;
  const auto now = Clock::now();
  const double pos = PositionSeconds(index);
  if (pos < 0) return;
  if (!s.measured) {
    if (Seconds(s.opened, now) < 0.3) return;
    s.measured = true;
    s.first_at = now;
    s.first_pos = pos;
  }
  s.last_at = now;
  s.last_pos = pos;
}

void EndLife(Slot& s, Totals& t) {
  if (!s.measured || Seconds(s.first_at, s.last_at) < 0.5) return;
  const double wall = Seconds(s.first_at, s.last_at);
  const double heard = s.last_pos - s.first_pos;
  // Readings are taken between blocks of 10 ms: up to that much either way is no shortfall.
  const double short_ms = std::max(0.0, (wall - heard) * 1000.0 - 10.0);
  ++t.lives;
  t.short_ms += short_ms;
  t.worst_ms = std::max(t.worst_ms, short_ms);
  if (short_ms > 20.0) ++t.underruns;
}

bool PositiveNumber(const char* text, double* out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v) || v <= 0 || v > 24 * 60) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double minutes = 10;
  if (argc > 2 || (argc == 2 && !PositiveNumber(argv[1], &minutes))) {
    std::fprintf(stderr, "usage: bench-soak [MINUTES]   (a positive number up to 1440, default 10)\n");
    return 2;
  }
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 0);  // unless the caller chose an output

  const tovarin::test::TempDir temp("tovarin-soak");
  const std::string& dir = temp.path();
  // 40 s of two tones over pink noise, in six codecs.
  const std::string src =
      "-f lavfi -i 'anoisesrc=c=pink:a=0.1:r=44100:d=40' -f lavfi -i "
      "'aevalsrc=0.3*sin(2*PI*220*t)|0.3*sin(2*PI*330*t):s=44100:d=40' "
      "-filter_complex amix=inputs=2 -ac 2 ";
  const std::vector<std::string> kinds = {"mp3", "ogg", "opus", "flac", "wav", "m4a"};
  std::vector<std::string> files;
  for (const auto& k : kinds) {
    const std::string path = dir + "/soak." + k;
    if (!Run("ffmpeg -v error -nostdin -y " + src + path)) {
      std::fprintf(stderr, "bench-soak: ffmpeg could not make %s\n", path.c_str());
      return 1;
    }
    files.push_back(path);
  }
  const std::string station_mp3 = dir + "/station.mp3";
  Run("ffmpeg -v error -nostdin -y " + src + "-b:a 128k " + station_mp3);
  Station station;
  if (!station.Start(station_mp3)) {
    std::fprintf(stderr, "bench-soak: the loopback station did not start\n");
    return 1;
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(station.port) + "/icy?t=changing";

  tovui_set_presenter(&CloseBox, nullptr);
  const uint32_t host = tovui_create_window(0, 0, 0, 800, 400);
  SetParentWindow(host);
  Bass_Init();

  std::array<Slot, 33> slots;
  Totals totals;
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> life(2.0, 8.0);
  const auto start = Clock::now();
  for (int i = 1; i <= 32; ++i) {
    slots[i].source = i == 32 ? url : files[static_cast<size_t>(i) % files.size()];
    Open(i, slots[i], totals);
    slots[i].due = Clock::now() + std::chrono::milliseconds(static_cast<int>(life(rng) * 1000));
  }
  // The display: bars of slot 1, red on dark blue, 64 bars of 4 pixels, every 25 ms.
  Select(1);
  SetData(4), SetData(25), SetData(64), SetData(100);
  Push("first"), Push("255#000#000#000#000#064#");  // three digits a field
  StartDraw();

  const double total_s = minutes * 60.0;
  const double warm_s = std::min(60.0, total_s / 2);
  bool warmed = false;
  long rss_warm = 0, rss_max = 0, heap_warm = 0;
  int threads_warm = 0, threads_max = 0, fds_warm = 0, fds_max = 0;
  double cpu_warm = 0;
  Clock::time_point warm_at;
  double mixer_cpu_sum = 0;
  long mixer_cpu_n = 0;
  long reopened = 0;
  auto next_turn = Clock::now();
  auto next_sample = Clock::now();
  int read_cursor = 1;

  while (Seconds(start, Clock::now()) < total_s) {
    tovui_pump(2);
    // Four slots' positions per pass keep every reading recent.
    for (int k = 0; k < 4; ++k) {
      Read(read_cursor, slots[read_cursor], totals);
      read_cursor = read_cursor % 32 + 1;
    }
    const auto now = Clock::now();
    if (now >= next_turn) {
      next_turn = now + std::chrono::milliseconds(250);
      for (int i = 1; i <= 32; ++i) {
        if (now < slots[i].due) continue;
        Read(i, slots[i], totals);
        if (warmed) EndLife(slots[i], totals);
        Open(i, slots[i], totals);
        slots[i].due = Clock::now() + std::chrono::milliseconds(static_cast<int>(life(rng) * 1000));
        ++reopened;
        break;
      }
    }
    if (now >= next_sample) {
      next_sample = now + std::chrono::seconds(1);
      Bass_GetCPU();
      mixer_cpu_sum += std::atof(GetFile());
      ++mixer_cpu_n;
      const long rss = bench::resident_kib();
      const int th = bench::count_entries("/proc/self/task"), fd = bench::count_entries("/proc/self/fd");
      if (!warmed && Seconds(start, now) >= warm_s) {
        warmed = true;
        warm_at = now;
        rss_warm = rss;
        heap_warm = bench::heap_kib();
        threads_warm = th;
        fds_warm = fd;
        cpu_warm = bench::cpu_seconds();
        mixer_cpu_sum = 0;
        mixer_cpu_n = 0;
      }
      if (warmed) {
        rss_max = std::max(rss_max, rss);
        threads_max = std::max(threads_max, th);
        fds_max = std::max(fds_max, fd);
      }
    }
  }
  const auto end = Clock::now();
  const long rss_end = bench::resident_kib(), heap_end = bench::heap_kib();
  const int threads_end = bench::count_entries("/proc/self/task"), fds_end = bench::count_entries("/proc/self/fd");
  const double cpu = (bench::cpu_seconds() - cpu_warm) / Seconds(warm_at, end) * 100.0;
  Select(32);
  Push("%TITL");
  Bass_GetTags();
  const std::string live_title = GetFile();

  std::printf(
      "soak: %.1f min, 32 slots (31 files in 6 codecs + 1 loopback station), EQ + 5 effects each, bars display\n",
      Seconds(start, end) / 60.0);
  std::printf("  slots reopened:        %ld (%.1f per second), failed opens %d, message boxes %d\n", reopened,
              reopened / Seconds(start, end), totals.failed_opens, g_boxes);
  std::printf("  resident memory:       %.1f MiB after %.0f s, %.1f MiB at the end, growth %+.2f MiB (max %.1f MiB)\n",
              rss_warm / 1024.0, warm_s, rss_end / 1024.0, (rss_end - rss_warm) / 1024.0, rss_max / 1024.0);
  std::printf("  heap in use:           %.1f MiB after %.0f s, %.1f MiB at the end, growth %+.2f MiB\n",
              heap_warm / 1024.0, warm_s, heap_end / 1024.0, (heap_end - heap_warm) / 1024.0);
  std::printf("  threads:               %d after warm-up, %d at the end (max %d)\n", threads_warm, threads_end,
              threads_max);
  std::printf("  file descriptors:      %d after warm-up, %d at the end (max %d)\n", fds_warm, fds_end, fds_max);
  std::printf("  underruns:             %d of %d slot lives short by > 20 ms; %.0f ms short in all, worst %.0f ms\n",
              totals.underruns, totals.lives, totals.short_ms, totals.worst_ms);
  std::printf("  stalled readings:      %ld of %ld\n", totals.stalled_seen, totals.stall_checks);
  std::printf("  CPU:                   %.1f %% of one core (process, after warm-up); mixer %.1f %% (library)\n", cpu,
              mixer_cpu_n ? mixer_cpu_sum / mixer_cpu_n : 0.0);
  std::printf("  station live title:    '%s'\n", live_title.c_str());

  StopDraw();
  Bass_Free();
  return 0;
}
