// Opening long files, against ffprobe on the same files. For each file: the
// time BASS_StreamCreateFile takes (what Bass_Create waits for), then the
// time the first BASS_ChannelGetLength takes after it (it may wait for a
// count begun at open), and ffprobe's time to print the duration. Medians
// of repeated opens with a warm cache; the lengths are printed beside
// ffprobe's, which estimates some of them. Each repeat opens every file
// twice, in turn: counted as the library counts (a raw stream's end read
// from frame headers) and with the demuxer counting every packet, as before
// the header scan.
//
//   bench-open [minutes 1..1500, default 120] [repeats 1..50, default 5] [folder]
//
// The files are made once in the folder (default /tmp/tovarin-bench-open)
// and kept: an hour of audio copied from a minute encoded by ffmpeg, and a
// 25-hour WAV (RF64, sparse: it reads as silence and takes no disk).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/bass.h"
#include "audio/decode/packet_index.hpp"
#include "process_stats.hpp"

using Clock = std::chrono::steady_clock;

namespace {

struct Kind {
  const char* name;
  const char* ext;
  const char* encode;  // ffmpeg output options of the minute
  const char* copy;    // ffmpeg output options of the long copy
};

// MPEG audio with and without a Xing/Info header, CBR and VBR, ADTS AAC, MP2.
const Kind kKinds[] = {
    {"mp3 cbr 192k, Info", "mp3", "-c:a libmp3lame -b:a 192k", ""},
    {"mp3 cbr 192k, no Xing", "mp3", "-c:a libmp3lame -b:a 192k", "-write_xing 0"},
    {"mp3 vbr q2, Xing", "mp3", "-c:a libmp3lame -q:a 2", ""},
    {"mp3 vbr q2, no Xing", "mp3", "-c:a libmp3lame -q:a 2", "-write_xing 0"},
    {"adts aac 128k", "aac", "-c:a aac -b:a 128k", ""},
    {"mp2 192k", "mp2", "-c:a mp2 -b:a 192k", ""},
};

bool sh(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

std::string le(uint64_t v, int bytes) {
  std::string b(static_cast<size_t>(bytes), '\0');
  for (int i = 0; i < bytes; ++i) b[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
  return b;
}

// An RF64 header for `frames` of 16-bit stereo at 44.1 kHz, the data left
// as a hole in the file.
bool make_wav(const std::string& path, uint64_t frames) {
  const uint64_t data = frames * 4;
  const std::string fmt =
      "fmt " + le(16, 4) + le(1, 2) + le(2, 2) + le(44100, 4) + le(44100 * 4, 4) + le(4, 2) + le(16, 2);
  const std::string ds64 = "ds64" + le(28, 4) + le(data + 72, 8) + le(data, 8) + le(frames, 8) + le(0, 4);
  const std::string head = "RF64" + le(0xFFFFFFFF, 4) + "WAVE" + ds64 + fmt + "data" + le(0xFFFFFFFF, 4);
  {
    std::ofstream f(path, std::ios::binary);
    f << head;
    if (!f) return false;
  }
  std::error_code ec;
  std::filesystem::resize_file(path, head.size() + data, ec);
  return !ec;
}

std::string make(const std::string& dir, const Kind& k, int minutes) {
  const std::string minute = dir + "/minute-" + std::to_string(&k - kKinds) + "." + k.ext;
  const std::string out = dir + "/" + std::to_string(minutes) + "min-" + std::to_string(&k - kKinds) + "." + k.ext;
  if (std::filesystem::exists(out)) return out;
  const std::string ff = "ffmpeg -v error -nostdin -y ";
  if (!std::filesystem::exists(minute) &&
      !sh(ff + "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*(200+300*t)*t)|0.4*sin(2*PI*(500+150*t)*t):s=44100:d=60\" " +
          k.encode + " '" + minute + "'"))
    return {};
  const std::string muxer = std::string(k.ext) == "aac" ? "adts" : k.ext;
  if (!sh(ff + "-stream_loop " + std::to_string(minutes - 1) + " -i '" + minute + "' -c copy " + k.copy + " -f " +
          muxer + " '" + out + ".part' && mv '" + out + ".part' '" + out + "'"))
    return {};
  return out;
}

double ffprobe(const std::string& path, double* seconds) {
  const auto t = Clock::now();
  const std::string cmd = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p || std::fscanf(p, "%lf", seconds) != 1) *seconds = -1;
  if (p) pclose(p);
  return bench::seconds_since(t);
}

}  // namespace

int main(int argc, char** argv) {
  const int minutes = argc > 1 ? std::atoi(argv[1]) : 120;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::string dir = argc > 3 ? argv[3] : "/tmp/tovarin-bench-open";
  if (minutes < 1 || minutes > 1500 || repeats < 1 || repeats > 50) {
    std::fprintf(stderr, "usage: bench-open [minutes 1..1500] [repeats 1..50] [folder]\n");
    return 2;
  }
  std::filesystem::create_directories(dir);
  std::vector<std::pair<std::string, std::string>> files;
  for (const Kind& k : kKinds) {
    const std::string f = make(dir, k, minutes);
    if (f.empty()) {
      std::fprintf(stderr, "ffmpeg could not make %s\n", k.name);
      return 1;
    }
    files.emplace_back(k.name, f);
  }
  const std::string wav = dir + "/25h.wav";
  if (!std::filesystem::exists(wav) && !make_wav(wav, uint64_t{25} * 3600 * 44100)) return 1;
  files.emplace_back("wav 25 h (RF64)", wav);

  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  if (!BASS_Init(-1, 44100, 0, 0, nullptr)) return 1;
  std::printf("%d min, medians of %d (ms); length in seconds\n", minutes, repeats);
  std::printf("%-24s %7s %10s %10s %8s %8s %9s %14s %12s\n", "file", "open", "1st length", "demuxed", "ffprobe",
              "ratio", "ratio dx", "length", "ffprobe's");
  using tovarin::audio::decode::PacketIndex;
  for (const auto& [name, path] : files) {
    std::vector<double> open, length, demuxed, probe;
    double seconds = -1, demuxed_seconds = -1, probe_seconds = -1;
    for (int i = 0; i < repeats; ++i) {
      for (const bool scan : {true, false}) {
        PacketIndex::use_frame_scan(scan);
        auto t = Clock::now();
        const HSTREAM h = BASS_StreamCreateFile(0, path.c_str(), 0, 0, 0);
        if (scan) open.push_back(bench::seconds_since(t) * 1e3);
        if (!h) {
          std::fprintf(stderr, "%s: error %d\n", path.c_str(), BASS_ErrorGetCode());
          return 1;
        }
        t = Clock::now();
        const QWORD bytes = BASS_ChannelGetLength(h, BASS_POS_BYTE);
        (scan ? length : demuxed).push_back(bench::seconds_since(t) * 1e3);
        (scan ? seconds : demuxed_seconds) = BASS_ChannelBytes2Seconds(h, bytes);
        BASS_StreamFree(h);
      }
      probe.push_back(ffprobe(path, &probe_seconds) * 1e3);
    }
    PacketIndex::use_frame_scan(true);
    if (seconds != demuxed_seconds) std::printf("%s: lengths differ, %.6f s demuxed\n", name.c_str(), demuxed_seconds);
    // Ratios: open + first length query, against ffprobe; "dx" with the demuxer's count.
    const double o = bench::median(open), l = bench::median(length), d = bench::median(demuxed);
    const double p = bench::median(probe);
    std::printf("%-24s %7.1f %10.1f %10.1f %8.1f %8.2f %9.2f %14.6f %12.3f\n", name.c_str(), o, l, d, p, (o + l) / p,
                (o + d) / p, seconds, probe_seconds);
  }
  BASS_Free();
  return 0;
}
