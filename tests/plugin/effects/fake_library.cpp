#include "fake_library.hpp"

#include <cstdlib>
#include <cstring>

#include "form/main_form.hpp"
#include "player/stream_player.hpp"

FakeLibrary& Fake() {
  static FakeLibrary fake;
  return fake;
}

size_t FakeLibrary::AttachedTo(DWORD stream) const {
  size_t n = 0;
  for (const auto& [h, fx] : attached) n += fx.stream == stream;
  return n;
}

namespace {
thread_local int32_t last_error = BASS_OK;

BOOL Fail(int32_t code) {
  last_error = code;
  return 0;
}

bool FailNow(int& countdown) {
  if (countdown < 0) return false;
  return countdown-- == 0;
}

// The record's floats, by type; integer fields are carried as floats.
std::vector<float> Floats(DWORD type, const void* params) {
  switch (type) {
    case BASS_FX_DX8_PARAMEQ: {
      const auto* r = static_cast<const BASS_DX8_PARAMEQ*>(params);
      return {r->fCenter, r->fBandwidth, r->fGain};
    }
    case BASS_FX_DX8_CHORUS:
    case BASS_FX_DX8_FLANGER: {
      const auto* r = static_cast<const BASS_DX8_CHORUS*>(params);
      return {r->fWetDryMix,
              r->fDepth,
              r->fFeedback,
              r->fFrequency,
              float(int32_t(r->lWaveform)),
              r->fDelay,
              float(int32_t(r->lPhase))};
    }
    case BASS_FX_DX8_ECHO: {
      const auto* r = static_cast<const BASS_DX8_ECHO*>(params);
      return {r->fWetDryMix, r->fFeedback, r->fLeftDelay, r->fRightDelay, float(r->lPanDelay)};
    }
    case BASS_FX_DX8_COMPRESSOR: {
      const auto* r = static_cast<const BASS_DX8_COMPRESSOR*>(params);
      return {r->fGain, r->fAttack, r->fRelease, r->fThreshold, r->fRatio, r->fPredelay};
    }
    case BASS_FX_DX8_REVERB: {
      const auto* r = static_cast<const BASS_DX8_REVERB*>(params);
      return {r->fInGain, r->fReverbMix, r->fReverbTime, r->fHighFreqRTRatio};
    }
  }
  return {};
}
}  // namespace

int32_t BASS_ErrorGetCode() { return last_error; }

// The player's slots: a file stream's handle is the number its name spells,
// so that a test chooses it; the rest answers as an idle library would.
HSTREAM BASS_StreamCreateFile(BOOL, const void* file, QWORD, QWORD, DWORD) {
  return static_cast<HSTREAM>(std::strtoul(static_cast<const char*>(file), nullptr, 10));
}
HSTREAM BASS_StreamCreateURL(const char*, DWORD, DWORD, DOWNLOADPROC*, void*) { return 0; }
BOOL BASS_StreamFree(HSTREAM) { return 1; }
BOOL BASS_ChannelStop(DWORD) { return 1; }
BOOL BASS_Init(int32_t, DWORD, DWORD, DWORD, const void*) { return 1; }
BOOL BASS_Free() { return 1; }

HFX BASS_ChannelSetFX(DWORD handle, DWORD type, int32_t priority) {
  FakeLibrary& f = Fake();
  if (FailNow(f.fail_attach_at)) return Fail(f.fail_code);
  if (handle == 0) return Fail(BASS_ERROR_HANDLE);
  const HFX fx = f.next_handle++;
  f.attached[fx] = FakeEffect{handle, type, priority, {}};
  last_error = BASS_OK;
  return fx;
}

BOOL BASS_ChannelRemoveFX(DWORD handle, HFX fx) {
  FakeLibrary& f = Fake();
  if (FailNow(f.fail_remove_at)) return Fail(f.fail_code);
  auto it = f.attached.find(fx);
  if (it == f.attached.end() || it->second.stream != handle) return Fail(BASS_ERROR_HANDLE);
  f.attached.erase(it);
  last_error = BASS_OK;
  return 1;
}

BOOL BASS_FXSetParameters(HFX fx, const void* params) {
  FakeLibrary& f = Fake();
  if (FailNow(f.fail_set_at)) return Fail(f.fail_code);
  auto it = f.attached.find(fx);
  // Records sent to handle 0 are kept too: what matters is what was sent.
  const DWORD type = it != f.attached.end() ? it->second.type : BASS_FX_DX8_PARAMEQ;
  if (it == f.attached.end()) {
    f.record_handles.push_back(fx);
    f.records.push_back({});
    return Fail(BASS_ERROR_HANDLE);
  }
  f.record_handles.push_back(fx);
  f.records.push_back(Floats(type, params));
  if (!f.accept_parameters) return Fail(BASS_ERROR_ILLPARAM);
  it->second.params = f.records.back();
  last_error = BASS_OK;
  return 1;
}

namespace tovarin {
void ShowMessage(const std::string& text) { Fake().messages.push_back(text); }
}  // namespace tovarin
