// When each ECU's periodic frames are due. The schedule is kept apart from the vehicle's tables:
// a file loaded or a value set changes what is sent, not when the listener started.
#include "vehicle/broadcasts.h"

#include <string.h>

#include "vehicle/vehicle.h"

namespace {

constexpr uint8_t SID_CURRENT_DATA = 0x01;
constexpr uint8_t CURRENT_DATA_HEAD = 2;  // 41 and the PID before the value's bytes

uint64_t nextDueMs[EMU_MAX_ECUS][EMU_MAX_BROADCASTS];
uint64_t startedMs = 0;

// The frame as it goes out now; false when the ECU no longer sends it.
bool emu_BroadcastFrame(uint8_t ecuIdx, uint8_t slot, EmuBroadcastFrame* frame) {
  const EmuBroadcast& b = vehicle.ecu[ecuIdx].broadcast[slot];
  frame->id = b.id;
  frame->extended = b.extended != 0;
  frame->dlc = b.dlc > sizeof frame->data ? sizeof frame->data : b.dlc;
  memcpy(frame->data, b.data, sizeof frame->data);
  if (b.livePid == 0) return true;
  EmuEcuAnswer a;
  emu_InitFrameDataHeld(SID_CURRENT_DATA, b.livePid, 0, ecuIdx, true, &a);
  if (a.length < CURRENT_DATA_HEAD + frame->dlc) return false;
  memcpy(frame->data, a.data + CURRENT_DATA_HEAD, frame->dlc);
  return true;
}

}  // namespace

void emu_BroadcastsStart(uint64_t nowMs) {
  startedMs = nowMs;
  for (auto& ecu : nextDueMs)
    for (uint64_t& due : ecu) due = nowMs;
}

bool emu_BroadcastNext(uint64_t nowMs, EmuBroadcastFrame* frame) {
  if (!emu_CarIgnitionOn()) return false;
  bool found = false;
  emu_VehicleLock();
  for (uint8_t e = 0; e < vehicle.maxEcu && e < EMU_MAX_ECUS && !found; ++e) {
    const EmuEcu& ecu = vehicle.ecu[e];
    for (uint8_t s = 0; s < ecu.noOfBroadcasts && s < EMU_MAX_BROADCASTS && !found; ++s) {
      uint64_t& due = nextDueMs[e][s];
      if (due > nowMs) continue;
      // Keep to the period where the listener kept up; after a gap start again from now.
      due += ecu.broadcast[s].periodMs;
      if (due <= nowMs) due = nowMs + ecu.broadcast[s].periodMs;
      found = emu_BroadcastFrame(e, s, frame);
    }
  }
  emu_VehicleUnlock();
  return found;
}

int64_t emu_BroadcastWaitMs(uint64_t nowMs) {
  if (!emu_CarIgnitionOn()) return -1;
  int64_t wait = -1;
  emu_VehicleLock();
  for (uint8_t e = 0; e < vehicle.maxEcu && e < EMU_MAX_ECUS; ++e) {
    for (uint8_t s = 0; s < vehicle.ecu[e].noOfBroadcasts && s < EMU_MAX_BROADCASTS; ++s) {
      const int64_t w = nextDueMs[e][s] <= nowMs ? 0 : static_cast<int64_t>(nextDueMs[e][s] - nowMs);
      if (wait < 0 || w < wait) wait = w;
    }
  }
  emu_VehicleUnlock();
  return wait;
}
