// The form the plug-in places inside the host's window.
#include <vector>

#include "host_fixture.hpp"

using FormTest = PluginTest;

namespace {
using Bounds = std::vector<int32_t>;  // x, y, width, height
Bounds RectOf(uint32_t window) {
  Bounds b(4, -1);
  tovui_get_rect(window, &b[0], &b[1], &b[2], &b[3]);
  return b;
}
}  // namespace

TEST_F(FormTest, SitsWhiteAt111By240InTheTopLeftBeforeDraw) {
  LendWindow(400, 300);
  const uint32_t form = Form();
  ASSERT_NE(form, 0u);
  EXPECT_EQ(tovui_child(host_window, 1), 0u);  // one form, nothing else
  EXPECT_EQ(tovui_get_parent(form), host_window);
  EXPECT_TRUE(tovui_is_visible(form));
  EXPECT_EQ(RectOf(form), (Bounds{0, 0, 111, 240}));
  // The composed form alone is white from corner to corner.
  std::vector<uint32_t> pixels(111 * 240, 0x123456);
  ASSERT_EQ(tovui_compose(form, pixels.data(), 111, 240), 1);
  for (uint32_t p : pixels) ASSERT_EQ(p, 0xFFFFFFu);
}

TEST_F(FormTest, DrawPlacesAndSizesTheFormIgnoringItsFirstArgument) {
  LendWindow(400, 300);
  for (int32_t ignored : {0, -5, 12345}) {
    plugin.Draw(ignored, 10, 20, 300, 100);
    EXPECT_EQ(RectOf(Form()), (Bounds{10, 20, 300, 100})) << ignored;
  }
  plugin.Draw(0, -30, 250, 50, 60);  // passed on without range tests
  EXPECT_EQ(RectOf(Form()), (Bounds{-30, 250, 50, 60}));
}

TEST_F(FormTest, HostWindowWithAParentGetsTheFormMovedUnderIt) {
  const uint32_t outer = tovui_create_window(0, 0, 0, 640, 480);
  host_window = tovui_create_window(outer, 50, 60, 400, 300);
  plugin.SetParentWindow(host_window);
  const uint32_t form = Form();
  ASSERT_NE(form, 0u);
  EXPECT_EQ(tovui_get_parent(form), host_window);
  EXPECT_EQ(tovui_child(outer, 0), host_window);
  EXPECT_EQ(tovui_child(outer, 1), 0u);  // the form left the outer window
  EXPECT_EQ(RectOf(form), (Bounds{0, 0, 111, 240}));
  tovui_destroy_window(outer);
  host_window = 0;
}

TEST_F(FormTest, SecondSetParentWindowMakesAnotherFormAndKeepsTheFirst) {
  LendWindow(400, 300);
  const uint32_t first = Form();
  plugin.Draw(0, 200, 10, 50, 50);
  plugin.SetParentWindow(host_window);
  const uint32_t second = tovui_child(host_window, 1);
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, first);
  EXPECT_TRUE(tovui_is_visible(first));
  EXPECT_TRUE(tovui_is_visible(second));
  // Draw now moves the newest form only.
  plugin.Draw(0, 5, 6, 70, 80);
  EXPECT_EQ(RectOf(second)[0], 5);
  EXPECT_EQ(RectOf(first)[0], 200);
  // The newest player starts from zero: no slot until Bass_Init.
  EXPECT_EQ(plugin.Query(plugin.Bass_GetChannels), "");
}

TEST_F(FormTest, AHandleThatIsNoWindowGetsNoForm) {
  plugin.SetParentWindow(0);
  plugin.SetParentWindow(0xDEADBEEF);
  plugin.Draw(0, 1, 1, 10, 10);
  plugin.Bass_Init();
  plugin.Bass_Play();
  EXPECT_EQ(FadeThreads(), 0);  // no form, no fade
  tovui_pump(0);
  EXPECT_TRUE(MessageBoxes().empty());
  LendWindow();
  EXPECT_NE(Form(), 0u);
}

TEST_F(FormTest, HostDestroyingItsWindowLeavesTheExportsHarmless) {
  StartPlayer();
  const std::string wav = MakeWav("destroy.wav", 1.0, 44100, 2);
  ASSERT_TRUE(plugin.Create(wav));
  plugin.Bass_Play();
  tovui_destroy_window(host_window);  // while the fade worker runs
  host_window = 0;
  // Its steps cannot reach the form any more: the fade ends.
  EXPECT_TRUE(PumpUntil([] { return FadeThreads() == 0; }, 30000));
  plugin.Draw(0, 1, 2, 3, 4);
  plugin.Bass_Stop();
  plugin.Bass_Play();
  EXPECT_TRUE(PumpUntil([] { return FadeThreads() == 0; }, 30000));
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "44100");
  EXPECT_TRUE(MessageBoxes().empty());
}
