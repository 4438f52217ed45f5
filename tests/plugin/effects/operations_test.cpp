// The player's equalizer and effect operations against a recording stand-in
// for the audio library: what is attached where, which records are sent, and
// which faults the user is told about.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/effects.hpp"
#include "fake_library.hpp"

using namespace tovarin;

namespace {

constexpr DWORD kStream1 = 11, kStream2 = 22;

class EffectOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake().Reset();
    p.CreateStream(1, std::to_string(kStream1));
    p.CreateStream(2, std::to_string(kStream2));
    for (int band = 1; band <= kEqBands; ++band) Bands()[band] = TEqBand{0.0f, 12.0f, EqCenters[band]};
    p.Stores().FlangerParams = {50, 100, 2, -50, 0.25f, 1, 2};
    p.Stores().EchoParams = {50, 50, 500, 500, 0};
  }
  const std::vector<float>& LastRecord() { return Fake().records.back(); }
  std::array<TEqBand, kEqBands + 1>& Bands() { return p.Stores().EqBands; }
  TStreamPlayer p;
};

TEST_F(EffectOperations, EqSetBeforeCreateIsIgnoredAndCreateAppliesTheStoredBands) {
  SetEq(p, 1, 5, -15, 6);
  EXPECT_TRUE(Fake().records.empty());
  EXPECT_EQ(Bands()[5].Gain, 0.0f);

  CreateEq(p, 1);
  EXPECT_EQ(p.Flags().EqActive, 1);
  ASSERT_EQ(Fake().AttachedTo(kStream1), 10u);
  ASSERT_EQ(Fake().records.size(), 10u);
  for (int band = 1; band <= 10; ++band) {
    const auto& fx = Fake().attached.at(p.Effects(1).Eq[band]);
    EXPECT_EQ(fx.type, BASS_FX_DX8_PARAMEQ);
    EXPECT_EQ(fx.priority, band);  // band k at priority k
    EXPECT_EQ(fx.params, (std::vector<float>{tovarin::EqCenters[band], 12.0f, 0.0f}));
  }
  EXPECT_TRUE(Fake().messages.empty());
}

TEST_F(EffectOperations, EqSetStoresTheBandAndSendsCentreBandwidthGain) {
  CreateEq(p, 1);
  Bands()[3].Center = 1234;  // the centre sent always comes from the table
  SetEq(p, 1, 3, -6, 12);
  EXPECT_EQ(Fake().record_handles.back(), p.Effects(1).Eq[3]);
  EXPECT_EQ(LastRecord(), (std::vector<float>{310.0f, 12.0f, -6.0f}));
  EXPECT_EQ(Bands()[3].Gain, -6.0f);
  EXPECT_EQ(Bands()[3].Bandwidth, 12.0f);
  EXPECT_EQ(Bands()[3].Center, 310.0f);

  // A band the equalizer does not have: nothing sent, nothing stored.
  const size_t sent = Fake().records.size();
  for (int band : {0, 11, -1}) SetEq(p, 1, band, 3, 3);
  EXPECT_EQ(Fake().records.size(), sent);
}

TEST_F(EffectOperations, EqBandsSurviveRemovalAndTheNextCreateOnAnotherSlotAppliesThem) {
  CreateEq(p, 1);
  SetEq(p, 1, 5, -15, 6);
  RemoveEq(p, 1);
  EXPECT_EQ(p.Flags().EqActive, 0);
  EXPECT_EQ(Fake().AttachedTo(kStream1), 0u);
  SetEq(p, 1, 5, 9, 9);  // ignored while detached
  EXPECT_EQ(Bands()[5].Gain, -15.0f);

  CreateEq(p, 2);
  EXPECT_EQ(Fake().attached.at(p.Effects(2).Eq[5]).params, (std::vector<float>{1000.0f, 6.0f, -15.0f}));
}

TEST_F(EffectOperations, EqFlagIsSharedBySlots) {
  CreateEq(p, 1);
  // Slot 2 never had the equalizer: the value is stored, the call goes to 0.
  SetEq(p, 2, 1, 4, 12);
  EXPECT_EQ(Bands()[1].Gain, 4.0f);
  EXPECT_EQ(Fake().record_handles.back(), 0u);
  RemoveEq(p, 2);
  EXPECT_EQ(p.Flags().EqActive, 0);
  SetEq(p, 1, 1, 7, 12);
  EXPECT_EQ(Bands()[1].Gain, 4.0f);
  EXPECT_TRUE(Fake().messages.empty());  // refusals are not reported
}

TEST_F(EffectOperations, EqCreateTwiceLeavesOneSetOfBandsThatRemoveTakesAway) {
  CreateEq(p, 1);
  CreateEq(p, 1);
  EXPECT_EQ(Fake().AttachedTo(kStream1), 10u);
  RemoveEq(p, 1);
  EXPECT_EQ(Fake().AttachedTo(kStream1), 0u);
}

TEST_F(EffectOperations, EqFaultsAreReportedByTheOperationThatMetThem) {
  Fake().fail_attach_at = 3;
  CreateEq(p, 1);
  EXPECT_EQ(Fake().messages, std::vector<std::string>{"CreateEq Error"});
  EXPECT_EQ(p.Flags().EqActive, 0);  // the rest of the steps were skipped

  Fake().Reset();
  CreateEq(p, 1);
  Fake().fail_set_at = 0;
  SetEq(p, 1, 2, -3, 5);
  EXPECT_EQ(Fake().messages, std::vector<std::string>{"SetEq Error"});
  EXPECT_EQ(Bands()[2].Gain, -3.0f);  // stored before the call failed

  // The first removal fails: the flag stays set; a later one: it is cleared
  // and the bands after it stay attached.
  Fake().messages.clear();
  Fake().fail_remove_at = 0;
  RemoveEq(p, 1);
  EXPECT_EQ(p.Flags().EqActive, 1);
  Fake().fail_remove_at = 4;
  RemoveEq(p, 1);
  EXPECT_EQ(p.Flags().EqActive, 0);
  EXPECT_EQ(Fake().messages, (std::vector<std::string>{"RemoveEq Error", "RemoveEq Error"}));
  EXPECT_EQ(Fake().AttachedTo(kStream1), 6u);
}

TEST_F(EffectOperations, FlangerRecordTakesDelayInSixthPlace) {
  CreateFlanger(p, 1);
  const auto& fx = Fake().attached.at(p.Effects(1).Flanger);
  EXPECT_EQ(fx.type, BASS_FX_DX8_FLANGER);
  EXPECT_EQ(fx.priority, 1);
  // Store order WetDryMix, Depth, Delay, Feedback, Frequency, Waveform, Phase.
  SetFlanger(p, 1, {10, 20, 3, -40, 5, 0, 4});
  EXPECT_EQ(fx.params, (std::vector<float>{10, 20, -40, 5, 0, 3, 4}));
}

TEST_F(EffectOperations, CreateReplacesTheSlotsEffectAndAppliesTheSharedStore) {
  SetEcho(p, 1, {30, 0, 100, 200, -1});  // made while slot 1 is current
  CreateEcho(p, 2);
  CreateEcho(p, 2);
  EXPECT_EQ(Fake().AttachedTo(kStream2), 1u);
  EXPECT_EQ(Fake().attached.at(p.Effects(2).Echo).params, (std::vector<float>{30, 0, 100, 200, -1}));
  RemoveEcho(p, 2);
  EXPECT_EQ(Fake().AttachedTo(kStream2), 0u);
  EXPECT_NE(p.Effects(2).Echo, 0u);  // the handle stays in the table
  EXPECT_TRUE(Fake().messages.empty());
}

TEST_F(EffectOperations, RefusedValuesAreStoredWithoutAMessage) {
  CreateFlanger(p, 1);
  Fake().accept_parameters = false;
  SetFlanger(p, 1, {50, 100, 10, -50, 0.25f, 1, 2});  // a delay the library refuses
  EXPECT_EQ(p.Stores().FlangerParams.Delay, 10.0f);
  EXPECT_TRUE(Fake().messages.empty());
  // Without a stream the handle is 0, stored as such, still without a message.
  CreateReverb(p, 3);
  EXPECT_EQ(p.Effects(3).Reverb, 0u);
  EXPECT_TRUE(Fake().messages.empty());
}

// Each kind names its own faults.
struct KindCase {
  void (*create)(TStreamPlayer&, int32_t);
  void (*remove)(TStreamPlayer&, int32_t);
  const char* create_error;
  const char* remove_error;
  const char* set_error;
};

TEST_F(EffectOperations, EveryKindReportsFaultsWithItsOwnMessages) {
  const KindCase kinds[] = {
      {&CreateFlanger, &RemoveFlanger, "Create Flanger Error", "RemoveFlanger Error", "SetFlanger Error"},
      {&CreateChorus, &RemoveChorus, "Create CHORUS Error", "RemoveCHORUS Error", "SetCHORUS Error"},
      {&CreateReverb, &RemoveReverb, "Create Reverb Error", "RemoveReverb Error", "SetReverb Error"},
      {&CreateEcho, &RemoveEcho, "Create Echo Error", "RemoveEcho Error", "SetEcho Error"},
      {&CreateCompressor, &RemoveCompressor, "Create Compressor Error", "RemoveCompressor Error",
       "SetCompressor Error"},
  };
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.create_error);
    // Create first removes: a fault there is reported and creation goes on.
    Fake().Reset();
    Fake().fail_remove_at = 0;
    k.create(p, 1);
    EXPECT_EQ(Fake().messages, std::vector<std::string>{k.remove_error});
    EXPECT_EQ(Fake().AttachedTo(kStream1), 1u);

    Fake().Reset();
    Fake().fail_attach_at = 0;
    Fake().fail_code = BASS_ERROR_UNKNOWN;
    k.create(p, 1);
    EXPECT_EQ(Fake().messages, std::vector<std::string>{k.create_error});
    EXPECT_TRUE(Fake().records.empty());  // the rest was skipped

    Fake().Reset();
    Fake().fail_set_at = 0;
    k.create(p, 1);
    EXPECT_EQ(Fake().messages, std::vector<std::string>{k.set_error});
  }
}

}  // namespace
