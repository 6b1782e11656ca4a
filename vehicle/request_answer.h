// The car's answer to one request, as every adapter asks for it: which requests the vehicle
// knows, which ECUs answer them, and the one place where ECU i's answer to a request's bytes is
// chosen (the vehicle's own data, else its request/answer table, then its faults). The adapters
// frame and print the answer; this side knows nothing of them.
#pragma once

#include <stdint.h>

#include "vehicle/vehicle.h"

// Whether ECU ecuIdx answers the request at all (supported PID or info type; service 0A only on
// CAN). The request itself must be one the vehicle knows (emu_RequestIsKnown).
bool emu_EcuAnswers(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx, bool can);
// Services 01, 02 (PIDs the vehicle has), 03, 04, 06, 07, 09 (info types 00-0B) and 0A.
bool emu_RequestIsKnown(uint8_t service, uint8_t pid);

constexpr uint8_t EMU_REQUEST_MAX_MULTI_PIDS = 6;  // service 01 on CAN: up to six PIDs at once

// ECU ecuIdx's answer to the request's n bytes (service first): the vehicle's own answer to the
// OBD services it knows (service 01 with up to six PIDs on CAN), else its table's or its
// diagnostic server's (emu_VehicleTableOrServerAnswer), as the ECU's faults make it. False when
// the ECU gives none (silent, unsupported, unknown). Clears the ECU's codes when it accepts a
// service 04. `addressing`: whether the tester asked this ECU alone or all of them.
bool emu_VehicleAnswerRequest(const uint8_t* request, uint8_t n, uint8_t ecuIdx, bool can, EmuEcuAnswer* out,
                              EmuUdsAddressing addressing = EmuUdsAddressing::Physical);
