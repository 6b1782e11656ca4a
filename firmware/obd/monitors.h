// Readiness monitors and vehicle information. Turns each ECU's monitor status (PIDs 0x01 and
// 0x41, kept by the PID catalogue) into listed rows with its tables, and decodes service 0x09
// answers: supported info types, VIN, calibration ids and verification numbers, performance
// tracking counters and the ECU name. Answers are one ECU's reassembled bytes (service byte
// first) given as pointer and length; nothing past the length is read.
#pragma once

#include <stdint.h>

#include "obd/pids.h"

constexpr uint8_t OBD_NUM_MON_TXT = 66;
constexpr uint8_t OBD_NUM_SUP_MONITORS = 16;
constexpr uint8_t OBD_NUM_MONITOR_STATUS = 50;
constexpr uint8_t OBD_NUM_IPT_TXT = 34;
constexpr uint8_t OBD_MAX_IPT_COUNTERS = 20;
constexpr uint8_t OBD_NUM_IPT_SPARK = 20;  // info type 0x08
constexpr uint8_t OBD_NUM_IPT_COMPR = 18;  // info type 0x0B
constexpr uint8_t OBD_ECU_NAME_LEN = 20;   // 4-character acronym, separator, 15-character name
constexpr uint8_t OBD_ECU_SHORT_NAME_SIZE = 5;
constexpr uint8_t OBD_ECU_LONG_NAME_SIZE = 16;
constexpr uint8_t OBD_VIN_LEN = 17;
constexpr uint8_t OBD_CALID_LEN = 16;
constexpr uint8_t OBD_CVN_LEN = 4;
constexpr uint8_t OBD_MAX_CALIDS = 3;
constexpr uint8_t OBD_MAX_CVNS = 3;
// Output of OBD_DecodeInfoTypeRespData: the VIN with terminator, or a count byte and up to
// three calibration ids.
constexpr uint8_t OBD_INFO_TYPE_OUT_SIZE = 1 + OBD_MAX_CALIDS * OBD_CALID_LEN;

// Ignition masks of monitors and rows.
enum : uint8_t { OBD_IGN_SPARK = 1, OBD_IGN_COMPR = 2, OBD_IGN_BOTH = 3 };

// Monitor text ids that code names (index into obdMonShortTxt / obdMonLongTxt).
enum : uint8_t {
  OBD_MTXT_DTC_CNT = 0,
  OBD_MTXT_MIL = 1,
  OBD_MTXT_ACRF_SUP = 14,  // ready, enabled, completed follow
};

struct OBD_SUP_MONITOR {
  uint8_t txtId;    // the monitor's "supported" name
  uint8_t byteIdx;  // 1 = B, 2 = C of the PID 0x01 answer
  uint8_t bit;
  uint8_t ignMask;
};

// Returns a value text id (obdPidDataTxt) for status row `row` of the active ECU.
typedef uint8_t (*OBD_MON_DECODE_FCT)(uint8_t row);

struct OBD_MONITOR_DATA {
  uint8_t txtId;
  uint8_t pid;      // 0x01 or 0x41
  uint8_t byteIdx;  // 0 = A .. 3 = D
  uint8_t bit;      // bit number; for the trouble code count the mask of the count
  uint8_t ignMask;
  uint8_t reserved[3];
  OBD_MON_DECODE_FCT decodeFct;
};

extern const char* const obdMonShortTxt[OBD_NUM_MON_TXT];
extern const char* const obdMonLongTxt[OBD_NUM_MON_TXT];
extern const OBD_SUP_MONITOR obd_supportedMonitors[OBD_NUM_SUP_MONITORS];
extern const OBD_MONITOR_DATA obd_monitorData[OBD_NUM_MONITOR_STATUS];
extern const char* const obdIptShortTxt[OBD_NUM_IPT_TXT];
extern const char* const obdIptLongTxt[OBD_NUM_IPT_TXT];
extern const uint8_t obd_iptSparkIgnTxtId[OBD_NUM_IPT_SPARK];
extern const uint8_t obd_iptComprIgnTxtId[OBD_NUM_IPT_COMPR];

struct ObdMonState {
  uint8_t obd_showUnsupMonitors;
  uint8_t obd_showAcrfMonitor;
  uint8_t obd_showMonitorStatusFilter;  // 0 all, 1 since DTCs cleared, 2 this drive cycle
  uint8_t obd_supInfoTypes[OBD_MAX_ECUS][4];
  char obd_ecuName[OBD_MAX_ECUS][OBD_ECU_NAME_LEN];  // not terminated
  uint16_t obd_iptCounter[OBD_MAX_IPT_COUNTERS];
  uint8_t obd_noOfIptCounters;
};
extern ObdMonState obdMon;

void OBD_InitMonitorsState();  // power-on: also the display filters to their defaults

// ECU names (info type 0x0A)
void OBD_GetEcuShortName(char* txt, uint8_t idx);  // OBD_ECU_SHORT_NAME_SIZE bytes
void OBD_GetEcuLongName(char* txt, uint8_t idx);   // OBD_ECU_LONG_NAME_SIZE bytes

// Monitors
uint8_t OBD_GetMilStatus();
uint8_t OBD_GetNumMonitors();
uint8_t OBD_GetMonitorIdx(uint8_t n);
uint8_t OBD_GetMonitorTxtId(uint8_t n);
uint8_t OBD_GetMonitorSupDataTxtId(uint8_t n);
uint8_t OBD_GetNumMonitorStatuses();
uint8_t OBD_GetMonitorStatusTxtId(uint8_t n);
uint8_t OBD_GetMonitorStatusDataTxtId(uint8_t n);
void OBD_SetFlagShowUnsupMonitors(uint8_t flag);
void OBD_SetFlagShowAcrfMonitor(uint8_t flag);
void OBD_SetMonitorStatusFilter(uint8_t filter);
uint8_t OBD_GetMonitorStatusFilter();

// Status row decoders (rows of obd_monitorData).
uint8_t OBD_DecodeMonitorMil(uint8_t row);
uint8_t OBD_DecodeMonitorDtcCnt(uint8_t row);
uint8_t OBD_DecodeMonitorReady(uint8_t row);
uint8_t OBD_DecodeMonitorEnabled(uint8_t row);
uint8_t OBD_DecodeMonitorCompleted(uint8_t row);

// Info types
void OBD_InitInfoTypes();
uint8_t OBD_InfoTypeIsSupported(uint8_t type, uint8_t ecuIdx);
uint8_t OBD_GetSupportedInfoTypes(uint8_t byteIdx);
// 1 decoded, 0 not usable, else the code of a negative answer (0x78: response pending).
// `out` holds OBD_INFO_TYPE_OUT_SIZE bytes.
uint8_t OBD_DecodeInfoTypeRespData(const uint8_t* resp, uint8_t len, uint8_t type, uint8_t* out);
uint8_t OBD_DecodeIptRespData(const uint8_t* resp, uint8_t len, uint8_t maxCount);
uint8_t OBD_GetNumIptCounters();
void OBD_GetIptCounterStr(char* txt, uint8_t position);  // OBD_VALUE_TXT_SIZE bytes
