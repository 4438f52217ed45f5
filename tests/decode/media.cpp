#include "media.hpp"

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

}  // namespace tovarin::test
