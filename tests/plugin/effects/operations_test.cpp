// The player's equalizer and effect operations against a recording stand-in
// for the audio library: what is attached where, which records are sent, and
// which faults the user is told about.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_library.hpp"
#include "player/stream_player.hpp"

using tovarin::TStreamPlayer;

namespace {

constexpr DWORD kStream1 = 11, kStream2 = 22;

class EffectOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake().Reset();
    p.Streams[1] = kStream1;
    p.Streams[2] = kStream2;
    for (int band = 1; band <= tovarin::kEqBands; ++band)
      p.EqBands[band] = tovarin::TEqBand{0.0f, 12.0f, tovarin::EqCenters[band]};
    p.FlangerParams = {50, 100, 2, -50, 0.25f, 1, 2};
    p.EchoParams = {50, 50, 500, 500, 0};
  }
  const std::vector<float>& LastRecord() { return Fake().records.back(); }
  TStreamPlayer p;
};

TEST_F(EffectOperations, EqSetBeforeCreateIsIgnoredAndCreateAppliesTheStoredBands) {
  p.SetEq(1, 5, -15, 6);
  EXPECT_TRUE(Fake().records.empty());
  EXPECT_EQ(p.EqBands[5].Gain, 0.0f);

  p.CreateEq(1);
  EXPECT_EQ(p.EqActive, 1);
  ASSERT_EQ(Fake().AttachedTo(kStream1), 10u);
  ASSERT_EQ(Fake().records.size(), 10u);
  for (int band = 1; band <= 10; ++band) {
    const auto& fx = Fake().attached.at(p.EqHandles[1][band]);
    EXPECT_EQ(fx.type, BASS_FX_DX8_PARAMEQ);
    EXPECT_EQ(fx.priority, band);  // band k at priority k
    EXPECT_EQ(fx.params, (std::vector<float>{tovarin::EqCenters[band], 12.0f, 0.0f}));
  }
  EXPECT_TRUE(Fake().messages.empty());
}

TEST_F(EffectOperations, EqSetStoresTheBandAndSendsCentreBandwidthGain) {
  p.CreateEq(1);
  p.EqBands[3].Center = 1234;  // the centre sent always comes from the table
  p.SetEq(1, 3, -6, 12);
  EXPECT_EQ(Fake().record_handles.back(), p.EqHandles[1][3]);
  EXPECT_EQ(LastRecord(), (std::vector<float>{310.0f, 12.0f, -6.0f}));
  EXPECT_EQ(p.EqBands[3].Gain, -6.0f);
  EXPECT_EQ(p.EqBands[3].Bandwidth, 12.0f);
  EXPECT_EQ(p.EqBands[3].Center, 310.0f);

  // A band the equalizer does not have: nothing sent, nothing stored.
  const size_t sent = Fake().records.size();
  for (int band : {0, 11, -1}) p.SetEq(1, band, 3, 3);
  EXPECT_EQ(Fake().records.size(), sent);
}

TEST_F(EffectOperations, EqBandsSurviveRemovalAndTheNextCreateOnAnotherSlotAppliesThem) {
  p.CreateEq(1);
  p.SetEq(1, 5, -15, 6);
  p.RemoveEq(1);
  EXPECT_EQ(p.EqActive, 0);
  EXPECT_EQ(Fake().AttachedTo(kStream1), 0u);
  p.SetEq(1, 5, 9, 9);  // ignored while detached
  EXPECT_EQ(p.EqBands[5].Gain, -15.0f);

  p.CreateEq(2);
  EXPECT_EQ(Fake().attached.at(p.EqHandles[2][5]).params, (std::vector<float>{1000.0f, 6.0f, -15.0f}));
}

TEST_F(EffectOperations, EqFlagIsSharedBySlots) {
  p.CreateEq(1);
  // Slot 2 never had the equalizer: the value is stored, the call goes to 0.
  p.SetEq(2, 1, 4, 12);
  EXPECT_EQ(p.EqBands[1].Gain, 4.0f);
  EXPECT_EQ(Fake().record_handles.back(), 0u);
  p.RemoveEq(2);
  EXPECT_EQ(p.EqActive, 0);
  p.SetEq(1, 1, 7, 12);
  EXPECT_EQ(p.EqBands[1].Gain, 4.0f);
  EXPECT_TRUE(Fake().messages.empty());  // refusals are not reported
}

TEST_F(EffectOperations, EqCreateTwiceLeavesOneSetOfBandsThatRemoveTakesAway) {
  p.CreateEq(1);
  p.CreateEq(1);
  EXPECT_EQ(Fake().AttachedTo(kStream1), 10u);
  p.RemoveEq(1);
  EXPECT_EQ(Fake().AttachedTo(kStream1), 0u);
}

TEST_F(EffectOperations, EqFaultsAreReportedByTheOperationThatMetThem) {
  Fake().fail_attach_at = 3;
  p.CreateEq(1);
  EXPECT_EQ(Fake().messages, std::vector<std::string>{"CreateEq Error"});
  EXPECT_EQ(p.EqActive, 0);  // the rest of the steps were skipped

  Fake().Reset();
  p.CreateEq(1);
  Fake().fail_set_at = 0;
  p.SetEq(1, 2, -3, 5);
  EXPECT_EQ(Fake().messages, std::vector<std::string>{"SetEq Error"});
  EXPECT_EQ(p.EqBands[2].Gain, -3.0f);  // stored before the call failed

  // The first removal fails: the flag stays set; a later one: it is cleared
  // and the bands after it stay attached.
  Fake().messages.clear();
  Fake().fail_remove_at = 0;
  p.RemoveEq(1);
  EXPECT_EQ(p.EqActive, 1);
  Fake().fail_remove_at = 4;
  p.RemoveEq(1);
  EXPECT_EQ(p.EqActive, 0);
  EXPECT_EQ(Fake().messages, (std::vector<std::string>{"RemoveEq Error", "RemoveEq Error"}));
  EXPECT_EQ(Fake().AttachedTo(kStream1), 6u);
}

TEST_F(EffectOperations, FlangerRecordTakesDelayInSixthPlace) {
  p.CreateFlanger(1);
  const auto& fx = Fake().attached.at(p.FlangerHandles[1]);
  EXPECT_EQ(fx.type, BASS_FX_DX8_FLANGER);
  EXPECT_EQ(fx.priority, 1);
  // Store order WetDryMix, Depth, Delay, Feedback, Frequency, Waveform, Phase.
  p.SetFlanger(1, {10, 20, 3, -40, 5, 0, 4});
  EXPECT_EQ(fx.params, (std::vector<float>{10, 20, -40, 5, 0, 3, 4}));
}

TEST_F(EffectOperations, CreateReplacesTheSlotsEffectAndAppliesTheSharedStore) {
  p.SetEcho(1, {30, 0, 100, 200, -1});  // made while slot 1 is current
  p.CreateEcho(2);
  p.CreateEcho(2);
  EXPECT_EQ(Fake().AttachedTo(kStream2), 1u);
  EXPECT_EQ(Fake().attached.at(p.EchoHandles[2]).params, (std::vector<float>{30, 0, 100, 200, -1}));
  p.RemoveEcho(2);
  EXPECT_EQ(Fake().AttachedTo(kStream2), 0u);
  EXPECT_NE(p.EchoHandles[2], 0u);  // the handle stays in the table
  EXPECT_TRUE(Fake().messages.empty());
}

TEST_F(EffectOperations, RefusedValuesAreStoredWithoutAMessage) {
  p.CreateFlanger(1);
  Fake().accept_parameters = false;
  p.SetFlanger(1, {50, 100, 10, -50, 0.25f, 1, 2});  // a delay the library refuses
  EXPECT_EQ(p.FlangerParams.Delay, 10.0f);
  EXPECT_TRUE(Fake().messages.empty());
  // Without a stream the handle is 0, stored as such, still without a message.
  p.CreateReverb(3);
  EXPECT_EQ(p.ReverbHandles[3], 0u);
  EXPECT_TRUE(Fake().messages.empty());
}

// Each kind names its own faults.
struct KindCase {
  void (TStreamPlayer::*create)(int32_t);
  void (TStreamPlayer::*remove)(int32_t);
  const char* create_error;
  const char* remove_error;
  const char* set_error;
};

TEST_F(EffectOperations, EveryKindReportsFaultsWithItsOwnMessages) {
  const KindCase kinds[] = {
      {&TStreamPlayer::CreateFlanger, &TStreamPlayer::RemoveFlanger, "Create Flanger Error", "RemoveFlanger Error",
       "SetFlanger Error"},
      {&TStreamPlayer::CreateChorus, &TStreamPlayer::RemoveChorus, "Create CHORUS Error", "RemoveCHORUS Error",
       "SetCHORUS Error"},
      {&TStreamPlayer::CreateReverb, &TStreamPlayer::RemoveReverb, "Create Reverb Error", "RemoveReverb Error",
       "SetReverb Error"},
      {&TStreamPlayer::CreateEcho, &TStreamPlayer::RemoveEcho, "Create Echo Error", "RemoveEcho Error",
       "SetEcho Error"},
      {&TStreamPlayer::CreateCompressor, &TStreamPlayer::RemoveCompressor, "Create Compressor Error",
       "RemoveCompressor Error", "SetCompressor Error"},
  };
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.create_error);
    // Create first removes: a fault there is reported and creation goes on.
    Fake().Reset();
    Fake().fail_remove_at = 0;
    (p.*k.create)(1);
    EXPECT_EQ(Fake().messages, std::vector<std::string>{k.remove_error});
    EXPECT_EQ(Fake().AttachedTo(kStream1), 1u);

    Fake().Reset();
    Fake().fail_attach_at = 0;
    Fake().fail_code = BASS_ERROR_UNKNOWN;
    (p.*k.create)(1);
    EXPECT_EQ(Fake().messages, std::vector<std::string>{k.create_error});
    EXPECT_TRUE(Fake().records.empty());  // the rest was skipped

    Fake().Reset();
    Fake().fail_set_at = 0;
    (p.*k.create)(1);
    EXPECT_EQ(Fake().messages, std::vector<std::string>{k.set_error});
  }
}

}  // namespace
