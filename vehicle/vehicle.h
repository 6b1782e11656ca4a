// The simulated vehicle: up to eight ECUs with their supported PIDs, data values, trouble codes,
// MIL, monitor data and vehicle information, the operator's setters that change them while the
// emulator runs, and the routines that turn one ECU's table entries into the bytes of its answer.
// Not simulated: live sensors. Service 01 values move only by a vehicle file's waveforms and
// recorded traces, or with the optional data jitter.
//
// The tables and their lock are in vehicle_state.h, the defaults in vehicle_tables.h, the setters
// in vehicle_setters.h, service 06 in monitor_results.h: this header brings them all.
#pragma once

#include <stdint.h>

#include "vehicle/monitor_results.h"
#include "vehicle/uds_server.h"
#include "vehicle/vehicle_setters.h"
#include "vehicle/vehicle_state.h"
#include "vehicle/vehicle_tables.h"

// The service 01 value of this ECU's PID that moves now (a recorded trace, or a waveform), as
// `bytes` data bytes; false when it has none. The caller holds the vehicle's lock.
bool emu_MovingValue(uint8_t ecuIdx, uint8_t pid, uint8_t bytes, uint8_t* out);
// The same for a look that must not move it: a random walk where it stands, not a step on.
bool emu_MovingValueSeen(uint8_t ecuIdx, uint8_t pid, uint8_t bytes, uint8_t* out);
// The data bytes of a one-, two- or four-byte service 01 PID as ECU ecuIdx sends them now (what
// moves, else its own value, else the value its class shares), without the data jitter, and
// whether they move by themselves; false for a PID of another class. For a look from the
// operator's side, which changes nothing. The caller holds the vehicle's lock.
bool emu_VehicleSentBytes(uint8_t ecuIdx, uint8_t pid, uint8_t bytes, uint8_t* out, bool* moves);

// ---------------------------------------------------------------------------------------------
// Queries for the answering.

// Whether the ECU answers a service 01/02 PID: PID 00 always; any other when its service 01 map
// marks it, or for service 02 the freeze-frame map row (frame + ECU index) mod 8.
bool emu_VehicleSupportsPid(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx);
// Info type 00: the map is not all zero; others: the type is marked in the map.
bool emu_VehicleSupportsInfoType(uint8_t infoType, uint8_t ecuIdx);
// Whether PIDs 06-09 and 55-58 report two banks at once (two bytes).
bool emu_VehicleHasMoreThan2Banks();
// Service 04 on one ECU (no negative response armed): MIL off, codes cleared; on CAN the
// confirmed codes become the permanent ones first.
void emu_VehicleClearCodes(uint8_t ecuIdx, bool can);
void emu_VehicleClearCodesHeld(uint8_t ecuIdx, bool can);  // the caller holding the lock

// ---------------------------------------------------------------------------------------------
// The answer of one ECU (EmuEcuAnswer, vehicle_state.h).

// Fills `out` with ECU ecuIdx's answer to one request, as one message (CAN) or as lines. The
// caller has decided that this ECU answers. Advances the jitter counters as the answer uses them.
void emu_InitFrameData(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx, bool can,
                       EmuEcuAnswer* out);
// The same, the caller holding the vehicle's lock.
void emu_InitFrameDataHeld(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx, bool can,
                           EmuEcuAnswer* out);
// The parts of a service 01/02 answer: "4x", PID, frame number (service 02), then the data.
void emu_InitFrameData1(uint8_t service, uint8_t pid, uint8_t frame, uint8_t value, EmuEcuAnswer* out);
void emu_InitFrameData2(uint8_t service, uint8_t pid, uint8_t frame, const uint8_t* data, EmuEcuAnswer* out);
void emu_InitFrameData4(uint8_t service, uint8_t pid, uint8_t frame, const uint8_t* data, EmuEcuAnswer* out);
// In-use performance tracking (info types 08 and 0B).
void emu_InitFrameDataSid49InfoTypeIpt(uint8_t infoType, uint8_t ecuIdx, bool can, EmuEcuAnswer* out);

// The request/answer table (answer_table.cpp). The answer of ECU ecuIdx's entry for this request
// (the first whose bytes equal the request, else the wildcard one with the longest prefix), with
// its 78 and "then" answer; false when it has none. Takes the vehicle's lock.
// Which entries may answer: any, only one whose bytes equal the request, only a wildcard one.
enum class EmuTableMatch : uint8_t { Any, Exact, Wildcard };
bool emu_TableAnswer(const uint8_t* request, uint8_t n, uint8_t ecuIdx, bool can, EmuEcuAnswer* out,
                     EmuTableMatch match = EmuTableMatch::Any);
// The answer of ECU ecuIdx to a request the car's own OBD services do not answer, as every front
// asks it: the table's exact entry for it, else the ECU's diagnostic server (on CAN; uds_server.h),
// else the table's wildcard entry, else the server's refusal of a service it does not serve. False
// when the ECU gives no answer (`out` empty). Takes the vehicle's lock.
bool emu_VehicleTableOrServerAnswer(const uint8_t* request, uint8_t n, uint8_t ecuIdx, bool can, EmuEcuAnswer* out,
                                    EmuUdsAddressing addressing = EmuUdsAddressing::Physical);
// Whether any ECU's table has an entry for the request, or its diagnostic server takes it.
bool emu_TableKnows(const uint8_t* request, uint8_t n);
// Adds an entry to a vehicle's table, replacing one of the same ECU and request; the messages'
// bytes are copied into the pool. False, with `error` set, when the table or its pool is full.
struct EmuTableAnswerBytes {
  const uint8_t* data;
  uint8_t length;
  uint8_t negative;
};
bool emu_TableAdd(EmuVehicle& v, const EmuTableEntry& entry, const EmuTableAnswerBytes& answer,
                  const EmuTableAnswerBytes& then, const char** error);
// The table's entries, but those of ECU droppedEcu (-1: none), kept in their order with their
// answer bytes packed together.
void emu_TablePack(EmuVehicle& v, int droppedEcu);
