#include "output.hpp"

#include <SDL2/SDL.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace host {

void InitQuietly(PluginApi& api) {
  std::fflush(stderr);
  FILE* held = std::tmpfile();
  const int saved = held ? dup(STDERR_FILENO) : -1;
  if (saved < 0 || dup2(fileno(held), STDERR_FILENO) < 0) {
    if (saved >= 0) close(saved);
    if (held) std::fclose(held);
    api.Bass_Init();
    return;
  }
  api.Bass_Init();
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::rewind(held);
  char line[1024];
  while (std::fgets(line, sizeof line, held))
    if (std::string(line).rfind("ALSA lib ", 0) != 0) std::fputs(line, stderr);
  std::fclose(held);
}

std::string OutputInUse() {
  const char* env = std::getenv("TOVARIN_AUDIO_OUTPUT");
  const std::string choice = env ? env : "";
  if (choice == "null") return "output: silent (TOVARIN_AUDIO_OUTPUT=null)";
  if (choice.rfind("wav:", 0) == 0) return "output: writing what plays to " + choice.substr(4);
  if (!choice.empty() && choice != "auto") return "output: " + choice;
  // The plug-in's audio library plays through SDL, the same library this
  // program links: while a device is open its audio subsystem is running.
  if (SDL_WasInit(SDL_INIT_AUDIO) != 0) {
    const char* driver = SDL_GetCurrentAudioDriver();
    return std::string("output: sound device") + (driver ? std::string(" (") + driver + ")" : "");
  }
  return "no sound device: playing to a silent output";
}

}  // namespace host
