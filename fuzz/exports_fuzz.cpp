// Random sequences of export calls, the way a careless host might make them:
// any export in any order, queue entries that are slot numbers, extreme
// integers, huge or non-UTF-8 texts or null, Bass_Free and SetParentWindow
// at any point, Draw with any size, the recorder, and the window system
// pumped in between so that fades, display timers and message boxes run.
// The plug-in's code is compiled into this program and plays on the silent
// output, captures from the silent input.
//
// Each input starts from the same state: the library freed and initialised
// again on the form of one host window, the queues refilled with what they
// hold at load. Texts are kept away from the network and from files outside
// a private folder (no "http" but one refused loopback address; recordings
// only under relative names).
//
// Checks on every call: GetFile is never null, GetData is 0, the
// description texts stay the same, and the process keeps going.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <tovarin/plugin.h>
#include <tovarin/ui.h>

#include "common/wav.hpp"

namespace {

uint64_t g_calls = 0;  // export calls made
uint64_t g_inputs = 0;
uint64_t g_boxes = 0;   // message boxes shown
uint32_t g_host = 0;    // the host window whose form each input starts on
bool g_relend = false;  // the next input must lend g_host again
int g_forms = 0;        // forms made (never released while loaded)
// Each form lives until unload (about 0.6 MB with its bitmap): past this
// many, inputs no longer lend windows, so memory stays bounded.
constexpr int kMaxForms = 800;
int g_max_threads = 0;  // most threads seen at the end of an input
uint32_t g_extra = 0;   // a further window lent by an input
std::string g_dir;
std::string g_wav;                    // a short valid WAV
std::array<std::string, 10> g_files;  // mirror of the string queue
constexpr const char* kRefusedUrl = "http://127.0.0.1:9/live.mp3";

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

int Threads() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  int n = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "Threads: %d", &n) == 1) break;
  std::fclose(f);
  return n;
}

void Report() {
  std::fprintf(stderr,
               "fuzz-exports: %llu export calls in %llu inputs, %llu message boxes, %d forms, at most %d threads\n",
               static_cast<unsigned long long>(g_calls), static_cast<unsigned long long>(g_inputs),
               static_cast<unsigned long long>(g_boxes), g_forms, g_max_threads);
  std::error_code ec;
  if (!g_dir.empty()) std::filesystem::remove_all(g_dir, ec);
}

void CloseBox(void*, uint32_t box, const char*, const char*) {
  ++g_boxes;
  tovui_close_box(box);
}

// A 0.25 s 8 kHz mono 16-bit WAV, written directly.
void WriteWav(const std::string& path) {
  std::vector<int16_t> s(2000);
  for (uint32_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>((i % 40) * 800 - 16000);
  testwav::write(path, 8000, 1, s);
}

void Push(const std::string& text) {
  for (size_t i = g_files.size() - 1; i > 0; --i) g_files[i] = g_files[i - 1];
  g_files[0] = text;
  ++g_calls;
  SetFile(text.c_str());
}

void PushNull() {
  for (size_t i = g_files.size() - 1; i > 0; --i) g_files[i] = g_files[i - 1];
  g_files[0] = "0";
  ++g_calls;
  SetFile(nullptr);
}

void Data(int32_t v) {
  ++g_calls;
  SetData(v);
}

void Call(void (*op)()) {
  ++g_calls;
  op();
}

void Query(void (*op)()) {
  Call(op);
  ++g_calls;
  const char* answer = GetFile();
  Check(answer != nullptr, "GetFile is never null");
  (void)std::strlen(answer);
}

// Texts with "http" in them would reach for the network: they lose it.
std::string Offline(std::string s) {
  for (size_t at = s.find("http"); at != std::string::npos; at = s.find("http", at)) s[at + 3] = '_';
  return s;
}

std::string Text(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 11)) {
    case 0: return g_wav;
    case 1: return g_dir;  // a folder
    case 2: return g_dir + "/missing.mp3";
    case 3: return kRefusedUrl;
    case 4: {  // huge
      const size_t n = in.ConsumeIntegralInRange<size_t>(1, 1 << 20);
      return std::string(n, static_cast<char>(in.ConsumeIntegral<uint8_t>() | 1));
    }
    case 5: {  // not UTF-8, not ASCII
      std::string s = in.ConsumeRandomLengthString(64);
      for (char& c : s) c = static_cast<char>(c | 0x80);
      return s;
    }
    case 6: return "%TITL|%ARTI|%ALBM|%GNRE|%YEAR|%CMNT|%TRCK";
    case 7: return std::to_string(in.ConsumeIntegral<int32_t>());
    case 8:
      return in.PickValueInArray({"first", "second", "255#0#0#0#0#255#", "1e38", "-0.5", "$7FFFFFFF", "0x80000000",
                                  "3.4e39", "", " 12", "nan", "rec.wav"});
    default: return Offline(in.ConsumeRandomLengthString(256));
  }
}

int32_t Integer(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return in.ConsumeIntegralInRange<int32_t>(-1, 33);  // slots and around
    case 1:
      return in.PickValueInArray<int32_t>(
          {INT32_MIN, INT32_MAX, INT32_MIN + 1, -2, 100, 1000, 65535, 16777217, 44100, 768000, 0x7FFF, 256, 257});
    default: return in.ConsumeIntegral<int32_t>();
  }
}

void LendWindow(FuzzedDataProvider& in) {
  uint32_t window = 0;
  switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: window = 0; break;
    case 1: window = in.ConsumeIntegral<uint32_t>(); break;
    case 2:  // a window of the host's, or a child of one
      if (g_extra) tovui_destroy_window(g_extra);
      g_extra = tovui_create_window(in.ConsumeBool() ? g_host : 0, 0, 0, 300, 200);
      window = g_extra;
      break;
    case 3: window = g_extra; break;  // perhaps destroyed meanwhile
    default: window = g_host; break;
  }
  if (tovui_get_rect(window, nullptr, nullptr, nullptr, nullptr)) ++g_forms;  // a live window gets a form
  g_relend = true;
  ++g_calls;
  SetParentWindow(window);
}

void Pump(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do tovui_pump(ms > 0 ? 1 : 0);
  while (std::chrono::steady_clock::now() < end);
}

void RecordStart() {
  // Recordings stay in the private folder (the working directory).
  if (g_files[0].find('/') != std::string::npos || g_files[0].empty()) Push("rec.wav");
  Call(Record_Start);
}

void Step(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 59)) {
    case 0:
    case 1:
    case 2:
    case 3: Push(Text(in)); break;
    case 4: PushNull(); break;
    case 5:
    case 6:
    case 7:
    case 8: Data(Integer(in)); break;
    case 9: Call(Bass_Init); break;
    case 10:
    case 11:
      ++g_calls;
      (void)Bass_ChannelNum();
      break;
    case 12:
    case 13:
      ++g_calls;
      (void)Bass_Create();
      break;
    case 14: Call(Bass_Free); break;
    case 15:
    case 16: Call(Bass_Play); break;
    case 17: Call(Bass_Pause); break;
    case 18: Call(Bass_Stop); break;
    case 19: Query(Bass_GetPosition); break;
    case 20: Query(Bass_Sec2Format); break;
    case 21: Call(Bass_SetPosition); break;
    case 22: Query(Bass_GetLength); break;
    case 23: Call(Bass_SetVolume); break;
    case 24: Call(Bass_SetPan); break;
    case 25: Query(Bass_GetRLevel); break;
    case 26: Query(Bass_GetLLevel); break;
    case 27: Query(Bass_GetFreq); break;
    case 28: Query(Bass_GetBit); break;
    case 29: Query(Bass_GetChannels); break;
    case 30: Query(Bass_GetTags); break;
    case 31: Query(Bass_GetCPU); break;
    case 32:
      Call(in.PickValueInArray({Bass_CreateEQ, Bass_CreateFlanger, Bass_CreateReverb, Bass_CreateEcho,
                                Bass_CreateChorus, Bass_CreateCompressor}));
      break;
    case 33:
      Call(in.PickValueInArray(
          {Bass_EqSet, Bass_SetFlanger, Bass_SetReverb, Bass_SetEcho, Bass_SetChorus, Bass_SetCompressor}));
      break;
    case 34:
      Call(in.PickValueInArray({Bass_EqRemove, Bass_FlangerRemove, Bass_ReverbRemove, Bass_EchoRemove,
                                Bass_ChorusRemove, Bass_CompressorRemove}));
      break;
    case 35: Call(StartDraw); break;
    case 36: Call(StopDraw); break;
    case 37: {
      // Sizes from a window's usual range, or any integer at all (a window
      // surface is capped, so a huge one costs a 64 MB surface: not every time).
      auto size = [&in] { return in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-8, 1200) : Integer(in); };
      const int32_t l = Integer(in), t = Integer(in), w = size(), h = size();
      ++g_calls;
      Draw(Integer(in), l, t, w, h);
      break;
    }
    case 38:
      if (g_forms < kMaxForms) LendWindow(in);
      break;
    case 39:
      ++g_calls;
      Check(Record_Init() >= INT32_MIN, "Record_Init answers");
      break;
    case 40: Query(Record_GetDevices); break;
    case 41: Call(Record_SetDevice); break;
    case 42: RecordStart(); break;
    case 43: Call(Record_Stop); break;
    case 44: {
      ++g_calls;
      const std::string path = Text(in);
      SetPath(in.ConsumeBool() ? path.c_str() : nullptr);
      break;
    }
    case 45:
      g_calls += 5;
      Check(GetData() == 0, "GetData is 0");
      Check(std::strcmp(GetInfo(), "Tovarin 1.0 betta") == 0, "GetInfo");
      Check(Copyright() != nullptr && GetType() == 0, "description");
      GetShortInfo();
      break;
    case 46: Pump(0); break;
    case 47: Pump(in.ConsumeIntegralInRange<int>(1, 10)); break;
    case 48:  // a lent window goes away under the form
      if (g_extra && g_forms < kMaxForms) {
        tovui_destroy_window(g_extra);
        g_relend = true;
      }
      break;
    case 52:
    case 53:
    case 54: Push(Text(in)); break;
    case 55:
    case 56:
    case 57: Data(Integer(in)); break;
    case 58:
      Query(in.PickValueInArray({Bass_GetPosition, Bass_GetLength, Bass_GetLLevel, Bass_GetRLevel, Bass_GetFreq,
                                 Bass_GetBit, Bass_GetChannels, Bass_GetTags}));
      break;
    case 59:
      ++g_calls;
      (void)Bass_ChannelNum();
      break;
    default: {
      // The common host sequence, so that something plays: a slot, a file, play.
      // (Opening a file is the dearest call: a few of these an input.)
      Data(in.ConsumeIntegralInRange<int32_t>(1, 32));
      ++g_calls;
      (void)Bass_ChannelNum();
      Push(in.ConsumeBool() ? g_wav : Text(in));
      ++g_calls;
      (void)Bass_Create();
      Call(Bass_Play);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  setenv("TOVARIN_AUDIO_INPUT", "null", 1);
  char tmpl[] = "/tmp/tovarin-fuzz-exports-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (!dir || chdir(dir) != 0) std::exit(1);
  g_dir = dir;
  g_wav = g_dir + "/tone.wav";
  WriteWav(g_wav);
  tovui_set_presenter(&CloseBox, nullptr);
  g_host = tovui_create_window(0, 0, 0, 640, 480);
  std::atexit(Report);
  g_relend = true;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ++g_inputs;
  // The same starting state for every input.
  if (g_relend) {
    ++g_forms;
    ++g_calls;
    SetParentWindow(g_host);
    g_relend = false;
  }
  // Pumping first answers a fade that waits for the form, so freeing
  // need not wait for it to give up.
  Pump(0);
  Call(Bass_Free);
  for (int i = 0; i < 10; ++i) Push(""), Data(0);
  Call(Bass_Init);

  FuzzedDataProvider in(data, size);
  for (int steps = 0; steps < 200 && in.remaining_bytes() > 0; ++steps) Step(in);

  Call(Record_Stop);
  Call(StopDraw);
  Pump(0);
  Call(Bass_Free);
  Pump(0);
  // Whatever the input did, what it started ends with it: the library's
  // threads go with Bass_Free, fades end or give up.
  const int threads = Threads();
  g_max_threads = std::max(g_max_threads, threads);
  static const int limit = getenv("FUZZ_THREAD_LIMIT") ? atoi(getenv("FUZZ_THREAD_LIMIT")) : 64;
  Check(threads < limit, "threads stay bounded");
  return 0;
}
