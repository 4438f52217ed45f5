// tovarin, the reference host, on media made here by ffmpeg, with the
// silent real-time output.
#include <gtest/gtest.h>
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

namespace {

// The media folder of this test process, removed when the process ends.
struct MediaDir {
  std::string path;
  MediaDir() {
    char tmpl[] = "/tmp/tovarin-e2e-XXXXXX";
    if (const char* d = mkdtemp(tmpl)) path = d;
  }
  ~MediaDir() {
    if (!path.empty()) std::filesystem::remove_all(path);
  }
};

std::string Dir() {
  static MediaDir dir;
  return dir.path.empty() ? std::string("/tmp") : dir.path;
}

struct Result {
  int exit_code = -1;
  std::string output;
  double seconds = 0;
};

// Runs the host with a time limit; stdin is not a terminal, so no keys.
Result Host(const std::string& args, int limit_s = 60) {
  const std::string out = Dir() + "/out.txt";
  const std::string cmd = "TOVARIN_AUDIO_OUTPUT=null timeout " + std::to_string(limit_s) + " " TOVARIN_HOST_PATH " " +
                          args + " </dev/null >" + out + " 2>&1";
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(cmd.c_str());
  Result r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(out);
  r.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return r;
}

std::string MakeMedia(const std::string& name, const std::string& codec_args) {
  const std::string path = Dir() + "/" + name;
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=2.2:sample_rate=44100 -ac 2 "
                          "-metadata title='E2E Tone' -metadata artist='Tovarin Tests' " +
                          codec_args + " " + path;
  return std::system(cmd.c_str()) == 0 ? path : std::string();
}

}  // namespace

TEST(HostPlay, PlaysMp3AndFlacToTheEndAndExitsZero) {
  for (const auto& [name, codec] : {std::pair<std::string, std::string>{"tone.mp3", "-c:a libmp3lame -b:a 128k"},
                                    {"tone.flac", "-c:a flac"}}) {
    const std::string media = MakeMedia(name, codec);
    ASSERT_FALSE(media.empty()) << name;
    const Result r = Host("play " + media);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("Title:  E2E Tone"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Artist: Tovarin Tests"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("44100 Hz, Stereo"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("kbit/s"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("00:02 / 00:02"), std::string::npos) << r.output;
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
  FILE* dec = popen(("ffmpeg -v error -i " + png + " -f rawvideo -pix_fmt rgb24 -").c_str(), "r");
  ASSERT_NE(dec, nullptr);
  std::vector<unsigned char> rgb(size_t(w) * h * 3);
  const size_t got = fread(rgb.data(), 1, rgb.size(), dec);
  pclose(dec);
  ASSERT_EQ(got, rgb.size());
  int top_y = h, top_x = -1;
  for (int y = 0; y < h / 2 - 1; ++y)
    for (int x = 0; x < w; ++x) {
      const unsigned char* p = &rgb[(size_t(y) * w + x) * 3];
      if (p[0] == 40 && p[1] == 200 && p[2] == 255 && y < top_y) {
        top_y = y;
        top_x = x;
      }
    }
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
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t server = fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    dup2(out[1], 1);
    execl("/usr/bin/python3", "python3", TOVARIN_FAULT_SERVER, mp3.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  char port[16] = {};
  const ssize_t n = read(out[0], port, sizeof port - 1);
  close(out[0]);
  // The station never ends: the host is stopped after 7 s (exit 124).
  const Result r = n > 0 ? Host("play http://127.0.0.1:" + std::to_string(std::atoi(port)) + "/icy?t=changing", 7)
                         : Result{};
  kill(server, SIGKILL);
  waitpid(server, nullptr, 0);
  ASSERT_GT(n, 0) << "the station did not start";
  EXPECT_NE(r.output.find("Song 0"), std::string::npos) << r.output;
  size_t changes = 0;
  for (size_t at = r.output.find("Now:"); at != std::string::npos; at = r.output.find("Now:", at + 1)) ++changes;
  EXPECT_GE(changes, 2u) << r.output;
  EXPECT_NE(r.output.find("Now:    Song 2"), std::string::npos) << r.output;
}
