// The export boundary as a host sees it: description, queues, results, and
// exports called before the plug-in has a window or an audio library.
#include <cstdio>
#include <set>
#include <thread>

#include "host_fixture.hpp"

using BoundaryTest = PluginTest;

TEST_F(BoundaryTest, DescribesItself) {
  EXPECT_STREQ(plugin.GetInfo(), "Tovarin 1.0 betta");
  EXPECT_EQ(plugin.GetType(), 0);
  ASSERT_NE(plugin.Copyright(), nullptr);
  EXPECT_GT(std::string(plugin.Copyright()).size(), 0u);
  EXPECT_EQ(std::string(plugin.Copyright()).find('\n'), std::string::npos);
  plugin.GetShortInfo();
  plugin.SetPath(nullptr);
  plugin.SetPath("/somewhere");
}

TEST_F(BoundaryTest, ResultSlotsStartEmptyAndDataResultStaysZero) {
  ASSERT_NE(plugin.GetFile(), nullptr);
  EXPECT_STREQ(plugin.GetFile(), "");
  plugin.SetData(123);
  plugin.SetData(-1);
  EXPECT_EQ(plugin.GetData(), 0);
}

TEST_F(BoundaryTest, OperationsReadTheNewestEntryOfEachQueue) {
  LendWindow();
  plugin.SetData(7);
  plugin.SetFile("61");
  plugin.SetFile("125");  // newer
  plugin.SetData(9);      // newer, and the string queue keeps its entries
  EXPECT_EQ(plugin.Bass_ChannelNum(), 9);
  EXPECT_EQ(plugin.Query(plugin.Bass_Sec2Format), "02:05");
  // Nothing is consumed: the same entries answer again.
  EXPECT_EQ(plugin.Bass_ChannelNum(), 9);
  EXPECT_STREQ(plugin.GetFile(), "02:05");
  EXPECT_STREQ(plugin.GetFile(), "02:05");
  plugin.SetFile(nullptr);  // pushes "0"
  EXPECT_EQ(plugin.Query(plugin.Bass_Sec2Format), "00:00");
}

TEST_F(BoundaryTest, Sec2FormatDropsWholeHoursAndTakesNegativesModulo2To32) {
  const std::pair<const char*, const char*> cases[] = {{"0", "00:00"},     {"59", "00:59"},        {"60", "01:00"},
                                                       {"3599", "59:59"},  {"3600", "00:00"},      {"3725", "02:05"},
                                                       {"86399", "59:59"}, {"-1", "28:15"},        {"$E8D", "02:05"},
                                                       {"  +90", "01:30"}, {"2147483647", "14:07"}};
  for (auto [in, out] : cases) EXPECT_EQ(plugin.Format(in), out) << in;
}

TEST_F(BoundaryTest, Sec2FormatReportsABadTextAndAnswersEmpty) {
  EXPECT_EQ(plugin.Format("61"), "01:01");
  EXPECT_EQ(plugin.Format("1.5"), "");
  ASSERT_EQ(MessageBoxes().size(), 1u);
  EXPECT_NE(MessageBoxes()[0].find("'1.5' is not a valid integer value"), std::string::npos);
}

TEST_F(BoundaryTest, TextQueryWithoutAnswerEmptiesTheResult) {
  StartPlayer();
  EXPECT_EQ(plugin.Format("61"), "01:01");
  EXPECT_EQ(plugin.Tag("%XXXX"), "");
}

// Before SetParentWindow there is no player: its exports do nothing and its
// queries answer "", while the conversions, the library's load and the
// recorder act as at any other time.
TEST_F(BoundaryTest, BeforeAWindowOnlyThePlayerIsIdle) {
  setenv("TOVARIN_AUDIO_INPUT", "null", 1);
  plugin.Bass_Init();
  EXPECT_EQ(plugin.ChannelNum(2), 0);
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "");
  EXPECT_EQ(plugin.Format("3725"), "02:05");
  EXPECT_EQ(plugin.Query(plugin.Bass_GetCPU), "0");
  EXPECT_NE(plugin.Record_Init(), 0);
  plugin.Record_Stop();
  EXPECT_TRUE(MessageBoxes().empty());
  plugin.StartDraw();  // there is no display to start
  EXPECT_EQ(MessageBoxes(), std::vector<std::string>{"StartDraw error"});
  unsetenv("TOVARIN_AUDIO_INPUT");
}

TEST_F(BoundaryTest, TransportBeforeBassInitDoesNothing) {
  LendWindow();
  plugin.Bass_Play();
  plugin.Bass_Stop();
  EXPECT_EQ(FadeThreads(), 0);  // no fade was started
  tovui_pump(0);
  EXPECT_TRUE(tovui_is_visible(Form()));
  EXPECT_TRUE(MessageBoxes().empty());
}

namespace {
// Keeps each box open for a while, closing it from another thread, and
// calls into the plug-in from inside the box, as a host's own message
// handlers may.
struct SlowBoxes {
  Plugin* plugin = nullptr;
  std::vector<std::string> texts;
  std::string nested_answer;
  std::vector<std::thread> closers;
  ~SlowBoxes() {
    for (auto& t : closers)
      if (t.joinable()) t.join();
  }
  static void Present(void* user, uint32_t box, const char* text, const char*) {
    auto* self = static_cast<SlowBoxes*>(user);
    self->texts.push_back(text ? text : "");
    self->nested_answer = self->plugin->Query(self->plugin->Bass_GetFreq);
    self->closers.emplace_back([box] {
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      tovui_close_box(box);
    });
  }
};
}  // namespace

TEST_F(BoundaryTest, WhileAMessageIsUpFadesGoOnAndExportsCanBeEnteredAgain) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("reenter.wav", 5.0, 44100, 2)));
  SlowBoxes boxes;
  boxes.plugin = &plugin;
  tovui_set_presenter(&SlowBoxes::Present, &boxes);
  // The fade's messages reach the form only while this thread dispatches,
  // and from here on it dispatches only inside the message box.
  plugin.Bass_Play();
  EXPECT_EQ(plugin.Format("abc"), "44100");  // the nested query's answer: one FileResult
  for (auto& t : boxes.closers) t.join();
  InstallRecordingPresenter();
  ASSERT_EQ(boxes.texts.size(), 1u);
  EXPECT_NE(boxes.texts[0].find("'abc' is not a valid integer value"), std::string::npos);
  EXPECT_EQ(boxes.nested_answer, "44100");
  // The play fade ran while the box was up: the stream plays on without
  // any further dispatching.
  for (int i = 0; i < 30000 && plugin.Position() < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GE(plugin.Position(), 1);
}

#if !defined(_WIN32)  // Plugin.dll's table is checked with objdump -p by scripts/test-windows.sh
TEST(ExportTable, OnlyTheExportNamesAreVisible) {
  std::set<std::string> table;
  for (const auto& entry : ExportTable()) table.insert(entry.first);
  ASSERT_EQ(table.size(), 56u);
  FILE* nm = popen("nm -D --defined-only " TOVARIN_PLUGIN_PATH, "r");
  ASSERT_NE(nm, nullptr);
  char line[512];
  int names = 0;
  while (fgets(line, sizeof line, nm)) {
    char address[64], type[8], name[400];
    if (sscanf(line, "%63s %7s %399s", address, type, name) != 3) continue;
    ++names;
    EXPECT_TRUE(table.count(name)) << "unexpected export: " << name;
  }
  EXPECT_EQ(pclose(nm), 0);
  EXPECT_EQ(names, 56);  // the whole table, and nothing else
}
#endif
