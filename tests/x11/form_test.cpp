// The plug-in on a real X server: its form is a child window of the host's
// own X window, its spectrum reaches the screen pixel for pixel as the
// model composes it, and neither the host's window nor the server going
// away stops the sound. The test is the host: it pumps with tovui_pump.
#include <atomic>
#include <chrono>
#include <thread>

#include "host_fixture.hpp"
#include "xvfb.hpp"

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlue = 0x0000FF;
constexpr double kBin10Hz = 10 * 44100.0 / 1024;

class X11FormTest : public PluginTest {
 protected:
  void SetUp() override {
    // One server for the process: the window system connects once.
    static std::string why;
    static const bool started = Server().Start(why);
    if (!started) GTEST_SKIP() << why;
    ASSERT_TRUE(host.Connect());
    PluginTest::SetUp();
    window = host.MakeWindow(400, 300);
    plugin.SetParentWindow(window);
    plugin.Bass_Init();
    initialised = true;
    // The plug-in makes its form over its own connection: the server may
    // show it a moment later.
    std::vector<uint32_t> kids;
    ServerShows([&] { return (kids = host.Children(window)).size() == 1; });
    form = kids.size() == 1 ? kids[0] : 0;
  }

  // Plays a bin-centred sine with the bars on, until bar 10 stands tall.
  void PlayBars() {
    plugin.Draw(0, 0, 0, 300, 200);
    ASSERT_EQ(plugin.ChannelNum(1), 1);
    ASSERT_TRUE(plugin.Create(MakeWav("bin10.wav", 15.0, 44100, 2, kBin10Hz)));
    for (const char* s : {"first", "000#000#255#255#255#000#"}) plugin.SetFile(s);
    for (int32_t d : {5, 10, 20, 100}) plugin.SetData(d);  // bar width, interval, count, height
    plugin.StartDraw();
    plugin.Bass_Play();
    ASSERT_TRUE(PumpUntil([&] { return BarHeight(Composed(), 10) >= 60; }, 10000));
  }

  std::vector<uint32_t> Composed() {
    std::vector<uint32_t> px(300 * 200);
    EXPECT_EQ(tovui_compose(form, px.data(), 300, 200), 1);
    return px;
  }
  static int BarHeight(const std::vector<uint32_t>& px, int bar) {
    for (int y = 0; y < 100; ++y)
      if (px[y * 300 + 1 + 5 * bar] == kBlue) return 100 - y;
    return 0;
  }

  // Waits (without pumping) for the server to show what pred wants.
  template <class Pred>
  bool ServerShows(Pred pred) {
    for (int i = 0; i < 500; ++i) {
      if (pred()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred();
  }

  static Xvfb& Server() {
    static Xvfb server;
    return server;
  }
  XHost host;
  uint32_t window = 0;  // the host's
  uint32_t form = 0;    // the plug-in's, inside it
};

TEST_F(X11FormTest, FormIsAWhiteChildAtTheTopLeftThatDrawMovesAndStopDrawHides) {
  ASSERT_NE(form, 0u);
  EXPECT_EQ(tovui_get_parent(form), window);
  WindowInfo info = host.Info(form);
  EXPECT_EQ((std::vector<int>{info.x, info.y, info.width, info.height}), (std::vector<int>{0, 0, 111, 240}));
  EXPECT_TRUE(info.viewable);
  EXPECT_TRUE(ServerShows([&] { return host.Pixels(form, 111, 240) == std::vector<uint32_t>(111 * 240, kWhite); }));
  plugin.Draw(0, 10, 20, 200, 100);
  EXPECT_TRUE(ServerShows([&] {
    info = host.Info(form);
    return std::vector<int>{info.x, info.y, info.width, info.height} == std::vector<int>{10, 20, 200, 100};
  })) << info.x
      << "," << info.y << " " << info.width << "x" << info.height;
  plugin.StopDraw();
  EXPECT_TRUE(ServerShows([&] { return !host.Info(form).viewable; }));  // our connection, not the test's
}

TEST_F(X11FormTest, PlayingSineReachesTheScreenAsTheModelComposesIt) {
  PlayBars();
  // No pumping from here: the picture stands still until the server has it.
  const auto model = Composed();
  EXPECT_NEAR(BarHeight(model, 10), 66, 1);  // as the model's own pixel tests find
  EXPECT_NEAR(BarHeight(model, 9), 59, 1);
  EXPECT_TRUE(ServerShows([&] { return host.Pixels(form, 300, 200) == model; }));
  // Covered and uncovered, it is painted again from the last picture.
  host.Destroy(host.MakeWindow(400, 300));
  EXPECT_TRUE(ServerShows([&] { return host.Pixels(form, 300, 200) == model; }));
}

TEST_F(X11FormTest, HostDestroyingItsWindowWhilePlayingEndsTheFormNotTheSound) {
  PlayBars();
  host.Destroy(window);
  // The form gets its WM_DESTROY on this thread, and goes.
  ASSERT_TRUE(PumpUntil([&] { return tovui_get_rect(form, nullptr, nullptr, nullptr, nullptr) == 0; }, 5000));
  const int at = plugin.Position();
  EXPECT_TRUE(PumpUntil([&] { return plugin.Position() >= at + 1; }, 5000));
  plugin.Draw(0, 0, 0, 50, 50);
  plugin.Bass_Stop();
  PumpFor(300);
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(X11FormTest, MessageBoxIsADialogOverTheHostWindowThatEnterCloses) {
  tovui_set_presenter(nullptr, nullptr);  // no presenter: the display's own dialog
  std::atomic<bool> seen{false};
  std::thread user([&] {
    XHost eyes;
    if (!eyes.Connect()) return;
    for (int i = 0; i < 500 && !seen; ++i) {
      for (uint32_t w : eyes.Children(eyes.Root()))
        if (eyes.Info(w).viewable && eyes.Text(w, XCB_ATOM_WM_NAME) == "tovarin" &&
            eyes.Word(w, XCB_ATOM_WM_TRANSIENT_FOR) == window)
          seen = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::Run("xdotool key Return");  // through XTest, to the focused dialog
  });
  for (const char* s : {"first", "0#0#0#0#0#0#"}) plugin.SetFile(s);  // fields that are not integers
  plugin.StartDraw();                                                 // returns once the box is closed
  user.join();
  EXPECT_TRUE(seen);
  EXPECT_TRUE(MessageBoxes().empty());               // not the presenter's
  EXPECT_EQ(host.Children(host.Root()).size(), 1u);  // only the host's window is left
}

// Last in the file: the process keeps its connection to the server that went.
TEST_F(X11FormTest, ServerGoingAwayWhilePlayingLeavesTheSoundPlaying) {
  PlayBars();
  Server().Kill();
  const int at = plugin.Position();
  EXPECT_TRUE(PumpUntil([&] { return plugin.Position() >= at + 1; }, 5000));  // the bars go on being drawn
  plugin.Draw(0, 0, 0, 300, 200);
  plugin.Bass_Pause();
  PumpFor(300);
  plugin.Bass_Play();
  EXPECT_TRUE(PumpUntil([&] { return plugin.Position() >= at + 2; }, 5000));
  EXPECT_GE(BarHeight(Composed(), 10), 1);
  EXPECT_TRUE(MessageBoxes().empty());
}

}  // namespace
