#include "recorder/recorder.hpp"

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "form/main_form.hpp"
#include "platform/platform.hpp"
#include "player/report.hpp"

namespace tovarin {

namespace {

void WriteAll(int fd, const void* data, size_t length) {
  // A short file is not reported: the capture goes on.
  platform::write_all(fd, data, length);
}

void PatchSize(int fd, uint32_t value, int64_t offset) {
  if (!platform::write_at(fd, &value, sizeof value, offset)) throw std::runtime_error(std::strerror(errno));
}

// Writes the sizes into the header of a file that nothing writes any more.
void PatchSizes(int fd) {
  const int64_t size = platform::file_size(fd);
  if (size < 0) throw std::runtime_error("no file size");
  const uint32_t riff = static_cast<uint32_t>(size) - 8u;
  PatchSize(fd, riff, 4);
  PatchSize(fd, riff - 36u, 40);
}

}  // namespace

TWavHeader MakeWavHeader(uint32_t rate, uint32_t channels) {
  TWavHeader h{};
  std::memcpy(h.Riff, "RIFF", 4);
  h.RiffSize = 36;
  std::memcpy(h.Wave, "WAVE", 4);
  std::memcpy(h.Fmt, "fmt ", 4);
  h.FmtSize = 16;
  h.Format = 1;
  h.Channels = static_cast<uint16_t>(channels);
  h.SampleRate = rate;
  h.ByteRate = rate * h.Channels * 2u;
  h.BlockAlign = static_cast<uint16_t>(h.Channels * 2u);
  h.BitsPerSample = 16;
  std::memcpy(h.Data, "data", 4);
  h.DataSize = 0;
  return h;
}

TBassRecorder::~TBassRecorder() { platform::close_file(OutFile.exchange(-1)); }

BOOL TBassRecorder::InitRecord() {
  Initialized = true;
  return BASS_RecordInit(-1);
}

std::string TBassRecorder::GetDevices() {
  std::string list;
  for (int32_t i = 0;; ++i) {
    const char* name = BASS_RecordGetInputName(i);
    if (!name) break;
    list += name;
    list += '#';
  }
  return list;
}

void TBassRecorder::SetRecordDevice(int32_t input, int32_t volume) {
  // A refusal (no such input, no capture device) is not reported.
  Report(BASS_RecordSetInput(input, 0, static_cast<float>(volume / 100.0)), "Set Record Device Error");
}

void TBassRecorder::StartRecord(const std::string& path, int32_t rate, int32_t channels) {
  if (Recording || !Initialized) return;
  try {
    // Replaced, not appended to: the old file goes first. The path is host text.
    const int fd = platform::create_file(platform::host_to_utf8(path));
    if (fd < 0) throw std::runtime_error(std::strerror(errno));
    OutFile.store(fd);
    WavHeader = MakeWavHeader(static_cast<uint32_t>(rate), static_cast<uint32_t>(channels));
    WriteAll(fd, &WavHeader, sizeof WavHeader);
    // A refused capture leaves the handle 0: the stop then completes an
    // empty file.
    RecordHandle = BASS_RecordStart(static_cast<DWORD>(rate), static_cast<DWORD>(channels), 0, &RecordWriteProc, this);
    if (LibraryFault(RecordHandle != 0)) throw std::runtime_error("the capture did not start");
    // Asked for 0 Hz or 0 channels, the library captures its default
    // format: the header states what the file really holds, or no reader
    // could play it.
    BASS_CHANNELINFO captured{};
    if (RecordHandle != 0 && BASS_ChannelGetInfo(RecordHandle, &captured) &&
        (captured.freq != WavHeader.SampleRate || captured.chans != WavHeader.Channels)) {
      WavHeader = MakeWavHeader(captured.freq, captured.chans);
      // Beside the appending capture, never over it: the samples start at 44.
      platform::write_at(fd, &WavHeader, sizeof WavHeader, 0);
    }
    Recording = true;
  } catch (...) {
    Recording = false;
    platform::close_file(OutFile.exchange(-1));
    ShowMessage("Start Record Error");
  }
}

void TBassRecorder::StopRecord(bool report) {
  if (!Recording) return;
  // Once this returns the callback never runs again, so the file is ours. A
  // fault inside the library leaves the capture perhaps running: the file
  // stays open and the recorder recording, for another stop to complete.
  if (LibraryFault(BASS_ChannelStop(RecordHandle))) {
    if (report) ShowMessage("Stop Record Error");
    return;
  }
  bool patched = false;
  try {
    const int fd = OutFile.load();
    PatchSizes(fd);
    patched = true;
  } catch (...) {
  }
  // The stop completes whatever the patch did (a full disk, a size limit):
  // a stop that failed for good would otherwise hold the recorder forever.
  // The message is the only sign that the file's sizes are wrong.
  platform::close_file(OutFile.exchange(-1));
  Recording = false;
  if (!patched && report) ShowMessage("Stop Record Error");
}

void TBassRecorder::CompleteFileAtExit() {
  const int fd = OutFile.exchange(-1);
  if (fd < 0) return;
  try {
    PatchSizes(fd);
  } catch (...) {
  }
  platform::close_file(fd);
  Recording = false;
}

BOOL RecordWriteProc(HRECORD /*handle*/, const void* buffer, DWORD length, void* user) {
  // The recorder that started the capture: it outlives the capture, which it
  // stops before it goes.
  const auto* recorder = static_cast<const TBassRecorder*>(user);
  if (recorder) {
    const int fd = recorder->OutFile.load(std::memory_order_acquire);
    if (fd >= 0) WriteAll(fd, buffer, length);
  }
  return 1;
}

TBassRecorder& NewRecorder(std::unique_ptr<TBassRecorder>& current) {
  auto fresh = std::make_unique<TBassRecorder>();
  std::unique_ptr<TBassRecorder> old = std::move(current);
  // The earlier capture writes to its file until it is stopped: stop it
  // before the new recorder takes its place.
  if (old && old->Recording) BASS_ChannelStop(old->RecordHandle);
  current = std::move(fresh);
  TBassRecorder& made = *current;
  // Completes the earlier file; its message box may let the host call in
  // again, which now finds the new recorder.
  if (old) old->StopRecord();
  return made;
}

void CloseRecorder(TBassRecorder* recorder) noexcept {
  try {
    if (recorder && recorder->Recording) {
      if (platform::process_exiting())
        recorder->CompleteFileAtExit();  // the capture thread is gone already
      else
        recorder->StopRecord(false);
    }
  } catch (...) {
  }
}

}  // namespace tovarin
