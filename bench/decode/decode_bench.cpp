// Decode throughput of file sources against the ffmpeg command line on the
// same files, and memory held by open file and URL streams. Prints medians
// and ratios measured in the same run.
//
//   bench-decode [seconds of audio 1..3600, default 600] [repeats 1..100, default 5]
//   bench-decode --pull FILE  pulls FILE to its end through a decoding stream
//                             and exits: one whole process to set against
//                             `ffmpeg -i FILE -f null -` by CPU (/usr/bin/time)
// TOVARIN_FAULT_SERVER=tests/radio/fault_server.py adds the URL figures.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "audio/source.hpp"
#include "process_stats.hpp"

using Clock = std::chrono::steady_clock;

namespace {

double drain_seconds(const std::string& path, int64_t* frames) {
  const auto t = Clock::now();
  auto s = tovarin::audio::open_file_source(path, nullptr);
  if (!s) return -1;
  s->start();
  std::vector<float> buf(8192 * s->info().channels);
  int64_t n = 0;
  while (!s->finished()) {
    const size_t got = s->read(buf.data(), 8192);
    n += static_cast<int64_t>(got);
    if (got == 0) std::this_thread::yield();
  }
  *frames = n;
  return bench::seconds_since(t);
}

double ffmpeg_seconds(const std::string& path) {
  const auto t = Clock::now();
  const std::string cmd = "ffmpeg -v error -nostdin -threads 1 -i '" + path + "' -f null - >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) return -1;
  return bench::seconds_since(t);
}

// The whole path a host's decoding stream takes (library, channel, source),
// as one process; 0 when every frame of the file came out.
int pull_file(const char* path) {
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  if (!BASS_Init(-1, 44100, 0, 0, nullptr)) return 1;
  const HSTREAM h = BASS_StreamCreateFile(0, path, 0, 0, BASS_STREAM_DECODE);
  if (!h) return 1;
  const QWORD expect = BASS_ChannelGetLength(h, BASS_POS_BYTE);
  BASS_CHANNELINFO ci{};
  BASS_ChannelGetInfo(h, &ci);
  static float buf[16384 * 2];
  QWORD frames = 0;
  for (;;) {
    const DWORD n = BASS_ChannelGetData(h, buf, sizeof buf | BASS_DATA_FLOAT);
    if (n == DWORD(-1) || n == 0) break;
    frames += n / (sizeof(float) * ci.chans);
  }
  BASS_StreamFree(h);
  BASS_Free();
  // The length in bytes counts 16-bit samples.
  return frames * 2 * ci.chans == expect ? 0 : 1;
}

constexpr const char* kUsage =
    "usage: bench-decode [SECONDS] [REPEATS]\n"
    "  SECONDS  seconds of audio in each test file, 1..3600 (default 600)\n"
    "  REPEATS  runs per format, medians reported, 1..100 (default 5)\n"
    "usage: bench-decode --pull FILE   decode FILE to its end and exit\n"
    "  TOVARIN_FAULT_SERVER=tests/radio/fault_server.py adds the URL figures.\n";

// A whole positive number within [1, max]; anything else (a flag, a text,
// 0, a sign, a fraction) is refused, so no test file without an end is made.
bool positive_arg(const char* text, long max, int* out) {
  if (!text || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < 1 || v > max) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 600, repeats = 5;
  if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 3 && std::string(argv[1]) == "--pull") return pull_file(argv[2]);
  if (argc > 3 || (argc > 1 && !positive_arg(argv[1], 3600, &seconds)) ||
      (argc > 2 && !positive_arg(argv[2], 100, &repeats))) {
    std::fprintf(stderr, "bench-decode: expected whole positive numbers, got:");
    for (int i = 1; i < argc; ++i) std::fprintf(stderr, " '%s'", argv[i]);
    std::fprintf(stderr, "\n%s", kUsage);
    return 2;
  }
  char tmpl[] = "/tmp/tovarin-bench-XXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  const std::string src = "-f lavfi -i \"anoisesrc=d=" + std::to_string(seconds) +
                          ":c=pink:a=0.2,aformat=channel_layouts=stereo\" -ar 44100";
  struct F {
    const char* name;
    const char* args;
  } formats[] = {{"wav", "-c:a pcm_s16le"},
                 {"flac", "-c:a flac"},
                 {"mp3", "-c:a libmp3lame -b:a 192k"},
                 {"mp3vbr", "-c:a libmp3lame -q:a 2"},
                 {"ogg", "-c:a libvorbis -q:a 5"},
                 {"opus", "-c:a libopus -b:a 128k -ar 48000"},
                 {"m4a", "-c:a aac -b:a 192k"}};
  std::printf(
      "decode throughput, %d s of stereo audio, %d runs, medians (ffmpeg -threads 1 -f null, wall time "
      "including its start-up)\n",
      seconds, repeats);
  std::printf("%-8s %10s %10s %10s %8s\n", "format", "ours s", "ffmpeg s", "x realtime", "speed");
  std::vector<std::string> paths;
  for (const F& f : formats) {
    const std::string ext = std::string(f.name) == "mp3vbr" ? "mp3" : f.name;
    const std::string path = dir + "/" + f.name + "." + ext;
    const std::string cmd = "ffmpeg -v error -nostdin -y " + src + " " + f.args + " '" + path + "'";
    if (std::system(cmd.c_str()) != 0) continue;
    paths.push_back(path);
    std::vector<double> ours, theirs;
    int64_t frames = 0;
    for (int i = 0; i < repeats; ++i) {
      // Alternate the two so machine load falls on both alike.
      ours.push_back(drain_seconds(path, &frames));
      theirs.push_back(ffmpeg_seconds(path));
    }
    const double o = bench::median(ours), t = bench::median(theirs);
    std::printf("%-8s %10.3f %10.3f %10.0f %8.2f\n", f.name, o, t,
                frames / (std::string(f.name) == "opus" ? 48000.0 : 44100.0) / o, t / o);
  }

  // Memory per open file stream (opened, ring prefilled).
  {
    const long before = bench::heap_kib(true);
    std::vector<std::unique_ptr<tovarin::audio::Source>> open;
    for (int i = 0; i < 32; ++i)
      for (const auto& p : paths)
        if (p.find(".mp3") != std::string::npos) {
          open.push_back(tovarin::audio::open_file_source(p, nullptr));
          break;
        }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long after = bench::heap_kib(true);
    std::printf("memory: %zu open MP3 file streams: %.0f KiB each\n", open.size(),
                double(after - before) / std::max<size_t>(open.size(), 1));
  }

  // URL streams against the loopback test server, if it is at hand.
  const char* server = std::getenv("TOVARIN_FAULT_SERVER");
  if (server && !paths.empty()) {
    const std::string mp3 = dir + "/radio.mp3";
    std::system(
        ("ffmpeg -v error -nostdin -y -f lavfi -i sine=d=20 -ac 2 -ar 44100 -c:a libmp3lame -b:a 128k '" + mp3 + "'")
            .c_str());
    int fds[2];
    if (::pipe(fds) == 0) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::dup2(fds[1], 1);
        ::execl("/usr/bin/python3", "python3", server, mp3.c_str(), nullptr);
        ::_exit(127);
      }
      ::close(fds[1]);
      char portbuf[16] = {};
      for (size_t i = 0; i + 1 < sizeof portbuf && ::read(fds[0], portbuf + i, 1) == 1 && portbuf[i] != '\n'; ++i) {
      }
      const std::string url = "http://127.0.0.1:" + std::to_string(std::atoi(portbuf)) + "/icy?t=changing";
      std::vector<double> opens;
      for (int i = 0; i < 9; ++i) {
        const auto t = Clock::now();
        auto s = tovarin::audio::open_url_source(url, nullptr);
        if (s) opens.push_back(bench::seconds_since(t) * 1000);
      }
      const long before = bench::heap_kib(true);
      std::vector<std::unique_ptr<tovarin::audio::Source>> live;
      for (int i = 0; i < 8; ++i) live.push_back(tovarin::audio::open_url_source(url, nullptr));
      std::vector<float> buf(4096 * 2);
      const auto t = Clock::now();
      while (bench::seconds_since(t) < 2)
        for (auto& s : live)
          if (s) s->read(buf.data(), 4096);
      const long after = bench::heap_kib(true);
      std::printf(
          "url: open until audio can start, median %.1f ms (%zu opens); %zu playing URL streams: %.0f KiB each\n",
          bench::median(opens), opens.size(), live.size(), double(after - before) / live.size());
      live.clear();
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
