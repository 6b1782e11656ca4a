// The simulated vehicle: up to eight ECUs with their trouble codes and data.
#pragma once

#include <stdint.h>

constexpr uint8_t EMU_MAX_CONFIRMED_DTCS = 16;

// Adds a confirmed trouble code to the first ECU; codes beyond the sixteenth are ignored.
void emu_QimSetConfirmedDtc(uint16_t dtc);
uint8_t emu_QimGetNoOfConfirmedDtcs();
uint16_t emu_QimGetConfirmedDtc(uint8_t index);
