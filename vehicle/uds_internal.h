// The diagnostic server's parts (uds_server.cpp, uds_dids.cpp, uds_dtcs.cpp): one request as a
// service handler sees it, and the state an ECU keeps between requests.
#pragma once

#include <stdint.h>

#include "bus/negative_codes.h"
#include "vehicle/uds_server.h"
#include "vehicle/vehicle_state.h"

struct EmuUdsLevelState {
  uint8_t attempts;        // wrong keys since the last right one
  uint64_t lockedUntilMs;  // 0: not locked out
  uint32_t seedsGiven;
  uint32_t random;         // the seeded generator's state
};

struct EmuUdsState {
  uint8_t session;        // 0 until the first request: the default one
  uint8_t unlockedLevel;  // 0: locked
  uint8_t seedLevel;      // the level whose seed was sent and awaits its key; 0 none
  uint32_t seed;
  uint64_t lastRequestMs;
  EmuUdsLevelState level[EMU_UDS_MAX_LEVELS];
  uint64_t routineStartedMs[EMU_UDS_MAX_ROUTINES];  // 0: never started
  uint8_t routineStopped[EMU_UDS_MAX_ROUTINES];
  uint8_t commControl;
  uint8_t dtcSettingOff;
};

// One request being served, with the vehicle's lock held.
struct EmuUdsRequest {
  const uint8_t* bytes;
  uint8_t n;
  uint8_t sub;  // the sub-function without its bit 7
  uint8_t ecuIdx;
  EmuEcu& ecu;
  EmuUdsConfig& config;
  EmuUdsState& state;
  EmuEcuAnswer* out;
  uint64_t nowMs;
  bool suppress;     // bit 7 of the sub-function: no positive answer
  uint8_t negative;  // the negative code answered, 0 none
};

// The answer so far replaced by 7F SID code, or by the service's positive byte.
void emu_UdsNegative(EmuUdsRequest& r, uint8_t code);
void emu_UdsPositive(EmuUdsRequest& r);

void emu_UdsReadDids(EmuUdsRequest& r);   // 22
void emu_UdsWriteDid(EmuUdsRequest& r);   // 2E
void emu_UdsReadCodes(EmuUdsRequest& r);  // 19
void emu_UdsClearCodes(EmuUdsRequest& r); // 14
