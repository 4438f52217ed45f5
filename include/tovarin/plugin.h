/*
 * tovarin plug-in (Plugin.so): the 56 exports, for host authors.
 *
 * LOADING. A host loads Plugin.so with dlopen and resolves these names with
 * dlsym (C calling convention, no name mangling). Plugin.so needs the
 * window-system library libtovarin-ui.so.1 (include/tovarin/ui.h), which the
 * host links too, so that both share its one instance in the process.
 * Installed: `pkg-config --cflags --libs tovarin` compiles and links a host;
 * `pkg-config --variable=plugin tovarin` is the path of Plugin.so. With
 * CMake, find_package(tovarin 1.0) gives the target tovarin::ui to link and
 * the path TOVARIN_PLUGIN. The version of these headers is below
 * (TOVARIN_VERSION_MAJOR ...); the running library's is tovui_version().
 *
 * ONE THREAD. Every export is called from one thread, the one that called
 * SetParentWindow (the four constant exports excepted, which any thread may
 * call at any time): the plug-in takes no lock of its own, and its form,
 * timers and fades belong to that thread. That thread must pump the window
 * system: play, pause and
 * stop take effect through messages the plug-in posts to itself (a fade of
 * about 0.1 s), the spectrum display runs on timers, and message boxes wait
 * there. A GTK or Qt host on Linux calling from its main thread does nothing
 * for it: its own GLib main loop dispatches them. Any other host polls
 * tovui_event_fd and then calls tovui_pump(0), or calls tovui_pump.
 *
 * DESKTOPS. On an X display, the window given to SetParentWindow is an X
 * window id of the host's (GTK: a native GdkWindow's XID; Qt: winId()), and
 * the form is a real child window of it. Without a display the form lives
 * in memory (see ui.h). Native Wayland hosts either lend an in-memory window
 * and paint it when told (the pull path) or lend their wl_surface (a
 * subsurface): ui.h, "Lending a window: three ways", says which to pick. In
 * short: a GTK 4 host on Wayland lends its surface (the pull path makes GTK
 * redraw its whole window for every picture of the spectrum); a host with
 * no wl_surface to hand over (another display, or none) paints by the pull
 * path.
 *
 * ORDER. 1. SetParentWindow(window) with a window of the host (it creates the
 * plug-in's form and player inside it); Draw(...) to place the form.
 * 2. Bass_Init. 3. Per stream: SetData(slot), Bass_ChannelNum; SetFile(path
 * or URL), Bass_Create; Bass_Play; queries; Bass_Stop; 4. Bass_Free.
 * Before SetParentWindow there is no form and no player: the exports of
 * the player, its effects and the display do nothing (their queries answer
 * ""), and StartDraw shows "StartDraw error". The others act as described
 * at any time: the queues (SetFile, SetData, GetFile, GetData), SetPath,
 * the constants, Bass_Sec2Format, Bass_GetCPU and the five recorder
 * exports.
 *
 * ARGUMENT QUEUES. Operation exports take no arguments. The host pushes them
 * first: strings with SetFile, integers with SetData, onto two queues of ten
 * entries each. Entry [0] is the newest; a push moves every entry one place
 * up and drops entry [9]. Nothing is ever consumed: an export reads the
 * entries it needs at the moment it is called, whatever was pushed last.
 * So a host pushes an export's arguments from the highest entry to [0]:
 * below, "F[n]" is the n-th newest SetFile string, "D[n]" the n-th newest
 * SetData integer, and the arguments are listed in the order to push them.
 *
 * ANSWERS. A query export writes its answer as text, which GetFile then
 * returns (numbers as unsigned decimals without sign or separators, unless
 * said otherwise). Every query replaces the answer, with "" when it has none.
 * Only Bass_ChannelNum, Bass_Create and Record_Init return values directly.
 *
 * SLOTS. The player holds 32 stream slots, 1..32. Every per-stream export
 * acts on the current slot that Bass_ChannelNum chose (1 after Bass_Init);
 * with a current slot outside 1..32 they do nothing.
 *
 * FAILURES are not returned (except by Bass_Create and Record_Init): the
 * plug-in shows them in a modal message box, and the export returns when
 * the box is closed. The texts are listed below with each export. Message
 * boxes go to the presenter installed with tovui_set_presenter. Without
 * one, on an X display the box is a modal dialog over the host's window,
 * and the export waits until the user closes it; without a display the
 * text is printed on standard error and the box closes at once. While a
 * box is open the thread keeps dispatching messages, so an export may be
 * entered again from the host's own message handlers.
 *
 * CALLS. Each export's note ends with [thread; wait; nested]:
 * - thread: "host thread" (the one thread above) or "any thread".
 * - wait: how long the export may keep the calling thread besides its
 *   message boxes. "No wait" means it returns in microseconds: it waits
 *   for no device, file, network or display, only, at most, for a lock
 *   the audio thread holds for microseconds.
 * - nested: "nested ok" means the export may be called while a message
 *   box of the plug-in is open on that thread (from the host's handlers
 *   that the box's loop dispatches, or from the presenter): the plug-in
 *   holds no lock across a box, and the export that showed the box goes on
 *   afterwards with the state as the nested calls left it. Never unload
 *   the plug-in while one of its exports or boxes is running.
 *
 * STRINGS are zero-terminated bytes (UTF-8 for tags). The plug-in copies what
 * it is given; returned pointers point into its own storage, valid until the
 * next export that replaces them or until the library is unloaded.
 *
 * UNITS. Positions and lengths: whole seconds, rounded to nearest (halves to
 * even). Volume and pan: percent. Levels: 0..32768. Sample rate: Hz.
 * Bitrate: kbit/s. Effect values: see each effect.
 */
#ifndef TOVARIN_PLUGIN_H
#define TOVARIN_PLUGIN_H

#include <stdint.h>

/* The version of these headers (TOVARIN_VERSION_MAJOR, _MINOR, _PATCH,
 * TOVARIN_VERSION), shared with ui.h. */
#include "version.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Description, queues and window ------------------------------------ */

/* A constant one-line notice.
 * [any thread; no wait; nested ok] */
const char* Copyright(void);
/* Does nothing.
 * [any thread; no wait; nested ok] */
void GetShortInfo(void);
/* The constant text "Tovarin 1.0 betta".
 * [any thread; no wait; nested ok] */
const char* GetInfo(void);
/* Always 0.
 * [any thread; no wait; nested ok] */
int32_t GetType(void);
/* Stores a copy of path (NULL: empty); nothing reads it.
 * [host thread; no wait; nested ok] */
void SetPath(const char* path);
/* Lends the plug-in the host's window (a tovui window handle, ui.h): the
 * plug-in creates its form as a borderless child of it, white, 111 x 240
 * pixels at the window's top-left corner, and its player. Call once, first;
 * a second call makes a second form and player, and the first one's streams
 * can no longer be reached.
 * [host thread; on a display, round trips to the X server to look at the
 * host's window (milliseconds); nested ok] */
void SetParentWindow(uint32_t window);
/* Places and sizes the plug-in's form in the host window's client area, in
 * pixels. The first argument is ignored.
 * [host thread; no wait; nested ok] */
void Draw(int32_t ignored, int32_t left, int32_t top, int32_t width, int32_t height);
/* Pushes a copy of text onto the string queue (NULL pushes "0").
 * [host thread; no wait; nested ok] */
void SetFile(const char* text);
/* The last query's answer; never NULL ("" before any query).
 * [host thread; no wait; nested ok] */
const char* GetFile(void);
/* Pushes value onto the integer queue.
 * [host thread; no wait; nested ok] */
void SetData(int32_t value);
/* Always 0.
 * [host thread; no wait; nested ok] */
int32_t GetData(void);

/* ---- Player: audio library and slots ------------------------------------ */

/* Opens the audio output (44100 Hz stereo; the system's sound device, or a
 * silent output paced in real time when there is none) and resets the
 * player: current slot 1, volume 100, every effect setting and equalizer band
 * to its default. Numbers in texts use "." as decimal separator from now on.
 * Call after SetParentWindow, and again after Bass_Free to reopen.
 * [host thread; waits until the sound device opens or fails (SDL2); nested
 * ok] */
void Bass_Init(void);
/* Reads D[0]: makes it the current slot (stored unchecked; 1..32 are
 * slots) and returns it.
 * [host thread; no wait; nested ok] */
int32_t Bass_ChannelNum(void);
/* Reads F[0]: a file path, or a URL when it contains "http:" (http and https
 * internet streams, with ICY titles). Opens it into the current slot,
 * stopping and freeing the slot's earlier stream first. Returns 1 when the
 * slot now holds a stream, 0 when it could not be opened (no such file, not
 * audio, server unreachable) or the slot is not 1..32. Effects and the
 * equalizer of the earlier stream are not carried over.
 * [host thread; a file: until it is opened and its decoder started
 * (milliseconds); a URL: until the stream can start or fails, at most about
 * 6 s (station playlists included); nested ok] */
uint8_t Bass_Create(void);
/* Closes the audio output: every stream, effect and slot handle becomes
 * stale. Bass_Init opens it again. Messages: "Internet Free Error",
 * "FreeChannel Error".
 * [host thread; until the audio threads have ended (milliseconds); nested
 * ok] */
void Bass_Free(void);

/* ---- Transport (all three return at once; the change follows as a volume
 * fade of about 0.1 s, run by messages on the host's thread) --------------
 * A fade is one step per percent of the volume, a step a millisecond, kept
 * to by deadlines: a fade from volume 100 lasts about 100 ms from the export
 * to its last step (measured: 100 ms on Linux, 103 to 105 ms for
 * Plugin.dll under Wine), plus however long the host takes to pump the
 * steps. Volumes above 2000 fade in 2000 larger steps (about 2 s). On
 * Windows the steps wait on a high-resolution timer, or with the system's
 * timer resolution raised to 1 ms for the length of the fade where there is
 * none. */

/* Plays the current slot: fades in from silence to the volume last set. A
 * paused stream continues where it was; after Bass_Stop a file starts again
 * at 0 s and an internet stream is opened afresh. Shows the spectrum display
 * if StartDraw chose a mode. With volume 0 nothing starts (a fade of no
 * steps). Message: "Play Error".
 * [host thread; no wait; the fade's first step, later on this thread,
 * reopens a stopped internet stream and waits as Bass_Create does; nested
 * ok] */
void Bass_Play(void);
/* Fades out, then pauses the current slot and hides the display.
 * [host thread; no wait; nested ok] */
void Bass_Pause(void);
/* Fades out, then stops the current slot (an internet stream is freed) and
 * hides the display. Bass_GetPosition still answers the old position until
 * the next Bass_Play, which starts from 0 s. Message: "Stop Error".
 * [host thread; no wait; nested ok] */
void Bass_Stop(void);

/* ---- Queries on the current slot (answer: GetFile) ---------------------- */

/* Answer: the position being heard, whole seconds. "0" for an empty slot.
 * Once a stream has played to its end the position stays at its length.
 * [host thread; no wait; nested ok] */
void Bass_GetPosition(void);
/* Reads F[0], an integer text (decimal, or hex after "$", "x" or "0x").
 * Answer: those seconds as "mm:ss" within the hour (3725 gives "02:05"; a
 * negative count is taken modulo 2^32). A text that is not an integer shows
 * "Sec2Format Error - '<text>' is not a valid integer value" and answers "".
 * [host thread; no wait; nested ok] */
void Bass_Sec2Format(void);
/* Reads D[0]: seeks to that many seconds. Beyond the end nothing moves.
 * Message: "SetPosition Error".
 * [host thread; until the decoder has sought, at most 1 s (a slower seek
 * completes later); nested ok] */
void Bass_SetPosition(void);
/* Answer: the length, whole seconds; "0" when unknown (an internet stream,
 * even one of known size) and for a clip shorter than half a second.
 * [host thread; no wait; nested ok] */
void Bass_GetLength(void);
/* Reads D[0]: volume in percent (100 = as recorded; above 100 amplifies;
 * not clamped). Also the level that the next Bass_Play fades in to. Message:
 * "SetVolume Error".
 * [host thread; no wait; nested ok] */
void Bass_SetVolume(void);
/* Reads D[0]: pan in percent, -100 full left .. 100 full right. Message:
 * "SetPan Error".
 * [host thread; no wait; nested ok] */
void Bass_SetPan(void);
/* Answer: the left channel's peak over the last 20 ms heard, 0..32768; "0"
 * when not playing (paused, stopped, played to its end) and for digital
 * silence. Note the names: GetRLevel answers the LEFT channel.
 * [host thread; no wait; nested ok] */
void Bass_GetRLevel(void);
/* Answer: the right channel's peak, as Bass_GetRLevel (a mono stream gives
 * the same level on both).
 * [host thread; no wait; nested ok] */
void Bass_GetLLevel(void);
/* Answer: the stream's sample rate in Hz.
 * [host thread; no wait; nested ok] */
void Bass_GetFreq(void);
/* Answer: average bitrate in kbit/s (file size over length, rounded up);
 * "0" when the length is unknown.
 * [host thread; no wait; nested ok] */
void Bass_GetBit(void);
/* Answer: "Mono", "Stereo", or "<n> channels"; "" for a slot outside 1..32.
 * [host thread; no wait; nested ok] */
void Bass_GetChannels(void);
/* Reads F[0], a tag key, exactly one of (case-sensitive): "%TRCK" track,
 * "%TITL" title, "%ARTI" artist, "%ALBM" album, "%GNRE" genre, "%YEAR" year,
 * "%CMNT" comment. Answer: the tag as UTF-8 text, "" when missing or for any
 * other key. For an internet stream the title is the station's live title
 * (it changes while playing: poll it), else the station's name; album,
 * genre and comment fall back to the station's name, genre and description
 * headers.
 * [host thread; no wait; nested ok] */
void Bass_GetTags(void);
/* Answer: the share of real time the audio engine spends mixing, in
 * percent, rounded to a whole number (signed decimal). Not tied to a slot.
 * [host thread; no wait; nested ok] */
void Bass_GetCPU(void);

/* ---- Equalizer: ten bands at 80, 170, 310, 600, 1000, 3000, 6000, 12000,
 * 14000 and 16000 Hz. The band settings are one set for the whole player:
 * they survive removal and a change of slot or stream, and Bass_Init resets
 * them to gain 0 dB, bandwidth 12 semitones. ------------------------------ */

/* Attaches the ten bands to the current slot's stream and applies the stored
 * settings. Message: "CreateEq Error".
 * [host thread; no wait; nested ok] */
void Bass_CreateEQ(void);
/* Push D: band 1..10, gain in whole dB (-15..15), bandwidth in whole
 * semitones (1..36). Stores and applies one band; ignored while no
 * equalizer is attached (any slot's Bass_EqRemove detaches for all). A value
 * out of range is stored but the band keeps sounding as before. Message:
 * "SetEq Error".
 * [host thread; no wait; nested ok] */
void Bass_EqSet(void);
/* Detaches the ten bands from the current slot. Message: "RemoveEq Error".
 * [host thread; no wait; nested ok] */
void Bass_EqRemove(void);

/* ---- Effects: flanger, reverb, echo, chorus, compressor. One of each kind
 * per slot. Settings are one store per kind for the whole player: a Set
 * stores its values even when no effect is attached, and the next Create on
 * any slot applies them. Bass_Init restores the defaults (in brackets).
 * The Set exports read texts pushed with SetFile: "float" means a decimal
 * number with "." ("0.25", "-50", "1e3"), "int" an integer text. A text that
 * does not convert shows "<prefix>'<text>' is not a valid floating point
 * value" (or "... integer value"), and nothing is stored or applied. A value
 * out of range is stored, but the effect keeps sounding with its earlier
 * values. --------------------------------------------------------------- */

/* Attaches a flanger to the current slot (replacing its earlier one) and
 * applies the stored settings. Message: "Create Flanger Error".
 * [host thread; no wait; nested ok] */
void Bass_CreateFlanger(void);
/* Push F (as text): wet/dry mix % 0..100 [50], depth % 0..100 [100],
 * delay ms 0..4 [2], feedback % -99..99 [-50], LFO frequency Hz 0..10
 * [0.25] (floats); waveform 0 triangle, 1 sine [1], phase 0..4 = -180, -90,
 * 0, +90, +180 degrees [2] (ints). Prefix "Set Flanger Error - "; message
 * "SetFlanger Error".
 * [host thread; no wait; nested ok] */
void Bass_SetFlanger(void);
/* Message: "RemoveFlanger Error".
 * [host thread; no wait; nested ok] */
void Bass_FlangerRemove(void);
/* As Bass_CreateFlanger. Message: "Create Reverb Error".
 * [host thread; no wait; nested ok] */
void Bass_CreateReverb(void);
/* Push F (floats): input gain dB -96..0 [0], reverb mix dB -96..0 [0],
 * reverb time ms 0.001..3000 [1000], high-frequency time ratio 0.001..0.999
 * [0.001]. Prefix "Set Reverb Error - "; message "SetReverb Error".
 * [host thread; no wait; nested ok] */
void Bass_SetReverb(void);
/* Message: "RemoveReverb Error".
 * [host thread; no wait; nested ok] */
void Bass_ReverbRemove(void);
/* As Bass_CreateFlanger. Message: "Create Echo Error".
 * [host thread; no wait; nested ok] */
void Bass_CreateEcho(void);
/* Push F (floats): wet/dry mix % 0..100 [50], feedback % 0..100 [50], left
 * delay ms 1..2000 [500], right delay ms 1..2000 [500]; then D: pan delay,
 * on (left and right swap at each repeat) when its low 8 bits are not all 0
 * [off]. Prefix "Set Echo Error - "; message "SetEcho Error".
 * [host thread; no wait; nested ok] */
void Bass_SetEcho(void);
/* Message: "RemoveEcho Error".
 * [host thread; no wait; nested ok] */
void Bass_EchoRemove(void);
/* As Bass_CreateFlanger. Message: "Create CHORUS Error".
 * [host thread; no wait; nested ok] */
void Bass_CreateChorus(void);
/* Push F as for Bass_SetFlanger, chorus ranges and defaults: wet/dry
 * mix [50], depth [10], delay ms 0..20 [16], feedback [25], frequency [1.1],
 * waveform [1], phase [3]. Prefix "Set Chorus Error - "; message
 * "SetCHORUS Error".
 * [host thread; no wait; nested ok] */
void Bass_SetChorus(void);
/* Message: "RemoveCHORUS Error".
 * [host thread; no wait; nested ok] */
void Bass_ChorusRemove(void);
/* As Bass_CreateFlanger. Message: "Create Compressor Error".
 * [host thread; no wait; nested ok] */
void Bass_CreateCompressor(void);
/* Push F (floats): gain dB -60..60 [0], attack ms 0.01..500 [10], release
 * ms 50..3000 [200], threshold dB -60..0 [-20], ratio n:1 1..100 [3],
 * predelay ms 0..4 [4]. Prefix "Set Compressor Error - "; message
 * "SetCompressor Error".
 * [host thread; no wait; nested ok] */
void Bass_SetCompressor(void);
/* Message: "RemoveCompressor Error".
 * [host thread; no wait; nested ok] */
void Bass_CompressorRemove(void);

/* ---- Spectrum display, drawn in the plug-in's form ---------------------- */

/* Push F: mode ("first" bars, "second" a line; any other text switches no
 * timer), then colours "RRR#GGG#BBB#RRR#GGG#BBB#" (pen, then background; each
 * field exactly three digits and a "#", e.g. "255#000#000#255#255#255#").
 * Push D: bar width px, timer interval ms, bar count (bins 0.. of a
 * 1024-point FFT, 43 Hz each at 44100 Hz), height px. The display area is
 * height x (height * interval) pixels; it shows the current slot's spectrum
 * and is shown at once. Message: "StartDraw error" (bad colours). A frame
 * that fails stops its timer and shows "Draw Visual Error".
 * [host thread; no wait; nested ok] */
void StartDraw(void);
/* Hides the display and stops its timers; the next Bass_Play brings it back
 * in the mode last chosen.
 * [host thread; no wait; nested ok] */
void StopDraw(void);

/* ---- Recorder: the default capture device into a 16-bit PCM WAV file ---- */

/* Makes a new recorder and opens the capture device (a silent input when
 * there is none). Returns non-zero on success, 0 on failure.
 * [host thread; waits until the capture device opens or fails (SDL2); nested
 * ok] */
int32_t Record_Init(void);
/* Answer: the capture device's input names, each followed by "#" (the last
 * too); "" when there are none.
 * [host thread; asks the system for its capture inputs (milliseconds);
 * nested ok] */
void Record_GetDevices(void);
/* Push D: input number (0 = first of Record_GetDevices), volume percent
 * (100 = as captured). Message: "Set Record Device Error".
 * [host thread; no wait; nested ok] */
void Record_SetDevice(void);
/* Push F: the WAV file path (an existing file is replaced); push D: sample
 * rate Hz, channel count. Starts capturing into the file; ignored while a
 * capture runs and before Record_Init. Message: "Start Record Error" (the
 * file cannot be created).
 * [host thread; creates the file and starts the capture (milliseconds);
 * nested ok] */
void Record_Start(void);
/* Stops the capture and completes the WAV header. Ignored while idle.
 * Message: "Stop Record Error".
 * [host thread; until the capture thread has stopped and the header is
 * written (milliseconds); nested ok] */
void Record_Stop(void);

#ifdef __cplusplus
}
#endif

/* ---- The export table ----------------------------------------------------
 * Every export as X(name, ordinal, return type, (parameters), (arguments)),
 * in ordinal order (the ordinals are those of Plugin.dll). A host resolves
 * them all in one go, e.g. in C:
 *   #define FIELD(name, ordinal, ret, params, args) ret(*name) params;
 *   struct { TOVARIN_PLUGIN_EXPORTS(FIELD) } api;
 *   #define RESOLVE(name, ...) *(void**)&api.name = dlsym(lib, #name);
 *   TOVARIN_PLUGIN_EXPORTS(RESOLVE)
 * The build takes the Linux version script and checks Plugin.def from it,
 * one row per line. */
#define TOVARIN_PLUGIN_EXPORTS(X)                                                                \
  X(Record_Stop, 1, void, (void), ())                                                            \
  X(Record_Start, 2, void, (void), ())                                                           \
  X(Record_SetDevice, 3, void, (void), ())                                                       \
  X(Record_GetDevices, 4, void, (void), ())                                                      \
  X(Record_Init, 5, int32_t, (void), ())                                                         \
  X(Bass_CompressorRemove, 6, void, (void), ())                                                  \
  X(Bass_SetCompressor, 7, void, (void), ())                                                     \
  X(Bass_CreateCompressor, 8, void, (void), ())                                                  \
  X(Bass_ChorusRemove, 9, void, (void), ())                                                      \
  X(Bass_SetChorus, 10, void, (void), ())                                                        \
  X(Bass_CreateChorus, 11, void, (void), ())                                                     \
  X(Bass_EchoRemove, 12, void, (void), ())                                                       \
  X(Bass_SetEcho, 13, void, (void), ())                                                          \
  X(Bass_CreateEcho, 14, void, (void), ())                                                       \
  X(Bass_ReverbRemove, 15, void, (void), ())                                                     \
  X(Bass_SetReverb, 16, void, (void), ())                                                        \
  X(Bass_CreateReverb, 17, void, (void), ())                                                     \
  X(Bass_FlangerRemove, 18, void, (void), ())                                                    \
  X(Bass_SetFlanger, 19, void, (void), ())                                                       \
  X(Bass_CreateFlanger, 20, void, (void), ())                                                    \
  X(StopDraw, 21, void, (void), ())                                                              \
  X(StartDraw, 22, void, (void), ())                                                             \
  X(Bass_GetCPU, 23, void, (void), ())                                                           \
  X(Bass_EqRemove, 24, void, (void), ())                                                         \
  X(Bass_EqSet, 25, void, (void), ())                                                            \
  X(Bass_CreateEQ, 26, void, (void), ())                                                         \
  X(Bass_GetTags, 27, void, (void), ())                                                          \
  X(Bass_GetChannels, 28, void, (void), ())                                                      \
  X(Bass_GetBit, 29, void, (void), ())                                                           \
  X(Bass_GetFreq, 30, void, (void), ())                                                          \
  X(Bass_GetLLevel, 31, void, (void), ())                                                        \
  X(Bass_GetRLevel, 32, void, (void), ())                                                        \
  X(Bass_SetPan, 33, void, (void), ())                                                           \
  X(Bass_SetVolume, 34, void, (void), ())                                                        \
  X(Bass_GetLength, 35, void, (void), ())                                                        \
  X(Bass_SetPosition, 36, void, (void), ())                                                      \
  X(Bass_Sec2Format, 37, void, (void), ())                                                       \
  X(Bass_GetPosition, 38, void, (void), ())                                                      \
  X(Bass_Stop, 39, void, (void), ())                                                             \
  X(Bass_Pause, 40, void, (void), ())                                                            \
  X(Bass_Play, 41, void, (void), ())                                                             \
  X(Bass_Create, 42, uint8_t, (void), ())                                                        \
  X(Bass_Free, 43, void, (void), ())                                                             \
  X(Bass_ChannelNum, 44, int32_t, (void), ())                                                    \
  X(Bass_Init, 45, void, (void), ())                                                             \
  X(Copyright, 46, const char*, (void), ())                                                      \
  X(GetShortInfo, 47, void, (void), ())                                                          \
  X(GetInfo, 48, const char*, (void), ())                                                        \
  X(GetType, 49, int32_t, (void), ())                                                            \
  X(SetPath, 50, void, (const char* path), (path))                                               \
  X(SetParentWindow, 51, void, (uint32_t window), (window))                                      \
  X(Draw, 52, void, (int32_t ignored, int32_t left, int32_t top, int32_t width, int32_t height), \
    (ignored, left, top, width, height))                                                         \
  X(SetFile, 53, void, (const char* text), (text))                                               \
  X(GetFile, 54, const char*, (void), ())                                                        \
  X(SetData, 55, void, (int32_t value), (value))                                                 \
  X(GetData, 56, int32_t, (void), ())

#endif
