// An ECU's diagnostic server in vehicle files (uds_server.h), read and written:
//   [ecu.1.uds]
//   enabled = true
//   p2 = 50          # ms, in the session answer
//   p2_star = 5000   # ms, in the session answer
//   s3 = 5000        # ms without a request before a session falls back to the default
//
//   [[ecu.1.uds.did]]
//   id = "0100"
//   bytes = "05"     # or item = "rpm" (the car's live value), or vin = true (the car's VIN)
//   writable = true
//   write_session = 3   # session a write needs (0: any)
//   write_level = 1     # security level a write needs (0: none)
//   read_level = 0      # security level a read needs (0: none)
//   delay = 0           # ms: a slower read answers 78 first
//
//   [[ecu.1.uds.security]]
//   level = 1           # asked with 27 01, key sent with 27 02
//   seed = "fixed"      # or "counter" (counts up from seed_value), "random" (a generator from it)
//   seed_value = "1234" # as many bytes as the seed has (1 to 4)
//   key = "xor"         # or "add" (seed + constant), "table" (pairs = ["5678:9ABC", ...])
//   constant = "FFFF"
//   attempts = 3        # wrong keys before 36
//   delay = 10000       # ms a locked-out level refuses seeds with 37
//
//   [[ecu.1.uds.routine]]
//   id = "FF00"
//   run = 0             # ms it runs after a start
//   session = 3         # session it needs (0: any but the default)
//   level = 1           # security level it needs (0: none)
//   result = "AA 55"    # sent with 31 03 once it has finished
// Keys given in a file or a "set" change those of the ECU; a list (did, security, routine)
// replaces the ECU's list.
#pragma once

#include <stdint.h>

#include <ostream>

#include <toml++/toml.h>

#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file_answers.h"

bool emu_ReadUds(const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault);
// ECU `number`'s section and its lists, when they differ from those of `initial`.
void emu_WriteUds(std::ostream& out, const EmuEcu& ecu, const EmuEcu& initial, int number);
