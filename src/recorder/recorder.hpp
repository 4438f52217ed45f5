// The WAV recorder: captures the default capture device into a 16-bit PCM
// WAV file, buffer by buffer as the audio library delivers them.
//
// A start writes a 44-byte header whose two sizes hold placeholders (RIFF
// size 36, data size 0) and starts the capture; RecordWriteProc appends each
// buffer to the file; a stop ends the capture, then patches both sizes from
// the file's final size and closes it. A start while recording and a stop
// while idle are ignored. Failures show "Start Record Error", "Stop Record
// Error" or "Set Record Device Error"; a stop that fails leaves the recorder
// recording, so that another stop can complete the file.
//
// Threads: the exports run on the host's thread and own every field but
// OutFile, which the capture callback also reads on the library's capture
// thread. The file is written by one side at a time: the callback only
// between the start and the end of the capture, the host's thread before
// and after (a stop patches only once BASS_ChannelStop has returned, after
// which the callback never runs again).
//
// Lifetime: each Record_Init makes a new current recorder. A capture still
// running on the one it replaces is stopped and its file completed first,
// so that no capture is left writing to a file nobody closes; the same
// happens when the plug-in is unloaded.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/bass.h"

namespace tovarin {

static_assert(std::endian::native == std::endian::little, "the WAV header is written as it lies in memory");

#pragma pack(push, 1)
struct TWavHeader {
  char Riff[4];
  uint32_t RiffSize;  // 36 while recording, file size - 8 after the stop
  char Wave[4];
  char Fmt[4];
  uint32_t FmtSize;
  uint16_t Format;
  uint16_t Channels;
  uint32_t SampleRate;
  uint32_t ByteRate;
  uint16_t BlockAlign;
  uint16_t BitsPerSample;
  char Data[4];
  uint32_t DataSize;  // 0 while recording, file size - 44 after the stop
};
#pragma pack(pop)
static_assert(sizeof(TWavHeader) == 44);

// The header of a 16-bit PCM file at rate Hz with the low 16 bits of
// channels, sizes as placeholders. Arithmetic is 32-bit.
TWavHeader MakeWavHeader(uint32_t rate, uint32_t channels);

class TBassRecorder {
 public:
  TBassRecorder() = default;
  ~TBassRecorder();  // closes a file left open by a failed stop
  TBassRecorder(const TBassRecorder&) = delete;
  TBassRecorder& operator=(const TBassRecorder&) = delete;

  // Host thread.
  HRECORD RecordHandle = 0;
  bool Initialized = false;
  bool Recording = false;
  TWavHeader WavHeader{};
  // Written by the host's thread (a start opens, a stop closes); the
  // capture callback loads it on the capture thread. -1: no file is open.
  std::atomic<int> OutFile{-1};

  // Sets Initialized, whatever the library answers, and returns its answer.
  BOOL InitRecord();
  // The capture device's inputs, each followed by "#".
  static std::string GetDevices();
  static void SetRecordDevice(int32_t input, int32_t volume);
  void StartRecord(const std::string& path, int32_t rate, int32_t channels);
  // report false: no message box (used while the plug-in unloads).
  void StopRecord(bool report = true);
  // A process ending on Windows, whose capture thread is gone already: the
  // file gets its sizes and is closed, with no call into the audio library.
  void CompleteFileAtExit();
};

// The capture callback: appends the buffer to the file of the recorder that
// user points to.
BOOL RecordWriteProc(HRECORD handle, const void* buffer, DWORD length, void* user);

// Makes a new current recorder in place of current (see Lifetime above)
// and returns it.
TBassRecorder& NewRecorder(std::unique_ptr<TBassRecorder>& current);
// The plug-in unloads: a running capture is stopped and its file completed
// (without a message box).
void CloseRecorder(TBassRecorder* recorder) noexcept;

}  // namespace tovarin
