// The queries for the answering and the answer data of one ECU, from the simulated vehicle's
// tables (vehicle_state.cpp holds them and their lock). The tables start as in
// vehicle_tables.cpp; only the setters (vehicle_setters.cpp) and the clearing of codes change
// them. Service 01 values move when a vehicle file gives them a waveform or a trace
// (vehicle_motion.cpp), or with the optional data jitter.
#include "vehicle/vehicle.h"

#include <string.h>

#include "bus/negative_codes.h"

namespace {

bool emu_PidMarked(const std::atomic<uint8_t>* map, uint8_t pid) {
  return pid != 0 && (map[emu_PidByte(pid)] & emu_PidMask(pid)) != 0;
}
bool emu_PidMarked(const uint8_t* map, uint8_t pid) {
  return pid != 0 && (map[emu_PidByte(pid)] & emu_PidMask(pid)) != 0;
}

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

}  // namespace

bool emu_VehicleSentBytes(uint8_t ecuIdx, uint8_t pid, uint8_t bytes, uint8_t* out, bool* moves) {
  const EmuEcu& ecu = vehicle.ecu[ecuIdx % EMU_MAX_ECUS];
  const uint8_t* shared = nullptr;
  switch (emu_GetPidClass(pid)) {
    case EmuPidClass::Generic1: shared = &ecu.genericData1; break;
    case EmuPidClass::Banks:    shared = emu_MoreThan2Banks() ? ecu.genericData2 : &ecu.genericData1; break;
    case EmuPidClass::Generic2: shared = ecu.genericData2; break;
    case EmuPidClass::Generic4: shared = ecu.genericData4; break;
    default: return false;
  }
  if (bytes == 0 || bytes > 4) return false;
  *moves = emu_MovingValueSeen(ecuIdx, pid, bytes, out);
  if (*moves) return true;
  memset(out, 0, bytes);
  memcpy(out, emu_HasOwnValue(ecu, pid) ? ecu.pidValue[pid] : shared, bytes);
  return true;
}

namespace {

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
        out->Put(EMU_NEGATIVE_RESPONSE);
        out->Put(0x09);
        out->Put(emu_NegativeCodeByte(ecu.negRespCode));
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
  emu_VehicleClearCodesHeld(ecuIdx, can);
  emu_VehicleUnlock();
}

void emu_VehicleClearCodesHeld(uint8_t ecuIdx, bool can) {
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
}


// ---------------------------------------------------------------------------------------------
// Answer data

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

void emu_InitFrameDataHeld(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx, bool can,
                           EmuEcuAnswer* out) {
  out->Clear();
  if (ecuIdx < EMU_MAX_ECUS) emu_InitFrameDataLocked(service, pid, frame, ecuIdx, can, out);
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
        out->Put(EMU_NEGATIVE_RESPONSE);
        out->Put(0x04);
        out->Put(emu_NegativeCodeByte(ecu.negRespCode));
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
