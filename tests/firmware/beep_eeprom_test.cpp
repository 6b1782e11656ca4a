// Settings defaults and the beeper's sound sequencing.
#include <gtest/gtest.h>

#include <vector>

#include "firmware/beep.h"
#include "firmware/eeprom.h"
#include "controller/controller.h"

namespace {

TEST(EepromSettings, DefaultsAreWrittenOnlyWithoutTheMarker) {
  for (int i = 0; i < 22; ++i) eepaddr[i] = 0xEE;
  EEP_Init();
  const uint8_t expected[22] = {3, 1, 1, 0, 0, 18, 31, 1, 165, 255, 5,
                                111, 150, 3, 28, 100, 2, 0, 0, 1, 0, 0};
  for (int i = 0; i < 22; ++i) EXPECT_EQ(eepaddr[i], expected[i]) << "byte " << i;
  EXPECT_EQ(eepaddr[22], 0) << "nothing beyond the settings";

  eepaddr[EEP_CONTRAST] = 25;
  EEP_Init();
  EXPECT_EQ(eepaddr[EEP_CONTRAST], 25) << "valid settings are kept";
}

class Beeper : public testing::Test {
 protected:
  void SetUp() override {
    tarnic_InitVars();
    eepaddr[EEP_BEEP] = 1;
    BEEP_Init();
    OCR3A = 0;
    OCR3C = 0;
  }
  // Tone values in the order they start, one entry per tick on which a tone began.
  std::vector<uint16_t> Play(int ticks) {
    std::vector<uint16_t> tones;
    for (int i = 0; i < ticks; ++i) {
      BEEP_TickService();
      if (OCR3A != 0) {
        tones.push_back(OCR3A);
        OCR3A = 0;
      }
    }
    return tones;
  }
};

TEST_F(Beeper, SoundPlaysItsTonesForTheirDurationsThenFallsSilent) {
  BEEP_PlaySound(SND_OK);
  EXPECT_EQ(BEEP_IsPlaying(), 1);
  EXPECT_EQ(Play(1), std::vector<uint16_t>{2024}) << "first tone on the next tick";
  EXPECT_EQ(OCR3C, 1000);
  EXPECT_EQ(emu_GetBeepFrequency(), 1976);
  EXPECT_EQ(Play(9), std::vector<uint16_t>{});
  EXPECT_EQ(Play(1), std::vector<uint16_t>{2551});
  EXPECT_EQ(emu_GetBeepFrequency(), 1568) << "2551 gives 1568 Hz by integer division";
  EXPECT_EQ(Play(10), std::vector<uint16_t>{3032});
  EXPECT_EQ(emu_GetBeepCount(), 20);
  EXPECT_EQ(Play(20), std::vector<uint16_t>{});
  EXPECT_EQ(OCR3C, 0) << "silent after the last tone";
  EXPECT_EQ(BEEP_IsPlaying(), 0);
}

TEST_F(Beeper, ANewSoundReplacesThePlayingOneFromTheNextTick) {
  BEEP_PlaySound(SND_CLEAR_DTC_OK);
  Play(5);
  BEEP_PlaySound(SND_CLICK);
  EXPECT_EQ(Play(1), std::vector<uint16_t>{2863});
  EXPECT_EQ(Play(2), std::vector<uint16_t>{});
  EXPECT_EQ(BEEP_IsPlaying(), 0);
}

TEST_F(Beeper, DisabledSoundsAreDroppedEvenTheErrorSound) {
  BEEP_ToggleState();
  EXPECT_EQ(BEEP_GetState(), 0);
  BEEP_PlaySound(SND_ERROR);
  EXPECT_EQ(BEEP_IsPlaying(), 0);
  EXPECT_TRUE(Play(50).empty());
  BEEP_ToggleState();
  BEEP_PlaySound(SND_ERROR);
  EXPECT_EQ(Play(50), (std::vector<uint16_t>{2408, 2272}));
}

TEST(BeeperHost, BaudDivisorsAndSilentTable) {
  EXPECT_EQ(emu_BaudrateToUBRR0(19200), 51);
  EXPECT_EQ(emu_BaudrateToUBRR0(9600), 103);
  tarnic_InitVars();
  EXPECT_EQ(emu_GetBeepFrequency(), -1) << "no sound has played";
}

}  // namespace
