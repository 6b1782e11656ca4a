// In-process access to the headless front end, for tests and benchmarks that run the emulator
// without standard input commands.
#pragma once

#include <stdint.h>

void emu_HeadlessTypeKey(int keyValue);    // typed once, as a key press on the window
void emu_HeadlessHoldKey(int keyValue);    // held as with the mouse; 0 releases
// Copies the last display memory handed over (1056 bytes); returns the number of frames
// handed over so far in this run.
uint32_t emu_HeadlessGetDisplay(uint8_t* displayMem);
