// Service 06 of the simulated ECUs (monitor_results.cpp): their test results and the answers
// built from them.
#pragma once

#include <stdint.h>

#include "vehicle/vehicle_state.h"

// Service 06 results of one ECU as at program start (monitor_results.cpp): the engine ECU has
// oxygen sensor, catalyst, EGR and misfire monitors; the others none.
void emu_SetDefaultTestResults(EmuEcuData& ecu, uint8_t ecuIdx);
// Service 06: whether the ECU answers this monitor ID (CAN) or test ID (J1850, K-line). A range
// one (00, 20, ...) when it has a result above it; any other when it has a result for it.
bool emu_VehicleSupportsTest(uint8_t id, uint8_t ecuIdx, bool can);
// Service 06 of one ECU, the caller holding the vehicle's lock.
void emu_InitFrameDataSid06(uint8_t id, uint8_t ecuIdx, bool can, EmuEcuAnswer* out);
