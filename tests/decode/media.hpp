// Test media made at test time with ffmpeg/sox, and independent decodes of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/temp_dir.hpp"

namespace tovarin::test {

bool have_tool(const char* name);
// Runs a shell command; true when it exits 0.
bool run(const std::string& cmd);
// Standard output of a shell command.
std::string capture(const std::string& cmd);
// Interleaved float samples of a file decoded by the ffmpeg command-line tool.
std::vector<float> ffmpeg_decode(const std::string& path, int channels);
// Single quotes for the shell.
std::string sh_quote(const std::string& s);

}  // namespace tovarin::test
