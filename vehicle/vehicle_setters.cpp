// The operator's setters and the vehicle's state as a whole: a vehicle as at program start (loaded
// before main() runs), one vehicle copied into another, the ECU a setter acts on, and the setters
// of the command line and the operator's keys (trouble codes, MIL, oxygen sensor banks, negative
// responses, data jitter), and what the car is to its tester: the protocol it answers on and its
// ECUs' addresses.
#include <string.h>

#include "bus/negative_codes.h"
#include "bus/protocols.h"
#include "vehicle/vehicle_setters.h"
#include "vehicle/vehicle_tables.h"

std::atomic<bool (*)()> emu_vehicleTesterOnCan{nullptr};

namespace {

// The ECUs' addresses off CAN, in this order: the second ECU has address 18.
constexpr uint8_t DEFAULT_ADDRESS[EMU_MAX_ECUS] = {0x10, 0x18, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16};

// The vehicle is loaded before main() runs, so the command line finds it ready for its codes.
[[maybe_unused]] const bool vehicleLoaded = (emu_VehicleInit(), true);

// What the tester's filter picks (emu_VehicleSelectEcu).
std::atomic<uint8_t> selectedEcu{0};
std::atomic<uint8_t> selectedAlone{0};

EmuEcu& emu_SelectedEcu() { return vehicle.ecu[selectedEcu.load() % EMU_MAX_ECUS]; }

void emu_MarkPid(EmuEcu& ecu, uint8_t pid, bool supported) {
  std::atomic<uint8_t>& byte = ecu.supPids[emu_PidByte(pid)];
  if (supported) {
    byte.fetch_or(emu_PidMask(pid));
  } else {
    byte.fetch_and(static_cast<uint8_t>(~emu_PidMask(pid)));
  }
}

void emu_SetNoOfDtcsOf(EmuEcu& ecu, uint8_t n) {
  n = emu_AtMost16(n);
  ecu.noOfDtcs = n;
  if (n > 0) {
    ecu.dtcsCleared = 0;
    return;
  }
  ecu.milState = 0;
  if (ecu.noOfPendingDtcs == 0) ecu.dtcsCleared = 1;
}

void emu_ToggleNegRespCode(EmuEcu& ecu, uint8_t code) {
  ecu.negRespCode = ecu.negRespCode == code ? 0 : code;
}

// An ECU's shared bytes but its service 01 map, copied one by one, and what each holds at program
// start (the addresses: DEFAULT_ADDRESS and E8 on).
struct SharedByte {
  std::atomic<uint8_t> EmuEcuShared::*byte;
  uint8_t initially;
};
constexpr SharedByte SHARED_BYTES[] = {
    {&EmuEcuShared::milState, 1},    {&EmuEcuShared::noOfDtcs, 1},      {&EmuEcuShared::noOfPendingDtcs, 1},
    {&EmuEcuShared::noOfPermanentDtcs, 1}, {&EmuEcuShared::dtcsCleared, 0}, {&EmuEcuShared::negRespCode, 0},
    {&EmuEcuShared::dataPid13or1D, 0xFF}, {&EmuEcuShared::address, 0},  {&EmuEcuShared::canAddress, 0},
};
// Every shared byte is in the table: a new one added to EmuEcuShared must be given its row.
static_assert(sizeof(EmuEcuShared) == EMU_SUP_PID_BYTES + sizeof SHARED_BYTES / sizeof SHARED_BYTES[0]);

}  // namespace

void emu_VehicleSetDefaults(EmuVehicle& v) {
  for (uint8_t i = 0; i < EMU_MAX_ECUS; ++i) {
    EmuEcu& ecu = v.ecu[i];
    emu_EcuDefaultData(i, &ecu.Data());
    const EmuEcuDefaults& d = EMU_ECU_DEFAULTS[i];
    for (uint8_t b = 0; b < EMU_SUP_PID_BYTES; ++b) ecu.supPids[b] = b < sizeof d.supPids ? d.supPids[b] : 0;
    for (const SharedByte& s : SHARED_BYTES) ecu.*s.byte = s.initially;
    ecu.address = DEFAULT_ADDRESS[i];
    ecu.canAddress = static_cast<uint8_t>(0xE8 + i);
  }
  v.table.noOfEntries = 0;
  v.table.poolUsed = 0;
  v.maxEcu = 2;
  v.batteryDeciVolts = 126;
  v.dataJitterIsEnabled = 0;
  v.dataJitter = 0;
  v.noOfCmdLineDtcs = 0;
  v.trace.noOfPoints = 0;
  v.trace.loop = 1;
  v.trace.durationMs = 0;
  v.trace.startedMs = 0;
  v.trace.path[0] = '\0';
  emu_FaultsSetDefaults(v.faults);
}

void emu_VehicleInit() {
  emu_VehicleLock();
  emu_VehicleSetDefaults(vehicle);
  emu_VehicleUnlock();
  emu_UdsReset();
}

void emu_VehicleAssign(EmuVehicle& to, const EmuVehicle& from) {
  if (&to == &from) return;
  for (uint8_t i = 0; i < EMU_MAX_ECUS; ++i) {
    EmuEcu& t = to.ecu[i];
    const EmuEcu& f = from.ecu[i];
    t.Data() = f.Data();
    for (uint8_t b = 0; b < EMU_SUP_PID_BYTES; ++b) t.supPids[b] = f.supPids[b].load();
    for (const SharedByte& s : SHARED_BYTES) t.*s.byte = (f.*s.byte).load();
  }
  to.table.noOfEntries = from.table.noOfEntries;
  to.table.poolUsed = from.table.poolUsed;
  memcpy(to.table.entry, from.table.entry, from.table.noOfEntries * sizeof from.table.entry[0]);
  memcpy(to.table.pool, from.table.pool, from.table.poolUsed);
  to.maxEcu = from.maxEcu.load();
  to.batteryDeciVolts = from.batteryDeciVolts.load();
  to.dataJitterIsEnabled = from.dataJitterIsEnabled.load();
  to.dataJitter = from.dataJitter.load();
  to.noOfCmdLineDtcs = from.noOfCmdLineDtcs;
  to.trace.noOfPoints = from.trace.noOfPoints;
  to.trace.loop = from.trace.loop;
  to.trace.durationMs = from.trace.durationMs;
  to.trace.startedMs = from.trace.startedMs;
  memcpy(to.trace.path, from.trace.path, sizeof to.trace.path);
  memcpy(to.trace.points, from.trace.points, from.trace.noOfPoints * sizeof from.trace.points[0]);
  to.faults = from.faults;
}

void emu_VehicleSetProtocol(uint8_t protocol) {
  if (protocol <= EMU_PROTOCOL_LAST) vehicleProtocol = protocol;
}

void emu_VehicleSelectEcu(uint8_t ecuIdx, bool alone) {
  selectedEcu = ecuIdx;
  selectedAlone = alone ? 1 : 0;
}

uint8_t emu_VehicleSelectedEcu() { return selectedEcu.load() % EMU_MAX_ECUS; }

bool emu_VehicleTesterOnCan() {
  bool (*onCan)() = emu_vehicleTesterOnCan.load();
  return onCan != nullptr && onCan();
}

void emu_VehicleSetNoOfEcus(uint8_t n) {
  if (n >= 1 && n <= EMU_MAX_ECUS) vehicle.maxEcu = n;
}

void emu_VehicleSetMilState(uint8_t on) {
  EmuEcu& ecu = emu_SelectedEcu();
  ecu.milState = on;
  if (on == 0) return;
  // A lit MIL needs a confirmed code to have lit it.
  if (ecu.noOfDtcs == 0) ecu.noOfDtcs = 1;
  ecu.dtcsCleared = 0;
}

void emu_VehicleSetNoOfDtcs(uint8_t n) { emu_SetNoOfDtcsOf(emu_SelectedEcu(), n); }

void emu_VehicleSetNoOfPendingDtcs(uint8_t n) {
  EmuEcu& ecu = emu_SelectedEcu();
  n = emu_AtMost16(n);
  ecu.noOfPendingDtcs = n;
  if (n > 0) {
    ecu.dtcsCleared = 0;
  } else if (ecu.noOfDtcs == 0) {
    ecu.dtcsCleared = 1;
  }
}

void emu_VehicleSetNoOfPermanentDtcs(uint8_t n) { emu_SelectedEcu().noOfPermanentDtcs = emu_AtMost16(n); }

// Called while the command line is read, before the module thread runs.
void emu_VehicleSetConfirmedDtc(uint16_t dtc) {
  const uint8_t k = vehicle.noOfCmdLineDtcs;
  if (k >= EMU_MAX_CONFIRMED_DTCS) return;
  vehicle.ecu[0].confirmedDtc[k] = dtc;
  vehicle.noOfCmdLineDtcs = static_cast<uint8_t>(k + 1);
  emu_SetNoOfDtcsOf(vehicle.ecu[0], static_cast<uint8_t>(k + 1));
}

uint8_t emu_VehicleGetNoOfConfirmedDtcs() { return vehicle.noOfCmdLineDtcs; }

uint16_t emu_VehicleGetConfirmedDtc(uint8_t index) {
  return index < vehicle.noOfCmdLineDtcs ? vehicle.ecu[0].confirmedDtc[index] : 0;
}

// One bank of four oxygen sensors (PIDs 14-17) or two banks (14-1B), located by PID 13.
void emu_VehicleSetNoOfPid13CylinderBanks(uint8_t banks) {
  if (banks != 1 && banks != 2) return;
  for (EmuEcu& ecu : vehicle.ecu) {
    ecu.dataPid13or1D = banks == 1 ? 0x0F : 0xFF;
    emu_MarkPid(ecu, 0x1D, false);
    for (uint8_t pid = 0x13; pid <= 0x1B; ++pid) emu_MarkPid(ecu, pid, banks == 2 || pid <= 0x17);
  }
}

// One to four banks of two oxygen sensors, located by PID 1D: sensors 14, 15 (bank 1) up to
// 14-1B (banks 1 to 4).
void emu_VehicleSetNoOfPid1DCylinderBanks(uint8_t banks) {
  if (banks < 1 || banks > 4) return;
  constexpr uint8_t LOCATIONS[4] = {0x03, 0x0F, 0x3F, 0xFF};
  const uint8_t lastSensorPid = static_cast<uint8_t>(0x13 + 2 * banks);
  for (EmuEcu& ecu : vehicle.ecu) {
    ecu.dataPid13or1D = LOCATIONS[banks - 1];
    emu_MarkPid(ecu, 0x1D, true);
    emu_MarkPid(ecu, 0x13, false);
    for (uint8_t pid = 0x14; pid <= 0x1B; ++pid) emu_MarkPid(ecu, pid, pid <= lastSensorPid);
  }
}

void emu_VehicleSetObdNegRespCode(uint8_t code) {
  if (code != 0 && !emu_NegativeCodeKnown(code)) return;
  if (selectedAlone != 0) {
    emu_ToggleNegRespCode(emu_SelectedEcu(), code);
    return;
  }
  const uint8_t n = vehicle.maxEcu;
  for (uint8_t i = 0; i < n && i < EMU_MAX_ECUS; ++i) emu_ToggleNegRespCode(vehicle.ecu[i], code);
}

void emu_VehicleToggleDataJitter() {
  const uint8_t wasOn = vehicle.dataJitterIsEnabled.fetch_xor(1);
  if (wasOn != 0) vehicle.dataJitter = 0;  // the next switch-on counts from 0 again
}
