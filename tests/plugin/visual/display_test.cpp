// The spectrum display as a host sees it: StartDraw and StopDraw through
// the exports, frames checked on the composed form.
#include <cstdlib>
#include <string>
#include <vector>

#include "host_fixture.hpp"

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kBlue = 0x0000FF;    // pen "000#000#255#"
constexpr uint32_t kYellow = 0xFFFF00;  // brush "255#255#000#"
const char* const kBlueOnYellow = "000#000#255#255#255#000#";

class DisplayTest : public PluginTest {
 protected:
  // The host's pushes: mode, colours; bar width, interval, count, height.
  void StartDraw(const std::string& mode, const std::string& colors, int32_t height, int32_t count, int32_t interval,
                 int32_t width) {
    plugin.SetFile(mode.c_str());
    plugin.SetFile(colors.c_str());
    plugin.SetData(width);
    plugin.SetData(interval);
    plugin.SetData(count);
    plugin.SetData(height);
    plugin.StartDraw();
  }
  void StopDraw() { plugin.StopDraw(); }

  // The form composed, 300 x 200 after Draw.
  uint32_t Pixel(int x, int y) { return Composed()[y * kW + x]; }
  std::vector<uint32_t> Composed() {
    std::vector<uint32_t> px(kW * kH, 0x123456);
    EXPECT_EQ(tovui_compose(Form(), px.data(), kW, kH), 1);
    return px;
  }
  void Place() { plugin.Draw(0, 0, 0, kW, kH); }

  static constexpr int kW = 300, kH = 200;
};

// The bin-centred sine of bin 10 at 44100 Hz.
constexpr double kBin10Hz = 10 * 44100.0 / 1024;

}  // namespace

TEST_F(DisplayTest, SilenceDrawsTwoPixelBarsInAnAreaHeightTimesIntervalWide) {
  StartPlayer();
  Place();
  StartDraw("first", kBlueOnYellow, 100, 20, 2, 5);  // area 200 x 100
  ASSERT_TRUE(PumpUntil([&] { return Pixel(1, 99) == kBlue; }, 3000));
  const auto px = Composed();
  auto at = [&](int x, int y) { return px[y * kW + x]; };
  for (int i = 0; i < 20; ++i) {
    const int x = 1 + 5 * i;
    EXPECT_EQ(at(x, 98), kBlue) << "bar " << i;
    EXPECT_EQ(at(x, 97), kYellow) << "bar " << i;
  }
  EXPECT_EQ(at(199, 50), kYellow);
  EXPECT_EQ(at(200, 50), kWhite);  // beyond the area: the form's own white
  EXPECT_EQ(at(50, 100), kWhite);
  EXPECT_TRUE(tovui_is_visible(Form()));
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(DisplayTest, BarsOfAPlayingSineFollowItsSpectrum) {
  StartPlayer();
  Place();
  ASSERT_EQ(plugin.ChannelNum(1), 1);
  // Long enough to still play when a slow (sanitized, loaded) run first draws.
  ASSERT_TRUE(plugin.Create(MakeWav("bin10.wav", 15.0, 44100, 2, kBin10Hz)));
  StartDraw("first", kBlueOnYellow, 100, 20, 10, 5);
  plugin.Bass_Play();
  // Amplitude 0.5 reads 0.5 in bin 10 and, through the Hann window, 0.25 in
  // bins 9 and 11: patterns 126 x 2^23 and 125 x 2^23, heights
  // 968.71 - 909 + 6.67 = 66.38 and 961.03 - 909 + 6.67 = 58.69.
  auto top = [&](int bar) {
    for (int y = 0; y < 100; ++y)
      if (Pixel(1 + 5 * bar, y) == kBlue) return y;
    return -1;
  };
  // Once the fade is over, the bar stands at its height.
  EXPECT_TRUE(PumpUntil([&] { return std::abs(100 - top(10) - 66) <= 1; }, 30000)) << top(10);
  EXPECT_NEAR(100 - top(9), 59, 1);
  EXPECT_NEAR(100 - top(11), 59, 1);
  for (int bar : {0, 3, 16, 19}) EXPECT_LT(100 - top(bar), 30) << "bar " << bar;
  plugin.Bass_Stop();
  PumpUntil([&] { return !tovui_is_visible(Form()); }, 3000);
}

TEST_F(DisplayTest, StopDrawHidesAndThenPlayBringsBackTheLastMode) {
  StartPlayer();
  Place();
  ASSERT_TRUE(plugin.Create(MakeWav("line.wav", 4.0, 44100, 2, kBin10Hz)));
  StartDraw("second", kBlueOnYellow, 100, 20, 10, 5);
  ASSERT_TRUE(PumpUntil([&] { return Pixel(50, 10) == kYellow; }, 3000));
  StopDraw();
  EXPECT_FALSE(tovui_is_visible(Form()));
  plugin.Bass_Play();
  ASSERT_TRUE(PumpUntil([&] { return tovui_is_visible(Form()) != 0; }, 3000));
  PumpFor(300);
  // The line, not bars: bars would outline the whole bottom row.
  const auto px = Composed();
  int bottom = 0, pen = 0;
  for (int x = 1; x <= 100; ++x) bottom += px[99 * kW + x] == kBlue;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) pen += px[y * kW + x] == kBlue;
  EXPECT_LT(bottom, 20);
  EXPECT_GT(pen, 50);
  plugin.Bass_Stop();
  ASSERT_TRUE(PumpUntil([&] { return !tovui_is_visible(Form()); }, 3000));
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(DisplayTest, AModeOtherThanFirstOrSecondSwitchesNoTimer) {
  StartPlayer();
  Place();
  StopDraw();
  StartDraw("First", kBlueOnYellow, 100, 20, 5, 5);
  EXPECT_TRUE(tovui_is_visible(Form()));
  PumpFor(200);
  EXPECT_EQ(Pixel(50, 50), kWhite);  // no frame was drawn
  // Nor does a play switch one on.
  ASSERT_TRUE(plugin.Create(MakeWav("first.wav", 2.0, 44100, 2)));
  plugin.Bass_Play();
  PumpFor(500);
  EXPECT_EQ(Pixel(50, 50), kWhite);
  EXPECT_TRUE(MessageBoxes().empty());
  plugin.Bass_Stop();
  PumpFor(300);
}

TEST_F(DisplayTest, PlayWithoutAKnownModeLeavesAHiddenFormHidden) {
  StartPlayer();
  Place();
  ASSERT_TRUE(plugin.Create(MakeWav("hidden.wav", 4.0, 44100, 2)));
  StopDraw();  // hidden; no mode given yet
  plugin.Bass_Play();
  ASSERT_TRUE(PumpUntil([&] { return plugin.Position() >= 1; }, 3000));
  EXPECT_FALSE(tovui_is_visible(Form()));
  // A mode spelled with a capital is no mode either.
  StartDraw("Second", kBlueOnYellow, 100, 20, 10, 5);
  StopDraw();
  plugin.Bass_Pause();
  plugin.Bass_Play();
  PumpFor(400);
  EXPECT_FALSE(tovui_is_visible(Form()));
  EXPECT_EQ(Pixel(50, 50), kWhite);
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(DisplayTest, ColourFieldsThatAreNotIntegersShowStartDrawErrorAndStartNothing) {
  StartPlayer();
  Place();
  StopDraw();
  StartDraw("first", "0#0#0#0#0#0#", 100, 20, 5, 5);  // every field takes in a "#"
  ASSERT_EQ(MessageBoxes(), std::vector<std::string>{"StartDraw error"});
  EXPECT_FALSE(tovui_is_visible(Form()));
  PumpFor(200);
  EXPECT_EQ(Pixel(50, 50), kWhite);
  // Five fields with no sixth ever given: the same.
  StartDraw("first", "255#000#000#000#000#064", 100, 20, 5, 5);
  EXPECT_EQ(MessageBoxes().size(), 2u);
  EXPECT_FALSE(tovui_is_visible(Form()));
}
