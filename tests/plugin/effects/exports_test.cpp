// The effect exports' conversions and messages, on the silent output.
#include <dlfcn.h>
#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "host_fixture.hpp"

namespace {

class EffectExportsTest : public PluginTest {
 protected:
  // Pushes the texts first to last, so the last ends in FileArgs[0].
  void Push(std::initializer_list<const char*> texts) {
    for (const char* t : texts) plugin.SetFile(t);
  }
  std::vector<std::string> Shown(void (*op)()) {
    MessageBoxes().clear();
    op();
    return MessageBoxes();
  }
  Plugin& fx = plugin;  // the effects' exports
};

using Boxes = std::vector<std::string>;

TEST_F(EffectExportsTest, FlangerAndChorusReportTheFirstBadTextInConversionOrder) {
  StartPlayer();
  for (auto [op, prefix] :
       {std::pair{fx.Bass_SetFlanger, "Set Flanger Error - "}, std::pair{fx.Bass_SetChorus, "Set Chorus Error - "}}) {
    SCOPED_TRACE(prefix);
    // Bad texts in 6 and 2: the message names 6's.
    Push({"wet", "100", "2", "-50", "freq", "1", "2"});
    EXPECT_EQ(Shown(op), Boxes{std::string(prefix) + "'wet' is not a valid floating point value"});
    // Bad texts in 1 (waveform) and 0 (phase): phase is converted first.
    Push({"50", "100", "2", "-50", "0.25", "wave", "phase"});
    EXPECT_EQ(Shown(op), Boxes{std::string(prefix) + "'phase' is not a valid integer value"});
    // An integer field takes no fraction; hexadecimal is an integer.
    Push({"50", "100", "2", "-50", "0.25", "1.5", "$2"});
    EXPECT_EQ(Shown(op), Boxes{std::string(prefix) + "'1.5' is not a valid integer value"});
    Push({"50", "100", "2", "-50", "0.25", "1", "$2"});
    EXPECT_EQ(Shown(op), Boxes{});
  }
}

TEST_F(EffectExportsTest, ReverbEchoAndCompressorConvertFromTheHighestSlotDown) {
  StartPlayer();
  Push({"0", "x3", "1000", "x0"});
  EXPECT_EQ(Shown(fx.Bass_SetReverb), Boxes{"Set Reverb Error - 'x3' is not a valid floating point value"});
  Push({"50", "50", "500", ""});
  EXPECT_EQ(Shown(fx.Bass_SetEcho), Boxes{"Set Echo Error - '' is not a valid floating point value"});
  Push({"0", "10", "200", "-20", "ratio", "pre"});
  EXPECT_EQ(Shown(fx.Bass_SetCompressor), Boxes{"Set Compressor Error - 'ratio' is not a valid floating point value"});
  // After Bass_Init the separator is ".": a comma fails whatever the locale.
  Push({"0", "0", "1000", "0,5"});
  EXPECT_EQ(Shown(fx.Bass_SetReverb), Boxes{"Set Reverb Error - '0,5' is not a valid floating point value"});
}

TEST_F(EffectExportsTest, ValuesTheLibraryRefusesShowNothing) {
  StartPlayer();
  ASSERT_TRUE(plugin.Create(MakeWav("refused.wav", 0.5, 44100, 2)));
  fx.Bass_CreateFlanger();
  Push({"50", "100", "10", "-50", "0.25", "1", "2"});  // a 10 ms flanger delay is out of range
  EXPECT_EQ(Shown(fx.Bass_SetFlanger), Boxes{});
  plugin.SetData(5);
  plugin.SetData(40);  // +40 dB is out of range too
  plugin.SetData(12);
  fx.Bass_CreateEQ();
  EXPECT_EQ(Shown(fx.Bass_EqSet), Boxes{});
  fx.Bass_EqRemove();
  fx.Bass_FlangerRemove();
  EXPECT_TRUE(MessageBoxes().empty());
}

TEST_F(EffectExportsTest, SlotsOutsideTheRangeTouchNothingButSetsStillCheckTheirTexts) {
  StartPlayer();
  for (int32_t slot : {0, 33}) {
    plugin.ChannelNum(slot);
    for (auto op : {fx.Bass_CreateEQ, fx.Bass_EqSet, fx.Bass_EqRemove, fx.Bass_CreateFlanger, fx.Bass_FlangerRemove,
                    fx.Bass_CreateChorus, fx.Bass_ChorusRemove, fx.Bass_CreateReverb, fx.Bass_ReverbRemove,
                    fx.Bass_CreateEcho, fx.Bass_EchoRemove, fx.Bass_CreateCompressor, fx.Bass_CompressorRemove})
      EXPECT_EQ(Shown(op), Boxes{});
    Push({"50", "50", "500", "bad"});
    EXPECT_EQ(Shown(fx.Bass_SetEcho), Boxes{"Set Echo Error - 'bad' is not a valid floating point value"});
  }
}

// Every export before SetParentWindow: nothing to act on, no message, an
// answer for every query; once a window is lent the player works as usual.
TEST_F(EffectExportsTest, BeforeTheWindowIsLentEveryExportIsHarmless) {
  plugin.Draw(0, 1, 2, 3, 4);
  plugin.Bass_Init();
  EXPECT_EQ(plugin.ChannelNum(3), 0);
  EXPECT_FALSE(plugin.Create("/nonexistent.wav"));
  plugin.Bass_Play();
  plugin.Bass_Pause();
  plugin.Bass_Stop();
  EXPECT_EQ(FadeThreads(), 0);
  for (auto op : {plugin.Bass_GetPosition, plugin.Bass_GetLength, plugin.Bass_GetRLevel, plugin.Bass_GetLLevel,
                  plugin.Bass_GetFreq, plugin.Bass_GetBit, plugin.Bass_GetChannels, plugin.Bass_GetTags})
    EXPECT_EQ(plugin.Query(op), "");
  plugin.Bass_SetPosition();
  plugin.Bass_SetVolume();
  plugin.Bass_SetPan();
  Push({"1", "2", "3", "4", "5", "6", "7"});
  for (auto op : {fx.Bass_CreateEQ, fx.Bass_EqSet, fx.Bass_EqRemove, fx.Bass_CreateFlanger, fx.Bass_SetFlanger,
                  fx.Bass_FlangerRemove, fx.Bass_CreateChorus, fx.Bass_SetChorus, fx.Bass_ChorusRemove,
                  fx.Bass_CreateReverb, fx.Bass_SetReverb, fx.Bass_ReverbRemove, fx.Bass_CreateEcho, fx.Bass_SetEcho,
                  fx.Bass_EchoRemove, fx.Bass_CreateCompressor, fx.Bass_SetCompressor, fx.Bass_CompressorRemove})
    op();
  plugin.Bass_Free();
  tovui_pump(0);
  EXPECT_TRUE(MessageBoxes().empty());
  StartPlayer();
  EXPECT_EQ(plugin.ChannelNum(3), 3);
  ASSERT_TRUE(plugin.Create(MakeWav("after.wav", 0.5, 22050, 1)));
  EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "22050");
}

// The plug-in loaded under a user locale whose decimal separator is a
// comma (compiled into the test's folder when the machine has none).
class CommaLocaleTest : public EffectExportsTest {
 protected:
  void SetUp() override {
    void* resident = dlopen(TOVARIN_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (resident) {
      dlclose(resident);
      GTEST_SKIP() << "Plugin.so is still loaded: its separator was read earlier";
    }
    // Made before the first look-up: the C library remembers a locale it
    // once failed to find.
    const std::string dir = TempDir() + "/locales";
    static const bool made =
        (::Run("mkdir -p " + dir + " && localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1"), true);
    if (!made || !CommaSeparator(dir)) GTEST_SKIP() << "no locale with a comma separator could be made";
    setenv("LOCPATH", dir.c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EffectExportsTest::SetUp();  // loads the plug-in under that locale
  }
  void TearDown() override {
    EffectExportsTest::TearDown();
    unsetenv("LC_ALL");
    unsetenv("LOCPATH");
  }
  static bool CommaSeparator(const std::string& dir) {
    setenv("LOCPATH", dir.c_str(), 1);
    locale_t loc = newlocale(LC_NUMERIC_MASK, "de_DE.UTF-8", static_cast<locale_t>(0));
    unsetenv("LOCPATH");
    if (loc == static_cast<locale_t>(0)) return false;
    const bool comma = std::string(nl_langinfo_l(RADIXCHAR, loc)) == ",";
    freelocale(loc);
    return comma;
  }
};

TEST_F(CommaLocaleTest, BeforeBassInitTheUsersSeparatorHoldsUntilSetChorus) {
  LendWindow();
  Push({"0", "0", "1000", "0.5"});
  EXPECT_EQ(Shown(fx.Bass_SetReverb), Boxes{"Set Reverb Error - '0.5' is not a valid floating point value"});
  Push({"0", "0", "1000", "0,5"});
  EXPECT_EQ(Shown(fx.Bass_SetReverb), Boxes{});
  // The chorus switches to "." before it converts, even when a text fails.
  Push({"bad", "10", "16", "25", "1.1", "1", "3"});
  EXPECT_EQ(Shown(fx.Bass_SetChorus), Boxes{"Set Chorus Error - 'bad' is not a valid floating point value"});
  Push({"0", "0", "1000", "0,5"});
  EXPECT_EQ(Shown(fx.Bass_SetReverb), Boxes{"Set Reverb Error - '0,5' is not a valid floating point value"});
  Push({"0", "0", "1000", "0.5"});
  EXPECT_EQ(Shown(fx.Bass_SetReverb), Boxes{});
}

TEST_F(CommaLocaleTest, BassInitSwitchesToAPoint) {
  LendWindow();
  Push({"50", "50", "500", "0,5"});
  EXPECT_EQ(Shown(fx.Bass_SetEcho), Boxes{});
  plugin.Bass_Init();
  initialised = true;
  EXPECT_EQ(Shown(fx.Bass_SetEcho), Boxes{"Set Echo Error - '0,5' is not a valid floating point value"});
  Push({"50", "50", "500", "0.5"});
  EXPECT_EQ(Shown(fx.Bass_SetEcho), Boxes{});
}

}  // namespace
