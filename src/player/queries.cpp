// Queries on a stream: position, length, levels, format, tags, CPU, the
// spectrum; seeking, volume and pan.
#include <cmath>
#include <cstdio>

#include "audio/bass.h"
#include "audio/tags.h"
#include "form/main_form.hpp"
#include "format/convert.hpp"
#include "player/report.hpp"
#include "player/stream_player.hpp"

namespace tovarin {
namespace {

constexpr QWORD kNoBytes = static_cast<QWORD>(-1);

// Whole seconds of a byte count; 0 when the library has no answer (an empty
// or stale slot, a live stream without a length).
uint32_t WholeSeconds(DWORD handle, QWORD bytes) {
  if (bytes == kNoBytes) return 0;
  const double seconds = BASS_ChannelBytes2Seconds(handle, bytes);
  if (!(seconds >= 0.0)) return 0;
  return RoundLow32(seconds);
}

}  // namespace

uint32_t TStreamPlayer::GetPosition(int32_t index) {
  if (!ValidSlot(index) || Stream(index) == 0) return 0;
  const DWORD h = Stream(index);
  return WholeSeconds(h, BASS_ChannelGetPosition(h, BASS_POS_BYTE));
}

uint32_t TStreamPlayer::GetLength(int32_t index) {
  if (!ValidSlot(index) || Stream(index) == 0) return 0;
  const DWORD h = Stream(index);
  return WholeSeconds(h, BASS_ChannelGetLength(h, BASS_POS_BYTE));
}

std::string TStreamPlayer::Sec2Format(uint32_t n) {
  // Whole hours and days are dropped, not carried into the minutes.
  const uint32_t r = (n % 86400) % 3600;
  char text[16];
  std::snprintf(text, sizeof text, "%.2u:%.2u", r / 60, r % 60);
  return text;
}

void TStreamPlayer::SetPosition(int32_t index, float seconds) {
  if (!ValidSlot(index) || Stream(index) == 0) return;
  const DWORD h = Stream(index);
  // The whole 64-bit position: past 4 GiB of samples (6 h 45 min of CD
  // audio) a 32-bit position would land near the start.
  const QWORD bytes = BASS_ChannelSeconds2Bytes(h, static_cast<double>(seconds));
  if (!Report(bytes != kNoBytes, "SetPosition Error")) return;
  Report(BASS_ChannelSetPosition(h, bytes, BASS_POS_BYTE), "SetPosition Error");
}

void TStreamPlayer::SetVolume(int32_t index, int32_t percent) {
  if (!ValidSlot(index)) return;
  // Stored after a refusal (an empty slot), not after a fault.
  if (Report(BASS_ChannelSetAttribute(Stream(index), BASS_ATTRIB_VOL, static_cast<float>(percent) / 100.0f),
             "SetVolume Error"))
    volume_ = percent;
}

void TStreamPlayer::SetPan(int32_t index, int32_t percent) {
  if (!ValidSlot(index) || Stream(index) == 0) return;
  Report(BASS_ChannelSetAttribute(Stream(index), BASS_ATTRIB_PAN, static_cast<float>(percent) / 100.0f),
         "SetPan Error");
}

// While Stopped is set the levels do not ask the library at all.
uint16_t TStreamPlayer::GetRLevel(int32_t index) {
  if (flags_.Stopped || !ValidSlot(index)) return 0;
  const DWORD level = BASS_ChannelGetLevel(Stream(index));
  return level == static_cast<DWORD>(-1) ? 0 : static_cast<uint16_t>(level & 0xFFFF);
}

uint16_t TStreamPlayer::GetLLevel(int32_t index) {
  if (flags_.Stopped || !ValidSlot(index)) return 0;
  const DWORD level = BASS_ChannelGetLevel(Stream(index));
  return level == static_cast<DWORD>(-1) ? 0 : static_cast<uint16_t>(level >> 16);
}

uint32_t TStreamPlayer::GetFreq(int32_t index) {
  if (!ValidSlot(index)) return 0;
  BASS_CHANNELINFO info{};
  if (!BASS_ChannelGetInfo(Stream(index), &info)) return 0;
  return info.freq;
}

std::string TStreamPlayer::GetChannels(int32_t index) {
  if (!ValidSlot(index)) return {};
  BASS_CHANNELINFO info{};
  if (!BASS_ChannelGetInfo(Stream(index), &info)) return {};
  if (info.chans == 2) return "Stereo";
  if (info.chans == 1) return "Mono";
  return std::to_string(info.chans) + " channels";
}

uint32_t TStreamPlayer::GetBit(int32_t index) {
  if (!ValidSlot(index)) return 0;
  const DWORD h = Stream(index);
  const QWORD length = BASS_ChannelGetLength(h, BASS_POS_BYTE);
  const QWORD file_size = BASS_StreamGetFilePosition(h, BASS_FILEPOS_END);
  if (length == kNoBytes || file_size == kNoBytes) return 0;
  const float seconds = static_cast<float>(BASS_ChannelBytes2Seconds(h, length));
  // No length (an empty or live stream): there is no rate to give.
  if (!(seconds > 0.0f) || !std::isfinite(seconds)) return 0;
  // The whole size: cut to 32 bits, a file over 4 GiB would answer a
  // fraction of its rate.
  // Adding a half before rounding answers the next whole kbit/s up.
  return RoundLow32(static_cast<double>(file_size) / (125.0 * static_cast<double>(seconds)) + 0.5);
}

std::string TStreamPlayer::GetTags(int32_t index, const std::string& key) {
  if (!ValidSlot(index)) return {};
  for (const char* k : TAGS_KEYS) {
    if (key == k) {
      const char* text = TAGS_Read(Stream(index), k);
      return text ? std::string(text) : std::string();
    }
  }
  return {};
}

int64_t TStreamPlayer::GetCPU() { return RoundEven64(static_cast<float>(BASS_GetCPU())); }

void TStreamPlayer::FetchFFT(int32_t slot) {
  // After a stop the buffer keeps the last spectrum, so the display holds
  // still. A slot outside 1..32 names no stream: the buffer stays as it is.
  if (flags_.Stopped || !ValidSlot(slot)) return;
  BASS_ChannelGetData(Stream(slot), fft_buffer_.data(), BASS_DATA_FFT1024);
}

}  // namespace tovarin
