// An engine ECU's diagnostic server with every feature on, as the server's tests and the fuzz
// target use it: DIDs of each kind (a coding byte, the VIN, the live RPM, a protected one, a slow
// one), three security levels (fixed seed and XOR key, counter seed and added key, a key table)
// and two routines (one done at once, one that runs a second).
#pragma once

#include "vehicle/uds_server.h"
#include "vehicle/vehicle.h"

namespace uds_test {

constexpr uint16_t DID_CODING = 0x0100, DID_PROTECTED = 0x0200, DID_SLOW = 0x0300, DID_VIN = 0xF190,
                   DID_RPM = 0xF40C;
constexpr uint16_t ROUTINE_AT_ONCE = 0xFF00, ROUTINE_SLOW = 0x0203;

inline void EngineServer(EmuUdsConfig* c) {
  emu_UdsDefaultConfig(c);
  c->enabled = 1;
  c->noOfDids = 5;
  c->did[0] = {DID_CODING, EmuUdsDidKind::Bytes, 0, 1, {0x05}, 1, 0, 1, EMU_UDS_SESSION_EXTENDED, 0};
  c->did[1] = {DID_PROTECTED, EmuUdsDidKind::Bytes, 0, 2, {0xAB, 0xCD}, 0, 1, 0, 0, 0};
  c->did[2] = {DID_SLOW, EmuUdsDidKind::Bytes, 0, 1, {0x42}, 0, 0, 0, 0, 100};
  c->did[3] = {DID_VIN, EmuUdsDidKind::Vin, 0, 17, {}, 1, 0, 1, EMU_UDS_SESSION_EXTENDED, 0};
  c->did[4] = {DID_RPM, EmuUdsDidKind::Item, 0x0C, 2, {}, 1, 0, 0, EMU_UDS_SESSION_EXTENDED, 0};
  c->noOfLevels = 3;
  c->level[0] = {1, 2, EmuUdsSeedRule::Fixed, 0x1234, EmuUdsKeyRule::Xor, 0xFFFF, 0, {}, {}, 3, 10000};
  c->level[1] = {2, 4, EmuUdsSeedRule::Counter, 0x10000000, EmuUdsKeyRule::Add, 0x01010101, 0, {}, {}, 3, 10000};
  c->level[2] = {3, 2, EmuUdsSeedRule::Fixed, 0x5678, EmuUdsKeyRule::Table, 0, 1, {0x5678}, {0x9ABC}, 3, 10000};
  c->noOfRoutines = 2;
  c->routine[0] = {ROUTINE_AT_ONCE, 0, 0, 1, 2, {0xAA, 0x55}};
  c->routine[1] = {ROUTINE_SLOW, 1000, EMU_UDS_SESSION_EXTENDED, 0, 0, {}};
}

// ECU ecuIdx of the running car with that server.
inline void PutEngineServer(uint8_t ecuIdx) {
  emu_VehicleLock();
  EngineServer(&vehicle.ecu[ecuIdx].uds);
  emu_VehicleUnlock();
}

}  // namespace uds_test
