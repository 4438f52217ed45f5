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

#include "desktop.hpp"
#include "end_watch.hpp"
#include "keys.hpp"
#include "lists.hpp"
#include "melody.hpp"
#include "output.hpp"
#include "plugin_api.hpp"
#include "probe.hpp"
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
  host::DesktopWindow desktop;  // the window shown without an X server

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
    if (!desktop.Update()) g_quit_signal = 1;  // closed: as q
    return n > 0 && watch_stdin && (fds[1].revents & POLLIN);
  }

  void PumpFor(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) Pump(10, false);
  }

  void Close() {
    desktop.Close();
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
      api.SetData(5);                           // bar width
      api.SetData(10);                          // timer interval, ms
      api.SetData(22);                          // bars: the form's width
      api.SetData(200);                         // height
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
    std::cout << "form: " << w << " x " << h << " at " << x << "," << y
              << (tovui_is_visible(form) ? ", visible" : ", hidden") << "\n";
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
  api.SetData(5);                           // bar width
  api.SetData(10);                          // timer interval, ms
  api.SetData(60);                          // bars
  api.SetData(kWindowHeight / 2);           // height
  api.StartDraw();
}

// What comes after a file: the next one, the previous one, or the end of
// the list (q, a signal).
enum class After { kNext, kPrevious, kQuit };

// Plays a list of files and URLs through the plug-in. The library is
// initialised once for the whole list and its output stays open: files take
// turns in two slots, and while one plays the next local file is opened in
// the other, so that it starts the moment the first has played out. n and b
// fade the current one out and move along the list; q ends it.
class ListPlayer {
 public:
  ListPlayer(Session& s, std::vector<std::string> sources, PlayOptions& options)
      : s_(s), api_(s.api), sources_(std::move(sources)), options_(options) {
    options_.several = sources_.size() > 1;
  }

  // The exit code: 0, or that of the last file that could not be played.
  int Run() {
    struct sigaction quit_action {};
    quit_action.sa_handler = OnQuitSignal;
    sigaction(SIGINT, &quit_action, nullptr);
    sigaction(SIGTERM, &quit_action, nullptr);
    host::InitQuietly(api_);
    std::cout << host::OutputInUse() << "\n";
    if (options_.show) s_.desktop.Open(s_.window, kWindowWidth, kWindowHeight, "tovarin");
    int rc = 0;
    bool played_any = false;
    for (size_t i = 0; i < sources_.size() && !g_quit_signal;) {
      if (options_.several) std::cout << "[" << i + 1 << "/" << sources_.size() << "] " << sources_[i] << "\n";
      slot_ = 3 - slot_;
      const bool ready = prepared_ == i;
      prepared_ = tried_ = kNone;
      After after = After::kNext;
      if (const int wrong = ready ? 0 : Open(i, slot_, true); wrong != 0) {
        rc = wrong;
      } else {
        after = Play(i);
        played_any = true;
      }
      if (after == After::kQuit) break;
      i = after == After::kPrevious ? (i > 0 ? i - 1 : 0) : i + 1;
    }
    if (played_any) {
      if (!options_.snapshot.empty()) {
        if (tovui_save_png(s_.window, options_.snapshot.c_str())) {
          std::cout << "snapshot: " << options_.snapshot << "\n";
        } else {
          std::cerr << "tovarin: cannot write the snapshot " << options_.snapshot << "\n";
          rc = 4;
        }
      }
      if (options_.show && !s_.desktop.IsOpen()) host::ShowWindow(s_.window, 80);
    }
    api_.Bass_Free();
    return rc;
  }

 private:
  static constexpr size_t kNone = SIZE_MAX;
  // The next file is opened once the current one has had this long to start.
  static constexpr auto kPrepareAfter = std::chrono::milliseconds(300);
  // What a fade out takes at the host's volumes (at most 100 steps of 1 ms).
  static constexpr int kFadeOutMs = 300;

  // Opens sources[i] into slot. Returns 0, or 2/3 when it cannot be played
  // (said on standard error when `report`).
  int Open(size_t i, int slot, bool report) {
    const std::string& source = sources_[i];
    if (!IsUrl(source)) {
      if (const std::string wrong = host::CheckFile(source); !wrong.empty()) {
        if (report) std::cerr << "tovarin: " << wrong << "\n";
        return 2;
      }
    }
    api_.SetData(slot);
    api_.Bass_ChannelNum();
    api_.SetFile(source.c_str());
    if (api_.Bass_Create()) return 0;
    if (report) {
      std::string why = IsUrl(source) ? host::ProbeUrl(source) : "";
      if (why.empty())
        why = IsUrl(source) ? "no audio stream the plug-in can play there" : "not an audio file the plug-in can play";
      std::cerr << "tovarin: cannot play " << source << ": " << why << "\n";
    }
    return 3;
  }

  // Local files only: opening sets the player's one URL flag, which the
  // playing stream must keep.
  void PrepareNext(size_t i) {
    tried_ = i + 1;
    if (i + 1 >= sources_.size() || IsUrl(sources_[i]) || IsUrl(sources_[i + 1])) return;
    if (Open(i + 1, 3 - slot_, false) == 0) prepared_ = i + 1;
    api_.SetData(slot_);
    api_.Bass_ChannelNum();
  }

  uint32_t Number(void (*query)()) {
    return static_cast<uint32_t>(std::strtoul(api_.Query(query).c_str(), nullptr, 10));
  }

  void ShowTags(const std::string& source, const std::string& title) {
    const std::string artist = api_.Tag("%ARTI");
    std::cout << "Title:  " << (title.empty() ? std::filesystem::path(source).filename().string() : title) << "\n";
    if (!artist.empty()) std::cout << "Artist: " << artist << "\n";
    const std::string album = api_.Tag("%ALBM");
    if (!album.empty() && album != title) std::cout << "Album:  " << album << "\n";
    const std::string bits = api_.Query(api_.Bass_GetBit);
    std::cout << "Format: " << api_.Query(api_.Bass_GetFreq) << " Hz, " << api_.Query(api_.Bass_GetChannels);
    if (bits != "0") std::cout << ", " << bits << " kbit/s";
    std::cout << "\n";
  }

  enum class State { kPlaying, kPaused, kStopped };
  // The file playing, as the keys change it.
  struct NowPlaying {
    NowPlaying(bool url, uint32_t length) : end(url, length), length(length) {}
    State state = State::kPlaying;
    After after = After::kNext;
    bool leave = false;     // the file is left: after says for what
    uint32_t position = 0;  // seconds, as last asked
    host::EndWatch end;
    uint32_t length;
  };

  void Act(host::Action action, NowPlaying& p) {
    switch (action) {
      case host::Action::Quit:
        p.leave = true;
        p.after = After::kQuit;
        break;
      case host::Action::Next:
      case host::Action::Previous:
        if (!options_.several) break;
        p.leave = true;
        p.after = action == host::Action::Next ? After::kNext : After::kPrevious;
        break;
      case host::Action::PauseResume:
        if (p.state == State::kPlaying) {
          api_.Bass_Pause();
          p.state = State::kPaused;
          break;
        }
        [[fallthrough]];
      case host::Action::Play:
        api_.Bass_Play();
        p.state = State::kPlaying;
        p.end.Played(Clock::now());
        break;
      case host::Action::Stop:
        api_.Bass_Stop();
        p.state = State::kStopped;
        break;
      case host::Action::Back:
      case host::Action::Forward: {
        // A stopped stream plays again from its start, so a seek then would
        // be lost.
        if (p.state == State::kStopped) break;
        const int64_t to = static_cast<int64_t>(p.position) + (action == host::Action::Forward ? 5 : -5);
        api_.SetData(static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(to, p.length ? p.length : to))));
        api_.Bass_SetPosition();
        p.end.Played(Clock::now());
        break;
      }
      case host::Action::Louder:
      case host::Action::Quieter: {
        int& volume = options_.volume;
        volume = std::max(0, std::min(100, volume + (action == host::Action::Louder ? 10 : -10)));
        api_.SetData(volume);
        api_.Bass_SetVolume();
        break;
      }
      case host::Action::None: break;
    }
  }

  // Plays sources[i], open in slot_, until it ends or a key moves on. A
  // file that played out leaves the output to the next at once.
  After Play(size_t i) {
    const std::string& source = sources_[i];
    const bool url = IsUrl(source);
    int& volume = options_.volume;
    api_.SetData(slot_);
    api_.Bass_ChannelNum();
    api_.Draw(0, 0, 0, kWindowWidth, kWindowHeight);
    api_.SetData(volume);
    api_.Bass_SetVolume();
    const bool tty_out = isatty(STDOUT_FILENO);
    const bool live = options_.live && tty_out && options_.spectrum != "off";
    // The display runs only where someone sees it: drawn live in the
    // terminal, in a snapshot, or in the window shown.
    if (live || !options_.snapshot.empty() || options_.show) StartSpectrum(api_, options_.spectrum);
    api_.Bass_Play();

    const std::string title = api_.Tag("%TITL");
    ShowTags(source, title);
    const uint32_t length = Number(api_.Bass_GetLength);
    if (keys_.active() && !keys_shown_)
      std::cout << "keys: space pause/resume, s stop, p play, left/right seek 5 s, +/- volume, "
                << (options_.several ? "n/b next/previous, " : "") << "q quit\n";
    keys_shown_ = true;

    NowPlaying now_playing{url, length};
    const State& state = now_playing.state;
    const After& after = now_playing.after;
    const bool& leave = now_playing.leave;
    uint32_t& position = now_playing.position;
    host::EndWatch& end = now_playing.end;
    uint32_t last_shown = UINT32_MAX;
    std::string last_line, live_title = title;
    const auto play_at = Clock::now();
    end.Played(play_at);
    auto next_status = play_at;
    host::LiveSpectrum spectrum(s_.window, kWindowHeight / 2);
    // A file without a length is a clip under half a second.
    const bool has_length = length > 0 || !url;
    bool ended = false;
    while (!leave && !ended) {
      if (g_quit_signal) {
        Act(host::Action::Quit, now_playing);
        break;
      }
      // Near a file's end the watch looks closely, so that the next file
      // follows without a gap.
      const bool near_end = state == State::kPlaying && has_length && position + 1 >= length;
      bool force_status = false;
      if (s_.Pump(near_end ? 2 : 50, keys_.active())) {
        for (std::string key = keys_.Read(); !key.empty(); key = keys_.Read()) {
          force_status = true;
          Act(host::KeyAction(key), now_playing);
        }
      }
      const auto now = Clock::now();
      position = Number(api_.Bass_GetPosition);
      if (state == State::kPlaying) {
        api_.Bass_GetLLevel();
        const bool quiet = std::string(api_.GetFile()) == "0" && api_.Query(api_.Bass_GetRLevel) == "0";
        ended = end.Ended(now, position, quiet);
        if (tried_ != i + 1 && !ended && now - play_at >= kPrepareAfter) PrepareNext(i);
      }
      if (live && !ended) spectrum.Frame(last_line);
      if (now < next_status && !force_status && !ended) continue;
      next_status = now + std::chrono::milliseconds(100);

      if (url) {
        const std::string t = api_.Tag("%TITL");
        if (!t.empty() && t != live_title) {
          live_title = t;
          std::cout << (tty_out ? "\r\x1b[K" : "") << "Now:    " << live_title << std::endl;
          last_shown = UINT32_MAX;
          spectrum.LinePrinted();
        }
      }
      // The plug-in keeps a stopped stream's position, but plays it again
      // from its start: show where play will begin.
      const uint32_t shown = state == State::kStopped ? 0 : position;
      const char* label = state == State::kPlaying ? "playing" : state == State::kPaused ? "paused " : "stopped";
      const std::string line =
          host::StatusLine(label, api_.Format(shown), has_length ? api_.Format(length) : "", volume);
      if (line != last_line || shown != last_shown) {
        last_line = line;
        last_shown = shown;
        host::PrintStatus(line, tty_out);
      }
    }
    if (tty_out) std::cout << "\n";
    if (!ended) {
      // A pause fades out like a stop but leaves the player ready to play
      // the next slot from its start; q stops.
      if (after == After::kQuit)
        api_.Bass_Stop();
      else
        api_.Bass_Pause();
      s_.PumpFor(kFadeOutMs);
    } else if (i + 1 >= sources_.size()) {
      s_.PumpFor(100);  // the output device plays what it still holds
    }
    return after;
  }

  Session& s_;
  host::PluginApi& api_;
  std::vector<std::string> sources_;
  PlayOptions& options_;
  host::RawKeys keys_;
  bool keys_shown_ = false;
  int slot_ = 2;             // slot of the current file; the first goes to 1
  size_t prepared_ = kNone;  // the file opened ahead in the other slot
  size_t tried_ = kNone;     // the file last tried ahead
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"tovarin: the reference host of the tovarin audio plug-in"};
  std::string plugin_path = host::DefaultPluginPath();
  app.set_version_flag("--version", "tovarin " TOVARIN_VERSION_TEXT);
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
  play->add_flag("--show", options.show,
                 "show the host window: a real window while playing on an X display or a Wayland session, else "
                 "drawn in the terminal when playback ends");

  CLI11_PARSE(app, argc, argv);
  host::ChooseDisplay(*play && options.show);
  // Asked for by name, the display is also drawn live in the terminal.
  options.live = play->count("--spectrum") > 0;

  Session session;
  if (!session.Open(plugin_path)) return 1;
  int rc = 0;
  if (*info) {
    rc = Info(session, snapshot, show);
  } else if (*play) {
    std::cout << session.api.GetInfo() << "\n" << session.api.Copyright() << "\n";
    rc = ListPlayer(session, host::ExpandLists(sources), options).Run();
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
      PlayOptions defaults;
      rc = ListPlayer(session, {wav}, defaults).Run();
      std::remove(wav.c_str());
      rmdir(dir);
    }
  }
  session.Close();
  return rc;
}
