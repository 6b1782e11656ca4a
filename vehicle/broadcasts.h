// The frames the car's ECUs send by themselves on CAN (EmuBroadcast), as a bus sees them come:
// each every period from the moment the listener starts (emu_BroadcastsStart), its data taken
// when it goes out, so that a live value follows the car. One listener at a time: the adapter
// that serves the line. Only with the ignition on, from ECUs the car has.
#pragma once

#include <stdint.h>

struct EmuBroadcastFrame {
  uint32_t id;
  bool extended;
  uint8_t dlc;
  uint8_t data[8];
};

// Every broadcast is due at once (a channel just opened, a bus monitor just started).
void emu_BroadcastsStart(uint64_t nowMs);
// The next frame due at nowMs, then its next time is one period on; false when none is due.
// A frame the listener was too busy to take goes out late, once: missed periods are not made up.
// Takes the vehicle's lock.
bool emu_BroadcastNext(uint64_t nowMs, EmuBroadcastFrame* frame);
// Milliseconds until the next frame is due (0: one is), -1 when the car sends none.
int64_t emu_BroadcastWaitMs(uint64_t nowMs);
