// tovarin: the reference host. It loads Plugin.so with dlopen, lends it a
// window of the tovarin window system and drives it only through its exports.
//
//   tovarin                      plays a short piece it makes itself
//   tovarin info [--snapshot P]  the plug-in's description and its form
//   tovarin play FILE|URL...     a command-line player of files in turn, with
//                                the plug-in's spectrum in the host window
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <tovarin/ui.h>

#include "melody.hpp"
#include "output.hpp"
#include "probe.hpp"
#include "plugin_api.hpp"
#include "terminal.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// SIGINT and SIGTERM end playback the way `q` does: fade out, free the
// library (a wav: output is completed), exit 0.
volatile sig_atomic_t g_quit_signal = 0;
void OnQuitSignal(int) { g_quit_signal = 1; }

constexpr int32_t kWindowWidth = 320;
constexpr int32_t kWindowHeight = 256;

// The host's window and the plug-in inside it.
struct Session {
  host::PluginApi api;
  uint32_t window = 0;

  bool Open(const std::string& plugin_path) {
    std::string error;
    if (!api.Load(plugin_path, error)) {
      std::cerr << "tovarin: " << error << "\n";
      return false;
    }
    window = tovui_create_window(0, 0, 0, kWindowWidth, kWindowHeight);
    if (!window) {
      std::cerr << "tovarin: cannot create a window\n";
      return false;
    }
    api.SetPath(plugin_path.c_str());
    api.SetParentWindow(window);
    return true;
  }

  // Pumps the window system for up to timeout_ms, also watching stdin when
  // watch_stdin is set. Returns true when stdin has input.
  bool Pump(int timeout_ms, bool watch_stdin) {
    pollfd fds[2] = {{tovui_event_fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const int n = poll(fds, watch_stdin ? 2 : 1, timeout_ms);
    tovui_pump(0);
    return n > 0 && watch_stdin && (fds[1].revents & POLLIN);
  }

  void PumpFor(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) Pump(10, false);
  }

  void Close() {
    if (window) tovui_destroy_window(window);
    window = 0;
    api.Unload();
  }
};

// For a picture of the form: the display running for a moment on the
// built-in piece, played to the silent output (info makes no sound).
void RunDisplay(Session& s) {
  char dir_template[] = "/tmp/tovarin-XXXXXX";
  const char* dir = mkdtemp(dir_template);
  if (!dir) return;
  const std::string wav = std::string(dir) + "/tovarin-melody.wav";
  auto& api = s.api;
  if (host::WriteMelody(wav)) {
    setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
    api.Bass_Init();
    api.SetData(1);
    api.Bass_ChannelNum();
    api.SetFile(wav.c_str());
    if (api.Bass_Create()) {
      api.SetFile("first");
      api.SetFile("040#200#255#012#016#032#");  // pen, then brush
      api.SetData(5);                             // bar width
      api.SetData(10);                            // timer interval, ms
      api.SetData(22);                            // bars: the form's width
      api.SetData(200);                           // height
      api.StartDraw();
      api.Bass_Play();
      s.PumpFor(1200);
    }
    api.Bass_Free();
  }
  std::remove(wav.c_str());
  rmdir(dir);
}

int Info(Session& s, const std::string& snapshot, bool show) {
  s.api.Draw(0, 8, 8, 111, 240);
  s.PumpFor(50);
  std::cout << s.api.GetInfo() << "\n" << s.api.Copyright() << "\n";
  const uint32_t form = tovui_child(s.window, 0);
  int32_t x = 0, y = 0, w = 0, h = 0;
  if (form && tovui_get_rect(form, &x, &y, &w, &h))
    std::cout << "form: " << w << " x " << h << " at " << x << "," << y << (tovui_is_visible(form) ? ", visible" : ", hidden")
              << "\n";
  else
    std::cout << "form: none\n";
  if (!snapshot.empty() || show) RunDisplay(s);
  if (!snapshot.empty()) {
    if (!tovui_save_png(s.window, snapshot.c_str())) {
      std::cerr << "tovarin: cannot write " << snapshot << "\n";
      return 1;
    }
    std::cout << "snapshot: " << snapshot << "\n";
  }
  if (show) host::ShowWindow(s.window, 80);
  return 0;
}

// The plug-in takes any source naming "http:" or "https:" as a URL.
bool IsUrl(const std::string& source) {
  return source.find("http:") != std::string::npos || source.find("https:") != std::string::npos;
}

struct PlayOptions {
  int volume = 100;               // carried from one file to the next
  bool several = false;           // n/b move between files
  bool keys_shown = false;        // the key help and the output in use are
  bool output_shown = false;      // printed once
  std::string spectrum = "bars";  // bars, line or off
  bool live = false;              // the display drawn in the terminal while playing
  std::string snapshot;           // PNG of the host window when playback ends
  bool show = false;              // the host window in the terminal at the end
};

// Sets up the plug-in's spectrum display: its colours, mode and geometry.
// The display area is as wide as its height times the timer interval.
void StartSpectrum(host::PluginApi& api, const std::string& mode) {
  if (mode == "off") return;
  api.SetFile(mode == "line" ? "second" : "first");
  api.SetFile("040#200#255#012#016#032#");  // pen, then brush: red#green#blue#
  api.SetData(5);                             // bar width
  api.SetData(10);                            // timer interval, ms
  api.SetData(60);                            // bars
  api.SetData(kWindowHeight / 2);             // height
  api.StartDraw();
}

// Tells when playback has ended, from what the exports show: positions in
// whole seconds and the two levels, which the library answers 0 once a
// stream has played out (and for digital silence).
//
// A file has ended when its levels are 0 and its position has reached the
// length (from then on at most a second of audio is left, so silence there
// can only shorten the end by the silence itself). A stream without a length
// has ended when it has been quiet for kQuietStream without its position
// moving; one that the library freed by itself answers position 0. The
// levels are 0 also in the moment between Bass_Play and the stream starting
// (the fade starts it), so they count only once sound was heard or
// kStartGrace has passed since the play. A URL stream that stops
// delivering data keeps its levels: after kStandStill without a moving
// position it counts as ended too. Nothing here runs while paused or
// stopped, and every play, resume or seek starts the watch afresh.
class EndWatch {
 public:
  EndWatch(bool url, uint32_t length) : url_(url), length_(length) {}

  void Played(Clock::time_point now) {
    play_at_ = last_move_ = now;
    highest_ = 0;
    quiet_since_ = {};
    heard_ = false;
  }

  bool Ended(Clock::time_point now, uint32_t position, bool quiet) {
    if (position != position_) {
      position_ = position;
      last_move_ = now;
      highest_ = std::max(highest_, position);
    }
    if (url_ && highest_ > 0 && position == 0) return true;  // freed at its end
    if (!quiet) {
      heard_ = true;
      quiet_since_ = {};
    } else if (quiet_since_ == Clock::time_point{}) {
      quiet_since_ = now;
    }
    const bool started = heard_ || now - play_at_ >= kStartGrace;
    if (started && quiet) {
      if (length_ > 0 || !url_) {
        if (position >= length_) return true;
      } else if (now - quiet_since_ >= kQuietStream && last_move_ <= quiet_since_) {
        return true;
      }
    }
    return url_ && now - last_move_ > kStandStill;
  }

 private:
  static constexpr auto kStartGrace = std::chrono::milliseconds(500);
  static constexpr auto kQuietStream = std::chrono::milliseconds(400);
  static constexpr auto kStandStill = std::chrono::seconds(4);
  bool url_;
  uint32_t length_;
  uint32_t position_ = 0, highest_ = 0;
  bool heard_ = false;
  Clock::time_point play_at_{}, last_move_{}, quiet_since_{};
};

// What comes after a file: the next one, the previous one, or the end of
// the list (q, a signal).
enum class After { kNext, kPrevious, kQuit };

struct Played {
  int rc = 0;
  After after = After::kNext;
};

// Plays one file or URL. rc is 0, or 2/3 when it could not be played.
Played Play(Session& s, const std::string& source, PlayOptions& options, host::RawKeys& keys) {
  int& volume = options.volume;
  if (!IsUrl(source)) {
    if (const std::string wrong = host::CheckFile(source); !wrong.empty()) {
      std::cerr << "tovarin: " << wrong << "\n";
      return {2, After::kNext};
    }
  }
  auto& api = s.api;
  api.Draw(0, 0, 0, kWindowWidth, kWindowHeight);
  host::InitQuietly(api);
  if (!options.output_shown) std::cout << host::OutputInUse() << "\n";
  options.output_shown = true;
  api.SetData(1);
  api.Bass_ChannelNum();
  api.SetFile(source.c_str());
  if (!api.Bass_Create()) {
    std::string why = IsUrl(source) ? host::ProbeUrl(source) : "";
    if (why.empty()) why = IsUrl(source) ? "no audio stream the plug-in can play there" : "not an audio file the plug-in can play";
    std::cerr << "tovarin: cannot play " << source << ": " << why << "\n";
    api.Bass_Free();
    return {3, After::kNext};
  }
  api.SetData(volume);
  api.Bass_SetVolume();
  StartSpectrum(api, options.spectrum);

  const std::string title = api.Tag("%TITL");
  const std::string artist = api.Tag("%ARTI");
  std::cout << "Title:  " << (title.empty() ? std::filesystem::path(source).filename().string() : title) << "\n";
  if (!artist.empty()) std::cout << "Artist: " << artist << "\n";
  const std::string album = api.Tag("%ALBM");
  if (!album.empty() && album != title) std::cout << "Album:  " << album << "\n";
  const std::string freq = api.Query(api.Bass_GetFreq);
  const std::string chans = api.Query(api.Bass_GetChannels);
  const std::string bits = api.Query(api.Bass_GetBit);
  std::cout << "Format: " << freq << " Hz, " << chans;
  if (bits != "0") std::cout << ", " << bits << " kbit/s";
  std::cout << "\n";
  const uint32_t length = static_cast<uint32_t>(std::strtoul(api.Query(api.Bass_GetLength).c_str(), nullptr, 10));

  const bool tty_out = isatty(STDOUT_FILENO);
  if (keys.active() && !options.keys_shown)
    std::cout << "keys: space pause/resume, s stop, p play, left/right seek 5 s, +/- volume, "
              << (options.several ? "n/b next/previous, " : "") << "q quit\n";
  options.keys_shown = true;
  After after = After::kNext;
  api.Bass_Play();

  enum class State { kPlaying, kPaused, kStopped } state = State::kPlaying;
  uint32_t position = 0, last_shown = UINT32_MAX;
  std::string last_line;
  std::string live_title = title;
  EndWatch end(IsUrl(source), length);
  end.Played(Clock::now());
  auto next_status = Clock::now();
  // At most 25 frames a second of the live display.
  constexpr auto kFramePeriod = std::chrono::milliseconds(40);
  const bool live = options.live && tty_out && options.spectrum != "off";
  auto next_frame = Clock::now();
  int frame_lines = 0;
  bool quit = false, ended = false;
  struct sigaction quit_action {};
  quit_action.sa_handler = OnQuitSignal;
  sigaction(SIGINT, &quit_action, nullptr);
  sigaction(SIGTERM, &quit_action, nullptr);
  while (!quit && !ended) {
    if (g_quit_signal) {
      quit = true;
      after = After::kQuit;
    }
    bool force_status = false;
    if (s.Pump(50, keys.active())) {
      for (std::string key = keys.Read(); !key.empty(); key = keys.Read()) {
        force_status = true;
        if (key == "q") {
          quit = true;
          after = After::kQuit;
        } else if ((key == "n" || key == "b") && options.several) {
          quit = true;
          after = key == "n" ? After::kNext : After::kPrevious;
        } else if (key == " ") {
          if (state == State::kPlaying) {
            api.Bass_Pause();
            state = State::kPaused;
          } else {
            api.Bass_Play();
            state = State::kPlaying;
            end.Played(Clock::now());
          }
        } else if (key == "s") {
          api.Bass_Stop();
          state = State::kStopped;
        } else if (key == "p") {
          api.Bass_Play();
          state = State::kPlaying;
          end.Played(Clock::now());
        } else if ((key == "left" || key == "right") && state != State::kStopped) {
          // A stopped stream plays again from its start, so a seek then
          // would be lost.
          const int64_t to = static_cast<int64_t>(position) + (key == "right" ? 5 : -5);
          api.SetData(static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(to, length ? length : to))));
          api.Bass_SetPosition();
          end.Played(Clock::now());
        } else if (key == "+" || key == "-") {
          volume = std::max(0, std::min(100, volume + (key == "+" ? 10 : -10)));
          api.SetData(volume);
          api.Bass_SetVolume();
        }
      }
    }
    const auto now = Clock::now();
    position = static_cast<uint32_t>(std::strtoul(api.Query(api.Bass_GetPosition).c_str(), nullptr, 10));
    if (state == State::kPlaying) {
      api.Bass_GetLLevel();
      const bool quiet = std::string(api.GetFile()) == "0" && api.Query(api.Bass_GetRLevel) == "0";
      ended = end.Ended(now, position, quiet);
    }
    if (live && now >= next_frame && !ended) {
      // The display area, redrawn in place above the status line.
      next_frame = now + kFramePeriod;
      int lines = 0;
      std::string out = frame_lines > 0 ? "\r\x1b[" + std::to_string(frame_lines) + "A" : std::string("\r\x1b[K");
      out += host::RenderWindow(s.window, 80, kWindowHeight / 2, &lines);
      out += "\x1b[K" + last_line;
      frame_lines = lines;
      std::fwrite(out.data(), 1, out.size(), stdout);
      std::fflush(stdout);
    }
    if (now < next_status && !force_status && !ended) continue;
    next_status = now + std::chrono::milliseconds(100);

    if (IsUrl(source)) {
      const std::string t = api.Tag("%TITL");
      if (!t.empty() && t != live_title) {
        live_title = t;
        std::cout << (tty_out ? "\r\x1b[K" : "") << "Now:    " << live_title << std::endl;
        last_shown = UINT32_MAX;
        frame_lines = 0;  // the next frame starts below this line
      }
    }
    // The plug-in keeps a stopped stream's position, but plays it again
    // from its start: show where play will begin.
    const uint32_t shown = state == State::kStopped ? 0 : position;
    const char* label = state == State::kPlaying ? "playing" : state == State::kPaused ? "paused " : "stopped";
    // A file's length is always known (0 for a clip under half a second); a
    // stream's 0 means it has none.
    const bool has_length = length > 0 || !IsUrl(source);
    const std::string line = std::string("[") + label + "] " + api.Format(shown) +
                             (has_length ? " / " + api.Format(length) : "") + "  vol " + std::to_string(volume) + "%";
    if (line != last_line || shown != last_shown) {
      last_line = line;
      last_shown = shown;
      if (tty_out)
        std::cout << "\r\x1b[K" << line << std::flush;
      else
        std::cout << line << std::endl;  // a pipe or file sees each line as it comes
    }
  }
  if (tty_out) std::cout << "\n";
  int rc = 0;
  if (!options.snapshot.empty()) {
    if (tovui_save_png(s.window, options.snapshot.c_str())) {
      std::cout << "snapshot: " << options.snapshot << "\n";
    } else {
      std::cerr << "tovarin: cannot write the snapshot " << options.snapshot << "\n";
      rc = 4;
    }
  }
  if (options.show) host::ShowWindow(s.window, 80);
  if (!ended) {
    api.Bass_Stop();
    s.PumpFor(300);  // let the fade out run
  } else {
    s.PumpFor(100);  // the output device plays what it still holds
  }
  api.Bass_Free();
  return {rc, after};
}

// Plays the files in turn; n and b move along the list, q ends it. The exit
// code is 0, or that of the last file that could not be played.
int PlayList(Session& s, const std::vector<std::string>& sources, PlayOptions options) {
  host::RawKeys keys;
  options.several = sources.size() > 1;
  int rc = 0;
  for (size_t i = 0; i < sources.size();) {
    if (options.several) std::cout << "[" << i + 1 << "/" << sources.size() << "] " << sources[i] << "\n";
    const Played played = Play(s, sources[i], options, keys);
    if (played.rc != 0) rc = played.rc;
    if (played.after == After::kQuit) break;
    if (played.after == After::kPrevious)
      i = i > 0 ? i - 1 : 0;
    else
      ++i;
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"tovarin: the reference host of the tovarin audio plug-in"};
  std::string plugin_path = host::DefaultPluginPath();
  app.set_version_flag("--version", "tovarin " TOVARIN_VERSION);
  // Options of the program may also follow the subcommand.
  app.fallthrough();
  app.add_option("--plugin", plugin_path, "Plugin.so to load (default: beside this program, or the installed one)");
  app.require_subcommand(0, 1);

  auto* info = app.add_subcommand("info", "show the plug-in's description and its form");
  std::string snapshot;
  bool show = false;
  info->add_option("--snapshot", snapshot, "write a PNG of the host window");
  info->add_flag("--show", show, "draw the host window in the terminal (24-bit colour)");

  auto* play = app.add_subcommand("play", "play a file or an http:/https: stream through the plug-in");
  std::vector<std::string> sources;
  PlayOptions options;
  play->add_option("sources", sources, "audio files or URLs, played in turn")->required();
  play->add_option("--volume", options.volume, "volume in percent")->check(CLI::Range(0, 100));
  play->add_option("--spectrum", options.spectrum,
                   "the plug-in's spectrum display: bars, line or off; given, it is drawn live in the terminal")
      ->check(CLI::IsMember({"bars", "line", "off"}));
  play->add_option("--snapshot", options.snapshot, "write a PNG of the host window when playback ends");
  play->add_flag("--show", options.show, "draw the host window in the terminal when playback ends");

  CLI11_PARSE(app, argc, argv);
  // Asked for by name, the display is also drawn live in the terminal.
  options.live = play->count("--spectrum") > 0;

  Session session;
  if (!session.Open(plugin_path)) return 1;
  int rc = 0;
  if (*info) {
    rc = Info(session, snapshot, show);
  } else if (*play) {
    std::cout << session.api.GetInfo() << "\n" << session.api.Copyright() << "\n";
    rc = PlayList(session, sources, options);
  } else {
    // No subcommand: play a short piece made here.
    std::cout << session.api.GetInfo() << "\n" << session.api.Copyright() << "\n";
    char dir_template[] = "/tmp/tovarin-XXXXXX";
    const char* dir = mkdtemp(dir_template);
    const std::string wav = dir ? std::string(dir) + "/tovarin-melody.wav" : std::string();
    if (!dir || !host::WriteMelody(wav)) {
      std::cerr << "tovarin: cannot write the demo piece\n";
      rc = 1;
    } else {
      rc = PlayList(session, {wav}, PlayOptions{});
      std::remove(wav.c_str());
      rmdir(dir);
    }
  }
  session.Close();
  return rc;
}
