// The whole device in-process with the headless window, for benchmarks that time what a user
// sees: power-on with default settings, keys, and waits for a title on the LCD.
#pragma once

#include <stdint.h>

#include <future>

#include "firmware/ui/lcd.h"

struct Title {
  uint8_t rows[LCD_WIDTH];  // page 0: the title bar
};

// Rendered with the firmware's own routines; call before PowerOn or while the firmware is parked
// on a screen, as it shares the frame buffer.
Title RenderTitleProtocol(const char* text, uint8_t protocol);
Title RenderTitleEcu(const char* text, uint8_t ecu);

bool WaitForTitle(const Title& title, int timeoutMs);
// Presses a key once the firmware has seen the previous one released.
void Press(int key);

// Fresh settings, a vehicle on CAN 11 bit / 500 kbps that answers only there, and the protocol
// list starting with it; returns the running power-on once the device has started.
std::future<int> PowerOnWithCan11Vehicle();
// Quits the run (the "q" key) and waits for its end.
void QuitRun(std::future<int>& run);
