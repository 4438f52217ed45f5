// A stand-in for the audio library's effect calls and the form's message
// box, so that the player's effect operations can be watched call by call:
// which effects are attached where, which records reach them, and what the
// user is shown.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "audio/bass.h"

struct FakeEffect {
  DWORD stream = 0;
  DWORD type = 0;
  int32_t priority = 0;
  std::vector<float> params;  // the last record accepted, as floats
};

struct FakeLibrary {
  std::map<DWORD, FakeEffect> attached;  // by effect handle
  DWORD next_handle = 100;
  std::vector<std::vector<float>> records;  // every record handed to SetParameters
  std::vector<DWORD> record_handles;
  std::vector<std::string> messages;
  // Makes the n-th next call of that kind (0 = the next) fail with the code.
  int fail_attach_at = -1, fail_remove_at = -1, fail_set_at = -1;
  int32_t fail_code = BASS_ERROR_MEM;
  // SetParameters accepts a record only when this says so.
  bool accept_parameters = true;

  void Reset() { *this = FakeLibrary{}; }
  size_t AttachedTo(DWORD stream) const;
};

FakeLibrary& Fake();
