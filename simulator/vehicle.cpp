// The simulated vehicle's state, the operator's setters and the answer data of one ECU. The
// tables start as in vehicle_tables.cpp; only the setters and the clearing of codes change them.
// Values never move by themselves: the optional data jitter stands in for live sensors.
#include "simulator/vehicle.h"

#include <math.h>
#include <pthread.h>
#include <string.h>
#include <time.h>

#include <algorithm>

#include "simulator/module.h"

EmuVehicle vehicle;

namespace {

pthread_mutex_t vehicleMutex = PTHREAD_MUTEX_INITIALIZER;

// The ECUs' addresses off CAN, in this order: the second ECU has address 18.
constexpr uint8_t DEFAULT_ADDRESS[EMU_MAX_ECUS] = {0x10, 0x18, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16};

// The vehicle is loaded before main() runs, so the command line finds it ready for its codes.
[[maybe_unused]] const bool vehicleLoaded = (emu_QimInitVehicle(), true);

uint8_t emu_AtMost16(uint8_t n) { return n > EMU_MAX_DTCS ? EMU_MAX_DTCS : n; }

EmuEcu& emu_SelectedEcu() { return vehicle.ecu[emu_GetEcuIdx(ecuFilter)]; }

// Bit of PID n (1..255) in a supported-PID map: byte (n-1)/8, bit 7-((n-1) mod 8).
uint8_t emu_PidByte(uint8_t pid) { return static_cast<uint8_t>((pid - 1) / 8); }
uint8_t emu_PidMask(uint8_t pid) { return static_cast<uint8_t>(0x80 >> ((pid - 1) % 8)); }

bool emu_PidMarked(const std::atomic<uint8_t>* map, uint8_t pid) {
  return pid != 0 && (map[emu_PidByte(pid)] & emu_PidMask(pid)) != 0;
}
bool emu_PidMarked(const uint8_t* map, uint8_t pid) {
  return pid != 0 && (map[emu_PidByte(pid)] & emu_PidMask(pid)) != 0;
}

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

// The two decimal digits of a negative response code, as the byte that shows them in hex.
uint8_t emu_NegRespByte(uint8_t code) { return static_cast<uint8_t>((code / 10) << 4 | code % 10); }

uint32_t emu_NextJitter() { return vehicle.dataJitter.fetch_add(1); }

// ---------------------------------------------------------------------------------------------
// Services 01 and 02

void emu_PutServiceAndPid(uint8_t service, uint8_t pid, uint8_t frame, EmuEcuAnswer* out) {
  out->Put(static_cast<uint8_t>(0x40 | service));
  out->Put(pid);
  if (service == 0x02) out->Put(frame);
}

// Four bytes of the map for PID 20·k: only when the map chains up to it (every lower group's
// last PID, 20, 40, ..., is marked), else zeros.
void emu_PutSupportMap(const uint8_t* map, uint8_t pid, EmuEcuAnswer* out) {
  const uint8_t group = pid / 0x20;
  bool chained = true;
  for (uint8_t lower = 0; lower < group; ++lower) chained = chained && (map[4 * lower + 3] & 0x01) != 0;
  for (uint8_t i = 0; i < 4; ++i) out->Put(chained ? map[4 * group + i] : 0);
}

// Service 01 values with jitter on: the running counter instead of the stored bytes, its low
// byte, its low 16 bits or all 32 bits, most significant first.
uint8_t emu_Value1(uint8_t value, bool jitter) {
  return jitter ? static_cast<uint8_t>(emu_NextJitter()) : value;
}

void emu_Value2(const uint8_t* value, bool jitter, uint8_t* out) {
  const uint32_t v = jitter ? emu_NextJitter() : 0;
  out[0] = jitter ? static_cast<uint8_t>(v >> 8) : value[0];
  out[1] = jitter ? static_cast<uint8_t>(v) : value[1];
}

void emu_Value4(const uint8_t* value, bool jitter, uint8_t* out) {
  const uint32_t v = jitter ? emu_NextJitter() : 0;
  for (uint8_t i = 0; i < 4; ++i) out[i] = jitter ? static_cast<uint8_t>(v >> (24 - 8 * i)) : value[i];
}

// PID 70 spans several lines: on CAN one message that the framing cuts, on the other protocols
// five data bytes a line for service 01 and four (with the frame number) for service 02.
void emu_PutPid70(uint8_t service, uint8_t frame, const EmuEcu& ecu, bool jitter, bool can,
                  EmuEcuAnswer* out) {
  uint8_t data[EMU_PID70_BYTES];
  data[0] = ecu.dataPid70[0];  // support bits: never jittered
  for (uint8_t i = 1; i < EMU_PID70_BYTES; ++i) {
    data[i] = jitter ? static_cast<uint8_t>(emu_NextJitter()) : ecu.dataPid70[i];
  }
  const uint8_t perLine = can ? EMU_PID70_BYTES : (service == 0x02 ? 4 : 5);
  for (uint8_t i = 0; i < EMU_PID70_BYTES; ++i) {
    if (i % perLine == 0) {
      out->NewLine();
      emu_PutServiceAndPid(service, 0x70, frame, out);
    }
    out->Put(data[i]);
  }
}

// PIDs 06-09 and 55-58 cover banks 1 and 3 (or 2 and 4) together only when the oxygen sensors are
// located by PID 1D with sensors in bank 3 or 4; the first ECU that locates them by PID 13 ends
// the search. Reads only single bytes stored atomically.
bool emu_MoreThan2Banks() {
  for (const EmuEcu& ecu : vehicle.ecu) {
    if (emu_PidMarked(ecu.supPids, 0x13)) return false;
    if (emu_PidMarked(ecu.supPids, 0x1D) && (ecu.dataPid13or1D & 0xF0) != 0) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Values of their own, and values that move

bool emu_HasOwnValue(const EmuEcu& ecu, uint8_t pid) { return (ecu.pidValueSet[pid >> 3] & (1u << (pid & 7))) != 0; }

// The data bytes of a one-, two- or four-byte PID: what moves (service 01), else the PID's own
// value, else the value its class shares.
const uint8_t* emu_PidBytes(uint8_t service, uint8_t pid, uint8_t ecuIdx, const uint8_t* shared, uint8_t bytes,
                            uint8_t* scratch) {
  const EmuEcu& ecu = vehicle.ecu[ecuIdx];
  if (service == 0x01 && emu_MovingValue(ecuIdx, pid, bytes, scratch)) return scratch;
  if (emu_HasOwnValue(ecu, pid)) return ecu.pidValue[pid];
  return shared;
}

void emu_InitSid0102(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx, bool can,
                     EmuEcuAnswer* out) {
  const EmuEcu& ecu = vehicle.ecu[ecuIdx];
  uint8_t own[4];
  const bool jitter = service == 0x01 && vehicle.dataJitterIsEnabled != 0;
  if (service != 0x02) frame = 0;
  switch (emu_GetPidClass(pid)) {
    case EmuPidClass::SupportMap: {
      uint8_t map[EMU_SUP_PID_BYTES];
      if (service == 0x02) {
        memcpy(map, vehicle.ecu[(frame + ecuIdx) % EMU_MAX_ECUS].supPidsSid02, sizeof map);
      } else {
        for (uint8_t i = 0; i < EMU_SUP_PID_BYTES; ++i) map[i] = ecu.supPids[i];
      }
      out->NewLine();
      emu_PutServiceAndPid(service, pid, frame, out);
      emu_PutSupportMap(map, pid, out);
      return;
    }
    case EmuPidClass::Pid01: {
      const uint8_t a = static_cast<uint8_t>(ecu.noOfDtcs | (ecu.milState != 0 ? 0x80 : 0x00));
      const uint8_t data[4] = {a, ecu.dataPid01[1], ecu.dataPid01[2], ecu.dataPid01[3]};
      emu_InitFrameData4(service, pid, frame, data, out);
      return;
    }
    case EmuPidClass::Pid02: {
      const uint16_t dtc = frame < ecu.noOfDtcs ? ecu.confirmedDtc[frame % EMU_MAX_DTCS] : 0;
      const uint8_t stored[2] = {static_cast<uint8_t>(dtc >> 8), static_cast<uint8_t>(dtc)};
      uint8_t data[2];
      emu_Value2(stored, jitter, data);
      emu_InitFrameData2(service, pid, frame, data, out);
      return;
    }
    case EmuPidClass::Banks:
      if (!emu_MoreThan2Banks()) {
        const uint8_t* value = emu_PidBytes(service, pid, ecuIdx, &ecu.genericData1, 1, own);
        emu_InitFrameData1(service, pid, frame, emu_Value1(value[0], jitter), out);
        return;
      }
      [[fallthrough]];
    case EmuPidClass::Generic2: {
      uint8_t data[2];
      emu_Value2(emu_PidBytes(service, pid, ecuIdx, ecu.genericData2, 2, own), jitter, data);
      emu_InitFrameData2(service, pid, frame, data, out);
      return;
    }
    case EmuPidClass::Generic1: {
      const uint8_t* value = emu_PidBytes(service, pid, ecuIdx, &ecu.genericData1, 1, own);
      emu_InitFrameData1(service, pid, frame, emu_Value1(value[0], jitter), out);
      return;
    }
    case EmuPidClass::Pid13or1D:
      emu_InitFrameData1(service, pid, frame, ecu.dataPid13or1D, out);
      return;
    case EmuPidClass::Generic4: {
      uint8_t data[4];
      emu_Value4(emu_PidBytes(service, pid, ecuIdx, ecu.genericData4, 4, own), jitter, data);
      emu_InitFrameData4(service, pid, frame, data, out);
      return;
    }
    case EmuPidClass::Pid41:
      emu_InitFrameData4(service, pid, frame, ecu.dataPid41, out);
      return;
    case EmuPidClass::Pid4F:
      emu_InitFrameData4(service, pid, frame, ecu.dataPid4F, out);
      return;
    case EmuPidClass::Pid50:
      emu_InitFrameData4(service, pid, frame, ecu.dataPid50, out);
      return;
    case EmuPidClass::Pid70:
      emu_PutPid70(service, frame, ecu, jitter, can, out);
      return;
    case EmuPidClass::None:
      return;
  }
}

// ---------------------------------------------------------------------------------------------
// Trouble codes (services 03, 07, 0A)

// On CAN: answer byte, count, the codes. Otherwise three codes a line, empty slots as 0000, and
// one line of zeros when there are none.
void emu_InitDtcs(uint8_t answer, const uint16_t* list, uint8_t n, bool zeroed, bool can,
                  EmuEcuAnswer* out) {
  n = emu_AtMost16(n);
  if (can) {
    out->NewLine();
    out->Put(answer);
    out->Put(n);
    for (uint8_t i = 0; i < n; ++i) out->Put16(zeroed ? 0 : list[i]);
    return;
  }
  const uint8_t lines = n == 0 ? 1 : static_cast<uint8_t>((n - 1) / 3 + 1);
  for (uint8_t line = 0; line < lines; ++line) {
    out->NewLine();
    out->Put(answer);
    for (uint8_t slot = 0; slot < 3; ++slot) {
      const uint8_t i = static_cast<uint8_t>(3 * line + slot);
      out->Put16(i < n && !zeroed ? list[i] : 0);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Service 09

// Non-CAN lines: "49", the info type, the line number from 1 (low digit only), 4 data bytes.
void emu_PutInfoLine(uint8_t infoType, uint8_t lineNo, const uint8_t* data, EmuEcuAnswer* out) {
  out->NewLine();
  out->Put(0x49);
  out->Put(infoType);
  out->Put(lineNo & 0x0F);
  for (uint8_t i = 0; i < 4; ++i) out->Put(data[i]);
}

// An item of `size` bytes per 4-byte line (non-CAN), or after the count (CAN).
void emu_PutInfoItems(uint8_t infoType, uint8_t count, const uint8_t* items, uint8_t bytes, bool can,
                      EmuEcuAnswer* out) {
  if (can) {
    out->NewLine();
    out->Put(0x49);
    out->Put(infoType);
    out->Put(count);
    for (uint8_t i = 0; i < bytes; ++i) out->Put(items[i]);
    return;
  }
  for (uint8_t at = 0; at < bytes; at = static_cast<uint8_t>(at + 4)) {
    emu_PutInfoLine(infoType, static_cast<uint8_t>(at / 4 + 1), items + at, out);
  }
}

void emu_InitSid09(uint8_t infoType, uint8_t ecuIdx, bool can, EmuEcuAnswer* out) {
  const EmuEcu& ecu = vehicle.ecu[ecuIdx];
  switch (infoType) {
    case 0x00:
      if (can) {
        // Message-count info types (odd ones) do not exist on CAN: they are masked out.
        const uint8_t map[4] = {static_cast<uint8_t>(ecu.supInfoTypes[0] & 0x55),
                                static_cast<uint8_t>(ecu.supInfoTypes[1] & 0x6B), ecu.supInfoTypes[2],
                                ecu.supInfoTypes[3]};
        out->NewLine();
        out->Put(0x49);
        out->Put(0x00);
        for (uint8_t b : map) out->Put(b);
      } else {
        emu_PutInfoLine(0x00, 1, ecu.supInfoTypes, out);
      }
      return;
    case 0x01:
    case 0x03:
    case 0x05:
    case 0x07:
    case 0x09: {
      uint8_t count = 0x01;
      if (!can) {
        switch (infoType) {
          case 0x03: count = static_cast<uint8_t>(4 * ecu.noOfCalIds); break;
          case 0x05: count = ecu.noOfCvns; break;
          case 0x07: count = ecu.noOfIptCounters; break;
          default: count = 0x05; break;  // VIN and ECU name: five lines each
        }
      }
      out->NewLine();
      out->Put(0x49);
      out->Put(infoType);
      out->Put(count);
      return;
    }
    case 0x02:
      if (can) {
        emu_PutInfoItems(0x02, 1, ecu.vin + EMU_VIN_FILL, EMU_VIN_BYTES - EMU_VIN_FILL, true, out);
      } else {
        emu_PutInfoItems(0x02, 1, ecu.vin, EMU_VIN_BYTES, false, out);
      }
      return;
    case 0x04:
      emu_PutInfoItems(0x04, ecu.noOfCalIds, &ecu.calId[0][0],
                       static_cast<uint8_t>(ecu.noOfCalIds * EMU_CAL_ID_CHARS), can, out);
      return;
    case 0x06:
      if (ecu.negRespCode != 0) {
        out->NewLine();
        out->Put(0x7F);
        out->Put(0x09);
        out->Put(emu_NegRespByte(ecu.negRespCode));
        return;
      }
      emu_PutInfoItems(0x06, ecu.noOfCvns, &ecu.cvn[0][0], static_cast<uint8_t>(ecu.noOfCvns * EMU_CVN_BYTES),
                       can, out);
      return;
    case 0x08:
    case 0x0B:
      emu_InitFrameDataSid49InfoTypeIpt(infoType, ecuIdx, can, out);
      return;
    case 0x0A:
      emu_PutInfoItems(0x0A, 1, ecu.ecuName, EMU_ECU_NAME_BYTES, can, out);
      return;
    default:
      return;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// State and setters

void emu_VehicleSetDefaults(EmuVehicle& v) {
  for (uint8_t i = 0; i < EMU_MAX_ECUS; ++i) {
    EmuEcu& ecu = v.ecu[i];
    const EmuEcuDefaults& d = EMU_ECU_DEFAULTS[i];
    for (uint8_t b = 0; b < EMU_SUP_PID_BYTES; ++b) {
      ecu.supPids[b] = b < sizeof d.supPids ? d.supPids[b] : 0;
      ecu.supPidsSid02[b] = b < sizeof d.supPidsSid02 ? d.supPidsSid02[b] : 0;
    }
    ecu.milState = 1;
    ecu.noOfDtcs = 1;
    ecu.noOfPendingDtcs = 1;
    ecu.noOfPermanentDtcs = 1;
    ecu.dtcsCleared = 0;
    ecu.negRespCode = 0;
    ecu.dataPid13or1D = 0xFF;
    memcpy(ecu.confirmedDtc, d.confirmedDtc, sizeof ecu.confirmedDtc);
    memcpy(ecu.pendingDtc, d.pendingDtc, sizeof ecu.pendingDtc);
    memcpy(ecu.permanentDtc, d.pendingDtc, sizeof ecu.permanentDtc);
    memcpy(ecu.dataPid01, d.dataPid01, sizeof ecu.dataPid01);
    memcpy(ecu.dataPid41, d.dataPid01, sizeof ecu.dataPid41);
    memcpy(ecu.dataPid4F, d.dataPid4F, sizeof ecu.dataPid4F);
    memcpy(ecu.dataPid50, d.dataPid50, sizeof ecu.dataPid50);
    memcpy(ecu.dataPid70, d.dataPid70, sizeof ecu.dataPid70);
    ecu.genericData1 = d.genericData1;
    memcpy(ecu.genericData2, d.genericData2, sizeof ecu.genericData2);
    memcpy(ecu.genericData4, d.genericData4, sizeof ecu.genericData4);
    memcpy(ecu.supInfoTypes, d.supInfoTypes, sizeof ecu.supInfoTypes);
    memset(ecu.vin, 0, EMU_VIN_FILL);
    memcpy(ecu.vin + EMU_VIN_FILL, d.vin, EMU_VIN_BYTES - EMU_VIN_FILL);
    ecu.noOfCalIds = d.noOfCalIds;
    for (uint8_t c = 0; c < EMU_MAX_CAL_IDS; ++c) {
      memcpy(ecu.calId[c], d.calId[c], EMU_CAL_ID_CHARS);  // shorter ids end in zero bytes
    }
    ecu.noOfCvns = d.noOfCvns;
    memcpy(ecu.cvn, d.cvn, sizeof ecu.cvn);
    ecu.noOfIptCounters = d.noOfIptCounters;
    memcpy(ecu.iptCounter, d.iptCounter, sizeof ecu.iptCounter);
    memcpy(ecu.ecuName, d.ecuName, EMU_ECU_NAME_BYTES);
    ecu.iptJitter = 0;
    memset(ecu.pidValue, 0, sizeof ecu.pidValue);
    ecu.address = DEFAULT_ADDRESS[i];
    ecu.canAddress = static_cast<uint8_t>(0xE8 + i);
    memset(ecu.pidValueSet, 0, sizeof ecu.pidValueSet);
    ecu.noOfMotions = 0;
    emu_SetDefaultTestResults(ecu, i);
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
}

void emu_QimInitVehicle() {
  emu_VehicleLock();
  emu_VehicleSetDefaults(vehicle);
  emu_VehicleUnlock();
}

namespace {

template <typename T, size_t N>
void emu_CopyAtomics(std::atomic<T> (&to)[N], const std::atomic<T> (&from)[N]) {
  for (size_t i = 0; i < N; ++i) to[i] = from[i].load();
}

}  // namespace

void emu_VehicleAssign(EmuVehicle& to, const EmuVehicle& from) {
  if (&to == &from) return;
  for (uint8_t i = 0; i < EMU_MAX_ECUS; ++i) {
    EmuEcu& t = to.ecu[i];
    const EmuEcu& f = from.ecu[i];
    emu_CopyAtomics(t.supPids, f.supPids);
    memcpy(t.supPidsSid02, f.supPidsSid02, sizeof t.supPidsSid02);
    t.milState = f.milState.load();
    t.noOfDtcs = f.noOfDtcs.load();
    t.noOfPendingDtcs = f.noOfPendingDtcs.load();
    t.noOfPermanentDtcs = f.noOfPermanentDtcs.load();
    t.dtcsCleared = f.dtcsCleared.load();
    t.negRespCode = f.negRespCode.load();
    t.dataPid13or1D = f.dataPid13or1D.load();
    memcpy(t.confirmedDtc, f.confirmedDtc, sizeof t.confirmedDtc);
    memcpy(t.pendingDtc, f.pendingDtc, sizeof t.pendingDtc);
    memcpy(t.permanentDtc, f.permanentDtc, sizeof t.permanentDtc);
    memcpy(t.dataPid01, f.dataPid01, sizeof t.dataPid01);
    memcpy(t.dataPid41, f.dataPid41, sizeof t.dataPid41);
    memcpy(t.dataPid4F, f.dataPid4F, sizeof t.dataPid4F);
    memcpy(t.dataPid50, f.dataPid50, sizeof t.dataPid50);
    memcpy(t.dataPid70, f.dataPid70, sizeof t.dataPid70);
    t.genericData1 = f.genericData1;
    memcpy(t.genericData2, f.genericData2, sizeof t.genericData2);
    memcpy(t.genericData4, f.genericData4, sizeof t.genericData4);
    memcpy(t.supInfoTypes, f.supInfoTypes, sizeof t.supInfoTypes);
    memcpy(t.vin, f.vin, sizeof t.vin);
    t.noOfCalIds = f.noOfCalIds;
    memcpy(t.calId, f.calId, sizeof t.calId);
    t.noOfCvns = f.noOfCvns;
    memcpy(t.cvn, f.cvn, sizeof t.cvn);
    t.noOfIptCounters = f.noOfIptCounters;
    memcpy(t.iptCounter, f.iptCounter, sizeof t.iptCounter);
    memcpy(t.ecuName, f.ecuName, sizeof t.ecuName);
    t.iptJitter = f.iptJitter;
    memcpy(t.pidValue, f.pidValue, sizeof t.pidValue);
    t.address = f.address.load();
    t.canAddress = f.canAddress.load();
    memcpy(t.pidValueSet, f.pidValueSet, sizeof t.pidValueSet);
    t.noOfMotions = f.noOfMotions;
    memcpy(t.motion, f.motion, sizeof t.motion);
    t.noOfTestResults = f.noOfTestResults;
    memcpy(t.testResult, f.testResult, sizeof t.testResult);
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
}



uint8_t emu_GetEcuIdx(uint8_t addr) {
  if (addr == 0) return 0;
  for (uint8_t i = 0; i < EMU_QIM_NO_OF_ECU_ADDR; ++i) {
    if (ecuAddr[i] == addr) return i;
  }
  return 0;
}

void emu_QimSetNoOfEcus(uint8_t n) {
  if (n >= 1 && n <= EMU_MAX_ECUS) vehicle.maxEcu = n;
}

void emu_QimSetMilState(uint8_t on) {
  EmuEcu& ecu = emu_SelectedEcu();
  ecu.milState = on;
  if (on == 0) return;
  // A lit MIL needs a confirmed code to have lit it.
  if (ecu.noOfDtcs == 0) ecu.noOfDtcs = 1;
  ecu.dtcsCleared = 0;
}

void emu_QimSetNoOfDtcs(uint8_t n) { emu_SetNoOfDtcsOf(emu_SelectedEcu(), n); }

void emu_QimSetNoOfPendingDtcs(uint8_t n) {
  EmuEcu& ecu = emu_SelectedEcu();
  n = emu_AtMost16(n);
  ecu.noOfPendingDtcs = n;
  if (n > 0) {
    ecu.dtcsCleared = 0;
  } else if (ecu.noOfDtcs == 0) {
    ecu.dtcsCleared = 1;
  }
}

void emu_QimSetNoOfPermanentDtcs(uint8_t n) { emu_SelectedEcu().noOfPermanentDtcs = emu_AtMost16(n); }

// Called while the command line is read, before the module thread runs.
void emu_QimSetConfirmedDtc(uint16_t dtc) {
  const uint8_t k = vehicle.noOfCmdLineDtcs;
  if (k >= EMU_MAX_CONFIRMED_DTCS) return;
  vehicle.ecu[0].confirmedDtc[k] = dtc;
  vehicle.noOfCmdLineDtcs = static_cast<uint8_t>(k + 1);
  emu_SetNoOfDtcsOf(vehicle.ecu[0], static_cast<uint8_t>(k + 1));
}

uint8_t emu_QimGetNoOfConfirmedDtcs() { return vehicle.noOfCmdLineDtcs; }

uint16_t emu_QimGetConfirmedDtc(uint8_t index) {
  return index < vehicle.noOfCmdLineDtcs ? vehicle.ecu[0].confirmedDtc[index] : 0;
}

// One bank of four oxygen sensors (PIDs 14-17) or two banks (14-1B), located by PID 13.
void emu_QimSetNoOfPid13CylinderBanks(uint8_t banks) {
  if (banks != 1 && banks != 2) return;
  for (EmuEcu& ecu : vehicle.ecu) {
    ecu.dataPid13or1D = banks == 1 ? 0x0F : 0xFF;
    emu_MarkPid(ecu, 0x1D, false);
    for (uint8_t pid = 0x13; pid <= 0x1B; ++pid) emu_MarkPid(ecu, pid, banks == 2 || pid <= 0x17);
  }
}

// One to four banks of two oxygen sensors, located by PID 1D: sensors 14, 15 (bank 1) up to
// 14-1B (banks 1 to 4).
void emu_QimSetNoOfPid1DCylinderBanks(uint8_t banks) {
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

void emu_QimSetObdNegRespCode(uint8_t code) {
  bool known = code == 0;
  for (uint8_t c : EMU_NEG_RESP_CODES) known = known || c == code;
  if (!known) return;
  if (ecuFilter != 0) {
    emu_ToggleNegRespCode(emu_SelectedEcu(), code);
    return;
  }
  const uint8_t n = vehicle.maxEcu;
  for (uint8_t i = 0; i < n && i < EMU_MAX_ECUS; ++i) emu_ToggleNegRespCode(vehicle.ecu[i], code);
}

void emu_QimToggleDataJitterEnabledState() {
  const uint8_t wasOn = vehicle.dataJitterIsEnabled.fetch_xor(1);
  if (wasOn != 0) vehicle.dataJitter = 0;  // the next switch-on counts from 0 again
}

// ---------------------------------------------------------------------------------------------
// Queries

bool emu_VehicleSupportsPid(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx) {
  if (pid == 0x00) return true;
  if (service != 0x02) return emu_PidMarked(vehicle.ecu[ecuIdx].supPids, pid);
  emu_VehicleLock();
  const bool marked = emu_PidMarked(vehicle.ecu[(frame + ecuIdx) % EMU_MAX_ECUS].supPidsSid02, pid);
  emu_VehicleUnlock();
  return marked;
}

bool emu_VehicleSupportsInfoType(uint8_t infoType, uint8_t ecuIdx) {
  emu_VehicleLock();
  const uint8_t* map = vehicle.ecu[ecuIdx].supInfoTypes;
  const bool supported = infoType == 0x00 ? (map[0] | map[1] | map[2] | map[3]) != 0
                                          : infoType <= 0x20 && emu_PidMarked(map, infoType);
  emu_VehicleUnlock();
  return supported;
}

bool emu_VehicleHasMoreThan2Banks() { return emu_MoreThan2Banks(); }

void emu_VehicleClearCodes(uint8_t ecuIdx, bool can) {
  emu_VehicleLock();
  EmuEcu& ecu = vehicle.ecu[ecuIdx];
  ecu.milState = 0;
  if (can) {
    // On CAN the codes that were confirmed stay visible as permanent codes.
    const uint8_t n = emu_AtMost16(ecu.noOfDtcs);
    memcpy(ecu.permanentDtc, ecu.confirmedDtc, n * sizeof ecu.permanentDtc[0]);
    ecu.noOfPermanentDtcs = n;
  }
  ecu.noOfDtcs = 0;
  ecu.noOfPendingDtcs = 0;
  ecu.dtcsCleared = 1;
  emu_VehicleUnlock();
}

void emu_VehicleLock() { pthread_mutex_lock(&vehicleMutex); }
void emu_VehicleUnlock() { pthread_mutex_unlock(&vehicleMutex); }

// ---------------------------------------------------------------------------------------------
// Answer data

void EmuEcuAnswer::NewLine() {
  if (noOfLines >= EMU_ANSWER_MAX_LINES) return;  // further bytes join the last line
  lineEnd[noOfLines++] = length;
}

void EmuEcuAnswer::Put(uint8_t byte) {
  if (noOfLines == 0) NewLine();
  if (length >= EMU_ANSWER_MAX_BYTES) return;
  data[length++] = byte;
  lineEnd[noOfLines - 1] = length;
}

namespace {
void emu_InitFrameDataLocked(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx, bool can,
                             EmuEcuAnswer* out);
}  // namespace

// The caller need not hold the vehicle's lock: the tables are read with it held.
void emu_InitFrameData(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx, bool can,
                       EmuEcuAnswer* out) {
  out->Clear();
  if (ecuIdx >= EMU_MAX_ECUS) return;
  emu_VehicleLock();
  emu_InitFrameDataLocked(service, pid, frame, ecuIdx, can, out);
  emu_VehicleUnlock();
}

namespace {

void emu_InitFrameDataLocked(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx, bool can,
                             EmuEcuAnswer* out) {
  const EmuEcu& ecu = vehicle.ecu[ecuIdx];
  switch (service) {
    case 0x01:
    case 0x02:
      emu_InitSid0102(service, pid, frame, ecuIdx, can, out);
      return;
    case 0x03:
      emu_InitDtcs(0x43, ecu.confirmedDtc, ecu.noOfDtcs, false, can, out);
      return;
    case 0x07:
      emu_InitDtcs(0x47, ecu.pendingDtc, ecu.noOfPendingDtcs, ecu.dtcsCleared != 0, can, out);
      return;
    case 0x0A:
      emu_InitDtcs(0x4A, ecu.permanentDtc, ecu.noOfPermanentDtcs, false, can, out);
      return;
    case 0x04:
      out->NewLine();
      if (ecu.negRespCode != 0) {
        out->Put(0x7F);
        out->Put(0x04);
        out->Put(emu_NegRespByte(ecu.negRespCode));
      } else {
        out->Put(0x44);
      }
      return;
    case 0x06:
      emu_InitFrameDataSid06(pid, ecuIdx, can, out);
      return;
    case 0x09:
      emu_InitSid09(pid, ecuIdx, can, out);
      return;
    default:
      return;
  }
}

}  // namespace

void emu_InitFrameData1(uint8_t service, uint8_t pid, uint8_t frame, uint8_t value, EmuEcuAnswer* out) {
  out->NewLine();
  emu_PutServiceAndPid(service, pid, frame, out);
  out->Put(value);
}

void emu_InitFrameData2(uint8_t service, uint8_t pid, uint8_t frame, const uint8_t* data,
                        EmuEcuAnswer* out) {
  out->NewLine();
  emu_PutServiceAndPid(service, pid, frame, out);
  out->Put(data[0]);
  out->Put(data[1]);
}

void emu_InitFrameData4(uint8_t service, uint8_t pid, uint8_t frame, const uint8_t* data,
                        EmuEcuAnswer* out) {
  out->NewLine();
  emu_PutServiceAndPid(service, pid, frame, out);
  for (uint8_t i = 0; i < 4; ++i) out->Put(data[i]);
}

// The ECU's jitter counter moves once per request while jitter is on, and is always added to the
// first counter of the answer (CAN) or of each line (other protocols).
void emu_InitFrameDataSid49InfoTypeIpt(uint8_t infoType, uint8_t ecuIdx, bool can, EmuEcuAnswer* out) {
  EmuEcu& ecu = vehicle.ecu[ecuIdx];
  if (vehicle.dataJitterIsEnabled != 0) ++ecu.iptJitter;
  const uint8_t n = ecu.noOfIptCounters <= EMU_MAX_IPT_COUNTERS ? ecu.noOfIptCounters : EMU_MAX_IPT_COUNTERS;
  auto counter = [&](uint8_t i, bool first) -> uint16_t {
    if (i >= n) return 0;
    return static_cast<uint16_t>(ecu.iptCounter[i] + (first ? ecu.iptJitter : 0));
  };
  if (can) {
    out->NewLine();
    out->Put(0x49);
    out->Put(infoType);
    out->Put(n);
    for (uint8_t i = 0; i < n; ++i) out->Put16(counter(i, i == 0));
    return;
  }
  for (uint8_t line = 0; 2 * line < n; ++line) {
    out->NewLine();
    out->Put(0x49);
    out->Put(infoType);
    out->Put(static_cast<uint8_t>((line + 1) & 0x0F));
    out->Put16(counter(static_cast<uint8_t>(2 * line), true));
    out->Put16(counter(static_cast<uint8_t>(2 * line + 1), false));
  }
}
