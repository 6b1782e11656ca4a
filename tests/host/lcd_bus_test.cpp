// The SPI hand-over between the firmware's LCD driver and the LCD controller, byte for byte.
#include <gtest/gtest.h>
#include <pthread.h>

#include <future>
#include <vector>

#include "firmware/ui/lcd.h"
#include "controller/controller.h"
#include "host/lcd_controller.h"
#include "tests/host/lcd_bus_fixture.h"
#include "tests/support/wait_for.h"

namespace {

class LcdBus : public LcdBusFixture {
 protected:
  // The controller's side, collecting n bytes with their A0 line (PORTD bit 4) as sampled.
  std::future<std::vector<uint8_t>> Collect(size_t n) {
    auto future = std::async(std::launch::async, [n] {
      std::vector<uint8_t> bytes;
      while (bytes.size() < n) bytes.push_back(emu_LcdTakeByte());
      // Leave the bus ready, as the controller does between bytes.
      pthread_mutex_lock(&lcdMutex);
      SPSR |= 0x80;
      pthread_mutex_unlock(&lcdMutex);
      return bytes;
    });
    // As at power-on, the firmware may send once the controller waits for its first byte.
    EXPECT_TRUE(WaitFor([] { return (SPSR & 0x80) != 0; }));
    return future;
  }
};

TEST_F(LcdBus, AFullUpdateIsThreeCommandsAndOnePageOfDataPerPage) {
  for (int i = 0; i < LCD_FRAME_SIZE; ++i) lcdFrameBuf[i] = static_cast<uint8_t>(i * 7);
  auto bytes = Collect(1080);
  LCD_UpdateDisplay();
  std::vector<uint8_t> got = bytes.get();

  std::vector<uint8_t> expected;
  for (int page = 0; page < 8; ++page) {
    expected.insert(expected.end(), {static_cast<uint8_t>(0xB0 + page), 0x10, 0x00});
    for (int col = 0; col < 132; ++col) expected.push_back(static_cast<uint8_t>((page * 132 + col) * 7));
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(PORTB & 0x01, 0x01) << "deselected after the last page";
  EXPECT_EQ(PORTD & 0x10, 0x10) << "A0 left on data";
}

TEST_F(LcdBus, ControlSequencesOfInitContrastAndOrientation) {
  auto bytes = Collect(9 + 2 + 2 + 2);
  LCD_Init();
  LCD_SetContrast(0x81);
  LCD_SetOrientation(1);
  LCD_SetOrientation(0);
  EXPECT_EQ(bytes.get(), (std::vector<uint8_t>{0x40, 0xA6, 0xA2, 0x2F, 0xF8, 0x00, 0x23, 0xAC, 0xAF,
                                               0x81, 0x81, 0xA1, 0xC0, 0xA0, 0xC8}));
  EXPECT_EQ(PORTD & 0x10, 0) << "commands are sent with A0 low";
}

}  // namespace
