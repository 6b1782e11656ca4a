// The car's faults: the ignition, silent ECUs, the resting battery, and ECUs that answer late or
// say "response pending" first. Read on the thread that answers, with the vehicle's lock.
#include <string.h>

#include <atomic>

#include "bus/negative_codes.h"
#include "vehicle/vehicle_state.h"
#include "vehicle/vehicle_faults.h"

void emu_FaultsSetDefaults(EmuFaults& f) {
  memset(&f, 0, sizeof f);
  f.noOfErrors = EMU_FAULT_ERROR_KINDS;
  for (uint8_t i = 0; i < EMU_FAULT_ERROR_KINDS; ++i) f.errors[i] = i;
  f.ignition = 1;
  f.restingDeciVolts = 124;
}

EmuFaults emu_FaultsNow() {
  emu_VehicleLock();
  const EmuFaults f = vehicle.faults;
  emu_VehicleUnlock();
  return f;
}

namespace {
std::atomic<uint8_t> canCues{0};
}  // namespace

void emu_CarArmCanCue(EmuCanCue cue) { canCues.fetch_or(static_cast<uint8_t>(cue)); }

bool emu_CarTakeCanCue(EmuCanCue cue) {
  const uint8_t bit = static_cast<uint8_t>(cue);
  return (canCues.fetch_and(static_cast<uint8_t>(~bit)) & bit) != 0;
}

void emu_CarClearCanCues() { canCues = 0; }

bool emu_CarIgnitionOn() {
  emu_VehicleLock();
  const bool on = vehicle.faults.ignition != 0;
  emu_VehicleUnlock();
  return on;
}

bool emu_CarEcuSilent(uint8_t ecuIdx) {
  emu_VehicleLock();
  const bool silent = vehicle.faults.ignition == 0 || vehicle.faults.ecu[ecuIdx % EMU_FAULT_ECUS].silent != 0;
  emu_VehicleUnlock();
  return silent;
}

uint8_t emu_CarSupplyDeciVolts() {
  emu_VehicleLock();
  const uint8_t deciVolts = vehicle.faults.ignition != 0 ? vehicle.batteryDeciVolts.load() : vehicle.faults.restingDeciVolts;
  emu_VehicleUnlock();
  return deciVolts;
}

void emu_CarApplyEcuFaults(uint8_t ecuIdx, uint8_t service, EmuEcuAnswer* answer) {
  emu_VehicleLock();
  const EmuEcuFaults f = vehicle.faults.ecu[ecuIdx % EMU_FAULT_ECUS];
  emu_VehicleUnlock();
  if (answer->length == 0 || answer->delayMs != 0) return;
  if (f.responsePendingMs != 0) {
    // The 78 goes first, as a table entry's does; the answer's lines follow it.
    EmuEcuAnswer pending;
    pending.Clear();
    pending.Put(EMU_NEGATIVE_RESPONSE);
    pending.Put(service);
    pending.Put(EMU_RESPONSE_PENDING);
    for (uint8_t line = 0; line < answer->noOfLines; ++line) {
      pending.NewLine();
      const uint8_t start = answer->LineStart(line);
      for (uint8_t i = 0; i < answer->LineLength(line); ++i) pending.Put(answer->data[start + i]);
    }
    pending.delayedLine = 1;
    pending.delayMs = static_cast<uint16_t>(f.responsePendingMs);
    *answer = pending;
    return;
  }
  answer->delayMs = static_cast<uint16_t>(f.answerDelayMs);
  answer->delayedLine = 0;
}
