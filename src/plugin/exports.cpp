// The 56 exports. Their names, ordinals and signatures are the table in
// <tovarin/plugin.h>; here each has one row: what it reads from the queues,
// the operation it runs on the plug-in, and the prefix of its conversion
// message. The C functions are made from both: every export runs its row on
// the plug-in, and no C++ exception reaches the host (a failure that no
// operation handled ends the export quietly, with 0 for an answer).
//
// Before SetParentWindow there is no player, and the player's exports do
// nothing (queries answer ""). Before the first Record_Init there is no
// recorder: starting and stopping do nothing, while the input list and the
// input level go to the library all the same.
#include <tovarin/plugin.h>

#include <functional>
#include <string>
#include <tuple>
#include <type_traits>

#include "effects/effects.hpp"
#include "format/convert.hpp"
#include "platform/platform.hpp"
#include "plugin/plugin.hpp"

namespace tovarin {
namespace {

// --- queue arguments: each reads one entry when the row runs -------------------

// F[i] as a float text, as an integer text, or as it stands (a copy: a
// message box's loop may let the host push meanwhile).
constexpr auto FloatF(int i) {
  return [i](const ArgQueues& q) { return FloatText(q.FileArg(i)); };
}
constexpr auto IntegerF(int i) {
  return [i](const ArgQueues& q) { return IntegerText(q.FileArg(i)); };
}
constexpr auto TextF(int i) {
  return [i](const ArgQueues& q) { return std::string(q.FileArg(i)); };
}
// D[i], and D[i] taken to the nearest 32-bit float (16777217 becomes
// 16777216.0).
constexpr auto D(int i) {
  return [i](const ArgQueues& q) { return q.DataArg(i); };
}
constexpr auto FloatD(int i) {
  return [i](const ArgQueues& q) { return static_cast<float>(q.DataArg(i)); };
}
// The echo's pan delay: only the low byte of D[i] counts (256 is off).
constexpr auto PanDelayD(int i) {
  return [i](const ArgQueues& q) { return (q.DataArg(i) & 0xFF) != 0 ? int32_t{-1} : int32_t{0}; };
}

// An effect's parameter record, its fields read in their order (a braced
// list is evaluated left to right).
template <class Params, class... Read>
constexpr auto Fields(Read... read) {
  return [=](const ArgQueues& q) { return Params{read(q)...}; };
}
// The flanger and the chorus read the same seven texts; the phase text is
// converted before the waveform text.
TFlangerParams ModulatedF(const ArgQueues& q) {
  TFlangerParams a{};
  a.WetDryMix = FloatText(q.FileArg(6));
  a.Depth = FloatText(q.FileArg(5));
  a.Delay = FloatText(q.FileArg(4));
  a.Feedback = FloatText(q.FileArg(3));
  a.Frequency = FloatText(q.FileArg(2));
  a.Phase = IntegerText(q.FileArg(0));
  a.Waveform = IntegerText(q.FileArg(1));
  return a;
}

// Reads the arguments in the order given (a braced list is evaluated left
// to right), then runs op on the current slot.
template <class Op, class... Read>
void OnSlot(Plugin& plugin, const Op& op, const Read&... read) {
  TStreamPlayer& p = *plugin.Player();
  std::tuple<std::invoke_result_t<const Read&, const ArgQueues&>...> values{read(plugin.Args)...};
  std::apply([&](const auto&... v) { std::invoke(op, p, p.ChannelIndex(), v...); }, values);
}

// --- operations: the shapes of the rows ------------------------------------------

// An operation on the player's current slot; nothing before there is a player.
template <class Op, class... Read>
constexpr auto Slot(Op op, Read... read) {
  return [=](Plugin& plugin) {
    if (plugin.Player()) OnSlot(plugin, op, read...);
  };
}

// A set export: a text that fails to convert shows prefix and the
// conversion's message, and nothing is stored or applied.
template <class Op, class... Read>
constexpr auto Set(const char* prefix, Op op, Read... read) {
  return [=](Plugin& plugin) {
    if (!plugin.Player()) return;
    try {
      OnSlot(plugin, op, read...);
    } catch (const ConvertError& e) {
      ShowMessage(std::string(prefix) + e.what());
    }
  };
}

// A query starts from an empty answer, so an operation that produces none,
// or fails on the way, leaves the result empty rather than unchanged.
template <class Answer>
constexpr auto Query(Answer answer) {
  return [=](Plugin& plugin) {
    plugin.Args.SetFileResult({});
    plugin.Args.SetFileResult(answer(plugin));
  };
}
// A query on the current slot, its answer as text.
template <class Op, class Text, class... Read>
constexpr auto SlotQuery(Op op, Text text, Read... read) {
  return Query([=](Plugin& plugin) -> std::string {
    if (!plugin.Player()) return {};
    TStreamPlayer& p = *plugin.Player();
    return text(std::invoke(op, p, p.ChannelIndex(), read(plugin.Args)...));
  });
}
constexpr auto Unsigned = [](uint32_t v) { return UnsignedDecimal(v); };
constexpr auto AsIs = [](std::string text) { return text; };

template <class T>
constexpr auto Constant(T value) {
  return [=](Plugin&) { return value; };
}

}  // namespace

// --- the rows, in ordinal order ----------------------------------------------------

namespace rows {

#define ROW(name, ...) constexpr auto name = __VA_ARGS__;

// Recorder.
ROW(Record_Stop, [](Plugin& p) {
  if (p.Recorder) p.Recorder->StopRecord();
})
ROW(Record_Start, [](Plugin& p) {
  const std::string path = p.Args.FileArg(0);
  const int32_t rate = p.Args.DataArg(1);
  const int32_t channels = p.Args.DataArg(0);
  if (p.Recorder) p.Recorder->StartRecord(path, rate, channels);
})
ROW(Record_SetDevice, [](Plugin& p) { TBassRecorder::SetRecordDevice(p.Args.DataArg(1), p.Args.DataArg(0)); })
ROW(Record_GetDevices, Query([](Plugin&) { return TBassRecorder::GetDevices(); }))
ROW(Record_Init, [](Plugin& p) { return static_cast<int32_t>(NewRecorder(p.Recorder).InitRecord()); })

// Effects.
ROW(Bass_CompressorRemove, Slot(&RemoveCompressor))
ROW(Bass_SetCompressor,
    Set("Set Compressor Error - ", &SetCompressor,
        Fields<TCompressorParams>(FloatF(5), FloatF(4), FloatF(3), FloatF(2), FloatF(1), FloatF(0))))
ROW(Bass_CreateCompressor, Slot(&CreateCompressor))
ROW(Bass_ChorusRemove, Slot(&RemoveChorus))
ROW(Bass_SetChorus, [](Plugin& p) {
  // The chorus makes sure of the separator itself, even when a text then
  // fails to convert.
  try {
    SetDecimalSeparator(".");
  } catch (...) {
  }
  Set("Set Chorus Error - ", &SetChorus, ModulatedF)(p);
})
ROW(Bass_CreateChorus, Slot(&CreateChorus))
ROW(Bass_EchoRemove, Slot(&RemoveEcho))
ROW(Bass_SetEcho,
    Set("Set Echo Error - ", &SetEcho, Fields<TEchoParams>(FloatF(3), FloatF(2), FloatF(1), FloatF(0), PanDelayD(0))))
ROW(Bass_CreateEcho, Slot(&CreateEcho))
ROW(Bass_ReverbRemove, Slot(&RemoveReverb))
ROW(Bass_SetReverb,
    Set("Set Reverb Error - ", &SetReverb, Fields<TReverbParams>(FloatF(3), FloatF(2), FloatF(1), FloatF(0))))
ROW(Bass_CreateReverb, Slot(&CreateReverb))
ROW(Bass_FlangerRemove, Slot(&RemoveFlanger))
ROW(Bass_SetFlanger, Set("Set Flanger Error - ", &SetFlanger, ModulatedF))
ROW(Bass_CreateFlanger, Slot(&CreateFlanger))

// Spectrum display.
ROW(StopDraw, [](Plugin& p) { tovarin::StopDraw(p.MainForm()); })
ROW(StartDraw, [](Plugin& p) {
  DrawSettings s;
  s.Colors = p.Args.FileArg(0);
  s.Mode = p.Args.FileArg(1);
  s.Height = p.Args.DataArg(0);
  s.BarCount = p.Args.DataArg(1);
  s.Interval = p.Args.DataArg(2);
  s.BarWidth = p.Args.DataArg(3);
  tovarin::StartDraw(p.Display, p.Player(), p.DrawBitmap(), p.MainForm(), s);
})

// The library's load needs no player.
ROW(Bass_GetCPU, Query([](Plugin&) { return SignedDecimal(TStreamPlayer::GetCPU()); }))

// Equalizer.
ROW(Bass_EqRemove, Slot(&RemoveEq))
ROW(Bass_EqSet, Slot(&SetEq, D(2), FloatD(1), FloatD(0)))
ROW(Bass_CreateEQ, Slot(&CreateEq))

// Queries on the current slot.
ROW(Bass_GetTags, SlotQuery(&TStreamPlayer::GetTags, AsIs, TextF(0)))
ROW(Bass_GetChannels, SlotQuery(&TStreamPlayer::GetChannels, AsIs))
ROW(Bass_GetBit, SlotQuery(&TStreamPlayer::GetBit, Unsigned))
ROW(Bass_GetFreq, SlotQuery(&TStreamPlayer::GetFreq, Unsigned))
ROW(Bass_GetLLevel, SlotQuery(&TStreamPlayer::GetLLevel, Unsigned))
ROW(Bass_GetRLevel, SlotQuery(&TStreamPlayer::GetRLevel, Unsigned))
ROW(Bass_SetPan, Slot(&TStreamPlayer::SetPan, D(0)))
ROW(Bass_SetVolume, Slot(&TStreamPlayer::SetVolume, D(0)))
ROW(Bass_GetLength, SlotQuery(&TStreamPlayer::GetLength, Unsigned))
ROW(Bass_SetPosition, Slot(&TStreamPlayer::SetPosition, FloatD(0)))
ROW(Bass_Sec2Format, [](Plugin& p) {
  std::string text;
  try {
    // A negative count is taken modulo 2^32.
    text = TStreamPlayer::Sec2Format(static_cast<uint32_t>(IntegerF(0)(p.Args)));
  } catch (const ConvertError& e) {
    p.Args.SetFileResult({});
    ShowMessage(std::string("Sec2Format Error - ") + e.what());
    return;
  }
  p.Args.SetFileResult(std::move(text));
})
ROW(Bass_GetPosition, SlotQuery(&TStreamPlayer::GetPosition, Unsigned))

// Transport and slots.
ROW(Bass_Stop, [](Plugin& p) { p.Transport(kCommandStop); })
ROW(Bass_Pause, [](Plugin& p) { p.Transport(kCommandPause); })
ROW(Bass_Play, [](Plugin& p) { p.Transport(kCommandPlay); })
ROW(Bass_Create, [](Plugin& p) {
  TStreamPlayer* player = p.Player();
  if (!player) return uint8_t{0};
  const std::string source = p.Args.FileArg(0);
  return player->CreateStream(player->ChannelIndex(), source) ? uint8_t{1} : uint8_t{0};
})
ROW(Bass_Free, [](Plugin& p) { p.FreePlayer(); })
ROW(Bass_ChannelNum, [](Plugin& p) {
  TStreamPlayer* player = p.Player();
  if (!player) return int32_t{0};
  player->SetChannelIndex(p.Args.DataArg(0));
  return player->ChannelIndex();
})
ROW(Bass_Init, [](Plugin& p) { p.InitPlayer(); })

// Description, queues and window.
ROW(Copyright, Constant("tovarin audio playback plug-in, (c) the tovarin developers"))
ROW(GetShortInfo, [](Plugin&) {})
ROW(GetInfo, Constant("Tovarin 1.0 betta"))
ROW(GetType, Constant(int32_t{0}))
ROW(SetPath, [](Plugin& p, const char* path) { p.Args.PluginPath = path ? path : ""; })
ROW(SetParentWindow, [](Plugin& p, uint32_t window) { p.SetParentWindow(window); })
ROW(Draw, [](Plugin& p, int32_t /*ignored*/, int32_t left, int32_t top, int32_t width, int32_t height) {
  p.Draw(left, top, width, height);
})
ROW(SetFile, [](Plugin& p, const char* text) { p.Args.PushFile(text); })
ROW(GetFile, [](Plugin& p) { return p.Args.FileResult.c_str(); })
ROW(SetData, [](Plugin& p, int32_t value) { p.Args.PushData(value); })
ROW(GetData, [](Plugin& p) { return p.Args.DataResult; })

#undef ROW

}  // namespace rows

namespace {

// Runs a row on the plug-in behind the wall: R{} when it fails. The row
// runs in the plug-in's floating-point environment, whatever the host's is;
// the host gets its own back.
template <class R, class Row>
struct Exported {
  const Row& row;
  template <class... A>
  R operator()(A... a) const noexcept {
    platform::HostFloatScope host_fp;
    try {
      return static_cast<R>(row(ThePlugin(), a...));
    } catch (...) {
      if constexpr (!std::is_void_v<R>) return R{};
    }
  }
};
template <class R, class Row>
Exported<R, Row> Export(const Row& row) {
  return {row};
}

}  // namespace
}  // namespace tovarin

// On Linux every export has default visibility (all else is hidden and the
// version script lists the names); on Windows Plugin.def names them with
// their ordinals. Both come from the same table.
#ifdef _WIN32
#define TOVARIN_VISIBLE
#else
#define TOVARIN_VISIBLE __attribute__((visibility("default")))
#endif
#define TOVARIN_DEFINE_EXPORT(name, ordinal, ret, params, args) \
  extern "C" TOVARIN_VISIBLE ret name params { return tovarin::Export<ret>(tovarin::rows::name) args; }
TOVARIN_PLUGIN_EXPORTS(TOVARIN_DEFINE_EXPORT)
#undef TOVARIN_DEFINE_EXPORT
