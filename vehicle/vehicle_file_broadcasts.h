// An ECU's periodic CAN frames in vehicle files:
//   broadcast = [{ id = "3E9", period = 100, data = "01 02 03" },
//                { id = "18FEF100", period = 50, value = "speed" }]
// `id` is 3 hex digits (11 bits, up to 7FF) or 8 (29 bits); `period` whole milliseconds; either
// `data` (1 to 8 bytes) or `value`, the name of a service 01 value whose current bytes are sent.
#pragma once

#include <ostream>

#include <toml++/toml.h>

#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file_answers.h"

bool emu_ReadBroadcasts(const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault);
// The key as the file has it; nothing when the ECU sends none.
void emu_WriteBroadcasts(std::ostream& out, const EmuVehicle& v, const EmuEcu& initial, uint8_t ecuIdx);
