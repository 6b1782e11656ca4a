// PID catalogue: the 126 data items of services 01 and 02, their names, units and scaling; the
// per-ECU record of supported PIDs, oxygen-sensor layout and scaling maxima; and the decoding of
// one ECU's reassembled answer (service byte first) into a value text and a unit number.
// Decoders take the answer as pointer and length and never read past that length.
#pragma once

#include <stdint.h>

#include "obd/ecus.h"

constexpr uint8_t OBD_NUM_DATA_ITEMS = 126;
constexpr uint8_t OBD_NUM_PID_TXT = 125;   // short and long names, by text id
constexpr uint8_t OBD_NUM_DATA_TXT = 110;  // value texts shared with the monitor decoders
constexpr uint8_t OBD_NUM_UNITS = 17;
constexpr uint8_t OBD_SUP_PID_BYTES = 32;     // support bitmap of one ECU: PIDs 0x01..0xFF
constexpr uint8_t OBD_SUP_ITEM_BYTES = 16;    // one bit per data item
constexpr uint8_t OBD_PID_SHORT_TXT_MAX = 11;
constexpr uint8_t OBD_PID_LONG_TXT_MAX = 31;
// Every value text a scaling function writes fits this buffer (terminator included).
constexpr uint8_t OBD_VALUE_TXT_SIZE = 16;
// OBD_CalcDispVal with arbitrary arguments: sign, 10 digits, point, 6 decimals, terminator.
constexpr uint8_t OBD_CALC_TXT_SIZE = 20;

// Unit numbers returned by the scaling functions (index into obdUnitTxt).
enum : uint8_t {
  OBD_UNIT_NONE = 0,
  OBD_UNIT_PA = 1,
  OBD_UNIT_KPA = 2,
  OBD_UNIT_RPM = 3,
  OBD_UNIT_KMH = 4,
  OBD_UNIT_KM = 5,
  OBD_UNIT_GS = 6,
  OBD_UNIT_LH = 7,
  OBD_UNIT_HRS = 8,
  OBD_UNIT_H = 9,
  OBD_UNIT_MIN = 10,
  OBD_UNIT_SEC = 11,
  OBD_UNIT_PERCENT = 12,
  OBD_UNIT_DEG_C = 13,
  OBD_UNIT_V = 14,
  OBD_UNIT_MA = 15,
  OBD_UNIT_DEG = 16,
};

// Value texts that code names (index into obdPidDataTxt). 0..16 are the numbers themselves.
enum : uint8_t {
  OBD_DTXT_GT16 = 17,  // ">16"
  OBD_DTXT_NA = 18,    // "n/a": a value the decoder does not know
  OBD_DTXT_OFF = 19,
  OBD_DTXT_ON = 20,
  OBD_DTXT_NO = 21,
  OBD_DTXT_YES = 22,
  OBD_DTXT_N_A = 23,   // "N/A": monitor not supported
  OBD_DTXT_OL = 24,
  OBD_DTXT_CL = 25,
  OBD_DTXT_OL_DRIVE = 26,
  OBD_DTXT_OL_FAULT = 27,
  OBD_DTXT_CL_FAULT = 28,
  OBD_DTXT_UPS = 29,
  OBD_DTXT_DNS = 30,
  OBD_DTXT_DIAG = 31,
  OBD_DTXT_DASH = 32,
  OBD_DTXT_O2S_LOC13 = 33,  // 8 sensor names of the PID 0x13 layout
  OBD_DTXT_OBD_REQ = 41,    // 28 OBD requirement names
  OBD_DTXT_O2S_LOC1D = 69,  // 8 sensor names of the PID 0x1D layout
  OBD_DTXT_FUEL_TYPE = 77,  // 24 fuel type names
  OBD_DTXT_EURO_IV_B1 = 101,
  OBD_DTXT_EURO_V_B2 = 102,
  OBD_DTXT_EURO_C = 103,
  OBD_DTXT_BP_A_OL = 104,   // 6 boost pressure control states
};

// The oxygen-sensor PIDs whose names depend on the layout: with location PID 0x1D their sensors
// are B2-S1 .. B4-S2 instead of B1-S3 .. B2-S4, two text ids further on.
constexpr bool OBD_PidHasO2Layout(uint8_t pid) {
  return (pid >= 0x16 && pid <= 0x1B) || (pid >= 0x26 && pid <= 0x2B) ||
         (pid >= 0x36 && pid <= 0x3B);
}

// A scaling function writes the value text of one item and returns its unit number. `data` is
// the first byte after the PID (service 01) or after the frame number (service 02).
typedef uint8_t (*OBD_SCALING_FCT)(char* txt, const uint8_t* data, uint8_t item);

struct OBD_DATA_ITEM {
  uint8_t pid;
  uint8_t item;     // 1..6 within the PID
  uint8_t txtId;    // into obdPidShortTxt / obdPidLongTxt
  uint8_t dataLen;  // data bytes after the PID that this item reads
  OBD_SCALING_FCT scalingFct;
};

extern const OBD_DATA_ITEM obd_dataItem[OBD_NUM_DATA_ITEMS];
extern const char* const obdPidShortTxt[OBD_NUM_PID_TXT];
extern const char* const obdPidLongTxt[OBD_NUM_PID_TXT];
extern const char* const obdUnitTxt[OBD_NUM_UNITS];
extern const char* const obdPidDataTxt[OBD_NUM_DATA_TXT];

struct ObdPidState {
  uint8_t obd_supPids[OBD_MAX_ECUS][OBD_SUP_PID_BYTES];  // bytes 4k..4k+3: answer to PID 0x20*k
  uint8_t obd_supPidsSid02[OBD_SUP_PID_BYTES];            // the active ECU's freeze frames
  // Monitor status as answered, bytes A..D; the monitor lists (obd/monitors) read them.
  uint8_t obd_monitorStatusSinceDtcsClrd[OBD_MAX_ECUS][4];  // PID 0x01
  uint8_t obd_monitorStatusCurrentCycle[OBD_MAX_ECUS][4];   // PID 0x41
  uint8_t obd_o2SensorLocPid[OBD_MAX_ECUS];      // 0 none, 0x13 or 0x1D
  uint8_t obd_o2SensorLocPidData[OBD_MAX_ECUS];  // location bitmap, 0xFF when none
  // Scaling maxima of PIDs 0x4F and 0x50, 0 when not reported.
  uint8_t obd_scalingLambdaPidData[OBD_MAX_ECUS];
  uint8_t obd_scalingVoltagePidData[OBD_MAX_ECUS];
  uint8_t obd_scalingCurrentPidData[OBD_MAX_ECUS];
  uint8_t obd_scalingMapPidData[OBD_MAX_ECUS];  // units of 10 kPa
  uint8_t obd_scalingMafPidData[OBD_MAX_ECUS];  // units of 10 g/s
  uint8_t obd_activeSid;                        // 1 or 2; selects bitmap and item set
  uint8_t obd_supDataItemsSid01[OBD_SUP_ITEM_BYTES];
  uint8_t obd_supDataItemsSid02[OBD_SUP_ITEM_BYTES];
  uint8_t obd_activeFrameNo;
  uint16_t obd_dtc;  // trouble code that stored the freeze frame (PID 0x02)
};
extern ObdPidState obdPid;

void OBD_InitState();  // power-on
void OBD_InitPids();   // start of a data reading: supported PIDs, monitor status, sensor layouts

void OBD_SetMonitorStatusSinceDtcsCleared(const uint8_t* data, uint8_t ecuIdx);
void OBD_SetMonitorStatusCurrentCycle(const uint8_t* data, uint8_t ecuIdx);

void OBD_SetActiveSid(uint8_t sid);
uint8_t OBD_GetActiveSid();
void OBD_ResetSid02SupPids();
void OBD_SetActiveFrameNo(uint8_t frameNo);
uint16_t OBD_GetFreezeFrameDtc();

uint8_t OBD_PidIsSupported(uint8_t pid);  // active service, active ECU for service 01
uint8_t OBD_Sid01PidIsSupportedByEcu(uint8_t ecuIdx, uint8_t pid);
uint8_t OBD_GetSupportedPids(uint8_t byteIdx);

uint8_t OBD_DataItemIsSupported(uint8_t item);
uint8_t OBD_GetNumDataItems();
void OBD_InitSupDataItems();
uint8_t OBD_GetNextDataItem(uint8_t start, uint8_t n);
uint8_t OBD_GetPidTxtId(uint8_t item);

uint8_t OBD_DecodeSid01RespDataByPid(const uint8_t* resp, uint8_t len, uint8_t pid);
uint8_t OBD_DecodeSid01RespDataByIdx(const uint8_t* resp, uint8_t len, uint8_t item, char* txt,
                                     uint8_t* unit);
uint8_t OBD_DecodeSid02RespDataByIdx(const uint8_t* resp, uint8_t len, uint8_t item, char* txt,
                                     uint8_t* unit);

void OBD_DecodePidScalingO2SensorLoc(char* txt, uint8_t data, uint8_t bit);
uint8_t OBD_GetO2SensorLocPid();
uint8_t OBD_GetO2SensorLocData();

void OBD_CalcDispVal(char* txt, uint16_t raw, uint16_t offset, uint16_t multiplier,
                     uint16_t divisor, uint8_t decimals);

// Scaling functions of the data items.
uint8_t OBD_DecodePidScalingCnt(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingSpeed(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingRpm(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingTemp1(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingTemp2(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPercentage1(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPercentage2(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPercentage3(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPressure1(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPressure2(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPressure3(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPressure4(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPressure5(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPressure6(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPressure7(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPressure8(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPressure9(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingVoltage1(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingVoltage2(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingVoltage3(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingCurrent(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingLambda(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingAirFlowRate(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingIgnTiming(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingInjTiming(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingFuelRate(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingTime1(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingTime2(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingDistance(char* txt, const uint8_t* data, uint8_t item);
// Enumerations: the text is one of obdPidDataTxt, "n/a" for values not listed; unit none.
uint8_t OBD_DecodePidScalingFuelSys(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingSecondaryAirStat(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingPtoStat(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingSupObdRequirements(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingFuelType(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingSupEmisRequirements(char* txt, const uint8_t* data, uint8_t item);
uint8_t OBD_DecodePidScalingBoostPressureControlStatus(char* txt, const uint8_t* data,
                                                       uint8_t item);
