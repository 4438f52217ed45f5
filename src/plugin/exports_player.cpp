// The player's exports: slots, transport and queries on the current slot.
// Before SetParentWindow there is no player, and they do nothing.
#include "form/main_form.hpp"
#include "player/stream_player.hpp"
#include "plugin/args.hpp"
#include "format/convert.hpp"
#include "plugin/exports.hpp"
#include "plugin/guard.hpp"

using namespace tovarin;

namespace {

// A query starts from an empty answer, so an operation that produces none,
// or fails on the way, leaves FileResult empty rather than unchanged.
template <class F>
void Query(F&& answer) {
  Guarded([&] {
    SetFileResult({});
    if (Player) SetFileResult(answer(*Player));
  });
}

void Transport(int32_t command) {
  Guarded([&] {
    PendingCommand.store(command);
    if (Player) Player->StartFade();
  });
}

}  // namespace

TOVARIN_EXPORT void Bass_Init() {
  Guarded([] {
    if (!Player) return;
    Player->InitDevice(HostWindow);
    Player->ChannelIndex = 1;
    Player->SetDefaults();
    SetDecimalSeparator(".");
  });
}

TOVARIN_EXPORT int32_t Bass_ChannelNum() {
  return GuardedResult<int32_t>(0, [] {
    if (!Player) return 0;
    Player->ChannelIndex = DataArg(0);
    return Player->ChannelIndex;
  });
}

TOVARIN_EXPORT uint8_t Bass_Create() {
  return GuardedResult<uint8_t>(0, [] {
    if (!Player) return uint8_t{0};
    // A copy: the queue may change under a nested call.
    const std::string source = FileArg(0);
    return uint8_t{Player->CreateStream(Player->ChannelIndex, source) ? uint8_t{1} : uint8_t{0}};
  });
}

TOVARIN_EXPORT void Bass_Free() {
  Guarded([] {
    if (Player) Player->FreeChannel(Player->ChannelIndex);
  });
}

TOVARIN_EXPORT void Bass_Play() { Transport(kCommandPlay); }
TOVARIN_EXPORT void Bass_Pause() { Transport(kCommandPause); }
TOVARIN_EXPORT void Bass_Stop() { Transport(kCommandStop); }

TOVARIN_EXPORT void Bass_GetPosition() {
  Query([](TStreamPlayer& p) { return UnsignedDecimal(p.GetPosition(p.ChannelIndex)); });
}

TOVARIN_EXPORT void Bass_GetLength() {
  Query([](TStreamPlayer& p) { return UnsignedDecimal(p.GetLength(p.ChannelIndex)); });
}

TOVARIN_EXPORT void Bass_Sec2Format() {
  Guarded([] {
    std::string text;
    try {
      // A negative count is taken modulo 2^32.
      text = TStreamPlayer::Sec2Format(static_cast<uint32_t>(IntegerText(FileArg(0))));
    } catch (const ConvertError& e) {
      SetFileResult({});
      ShowMessage(std::string("Sec2Format Error - ") + e.what());
      return;
    }
    SetFileResult(std::move(text));
  });
}

TOVARIN_EXPORT void Bass_SetPosition() {
  Guarded([] {
    // The integer goes to the nearest 32-bit float first (16777217 becomes
    // 16777216.0), as the operation takes seconds as a float.
    const float seconds = static_cast<float>(DataArg(0));
    if (Player) Player->SetPosition(Player->ChannelIndex, seconds);
  });
}

TOVARIN_EXPORT void Bass_SetVolume() {
  Guarded([] {
    if (Player) Player->SetVolume(Player->ChannelIndex, DataArg(0));
  });
}

TOVARIN_EXPORT void Bass_SetPan() {
  Guarded([] {
    if (Player) Player->SetPan(Player->ChannelIndex, DataArg(0));
  });
}

TOVARIN_EXPORT void Bass_GetRLevel() {
  Query([](TStreamPlayer& p) { return UnsignedDecimal(p.GetRLevel(p.ChannelIndex)); });
}

TOVARIN_EXPORT void Bass_GetLLevel() {
  Query([](TStreamPlayer& p) { return UnsignedDecimal(p.GetLLevel(p.ChannelIndex)); });
}

TOVARIN_EXPORT void Bass_GetFreq() {
  Query([](TStreamPlayer& p) { return UnsignedDecimal(p.GetFreq(p.ChannelIndex)); });
}

TOVARIN_EXPORT void Bass_GetBit() {
  Query([](TStreamPlayer& p) { return UnsignedDecimal(p.GetBit(p.ChannelIndex)); });
}

TOVARIN_EXPORT void Bass_GetChannels() {
  Query([](TStreamPlayer& p) { return p.GetChannels(p.ChannelIndex); });
}

TOVARIN_EXPORT void Bass_GetTags() {
  Query([](TStreamPlayer& p) {
    const std::string key = FileArg(0);
    return p.GetTags(p.ChannelIndex, key);
  });
}

TOVARIN_EXPORT void Bass_GetCPU() {
  // The library's load needs no player.
  Guarded([] {
    SetFileResult({});
    SetFileResult(SignedDecimal(TStreamPlayer::GetCPU()));
  });
}
