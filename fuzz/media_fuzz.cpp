// Mutated media files: each input is a whole file, opened as a stream on
// the silent output, then played, sought (start, middle, near and past the
// end), paused, stopped and queried (length, position, file positions,
// tags, levels, FFT, information) before it is freed.
//
// Beyond sanitizer reports, the checks are what a host relies on whatever
// the file: a position never lies past the length, a length is bounded by
// what the file can hold, and a refused file says why.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/bass.h"
#include "audio/tags.h"

namespace {

std::string g_path;
uint64_t g_inputs = 0, g_opened = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

void Report() {
  std::fprintf(stderr, "fuzz-media: %llu inputs, %llu opened as streams\n", static_cast<unsigned long long>(g_inputs),
               static_cast<unsigned long long>(g_opened));
  if (!g_path.empty()) unlink(g_path.c_str());
}

void Query(HSTREAM h) {
  const QWORD length = BASS_ChannelGetLength(h, BASS_POS_BYTE);
  (void)BASS_ChannelBytes2Seconds(h, length);
  const QWORD pos = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
  if (length != static_cast<QWORD>(-1) && pos != static_cast<QWORD>(-1)) Check(pos <= length, "position within length");
  for (DWORD mode : {BASS_FILEPOS_CURRENT, BASS_FILEPOS_DOWNLOAD, BASS_FILEPOS_END, BASS_FILEPOS_START})
    (void)BASS_StreamGetFilePosition(h, mode);
  (void)BASS_ChannelGetLevel(h);
  (void)BASS_ChannelIsActive(h);
  float fft[512];
  (void)BASS_ChannelGetData(h, fft, BASS_DATA_FFT1024);
  BASS_CHANNELINFO info{};
  (void)BASS_ChannelGetInfo(h, &info);
  (void)TAGS_Read(h, "%TRCK|%TITL|%ARTI|%ALBM|%GNRE|%YEAR|%CMNT");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  setenv("TOVARIN_AUDIO_INPUT", "null", 1);
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  g_path = std::string(dir) + "/tovarin-fuzz-media-" + std::to_string(getpid());
  if (!BASS_Init(-1, 44100, 0, 0, nullptr)) {
    std::fprintf(stderr, "fuzz-media: the silent output does not open\n");
    std::exit(1);
  }
  std::atexit(Report);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ++g_inputs;
  FILE* f = std::fopen(g_path.c_str(), "wb");
  if (!f) return 0;
  const bool written = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !written) return 0;

  const HSTREAM h = BASS_StreamCreateFile(0, g_path.c_str(), 0, 0, 0);
  if (h == 0) {
    Check(BASS_ErrorGetCode() != 0, "a refused file says why");
    return 0;
  }
  ++g_opened;
  Query(h);
  BASS_ChannelPlay(h, 0);
  BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.5f);
  const QWORD length = BASS_ChannelGetLength(h, BASS_POS_BYTE);
  BASS_CHANNELINFO info{};
  if (length != static_cast<QWORD>(-1) && BASS_ChannelGetInfo(h, &info) && info.chans > 0) {
    // No codec packs more than 4096 frames into a byte of file (lossless
    // codecs on digital silence come nearest): a longer stream believed a lying header.
    Check(length / (2 * info.chans) <= static_cast<QWORD>(size) * 4096 + 4096, "length bounded by the file");
  }
  if (length != static_cast<QWORD>(-1)) {
    // Positions a listener can ask for (byte offsets of 16-bit frames): the
    // middle, just before the end, past the end.
    const QWORD targets[] = {length / 2, length > 4096 ? length - 4096 : 0, length + 4};
    for (QWORD t : targets) {
      BASS_ChannelSetPosition(h, t, BASS_POS_BYTE);
      Query(h);
    }
  }
  BASS_ChannelPause(h);
  BASS_ChannelPlay(h, 0);
  BASS_ChannelStop(h);
  Query(h);
  Check(BASS_StreamFree(h), "a stream frees");
  Check(!BASS_StreamFree(h), "a freed handle is stale");
  return 0;
}
