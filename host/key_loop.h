// The operator key loop on the main thread: device keys onto the key port, operator commands.
#pragma once

#include <stdint.h>

struct KeyLoopState {
  int numberMem;               // 0..99
  uint8_t lastKeyWasNumber;    // the previous key was the first digit of a number
  uint8_t numberMemIsEnabled;  // the number memory is shown in the window
};
extern KeyLoopState keyLoop;

void emu_ResetKeyLoop();
int emu_ProcessKeyLoop();  // 0: the firmware asked for a restart, 1: the user quit
// One key value from the window; returns 1 when it ends the loop (quit).
int emu_HandleKeyValue(int key);
