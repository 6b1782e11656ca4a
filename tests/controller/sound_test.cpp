// The beeper's tone: the square wave's pitch and its joins, and a silent run without a server.
#include "controller/sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "controller/controller.h"

namespace {

int SignChanges(const std::vector<int16_t>& s) {
  int n = 0;
  for (size_t i = 1; i < s.size(); ++i) n += (s[i] > 0) != (s[i - 1] > 0);
  return n;
}

TEST(BeeperSound, OneSecondOfATwoKilohertzToneHasFourThousandEdges) {
  std::vector<int16_t> s(EMU_SOUND_RATE);
  emu_SquareWave(s.data(), EMU_SOUND_RATE, 2000, 0);
  EXPECT_NEAR(SignChanges(s), 4000, 1);
}

TEST(BeeperSound, BlocksJoinWithoutAJump) {
  std::vector<int16_t> whole(4410), parts(4410);
  emu_SquareWave(whole.data(), 4410, 1568, 0);
  for (int first = 0; first < 4410; first += 220)
    emu_SquareWave(parts.data() + first, std::min(220, 4410 - first), 1568, first);
  EXPECT_EQ(whole, parts);
}

TEST(BeeperSound, ToneWithoutASoundServerReturns) {
  // On machines without a sound server the tone is skipped; with one it lasts its 20 ms.
  auto t0 = std::chrono::steady_clock::now();
  emu_PlayTone(1397, 20);
  emu_PlayTone(0, 20);
  emu_PlayTone(1397, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

}  // namespace
