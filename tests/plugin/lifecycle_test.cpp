// Loading, unloading and loading the plug-in again, as a host may.
#include <dlfcn.h>
#include <malloc.h>

#include "host_fixture.hpp"

namespace {
// True when Plugin.so is still mapped in this process although no one holds
// it: an earlier test left it pinned, so a reload would not start fresh.
bool Resident() {
  void* handle = dlopen(TOVARIN_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

// Lends the loaded plug-in a window of its own and opens wav in the library:
// the window, or 0 when the file did not open.
uint32_t LendAndOpen(Plugin& plugin, const std::string& wav) {
  const uint32_t window = tovui_create_window(0, 0, 0, 300, 300);
  plugin.SetParentWindow(window);
  plugin.Bass_Init();
  if (plugin.Create(wav)) return window;
  tovui_destroy_window(window);
  return 0;
}

// The host's way out: the library freed, the window gone, the plug-in unloaded.
void FreeAndUnload(Plugin& plugin, uint32_t window) {
  plugin.Bass_Free();
  tovui_destroy_window(window);
  plugin.Unload();
}
}  // namespace

TEST(Lifecycle, LoadUnloadReloadStartsFresh) {
  if (Resident()) GTEST_SKIP() << "Plugin.so was left loaded by an earlier test in this process";
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  InstallRecordingPresenter();
  const std::string wav = MakeWav("cycle.wav", 2.0, 44100, 2);
  for (int round = 0; round < 3; ++round) {
    Plugin plugin;
    ASSERT_TRUE(plugin.Load());
    EXPECT_STREQ(plugin.GetFile(), "") << "round " << round;
    const uint32_t window = LendAndOpen(plugin, wav);
    ASSERT_NE(window, 0u);
    plugin.Bass_Play();
    PumpFor(150);
    EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "44100");
    if (round == 1) {
      // Unloading with a fade running and the library open: the plug-in
      // ends its workers and closes the library on its way out.
      plugin.Bass_Stop();
      plugin.Unload();
#if defined(_WIN32)
      // Windows cannot end the library's threads from its unload (the
      // loader's lock is held there): the library stays loaded, whole and
      // working, until the host frees the audio library and the fade ends.
      EXPECT_TRUE(Resident());
      ASSERT_TRUE(plugin.Load());
      EXPECT_EQ(plugin.Query(plugin.Bass_GetFreq), "44100");
      PumpFor(500);
      FreeAndUnload(plugin, window);
      EXPECT_FALSE(Resident()) << "round " << round;
#else
      // No window procedure may point into the unloaded library.
      EXPECT_EQ(tovui_child(window, 0), 0u);
      PumpFor(100);
      tovui_destroy_window(window);
#endif
      continue;
    }
    FreeAndUnload(plugin, window);
  }
  tovui_set_presenter(nullptr, nullptr);
}

TEST(Lifecycle, ReadingTagsDoesNotPinTheLibrary) {
  if (Resident()) GTEST_SKIP() << "Plugin.so was left loaded by an earlier test in this process";
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  {
    Plugin plugin;
    ASSERT_TRUE(plugin.Load());
    const uint32_t window = LendAndOpen(plugin, MakeWav("pin.wav", 0.5, 44100, 2));
    ASSERT_NE(window, 0u);
    plugin.Tag("%TITL");
    FreeAndUnload(plugin, window);
  }
  EXPECT_FALSE(Resident()) << "Plugin.so stays mapped after dlclose: a reload would not start fresh";
}

#ifdef __GLIBC__  // the allocator's count comes from glibc's mallinfo2
// A host that loads and unloads the plug-in many times keeps no memory for
// it: nothing of the plug-in's or the audio library's stays allocated after
// an unload (the allocator's count of bytes in use, after a warm-up).
TEST(Lifecycle, RepeatedLoadsHoldNoMemory) {
  if (Resident()) GTEST_SKIP() << "Plugin.so was left loaded by an earlier test in this process";
  setenv("TOVARIN_AUDIO_OUTPUT", "null", 1);
  InstallRecordingPresenter();
  const std::string wav = MakeWav("loads.wav", 0.5, 44100, 2);
  size_t before = 0;
  for (int round = 0; round < 45; ++round) {
    if (round == 5) before = mallinfo2().uordblks;
    Plugin plugin;
    ASSERT_TRUE(plugin.Load());
    const uint32_t window = LendAndOpen(plugin, wav);
    ASSERT_NE(window, 0u);
    plugin.Bass_Play();
    PumpFor(5);
    FreeAndUnload(plugin, window);
  }
  const size_t after = mallinfo2().uordblks;
  // 40 unloads that each kept 18 KB or more would hold 700 KB.
  EXPECT_LT(after, before + 200 * 1024) << "held after 40 loads: " << (after - before) / 1024 << " KB";
  tovui_set_presenter(nullptr, nullptr);
}
#endif
