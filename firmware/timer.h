// The 10 ms timer interrupt: beeper steps, key debouncing with a vertical counter, auto-repeat.
#pragma once

#include <stdint.h>

#include <atomic>

constexpr uint8_t KEY_REPEAT_MASK = 0xD0;  // Esc, Up, Down repeat; OK never does
constexpr uint8_t KEY_REPEAT_START = 50;   // first repeat after 500 ms
constexpr uint8_t KEY_REPEAT_NEXT = 20;    // then every 200 ms

struct KeyDebounceState {
  std::atomic<uint8_t> keyState;     // debounced lines, 1 = pressed
  uint8_t ct0, ct1;                  // two-bit counter per line
  std::atomic<uint8_t> keyPressed;   // newly pressed since the menu engine last looked
  std::atomic<uint8_t> keyRepeated;  // auto-repeated since then
  uint8_t rpt;                       // repeat countdown in ticks
};
extern KeyDebounceState keyDebounce;

void TIMER_InitState();
