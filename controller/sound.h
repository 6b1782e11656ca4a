// The beeper's tone on the desktop's sound system.
#pragma once

#include <stdint.h>

constexpr int EMU_SOUND_RATE = 22050;  // samples per second, mono

// Fills `count` samples of a square wave at frequencyHz (the beeper's timer toggles its pin),
// starting at sample `first` so that consecutive blocks join without a click. Quiet enough
// not to startle: a quarter of full scale.
void emu_SquareWave(int16_t* samples, int count, int frequencyHz, long first);
