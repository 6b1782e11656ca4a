// The LCD controller on the SPI bus: decodes the firmware's command and data bytes into a double
// display memory and hands complete, changed frames to the window.
#pragma once

#include <stdint.h>

void* emu_LcdThread(void*);
// The controller's side of the SPI bus, one byte at a time: takes the bytes into its buffer
// (signalling the bus ready, SPSR bit 7, the first time), waits for the next byte the firmware
// sent and returns it. The LCD thread takes them by the frame (spi_bus.h).
uint8_t emu_LcdTakeByte();
// Changed frames handed to the window since program start: the key loop tells by it that the
// firmware has taken a key.
uint32_t emu_LcdChangedFrames();

// The decoder on its own, without the bus hand-over (the thread feeds it byte by byte).
struct LcdDecoder {
  uint8_t memory[2][8 * 132];
  uint8_t shown;  // index of the memory last handed to the window
  uint8_t page, column;
  uint8_t dataMode, lowNibbleExpected, contrastExpected;
  uint8_t changed;
};
void emu_LcdDecoderReset(LcdDecoder* lcd);
void emu_LcdDecodeByte(LcdDecoder* lcd, uint8_t byte);
