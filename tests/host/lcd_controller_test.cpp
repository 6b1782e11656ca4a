// The LCD controller's decoding of the firmware's byte stream and its redraw decisions.
#include "host/lcd_controller.h"

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "window/headless_window.h"

namespace {

class LcdDecoding : public testing::Test {
 protected:
  LcdDecoder lcd;
  void SetUp() override { emu_LcdDecoderReset(&lcd); }

  uint32_t Frames() {
    uint8_t mem[1056];
    return emu_HeadlessGetDisplay(mem);
  }
  std::vector<uint8_t> Shown() {
    std::vector<uint8_t> mem(1056);
    emu_HeadlessGetDisplay(mem.data());
    return mem;
  }
  // The firmware's full update: per page, page address, column 0, then 132 data bytes.
  void SendFrame(const uint8_t* frame) {
    for (uint8_t page = 0; page < 8; ++page) {
      for (uint8_t b : {static_cast<uint8_t>(0xB0 + page), uint8_t{0x10}, uint8_t{0x00}})
        emu_LcdDecodeByte(&lcd, b);
      for (int col = 0; col < 132; ++col) emu_LcdDecodeByte(&lcd, frame[page * 132 + col]);
    }
  }
};

TEST_F(LcdDecoding, OneRedrawPerChangedFrameAndNoneForAnIdenticalOne) {
  uint8_t frame[1056] = {};
  uint32_t before = Frames();
  SendFrame(frame);
  EXPECT_EQ(Frames(), before + 1) << "the first complete frame is always shown";
  SendFrame(frame);
  EXPECT_EQ(Frames(), before + 1) << "identical frame: no redraw";

  frame[3 * 132 + 77] = 0x10;  // one pixel: x 77, y 28
  SendFrame(frame);
  EXPECT_EQ(Frames(), before + 2);
  EXPECT_EQ(Shown()[3 * 132 + 77], 0x10);
  SendFrame(frame);
  SendFrame(frame);
  EXPECT_EQ(Frames(), before + 2);

  frame[3 * 132 + 77] = 0;  // back again: the pixel goes out
  SendFrame(frame);
  EXPECT_EQ(Frames(), before + 3);
  EXPECT_EQ(Shown()[3 * 132 + 77], 0);
}

TEST_F(LcdDecoding, OnlyTheLastColumnOfPageSevenCompletesAFrame) {
  uint8_t frame[1056];
  memset(frame, 0xAA, sizeof frame);
  uint32_t before = Frames();
  // Pages 0..6 and all but the last byte of page 7: nothing shown yet.
  for (uint8_t page = 0; page < 8; ++page) {
    for (uint8_t b : {static_cast<uint8_t>(0xB0 + page), uint8_t{0x10}, uint8_t{0x00}})
      emu_LcdDecodeByte(&lcd, b);
    int n = page == 7 ? 131 : 132;
    for (int col = 0; col < n; ++col) emu_LcdDecodeByte(&lcd, frame[page * 132 + col]);
  }
  EXPECT_EQ(Frames(), before);
  emu_LcdDecodeByte(&lcd, 0xAA);
  EXPECT_EQ(Frames(), before + 1);
  EXPECT_EQ(Shown()[1055], 0xAA);
}

TEST_F(LcdDecoding, ColumnAddressAndCommandsAmongData) {
  // Column 0x25 of page 2: high nibble 2, low nibble 5; a byte after the contrast announcement
  // is a value even when it looks like a command.
  for (uint8_t b : {uint8_t{0x81}, uint8_t{0xB7}, uint8_t{0xB2}, uint8_t{0x12}, uint8_t{0x05}})
    emu_LcdDecodeByte(&lcd, b);
  EXPECT_EQ(lcd.page, 2) << "0xB7 after 0x81 was the contrast, not a page";
  EXPECT_EQ(lcd.column, 0x25);
  EXPECT_EQ(lcd.dataMode, 1);
  emu_LcdDecodeByte(&lcd, 0x5A);
  EXPECT_EQ(lcd.memory[lcd.shown ^ 1][2 * 132 + 0x25], 0x5A);
  EXPECT_EQ(lcd.column, 0x26);
}

}  // namespace
