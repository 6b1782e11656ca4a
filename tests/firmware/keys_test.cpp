// Key debouncing and auto-repeat as the 10 ms interrupt sees the key lines.
#include <gtest/gtest.h>

#include "firmware/mcu.h"
#include "firmware/timer.h"
#include "controller/controller.h"

namespace {

constexpr uint8_t UP = 0x40, OK = 0x20, ESC = 0x10;

class Debounce : public testing::Test {
 protected:
  void SetUp() override {
    tarnic_InitVars();
    PINA = 0xFF;
  }
  // Runs n ticks with the given lines held (active low on the port).
  void Ticks(int n, uint8_t held) {
    PINA = static_cast<uint8_t>(~held);
    for (int i = 0; i < n; ++i) __vector_9();
  }
  uint8_t TakePressed() { return keyDebounce.keyPressed.exchange(0); }
  uint8_t TakeRepeated() { return keyDebounce.keyRepeated.exchange(0); }
};

TEST_F(Debounce, APressNeedsFourTicksInARow) {
  Ticks(3, OK);
  Ticks(10, 0);
  EXPECT_EQ(TakePressed(), 0) << "three ticks are a bounce";
  Ticks(2, OK);
  Ticks(1, 0);
  Ticks(2, OK);
  EXPECT_EQ(TakePressed(), 0) << "an interrupted count starts again";
  Ticks(4, OK);
  EXPECT_EQ(TakePressed(), OK);
  Ticks(30, OK);
  EXPECT_EQ(TakePressed(), 0) << "held key gives a single press";
  Ticks(4, 0);
  Ticks(4, OK);
  EXPECT_EQ(TakePressed(), OK) << "released and pressed again";
}

TEST_F(Debounce, UpRepeatsAfter500msThenEvery200ms) {
  Ticks(4, UP);
  ASSERT_EQ(TakePressed(), UP);
  // The 50-tick countdown restarts on every tick without a debounced repeat key, and the tick
  // that debounces the press already counts: the first repeat comes 52 ticks after the key
  // went down, 48 after the press was seen.
  int ticksToFirst = 0;
  while (TakeRepeated() == 0 && ticksToFirst < 200) {
    Ticks(1, UP);
    ++ticksToFirst;
  }
  EXPECT_EQ(ticksToFirst, 48);
  for (int r = 0; r < 3; ++r) {
    Ticks(19, UP);
    EXPECT_EQ(TakeRepeated(), 0);
    Ticks(1, UP);
    EXPECT_EQ(TakeRepeated(), UP);
  }
}

TEST_F(Debounce, OkNeverRepeatsAndEscDoes) {
  Ticks(4, OK);
  Ticks(300, OK);
  EXPECT_EQ(TakePressed(), OK);
  EXPECT_EQ(TakeRepeated(), 0);
  Ticks(4, 0);
  Ticks(54, ESC);
  EXPECT_EQ(TakePressed(), ESC);
  EXPECT_EQ(TakeRepeated(), ESC);
}

TEST_F(Debounce, EveryTickSetsTheTenMillisecondFlag) {
  gblTimer10msUpdate = 0;
  Ticks(1, 0);
  EXPECT_EQ(gblTimer10msUpdate.load(), 1);
}

}  // namespace
