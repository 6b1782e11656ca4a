// PID catalogue: support bitmaps and per-ECU configuration from services 01/02, the item sets
// of the active service, and the scaling of one data item into a value text and unit number.
// The tables themselves are in pid_tables.cpp.
#include "obd/pids.h"

#include <string.h>


ObdPidState obdPid;

namespace {

constexpr uint8_t SID01 = 1;
constexpr uint8_t SID02 = 2;
constexpr uint8_t POSITIVE_RESPONSE = 0x40;

void ResetPidState() {
  memset(&obdPid, 0, sizeof(obdPid));
  obdPid.obd_activeSid = SID01;
  memset(obdPid.obd_o2SensorLocPidData, 0xFF, sizeof(obdPid.obd_o2SensorLocPidData));
}

uint8_t ActiveEcu() { return OBD_GetActiveEcuIdx(); }

uint8_t* ActiveItemSet() {
  return obdPid.obd_activeSid == SID02 ? obdPid.obd_supDataItemsSid02
                                       : obdPid.obd_supDataItemsSid01;
}

uint8_t BitmapBit(const uint8_t* bitmap, uint8_t number) {
  return (bitmap[(number - 1) / 8] >> (7 - (number - 1) % 8)) & 1;
}

void CopyDataTxt(char* txt, uint8_t id) { strcpy(txt, obdPidDataTxt[id]); }

uint16_t Word(const uint8_t* data, uint8_t pos) {
  return static_cast<uint16_t>((data[pos] << 8) | data[pos + 1]);
}

// The byte of a two-item PID that belongs to item 1 (A) or item 2 (B).
uint8_t ItemByte(const uint8_t* data, uint8_t item) { return data[item > 1 ? item - 1 : 0]; }

// Fuel trims of banks 3 and 4 exist only on engines with four banks. The first ECU that
// reports a sensor layout decides; a PID 0x13 layout has room for two banks only.
uint8_t VehicleHasFourBanks() {
  for (uint8_t ecu = 0; ecu < OBD_MAX_ECUS; ++ecu) {
    if (obdPid.obd_o2SensorLocPid[ecu] == 0x13) return 0;
    if (obdPid.obd_o2SensorLocPid[ecu] == 0x1D && (obdPid.obd_o2SensorLocPidData[ecu] & 0xF0))
      return 1;
  }
  return 0;
}

bool IsTwoBankTrimPid(uint8_t pid) {
  return (pid >= 0x06 && pid <= 0x09) || (pid >= 0x55 && pid <= 0x58);
}

uint8_t DecodeByIdx(uint8_t sid, const uint8_t* resp, uint8_t len, uint8_t item, char* txt,
                    uint8_t* unit) {
  if (resp == nullptr || item >= OBD_NUM_DATA_ITEMS) return 0;
  const OBD_DATA_ITEM& d = obd_dataItem[item];
  const uint8_t header = sid == SID02 ? 3 : 2;  // service, PID (, frame number)
  if (len < header || resp[0] != POSITIVE_RESPONSE + sid || resp[1] != d.pid) return 0;
  if (sid == SID02 && resp[2] != obdPid.obd_activeFrameNo) return 0;
  if (len - header < d.dataLen) return 0;
  const uint8_t u = d.scalingFct(txt, resp + header, d.item);
  if (unit != nullptr) *unit = u;
  return 1;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// State

void OBD_InitState() { ResetPidState(); }

void OBD_InitPids() {
  ResetPidState();
  OBD_ResetSid02SupPids();
}

void OBD_SetMonitorStatusSinceDtcsCleared(const uint8_t* data, uint8_t ecuIdx) {
  if (ecuIdx < OBD_MAX_ECUS) memcpy(obdPid.obd_monitorStatusSinceDtcsClrd[ecuIdx], data, 4);
}

void OBD_SetMonitorStatusCurrentCycle(const uint8_t* data, uint8_t ecuIdx) {
  if (ecuIdx < OBD_MAX_ECUS) memcpy(obdPid.obd_monitorStatusCurrentCycle[ecuIdx], data, 4);
}

void OBD_SetActiveSid(uint8_t sid) {
  if (sid == SID01 || sid == SID02) obdPid.obd_activeSid = sid;
}

uint8_t OBD_GetActiveSid() { return obdPid.obd_activeSid; }

void OBD_ResetSid02SupPids() {
  memset(obdPid.obd_supPidsSid02, 0, sizeof(obdPid.obd_supPidsSid02));
}

void OBD_SetActiveFrameNo(uint8_t frameNo) { obdPid.obd_activeFrameNo = frameNo; }

uint16_t OBD_GetFreezeFrameDtc() { return obdPid.obd_dtc; }

// ---------------------------------------------------------------------------------------------
// Supported PIDs and data items

uint8_t OBD_PidIsSupported(uint8_t pid) {
  if (pid == 0) return 1;
  if (obdPid.obd_activeSid == SID01) return BitmapBit(obdPid.obd_supPids[ActiveEcu()], pid);
  if (obdPid.obd_activeSid == SID02) return BitmapBit(obdPid.obd_supPidsSid02, pid);
  return 0;
}

uint8_t OBD_Sid01PidIsSupportedByEcu(uint8_t ecuIdx, uint8_t pid) {
  if (pid == 0) return 1;
  if (ecuIdx >= OBD_MAX_ECUS) return 0;
  return BitmapBit(obdPid.obd_supPids[ecuIdx], pid);
}

uint8_t OBD_GetSupportedPids(uint8_t byteIdx) {
  if (byteIdx >= OBD_SUP_PID_BYTES) return 0;
  if (obdPid.obd_activeSid == SID02) return obdPid.obd_supPidsSid02[byteIdx];
  return obdPid.obd_supPids[ActiveEcu()][byteIdx];
}

uint8_t OBD_DataItemIsSupported(uint8_t item) {
  if (item >= OBD_NUM_DATA_ITEMS) return 0;
  const OBD_DATA_ITEM& d = obd_dataItem[item];
  if (!OBD_PidIsSupported(d.pid)) return 0;
  if (d.item == 2 && IsTwoBankTrimPid(d.pid)) return VehicleHasFourBanks();
  return 1;
}

uint8_t OBD_GetNumDataItems() {
  uint8_t n = 0;
  for (uint8_t i = 0; i < OBD_NUM_DATA_ITEMS; ++i) n += OBD_DataItemIsSupported(i);
  return n;
}

void OBD_InitSupDataItems() {
  uint8_t* set = ActiveItemSet();
  memset(set, 0, OBD_SUP_ITEM_BYTES);
  for (uint8_t i = 0; i < OBD_NUM_DATA_ITEMS; ++i) {
    if (OBD_DataItemIsSupported(i)) set[i >> 3] |= static_cast<uint8_t>(1 << (i & 7));
  }
}

uint8_t OBD_GetNextDataItem(uint8_t start, uint8_t n) {
  const uint8_t* set = ActiveItemSet();
  uint8_t found = start;
  uint8_t count = 0;
  for (uint8_t i = start; i < OBD_NUM_DATA_ITEMS; ++i) {
    if (((set[i >> 3] >> (i & 7)) & 1) == 0) continue;
    found = i;
    if (count++ == n) break;
  }
  return found;
}

uint8_t OBD_GetPidTxtId(uint8_t item) {
  if (item >= OBD_NUM_DATA_ITEMS) return 0;
  const OBD_DATA_ITEM& d = obd_dataItem[item];
  if (obdPid.obd_o2SensorLocPid[ActiveEcu()] == 0x1D && OBD_PidHasO2Layout(d.pid))
    return static_cast<uint8_t>(d.txtId + 2);
  return d.txtId;
}

// ---------------------------------------------------------------------------------------------
// Decoding answers

uint8_t OBD_DecodeSid01RespDataByPid(const uint8_t* resp, uint8_t len, uint8_t pid) {
  const uint8_t sid = obdPid.obd_activeSid;
  if (resp == nullptr || len < 2 || resp[0] != POSITIVE_RESPONSE + sid || resp[1] != pid) return 0;
  uint8_t start = 2;
  if (sid == SID02) {
    if (len < 3 || resp[2] != obdPid.obd_activeFrameNo) return 0;
    start = 3;
  }
  const uint8_t* d = resp + start;
  const uint8_t n = static_cast<uint8_t>(len - start);
  const uint8_t ecu = ActiveEcu();

  if ((pid & 0x1F) == 0) {  // supported PIDs 0x01..0x20 after 0x00, and so on
    if (n < 4) return 0;
    uint8_t* bitmap = sid == SID02 ? obdPid.obd_supPidsSid02 : obdPid.obd_supPids[ecu];
    memcpy(bitmap + pid / 8, d, 4);
    return 1;
  }
  switch (pid) {
    case 0x01:
      if (n < 4) return 0;
      OBD_SetMonitorStatusSinceDtcsCleared(d, ecu);
      return 1;
    case 0x41:
      if (n < 4) return 0;
      OBD_SetMonitorStatusCurrentCycle(d, ecu);
      return 1;
    case 0x02:
      if (n < 2) return 0;
      obdPid.obd_dtc = Word(d, 0);
      return 1;
    case 0x13:
    case 0x1D:
      if (n < 1) return 0;
      obdPid.obd_o2SensorLocPid[ecu] = pid;
      obdPid.obd_o2SensorLocPidData[ecu] = d[0];
      return 1;
    case 0x4F:
      if (n < 4) return 0;
      obdPid.obd_scalingLambdaPidData[ecu] = d[0];
      obdPid.obd_scalingVoltagePidData[ecu] = d[1];
      obdPid.obd_scalingCurrentPidData[ecu] = d[2];
      obdPid.obd_scalingMapPidData[ecu] = d[3];
      return 1;
    case 0x50:
      if (n < 1) return 0;
      obdPid.obd_scalingMafPidData[ecu] = d[0];
      return 1;
    default:
      return 0;
  }
}

uint8_t OBD_DecodeSid01RespDataByIdx(const uint8_t* resp, uint8_t len, uint8_t item, char* txt,
                                     uint8_t* unit) {
  return DecodeByIdx(SID01, resp, len, item, txt, unit);
}

uint8_t OBD_DecodeSid02RespDataByIdx(const uint8_t* resp, uint8_t len, uint8_t item, char* txt,
                                     uint8_t* unit) {
  return DecodeByIdx(SID02, resp, len, item, txt, unit);
}

// ---------------------------------------------------------------------------------------------
// Oxygen sensor locations

void OBD_DecodePidScalingO2SensorLoc(char* txt, uint8_t data, uint8_t bit) {
  const uint8_t loc = obdPid.obd_o2SensorLocPid[ActiveEcu()];
  // The location byte has eight sensors; a bit beyond them is no sensor.
  if (bit >= 8 || ((data >> bit) & 1) == 0 || (loc != 0x13 && loc != 0x1D)) {
    CopyDataTxt(txt, OBD_DTXT_DASH);
    return;
  }
  CopyDataTxt(txt, static_cast<uint8_t>((loc == 0x13 ? OBD_DTXT_O2S_LOC13 : OBD_DTXT_O2S_LOC1D) +
                                        bit));
}

uint8_t OBD_GetO2SensorLocPid() { return obdPid.obd_o2SensorLocPid[ActiveEcu()]; }

uint8_t OBD_GetO2SensorLocData() { return obdPid.obd_o2SensorLocPidData[ActiveEcu()]; }

// ---------------------------------------------------------------------------------------------
// Number formatting: (raw - offset) * multiplier / divisor, rounded half up at the last shown
// decimal. The fraction's product is taken in 64 bits so that six decimals with a 16-bit
// divisor cannot overflow.

void OBD_CalcDispVal(char* txt, uint16_t raw, uint16_t offset, uint16_t multiplier,
                     uint16_t divisor, uint8_t decimals) {
  if (decimals > 6) return;
  char* p = txt;
  uint32_t v;
  if (raw < offset) {
    *p++ = '-';
    v = static_cast<uint32_t>(offset - raw);
  } else {
    v = static_cast<uint32_t>(raw - offset);
  }
  uint32_t frac = 0;
  if (multiplier != divisor) {
    if (multiplier >= 2) v *= multiplier;  // at most 65535 * 65535: fits
    if (divisor >= 2) {
      uint32_t pow = 10;  // 10 to the power decimals + 1
      for (uint8_t i = 0; i < decimals; ++i) pow *= 10;
      const uint32_t f =
          static_cast<uint32_t>(static_cast<uint64_t>(pow) * (v % divisor) / divisor) + 5;
      v /= divisor;
      if (f >= pow) ++v;
      frac = f / 10;
    }
  }
  char digits[10];
  uint8_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n != 0) *p++ = digits[--n];
  if (decimals != 0) {
    *p++ = '.';
    for (uint8_t i = decimals; i != 0; --i) {
      p[i - 1] = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    p += decimals;
  }
  *p = 0;
}

// ---------------------------------------------------------------------------------------------
// Scaling functions (data: A, B, C, ... after the PID)

uint8_t OBD_DecodePidScalingCnt(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, data[0], 0, 1, 1, 0);
  return OBD_UNIT_NONE;
}

uint8_t OBD_DecodePidScalingSpeed(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, data[0], 0, 1, 1, 0);
  return OBD_UNIT_KMH;
}

uint8_t OBD_DecodePidScalingRpm(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 0, 1, 4, 0);
  return OBD_UNIT_RPM;
}

uint8_t OBD_DecodePidScalingTemp1(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, data[0], 40, 1, 1, 0);
  return OBD_UNIT_DEG_C;
}

uint8_t OBD_DecodePidScalingTemp2(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 400, 1, 10, 0);
  return OBD_UNIT_DEG_C;
}

uint8_t OBD_DecodePidScalingPercentage1(char* txt, const uint8_t* data, uint8_t item) {
  OBD_CalcDispVal(txt, ItemByte(data, item), 128, 100, 128, 1);
  return OBD_UNIT_PERCENT;
}

uint8_t OBD_DecodePidScalingPercentage2(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, data[0], 0, 100, 255, 1);
  return OBD_UNIT_PERCENT;
}

uint8_t OBD_DecodePidScalingPercentage3(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 0, 100, 255, 1);
  return OBD_UNIT_PERCENT;
}

uint8_t OBD_DecodePidScalingPressure1(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 32768, 1, 4, 1);
  return OBD_UNIT_PA;
}

uint8_t OBD_DecodePidScalingPressure2(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 32768, 1, 1, 0);
  return OBD_UNIT_PA;
}

uint8_t OBD_DecodePidScalingPressure3(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 0, 1, 200, 3);
  return OBD_UNIT_KPA;
}

uint8_t OBD_DecodePidScalingPressure4(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 0, 5178, 65535, 1);
  return OBD_UNIT_KPA;
}

uint8_t OBD_DecodePidScalingPressure5(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, data[0], 0, 1, 1, 0);
  return OBD_UNIT_KPA;
}

// Manifold pressure: 1 kPa per count unless the ECU reported a larger full scale in PID 0x4F.
uint8_t OBD_DecodePidScalingPressure6(char* txt, const uint8_t* data, uint8_t) {
  const uint8_t max = obdPid.obd_scalingMapPidData[ActiveEcu()];
  OBD_CalcDispVal(txt, data[0], 0, max != 0 ? static_cast<uint16_t>(10 * max) : 255, 255, 1);
  return OBD_UNIT_KPA;
}

uint8_t OBD_DecodePidScalingPressure7(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, data[0], 0, 3, 1, 0);
  return OBD_UNIT_KPA;
}

uint8_t OBD_DecodePidScalingPressure8(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 0, 10, 1, 0);
  return OBD_UNIT_KPA;
}

// Boost pressures A/B commanded and actual: each present only when its bit of the support
// byte A is set (bits 0, 1, 3, 4); otherwise "n/a" without a unit.
uint8_t OBD_DecodePidScalingPressure9(char* txt, const uint8_t* data, uint8_t item) {
  static const uint8_t SUPPORT_BIT[4] = {0x01, 0x02, 0x08, 0x10};
  if (item < 1 || item > 4 || (data[0] & SUPPORT_BIT[item - 1]) == 0) {
    CopyDataTxt(txt, OBD_DTXT_NA);
    return OBD_UNIT_NONE;
  }
  OBD_CalcDispVal(txt, Word(data, static_cast<uint8_t>(2 * item - 1)), 0, 2048, 65535, 2);
  return OBD_UNIT_KPA;
}

uint8_t OBD_DecodePidScalingVoltage1(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, data[0], 0, 1, 200, 3);
  return OBD_UNIT_V;
}

uint8_t OBD_DecodePidScalingVoltage2(char* txt, const uint8_t* data, uint8_t item) {
  const uint8_t max = obdPid.obd_scalingVoltagePidData[ActiveEcu()];
  OBD_CalcDispVal(txt, Word(data, item >= 1 ? static_cast<uint8_t>(2 * item - 2) : 0), 0,
                  max != 0 ? max : 8, 65535, 3);
  return OBD_UNIT_V;
}

uint8_t OBD_DecodePidScalingVoltage3(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 0, 1, 1000, 2);
  return OBD_UNIT_V;
}

uint8_t OBD_DecodePidScalingCurrent(char* txt, const uint8_t* data, uint8_t item) {
  const uint8_t max = obdPid.obd_scalingCurrentPidData[ActiveEcu()];
  OBD_CalcDispVal(txt, Word(data, item >= 1 ? static_cast<uint8_t>(2 * item - 2) : 0), 32768,
                  max != 0 ? max : 128, 32768, 2);
  return OBD_UNIT_MA;
}

uint8_t OBD_DecodePidScalingLambda(char* txt, const uint8_t* data, uint8_t) {
  const uint8_t max = obdPid.obd_scalingLambdaPidData[ActiveEcu()];
  OBD_CalcDispVal(txt, Word(data, 0), 0, max != 0 ? max : 2, 65535, 3);
  return OBD_UNIT_NONE;
}

uint8_t OBD_DecodePidScalingAirFlowRate(char* txt, const uint8_t* data, uint8_t) {
  const uint8_t max = obdPid.obd_scalingMafPidData[ActiveEcu()];
  if (max != 0) {
    OBD_CalcDispVal(txt, Word(data, 0), 0, static_cast<uint16_t>(10 * max), 65535, 2);
  } else {
    OBD_CalcDispVal(txt, Word(data, 0), 0, 1, 100, 2);
  }
  return OBD_UNIT_GS;
}

uint8_t OBD_DecodePidScalingIgnTiming(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, data[0], 128, 1, 2, 1);
  return OBD_UNIT_DEG;
}

uint8_t OBD_DecodePidScalingInjTiming(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 26880, 1, 128, 2);
  return OBD_UNIT_DEG;
}

uint8_t OBD_DecodePidScalingFuelRate(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 0, 1, 20, 2);
  return OBD_UNIT_LH;
}

uint8_t OBD_DecodePidScalingTime1(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 0, 1, 1, 0);
  return OBD_UNIT_SEC;
}

uint8_t OBD_DecodePidScalingTime2(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 0, 1, 1, 0);
  return OBD_UNIT_MIN;
}

uint8_t OBD_DecodePidScalingDistance(char* txt, const uint8_t* data, uint8_t) {
  OBD_CalcDispVal(txt, Word(data, 0), 0, 1, 1, 0);
  return OBD_UNIT_KM;
}

// ---------------------------------------------------------------------------------------------
// Enumerations
// clang-format off

uint8_t OBD_DecodePidScalingFuelSys(char* txt, const uint8_t* data, uint8_t item) {
  uint8_t id;
  switch (ItemByte(data, item)) {
    case 1:  id = OBD_DTXT_OL; break;
    case 2:  id = OBD_DTXT_CL; break;
    case 4:  id = OBD_DTXT_OL_DRIVE; break;
    case 8:  id = OBD_DTXT_OL_FAULT; break;
    case 16: id = OBD_DTXT_CL_FAULT; break;
    default: id = OBD_DTXT_NA; break;
  }
  CopyDataTxt(txt, id);
  return OBD_UNIT_NONE;
}

uint8_t OBD_DecodePidScalingSecondaryAirStat(char* txt, const uint8_t* data, uint8_t) {
  uint8_t id;
  switch (data[0]) {
    case 1:  id = OBD_DTXT_UPS; break;
    case 2:  id = OBD_DTXT_DNS; break;
    case 4:  id = OBD_DTXT_OFF; break;
    case 8:  id = OBD_DTXT_DIAG; break;
    default: id = OBD_DTXT_NA; break;
  }
  CopyDataTxt(txt, id);
  return OBD_UNIT_NONE;
}

// clang-format on

uint8_t OBD_DecodePidScalingPtoStat(char* txt, const uint8_t* data, uint8_t) {
  CopyDataTxt(txt, (data[0] & 1) ? OBD_DTXT_ON : OBD_DTXT_OFF);
  return OBD_UNIT_NONE;
}

// Values 1..33 of PID 0x1C; 22 and 27 are not assigned, 14..16 share the texts of PID 0x5F.
uint8_t OBD_DecodePidScalingSupObdRequirements(char* txt, const uint8_t* data, uint8_t) {
  const uint8_t a = data[0];
  uint8_t id = OBD_DTXT_NA;
  if (a >= 1 && a <= 13) {
    id = static_cast<uint8_t>(OBD_DTXT_OBD_REQ + a - 1);
  } else if (a >= 14 && a <= 16) {
    id = static_cast<uint8_t>(OBD_DTXT_EURO_IV_B1 + a - 14);
  } else if (a >= 17 && a <= 21) {
    id = static_cast<uint8_t>(OBD_DTXT_OBD_REQ + 13 + a - 17);
  } else if (a >= 23 && a <= 26) {
    id = static_cast<uint8_t>(OBD_DTXT_OBD_REQ + 18 + a - 23);
  } else if (a >= 28 && a <= 33) {
    id = static_cast<uint8_t>(OBD_DTXT_OBD_REQ + 22 + a - 28);
  }
  CopyDataTxt(txt, id);
  return OBD_UNIT_NONE;
}

uint8_t OBD_DecodePidScalingFuelType(char* txt, const uint8_t* data, uint8_t) {
  CopyDataTxt(txt, data[0] <= 23 ? static_cast<uint8_t>(OBD_DTXT_FUEL_TYPE + data[0])
                                 : static_cast<uint8_t>(OBD_DTXT_NA));
  return OBD_UNIT_NONE;
}

uint8_t OBD_DecodePidScalingSupEmisRequirements(char* txt, const uint8_t* data, uint8_t) {
  const uint8_t a = data[0];
  CopyDataTxt(txt, a >= 14 && a <= 16 ? static_cast<uint8_t>(OBD_DTXT_EURO_IV_B1 + a - 14)
                                      : static_cast<uint8_t>(OBD_DTXT_NA));
  return OBD_UNIT_NONE;
}

// clang-format off
// Turbo A control state in byte J bits 0-1 (valid with bit 2 of A), turbo B in bits 2-3 (valid
// with bit 5 of A): 1 open loop, 2 closed loop, 3 fault.
uint8_t OBD_DecodePidScalingBoostPressureControlStatus(char* txt, const uint8_t* data,
                                                       uint8_t item) {
  uint8_t v = 0;
  if (item == 5 && (data[0] & 0x04)) v = data[9] & 0x03;
  if (item == 6 && (data[0] & 0x20)) v = data[9] & 0x0C;
  uint8_t id;
  switch (v) {
    case 1:  id = OBD_DTXT_BP_A_OL; break;
    case 2:  id = OBD_DTXT_BP_A_OL + 1; break;
    case 3:  id = OBD_DTXT_BP_A_OL + 2; break;
    case 4:  id = OBD_DTXT_BP_A_OL + 3; break;
    case 8:  id = OBD_DTXT_BP_A_OL + 4; break;
    case 12: id = OBD_DTXT_BP_A_OL + 5; break;
    default: id = OBD_DTXT_NA; break;
  }
  CopyDataTxt(txt, id);
  return OBD_UNIT_NONE;
}
// clang-format on
