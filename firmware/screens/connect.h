// From "Start Diagnostics" to a connected vehicle: the protocol selection list (menu 2), the
// protocol scan (menu 9), the reading of what every ECU supports (menu 10), the diagnostics menu
// (menu 11) and its small information screens: protocol information (17), supported PIDs of
// services 01 and 02 (18, 19) and supported info types (20).
#pragma once

#include <stdint.h>

#include "ui/list.h"

// ---------------------------------------------------------------------------------------------
// Protocol selection and scan

constexpr uint8_t SPM_NUM_PROTOCOLS = 10;
// The selection list in table order, and the text of each entry.
extern const uint8_t SPM_PROTOCOL_TAB[SPM_NUM_PROTOCOLS];
extern const uint8_t SPM_PROTOCOL_TXT_ID_TAB[SPM_NUM_PROTOCOLS];

// A scan table is a byte sequence of steps: a pair (scan code, wait in 100 ms after a failure)
// or a marker that sends "ATKW1" / "ATKW2" and is always followed by a pair. Scan codes 1..9
// are sent as "ATP" with that digit; 10 is sent as ATP3 but shown as the slow K-line init.
constexpr uint8_t SPS_MARKER_KW1 = 129;
constexpr uint8_t SPS_MARKER_KW2 = 130;
constexpr uint8_t SPS_SCAN_CODE_SLOW_INIT = 10;
extern const uint8_t* const SPS_SCAN_TABLES[SPM_NUM_PROTOCOLS];
extern const uint8_t SPS_SCAN_TABLE_MAX_IDX[SPM_NUM_PROTOCOLS];
extern const uint8_t SPS_SCAN_TXT[SPS_SCAN_CODE_SLOW_INIT];  // subtitle of scan codes 1..10

// What the scan sent last (spsWaitState).
enum : uint8_t {
  SPS_WAIT_NONE = 0,
  SPS_WAIT_ATP = 1,
  SPS_WAIT_0100 = 2,
  SPS_WAIT_ATKW = 3,
  SPS_WAIT_ATK = 4,
  SPS_WAIT_ATN = 5,
};

struct SpsState {
  LIST spmList;
  uint8_t spmListProtocol[SPM_NUM_PROTOCOLS];  // protocol of each list position
  uint8_t spsProtocol;                         // the protocol being scanned for, 0 = automatic
  const uint8_t* spsScanTabPtr;
  uint8_t spsScanTabLen;
  uint8_t spsScanTabIdx;  // byte index of the next step
  uint8_t spsWaitState;
};
extern SpsState sps;

void SPS_InitState();
uint8_t SPM_GetProtocol();  // protocol number of the entry under the cursor
void SPS_NoProtocolError();

// ---------------------------------------------------------------------------------------------
// Reading data

constexpr uint8_t RDS_REQ_TAB_LEN = 20;
constexpr uint8_t RDS_PROGRESS_MAX = 18;
constexpr uint8_t RDS_SERVICE_ECU_FILTER = 74;  // not an OBD service: the "ATSF" step
constexpr uint8_t RDS_PID_NONE = 255;

struct RDS_REQ {
  uint8_t service;
  uint8_t pid;  // PID or info type; RDS_PID_NONE for services without one
  uint8_t reserved;
};
extern const RDS_REQ RDS_REQ_TAB[RDS_REQ_TAB_LEN];

struct RdsState {
  uint8_t rdsReqTabIdx;
  uint8_t rdsEcuAddr;   // the ECU that was active before a reload
  uint8_t rdsIsReload;  // entered from the diagnostics menu, not from the scan
  uint8_t rdsStopped;   // the reading ended with an error box
};
extern RdsState rds;

void RDS_InitState();
uint8_t RDS_EntryIsSent(uint8_t idx);
void RDS_SetNextReqTabIdx();
uint8_t RDS_ChooseEcuIdx();
void RDS_ProcessSid01Resp(uint8_t pid);

// ---------------------------------------------------------------------------------------------
// Diagnostics menu

struct DmState {
  LIST dmList;
  uint8_t dmLastEcuAddr;  // active ECU when the menu was last entered
};
extern DmState dm;

void DM_InitState();
