// Faults on cue in vehicle files (vehicle_faults.h), read and written:
//   ignition = false, resting_battery = 12.4                     the car, at the top level
//   lose_frame = true, error_frame = true                        its CAN bus, once (acts)
//   ecu.N.silent = true, .answer_delay = MS, .response_pending = MS  one ECU
//   [faults] chunk, chunk_pause, stall, garbage_before, garbage_inside, drop_after, drop_at,
//            drop_now, error_rate, errors = ["NO DATA", ...], seed    the line
// Only what differs from the default is written; drop_now, lose_frame and error_frame are acts,
// never written.
#pragma once

#include <ostream>
#include <string>

#include <toml++/toml.h>

#include "vehicle/vehicle_faults.h"
#include "vehicle/vehicle_file_answers.h"

// What reading asks to be done once the vehicle is in place.
struct EmuFaultActs {
  bool dropNow = false;
  bool loseFrame = false;   // an ECU's next consecutive frame is lost
  bool errorFrame = false;  // the tester's next frame meets an error frame
};

// Whether a top-level key, or one of an ECU, is a fault setting; reading one into `f`.
bool emu_IsFaultKey(const std::string& key);
bool emu_ReadFaultKey(const std::string& key, const toml::node& node, EmuFaults& f, EmuFaultActs* acts,
                      EmuFileFault* fault);
bool emu_IsEcuFaultKey(const std::string& key);
bool emu_ReadEcuFaultKey(const std::string& key, const toml::node& node, EmuEcuFaults& f, EmuFileFault* fault);

// The top-level keys (before any table), an ECU's keys (inside its table), and the [faults]
// table (after the ECUs); each only where something differs from the default.
void emu_WriteCarFaults(std::ostream& out, const EmuFaults& f);
void emu_WriteEcuFaults(std::ostream& out, const EmuEcuFaults& f);
void emu_WriteLineFaults(std::ostream& out, const EmuFaults& f);
