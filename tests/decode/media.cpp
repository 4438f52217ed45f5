#include "media.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace tovarin::test {

bool have_tool(const char* name) { return run(std::string("command -v ") + name + " >/dev/null 2>&1"); }

bool run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

std::string capture(const std::string& cmd) {
  std::string out;
  FILE* f = ::popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  ::pclose(f);
  return out;
}

std::vector<float> ffmpeg_decode(const std::string& path, int channels) {
  const std::string raw = capture("ffmpeg -v error -nostdin -i " + sh_quote(path) + " -ac " + std::to_string(channels) +
                                  " -f f32le -c:a pcm_f32le -");
  std::vector<float> v(raw.size() / sizeof(float));
  std::memcpy(v.data(), raw.data(), v.size() * sizeof(float));
  return v;
}

std::string sh_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

bool make_tone(const std::string& path, int seconds, const std::string& args) {
  return run("ffmpeg -v error -nostdin -y -f lavfi -i \"sine=frequency=440:sample_rate=44100:duration=" +
             std::to_string(seconds) + "\" -ac 2 " + args + " " + sh_quote(path));
}

double rms(const float* p, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n; ++i) sum += double(p[i]) * p[i];
  return std::sqrt(sum / n);
}

std::string chained_ogg(const TempDir& dir, const std::string& codec) {
  const std::string first = dir.file(codec + "-1.ogg"), second = dir.file(codec + "-2.ogg"),
                    chained = dir.file(codec + "-chained.ogg");
  const std::string encode = " -c:a " + codec + " -v error -nostdin -y ";
  const bool ok = run("ffmpeg -f lavfi -i sine=frequency=440:duration=3:sample_rate=44100 -ac 2" + encode +
                      "-metadata title=PartOne " + sh_quote(first)) &&
                  run("ffmpeg -f lavfi -i sine=frequency=1000:duration=3:sample_rate=48000 -ac 1" + encode +
                      "-metadata title=PartTwo -serial_offset 1000 " + sh_quote(second)) &&
                  run("cat " + sh_quote(first) + " " + sh_quote(second) + " > " + sh_quote(chained));
  return ok ? chained : "";
}

}  // namespace tovarin::test
