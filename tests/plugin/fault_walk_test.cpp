// A whole session through the exports, walked with each injection point of
// the library failing in turn: no run may crash, leak or hang, each fault
// shows at most the message its operation names, the plug-in works normally
// afterwards, and every message that a fault can cause appears somewhere in
// the walk.
#ifdef TOVARIN_FAULT_INJECTION

#include <set>

#include "common/fault_plan.hpp"
#include "host_fixture.hpp"

namespace {

// Every message an operation of the session may show for a fault.
const std::set<std::string> kSessionMessages = {
    "Play Error",        "Stop Error",          "SetVolume Error",         "SetPan Error",       "SetPosition Error",
    "FreeChannel Error", "Internet Free Error", "Set Record Device Error", "Start Record Error", "Stop Record Error",
    "Create Echo Error", "SetEcho Error",       "RemoveEcho Error",
};

class FaultWalk : public PluginTest {
 protected:
  // Every fade step posted is handled before the session goes on, so each
  // run reaches its points in the same order.
  static void Settle() {
    PumpUntil([] { return FadeThreads() == 0; }, 10000);
    PumpFor(10);
  }
  void Session(const std::string& wav, const std::string& recording) {
    plugin.Bass_Init();
    plugin.ChannelNum(1);
    plugin.Create(wav);
    plugin.SetVolume(2);  // two-step fades keep the walk short
    plugin.SetData(-40);
    plugin.Bass_SetPan();
    plugin.Bass_CreateEcho();
    plugin.SetData(1);
    plugin.Bass_SetPosition();
    plugin.Bass_Play();
    Settle();
    plugin.Query(plugin.Bass_GetPosition);
    plugin.Query(plugin.Bass_GetRLevel);
    plugin.Record_Init();
    plugin.SetData(60);
    plugin.SetData(0);
    plugin.Record_SetDevice();
    plugin.SetFile(recording.c_str());
    plugin.SetData(8000);
    plugin.SetData(1);
    plugin.Record_Start();
    plugin.Record_Stop();
    plugin.Bass_Stop();
    Settle();
    plugin.Bass_EchoRemove();
    // A URL (refused at once on loopback) makes the free treat slot 2 as an
    // internet stream.
    plugin.ChannelNum(2);
    plugin.Create("http://127.0.0.1:1/none.mp3");
    plugin.Bass_Free();
  }
};

}  // namespace

TEST_F(FaultWalk, ASessionSurvivesEveryFaultAndShowsOnlyItsOperationsMessages) {
  LendWindow();
  const std::string wav = MakeWav("walk.wav", 2.0, 44100, 2);
  const std::string recording = TempDir() + "/walk-rec.wav";
  std::set<std::string> seen;
  const long points = fault_plan::Walk(
      [&] {
        MessageBoxes().clear();
        Session(wav, recording);
        EXPECT_LE(MessageBoxes().size(), 1u);
        for (const auto& text : MessageBoxes()) {
          EXPECT_EQ(kSessionMessages.count(text), 1u) << text;
          seen.insert(text);
        }
      },
      [&] {
        // What a fault left (a recording that did not stop, a library that
        // did not free) is ended; then the plug-in works as before.
        plugin.Record_Stop();
        plugin.Bass_Free();
        MessageBoxes().clear();
        plugin.Bass_Init();
        plugin.ChannelNum(1);
        EXPECT_TRUE(plugin.Create(wav));
        EXPECT_EQ(plugin.Query(plugin.Bass_GetLength), "2");
        plugin.Bass_Free();
        EXPECT_TRUE(MessageBoxes().empty());
      });
  std::printf("injection points in the session: %ld\n", points);
  EXPECT_GE(points, 40);
  EXPECT_EQ(seen, kSessionMessages);  // each can appear
}

#endif
