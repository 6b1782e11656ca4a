// Frames drawn by the firmware back to back, each different from the one before, reach the LCD
// side byte for byte through the controller's buffer: also when the buffer fills and the
// firmware has to wait for room, and with command transfers (contrast) between frames.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <future>
#include <string>
#include <vector>

#include "firmware/ui/lcd.h"
#include "controller/controller.h"
#include "host/lcd_controller.h"
#include "controller/spi_bus.h"
#include "tests/host/lcd_bus_fixture.h"
#include "tests/support/wait_for.h"
#include "window/headless_window.h"

namespace {

constexpr int FRAMES = 12;  // about three times round the buffer
constexpr int FRAME_BYTES = 8 * (3 + 132);

class LcdFrames : public LcdBusFixture {
 protected:
  // Frame k as the firmware's drawing routines make it: a text and a box that move, on every
  // third frame after a contrast change. Returns the bytes the bus must carry for it.
  static std::vector<uint8_t> DrawAndSend(int k, std::vector<std::vector<uint8_t>>* shown) {
    std::vector<uint8_t> bytes;
    if (k % 3 == 2) {
      LCD_SetContrast(static_cast<uint8_t>(0x20 + k));
      bytes = {0x81, static_cast<uint8_t>(0x20 + k)};
    }
    LCD_ClearDisplay();
    LCD_DrawText(("FRAME " + std::to_string(k)).c_str(), static_cast<uint8_t>(3 * k), static_cast<uint8_t>(4 * k));
    LCD_DrawBoxFilled(static_cast<uint8_t>(9 * k), 48, 10, 12);
    shown->emplace_back(lcdFrameBuf, lcdFrameBuf + LCD_FRAME_SIZE);
    for (int page = 0; page < LCD_PAGES; ++page) {
      bytes.insert(bytes.end(), {static_cast<uint8_t>(0xB0 + page), 0x10, 0x00});
      bytes.insert(bytes.end(), lcdFrameBuf + page * LCD_WIDTH, lcdFrameBuf + (page + 1) * LCD_WIDTH);
    }
    LCD_UpdateDisplay();
    return bytes;
  }
};

TEST_F(LcdFrames, ByteForByteThroughAFullBufferAndDecodedFrameByFrame) {
  std::atomic<int> framesSent{0};
  std::vector<std::vector<uint8_t>> shown;
  emu_SpiOpenBuffer();
  auto firmware = std::async(std::launch::async, [&] {
    std::vector<std::vector<uint8_t>> perFrame;
    for (int k = 0; k < FRAMES; ++k) {
      perFrame.push_back(DrawAndSend(k, &shown));
      ++framesSent;
    }
    return perFrame;
  });
  // Nothing is taken until three frames are in: the fourth does not fit, and the firmware waits
  // for room in the middle of it.
  ASSERT_TRUE(WaitFor([&] { return framesSent.load() >= 3; }));
  EXPECT_LT(framesSent.load(), 4);

  // Taken as the LCD thread takes them: whatever is there, at most a buffer's worth at once.
  const size_t total = FRAMES * FRAME_BYTES + 2 * (FRAMES / 3);
  std::vector<uint8_t> taken;
  uint8_t batch[EMU_SPI_BUFFER_SIZE];
  while (taken.size() < total) {
    const size_t n = emu_SpiTakeBytes(batch, sizeof batch);
    taken.insert(taken.end(), batch, batch + n);
  }
  const std::vector<std::vector<uint8_t>> perFrame = firmware.get();
  std::vector<uint8_t> sent;
  for (const auto& frame : perFrame) sent.insert(sent.end(), frame.begin(), frame.end());
  ASSERT_EQ(taken.size(), sent.size());
  EXPECT_TRUE(taken == sent) << "the bytes, their order and the frames are as sent";

  // Decoded, each frame is handed to the window once, as drawn.
  LcdDecoder lcd;
  emu_LcdDecoderReset(&lcd);
  uint8_t display[LCD_FRAME_SIZE];
  size_t at = 0;
  for (int k = 0; k < FRAMES; ++k) {
    const uint32_t before = emu_HeadlessGetDisplay(display);
    for (size_t end = at + perFrame[k].size(); at < end; ++at) emu_LcdDecodeByte(&lcd, taken[at]);
    EXPECT_EQ(emu_HeadlessGetDisplay(display), before + 1) << "frame " << k;
    EXPECT_TRUE(std::equal(display, display + LCD_FRAME_SIZE, shown[k].begin())) << "frame " << k;
  }
}

TEST_F(LcdFrames, TheLcdThreadShowsEveryFrameOfASequenceSentBackToBack) {
  uint8_t display[LCD_FRAME_SIZE];
  const uint32_t before = emu_HeadlessGetDisplay(display);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, emu_LcdThread, nullptr), 0);
  ASSERT_TRUE(WaitFor([] { return (SPSR & 0x80) != 0; })) << "the controller is ready";
  std::vector<std::vector<uint8_t>> shown;
  for (int k = 0; k < FRAMES; ++k) (void)DrawAndSend(k, &shown);
  EXPECT_TRUE(WaitFor([&] { return emu_HeadlessGetDisplay(display) == before + FRAMES; }));
  EXPECT_TRUE(std::equal(display, display + LCD_FRAME_SIZE, shown.back().begin()));
  pthread_cancel(thread);
  pthread_join(thread, nullptr);
}

}  // namespace
