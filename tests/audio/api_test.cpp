// Lifetime, handles, conversions and tags of the library's operations.
#include <chrono>
#include <set>
#include <thread>
#include "audio/tags.h"

#include "test_support.hpp"

using namespace audio_test;

using Api = LibraryTest;

TEST_F(Api, SecondInitFailsUntilFreed) {
  EXPECT_FALSE(BASS_Init(-1, 44100, 0, 0, nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
  ASSERT_TRUE(BASS_Free());
  EXPECT_FALSE(BASS_Free());
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  EXPECT_EQ(make_stream(44100, 2, 100, noise16), 0u);
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
}

TEST_F(Api, HandlesAreNeverReused) {
  std::set<HSTREAM> seen;
  HSTREAM first = make_stream(44100, 2, 100, noise16);
  ASSERT_TRUE(BASS_StreamFree(first));
  for (int i = 0; i < 200; ++i) {
    HSTREAM h = make_stream(44100, 2, 100, noise16);
    ASSERT_NE(h, 0u);
    EXPECT_TRUE(seen.insert(h).second);
    EXPECT_NE(h, first);
    ASSERT_TRUE(BASS_StreamFree(h));
  }
  // After a free and a new init the old handles stay dead.
  HSTREAM before = make_stream(44100, 2, 100, noise16);
  ASSERT_TRUE(BASS_Free());
  ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
  HSTREAM after = make_stream(44100, 2, 100, noise16);
  EXPECT_NE(after, before);
  EXPECT_EQ(BASS_ChannelGetLength(before, BASS_POS_BYTE), QWORD(-1));
  EXPECT_EQ(BASS_ChannelGetLength(after, BASS_POS_BYTE), 400u);
}

TEST_F(Api, BadHandlesFailEverywhere) {
  HSTREAM live = make_stream(44100, 2, 100, noise16);
  HFX fx = BASS_ChannelSetFX(live, BASS_FX_DX8_PARAMEQ, 0);
  ASSERT_NE(fx, 0u);
  // 0, a made-up number, a stream used as an effect and the other way round.
  for (DWORD h : {DWORD(0), DWORD(0x12345678), DWORD(fx)}) {
    SCOPED_TRACE(h);
    EXPECT_FALSE(BASS_ChannelPlay(h, 0));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_FALSE(BASS_ChannelPause(h));
    EXPECT_FALSE(BASS_ChannelStop(h));
    EXPECT_FALSE(BASS_StreamFree(h));
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), QWORD(-1));
    EXPECT_FALSE(BASS_ChannelSetPosition(h, 0, BASS_POS_BYTE));
    EXPECT_LT(BASS_ChannelBytes2Seconds(h, 100), 0);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(h, 1), QWORD(-1));
    EXPECT_EQ(BASS_ChannelGetLevel(h), DWORD(-1));
    BASS_CHANNELINFO info;
    EXPECT_FALSE(BASS_ChannelGetInfo(h, &info));
    float buf[512];
    EXPECT_EQ(BASS_ChannelGetData(h, buf, BASS_DATA_FFT1024), DWORD(-1));
    EXPECT_EQ(BASS_ChannelSetFX(h, BASS_FX_DX8_PARAMEQ, 0), 0u);
    EXPECT_EQ(TAGS_Read(h, "%TITL"), nullptr);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), QWORD(-1));
  }
  EXPECT_FALSE(BASS_FXSetParameters(live, nullptr));
  EXPECT_FALSE(BASS_ChannelRemoveFX(live, live));
  ASSERT_TRUE(BASS_StreamFree(live));
  EXPECT_FALSE(BASS_StreamFree(live));
  BASS_DX8_PARAMEQ p{};
  EXPECT_FALSE(BASS_FXGetParameters(fx, &p));  // its stream went, so did the effect
}

TEST_F(Api, InfoAndConversionsUseTheStreamsFormat) {
  HSTREAM mono = make_stream(22050, 1, 22050 * 3, noise16);
  HSTREAM stereo = make_stream(48000, 2, 1000, noise16);
  BASS_CHANNELINFO info;
  ASSERT_TRUE(BASS_ChannelGetInfo(mono, &info));
  EXPECT_EQ(info.freq, 22050u);
  EXPECT_EQ(info.chans, 1u);
  EXPECT_EQ(info.ctype, BASS_CTYPE_STREAM);
  EXPECT_STREQ(info.filename, "synth");
  EXPECT_EQ(BASS_ChannelGetLength(mono, BASS_POS_BYTE), 22050u * 3 * 2);
  EXPECT_DOUBLE_EQ(BASS_ChannelBytes2Seconds(mono, 22050 * 2), 1.0);
  EXPECT_EQ(BASS_ChannelSeconds2Bytes(mono, 1.5), 33075u * 2);
  EXPECT_EQ(BASS_ChannelSeconds2Bytes(stereo, 0.1), 4800u * 4);
  EXPECT_EQ(BASS_ChannelSeconds2Bytes(stereo, 1.0 / 48000 * 2.5), 2u * 4);  // down to a whole frame
  EXPECT_DOUBLE_EQ(BASS_ChannelBytes2Seconds(stereo, 192000), 1.0);
  EXPECT_EQ(BASS_ChannelSeconds2Bytes(stereo, -1), QWORD(-1));
  EXPECT_EQ(BASS_StreamGetFilePosition(stereo, BASS_FILEPOS_END), 12345u);
  EXPECT_EQ(BASS_ChannelGetPosition(stereo, BASS_POS_BYTE), 0u);
}

TEST_F(Api, TagsReadFillsKeysAndKeepsOtherText) {
  SynthSource* src = nullptr;
  HSTREAM h = make_stream(44100, 2, 100, noise16, 0, &src);
  src->tags[TagKey::Title] = "Song ü";
  src->tags[TagKey::Artist] = "Band";
  src->tags[TagKey::Track] = "3/12";
  EXPECT_STREQ(TAGS_Read(h, "%TITL"), "Song ü");
  EXPECT_STREQ(TAGS_Read(h, "%ARTI - %TITL (%TRCK) 100% %ALBM|%titl%"), "Band - Song ü (3/12) 100% |%titl%");
  EXPECT_STREQ(TAGS_Read(h, "%YEAR%CMNT%GNRE"), "");
  EXPECT_EQ(TAGS_Read(h, nullptr), nullptr);
}

TEST(AudioOutputs, AutoFallsBackToSilenceAndNullRuns) {
  for (const char* choice : {"auto", "null"}) {
    SCOPED_TRACE(choice);
    setenv("TOVARIN_AUDIO_OUTPUT", choice, 1);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, 0, nullptr));
    HSTREAM h = make_stream(44100, 2, -1, noise16);
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    QWORD p0 = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QWORD p1 = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    EXPECT_GT(p1, p0);  // time passes on any output
    ASSERT_TRUE(BASS_Free());
  }
  setenv("TOVARIN_AUDIO_OUTPUT", "nonsense", 1);
  EXPECT_FALSE(BASS_Init(-1, 44100, 0, 0, nullptr));
  setenv("TOVARIN_AUDIO_OUTPUT", "wav:/nonexistent-dir/x.wav", 1);
  EXPECT_FALSE(BASS_Init(-1, 44100, 0, 0, nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
}
