// tovarin, the reference host, on media made here by ffmpeg, with the
// silent real-time output.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/fault_server.hpp"
#include "common/temp_dir.hpp"

namespace {

// The media folder of this test process, removed when the process ends.
std::string Dir() {
  static const tovarin::test::TempDir dir("tovarin-e2e");
  return dir.path();
}

struct Result {
  int exit_code = -1;
  std::string output;
  double seconds = 0;
};

// Runs the host with a time limit; stdin is not a terminal, so no keys.
Result Host(const std::string& args, int limit_s = 60, const std::string& env = "TOVARIN_AUDIO_OUTPUT=null") {
  const std::string out = Dir() + "/out.txt";
  const std::string cmd =
      env + " timeout " + std::to_string(limit_s) + " " TOVARIN_HOST_PATH " " + args + " </dev/null >" + out + " 2>&1";
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(cmd.c_str());
  Result r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(out);
  r.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return r;
}

// A key typed once the terminal has shown `after` (since the key before),
// and no sooner than `hold` seconds after the key before.
struct Key {
  std::string after;
  std::string key;
  double hold = 0;
};

// Runs the host on a pseudo-terminal, as a listener would, typing the keys
// in turn. Returns what the terminal showed.
Result HostWithKeys(const std::string& args, const std::vector<Key>& keys, int limit_s = 30) {
  Result r;
  int master = -1;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return r;
  if (pid == 0) {
    setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
    const std::string cmd = "exec timeout " + std::to_string(limit_s) + " " TOVARIN_HOST_PATH " " + args;
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  size_t next = 0, shown_from = 0;
  double typed_at = 0;
  for (;;) {
    pollfd fd{master, POLLIN, 0};
    if (poll(&fd, 1, 20) > 0) {
      char buf[4096];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;  // the host has gone
      r.output.append(buf, static_cast<size_t>(n));
    }
    if (next < keys.size() && r.output.find(keys[next].after, shown_from) != std::string::npos &&
        elapsed() >= typed_at + keys[next].hold) {
      (void)!write(master, keys[next].key.data(), keys[next].key.size());
      shown_from = r.output.size();
      typed_at = elapsed();
      ++next;
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  r.seconds = elapsed();
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string MakeMedia(const std::string& name, const std::string& codec_args) {
  const std::string path = Dir() + "/" + name;
  const std::string cmd =
      "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=2.2:sample_rate=44100 -ac 2 "
      "-metadata title='E2E Tone' -metadata artist='Tovarin Tests' " +
      codec_args + " " + path;
  return std::system(cmd.c_str()) == 0 ? path : std::string();
}

// The w x h picture of a PNG as RGB bytes, decoded by ffmpeg (an
// independent reader); empty when it is not that size.
std::vector<unsigned char> Rgb(const std::string& png, int w, int h) {
  std::vector<unsigned char> rgb(size_t(w) * h * 3);
  FILE* dec = popen(("ffmpeg -v error -i " + png + " -f rawvideo -pix_fmt rgb24 -").c_str(), "r");
  const size_t got = dec ? fread(rgb.data(), 1, rgb.size(), dec) : 0;
  if (dec) pclose(dec);
  if (got != rgb.size()) rgb.clear();
  return rgb;
}

// A pixel in the display's pen colour.
bool Pen(const unsigned char* p) { return p[0] == 40 && p[1] == 200 && p[2] == 255; }

}  // namespace

TEST(HostPlay, PlaysMp3AndFlacToTheEndAndExitsZero) {
  for (const auto& [name, codec] :
       {std::pair<std::string, std::string>{"tone.mp3", "-c:a libmp3lame -b:a 128k"}, {"tone.flac", "-c:a flac"}}) {
    const std::string media = MakeMedia(name, codec);
    ASSERT_FALSE(media.empty()) << name;
    const Result r = Host("play " + media);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    for (const char* shown :
         {"Title:  E2E Tone", "Artist: Tovarin Tests", "44100 Hz, Stereo", "kbit/s", "00:02 / 00:02"})
      EXPECT_NE(r.output.find(shown), std::string::npos) << shown << " in " << r.output;
    // It ran in real time to the end, and stopped there.
    EXPECT_GE(r.seconds, 2.0) << name;
    EXPECT_LT(r.seconds, 20.0) << name;
  }
}

TEST(HostPlay, MissingFileGivesAClearMessageAndNonZeroExit) {
  const Result r = Host("play " + Dir() + "/no-such-file.mp3", 20);
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.output.find("no such file"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("no-such-file.mp3"), std::string::npos) << r.output;
}

// What the host can tell about a source that does not play, said plainly.
TEST(HostPlay, SourcesThatCannotPlayAreExplained) {
  const std::string mp3 = MakeMedia("served.mp3", "-b:a 128k");
  ASSERT_FALSE(mp3.empty());
  const tovarin::test::FaultServer server(TOVARIN_FAULT_SERVER, mp3);
  ASSERT_GT(server.port, 0);
  std::ofstream(Dir() + "/empty.mp3");
  std::filesystem::create_directories(Dir() + "/folder.mp3");
  const std::pair<std::string, std::string> cases[] = {
      {Dir() + "/folder.mp3", "is a directory"},
      {Dir() + "/empty.mp3", "is empty"},
      {"http://127.0.0.1:1/radio.mp3", "refuses the connection"},
      {server.Url("/404"), "404 Not Found"},
  };
  for (const auto& [source, says] : cases) {
    const Result r = Host("play " + source, 30);
    EXPECT_NE(r.exit_code, 0) << source;
    EXPECT_NE(r.output.find(says), std::string::npos) << source << ": " << r.output;
  }
  // A snapshot that cannot be written ends with a non-zero exit.
  const Result snap = Host("play " + mp3 + " --snapshot " + Dir() + "/no-dir/x.png", 30);
  EXPECT_NE(snap.exit_code, 0) << snap.output;
  EXPECT_NE(snap.output.find("cannot write"), std::string::npos) << snap.output;
}

TEST(HostPlay, AFileThatIsNotAudioIsRefusedWithNonZeroExit) {
  const std::string text = Dir() + "/notes.txt";
  std::ofstream(text) << "not audio\n";
  const Result r = Host("play " + text, 20);
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.output.find("cannot play"), std::string::npos) << r.output;
}

TEST(HostInfo, DescribesThePluginAndWritesASnapshot) {
  const std::string png = Dir() + "/snap.png";
  const Result r = Host("info --snapshot " + png, 20);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("Tovarin 1.0 betta"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("form: 111 x 240"), std::string::npos) << r.output;
  std::ifstream in(png, std::ios::binary);
  char magic[8] = {};
  in.read(magic, 8);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
  // An independent reader agrees on the size of the host window.
  FILE* probe = popen(("ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + png).c_str(), "r");
  ASSERT_NE(probe, nullptr);
  char line[64] = {};
  fgets(line, sizeof line, probe);
  pclose(probe);
  EXPECT_EQ(std::string(line).substr(0, 7), "320,256");
  // The form shows its display running on the built-in piece: bars in the
  // pen colour, not a white area.
  const auto rgb = Rgb(png, 320, 256);
  ASSERT_EQ(rgb.size(), size_t(320) * 256 * 3);
  int pen = 0;
  for (size_t i = 0; i < rgb.size(); i += 3) pen += Pen(&rgb[i]);
  EXPECT_GT(pen, 100) << "no bars in the snapshot";
}

TEST(HostDefault, PlaysItsOwnPieceWithoutArguments) {
  const Result r = Host("", 30);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("Tovarin 1.0 betta"), std::string::npos);
  EXPECT_NE(r.output.find("/ 00:04"), std::string::npos) << r.output;
}

// The spectrum the plug-in draws into the host window while a 440 Hz tone
// plays: read back from the PNG by an independent decoder (ffmpeg), the
// tallest bar stands over FFT bin 10 (440 Hz at 44100 Hz / 1024 points),
// five pixels a bar from x = 1.
TEST(HostPlay, DrawsTheSpectrumOfWhatPlaysIntoItsWindow) {
  const std::string media = MakeMedia("tone.flac", "");
  ASSERT_FALSE(media.empty());
  const std::string png = Dir() + "/spectrum.png";
  const Result r = Host("play " + media + " --spectrum bars --snapshot " + png, 30);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const int w = 320, h = 256;
  const auto rgb = Rgb(png, w, h);
  ASSERT_EQ(rgb.size(), size_t(w) * h * 3);
  int top_y = h, top_x = -1;
  for (int y = 0; y < h / 2 - 1; ++y)
    for (int x = 0; x < w; ++x)
      if (Pen(&rgb[(size_t(y) * w + x) * 3]) && y < top_y) top_y = y, top_x = x;
  ASSERT_GE(top_x, 0) << "no bar drawn";
  EXPECT_GE(top_x, 1 + 10 * 5 - 5);
  EXPECT_LE(top_x, 1 + 11 * 5 + 5);
  EXPECT_LT(top_y, h / 2 - 20) << "the tone's bar is too short";
}

// A station on loopback whose live title changes about once a second (the
// radio tests' server): the host shows each new title as it arrives.
TEST(HostPlay, ShowsTheLiveTitleOfAStationAsItChanges) {
  const std::string mp3 = MakeMedia("station.mp3", "-b:a 128k");
  ASSERT_FALSE(mp3.empty());
  const tovarin::test::FaultServer server(TOVARIN_FAULT_SERVER, mp3);
  ASSERT_GT(server.port, 0) << "the station did not start";
  // The station never ends: the host is stopped after 7 s (exit 124).
  const Result r = Host("play " + server.Url("/icy?t=changing"), 7);
  EXPECT_NE(r.output.find("Song 0"), std::string::npos) << r.output;
  size_t changes = 0;
  for (size_t at = r.output.find("Now:"); at != std::string::npos; at = r.output.find("Now:", at + 1)) ++changes;
  EXPECT_GE(changes, 2u) << r.output;
  EXPECT_NE(r.output.find("Now:    Song 2"), std::string::npos) << r.output;
}

// A pause longer than the host's stall timeout, then space: playback goes on
// to the end. While stopped, the line shows where play begins again (00:00).
TEST(HostKeys, ResumesAfterALongPauseAndShowsAStopAtTheStart) {
  const std::string media = MakeMedia("keys.flac", "-c:a flac");
  ASSERT_FALSE(media.empty());
  constexpr double kLongPause = 4.5;  // the host gives a stream up after 4 s standing still
  const Result r = HostWithKeys("play " + media, {{"[playing] 00:01", " "}, {"[paused ] 00:01", " ", kLongPause}});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("[paused ] 00:01"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("[playing] 00:02 / 00:02"), std::string::npos) << r.output;
  EXPECT_GE(r.seconds, kLongPause + 1.0) << "ended before the rest of the tone was played";

  // Asked for by name, the spectrum is also drawn live in the terminal: bars
  // in the pen colour, redrawn in place (cursor up) above the status line.
  const Result stop =
      HostWithKeys("play " + media + " --spectrum bars", {{"[playing] 00:01", "s"}, {"[stopped] 00:00", "q"}});
  EXPECT_EQ(stop.exit_code, 0) << stop.output;
  EXPECT_NE(stop.output.find("[stopped] 00:00 / 00:02"), std::string::npos) << stop.output;
  EXPECT_NE(stop.output.find("\x1b[38;2;40;200;255m"), std::string::npos);
  EXPECT_NE(stop.output.find("\x1b[16A"), std::string::npos);
}

// Clips shorter than a second show their length and end with their sound,
// not after a stall timeout (4 s before).
TEST(HostPlay, ShortClipsShowALengthAndEndWithTheirSound) {
  // The host's own start and end, measured alongside: loading the plug-in
  // and describing it.
  const double startup = Host("info", 20).seconds;
  for (const char* d : {"0.3", "0.8"}) {
    const std::string path = Dir() + "/short" + d + ".wav";
    ASSERT_EQ(
        std::system(("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=" + std::string(d) + " -ac 2 " + path)
                        .c_str()),
        0);
    const Result r = Host("play " + path, 20);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find(std::string(d) == "0.3" ? "/ 00:00" : "/ 00:01"), std::string::npos) << r.output;
    // Not after the 4 s a stream may stand still: the run is the clip and
    // the host's start and end, with half of those 4 s to spare.
    EXPECT_LT(r.seconds, 0.8 + startup + 2.0) << d;
  }
}

// A file over HTTP has no length for the plug-in; it still ends with its
// sound (2.2 s), not after a stall timeout.
TEST(HostPlay, AFileOverHttpEndsWithItsSound) {
  const std::string mp3 = MakeMedia("over-http.mp3", "-b:a 128k");
  ASSERT_FALSE(mp3.empty());
  const tovarin::test::FaultServer server(TOVARIN_FAULT_SERVER, mp3);
  ASSERT_GT(server.port, 0);
  const double startup = Host("info", 20).seconds;  // measured alongside, as above
  const Result r = Host("play " + server.Url("/ok"), 20);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("[playing] 00:02"), std::string::npos) << r.output;
  EXPECT_LT(r.seconds, 2.2 + startup + 2.0);
}

// The output in use is named; a sound server that is down leaves no sound
// library noise in the terminal (ALSA's "cannot find card" lines).
TEST(HostPlay, NamesTheOutputAndKeepsSoundLibraryNoiseOut) {
  const std::string media = MakeMedia("output.flac", "-c:a flac");
  ASSERT_FALSE(media.empty());
  const Result silent = Host("play " + media, 20);
  EXPECT_NE(silent.output.find("output: silent"), std::string::npos) << silent.output;
  const Result down = Host("play " + media, 20, "env -u TOVARIN_AUDIO_OUTPUT PULSE_SERVER=127.0.0.1:1");
  EXPECT_EQ(down.exit_code, 0) << down.output;
  EXPECT_EQ(down.output.find("ALSA lib"), std::string::npos) << down.output;
  EXPECT_TRUE(down.output.find("no sound device: playing to a silent output") != std::string::npos ||
              down.output.find("output: sound device") != std::string::npos)
      << down.output;
}
