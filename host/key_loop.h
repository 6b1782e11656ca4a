// The operator key loop on the main thread: device keys onto the key port, operator commands.
#pragma once

#include <stdint.h>

struct KeyLoopState {
  int numberMem;               // 0..99
  uint8_t lastKeyWasNumber;    // the previous key was the first digit of a number
  uint8_t numberMemIsEnabled;  // the number memory is shown in the window
  // Serving from start: the way to the Bluetooth bridge (0 Down next, 1 OK next, 2 done), the
  // LCD's changed frames when last looked at, and since when (ms) they have not changed.
  uint8_t bridgeStep;
  uint32_t bridgeFrames;
  uint64_t bridgeQuietSinceMs;
  uint64_t bridgeKeySentMs;
};
extern KeyLoopState keyLoop;

void emu_ResetKeyLoop();
int emu_ProcessKeyLoop();  // 0: the firmware asked for a restart, 1: the user quit
// One key value from the window (0: none, the device keys are released); returns 1 when it ends
// the loop (quit). Does not wait for the next key.
int emu_HandleKeyValue(int key);
// The number memory shown in the window, or hidden again (the operator's key `n`).
void emu_ToggleNumberMemDisplay();
