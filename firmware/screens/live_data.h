// Current data (service 0x01, menus 12 and 13) and freeze frames (service 0x02, menus 25 to 28).
// Both show the data items of the active ECU in a list with the value of each visible row, and
// one item alone in the large font. They share the reading cycle of the PDI_ routines: one PID
// is requested at a time, starting at the first visible row, and its answer fills every visible
// row whose item has that PID.
#pragma once

#include <stdint.h>

#include "obd/pids.h"
#include "ui/list.h"

static_assert(OBD_NUM_DATA_ITEMS <= 255, "data item indices are kept in one byte");

typedef void (*FFM_SCAN_DONE_FCT)();

struct PdiState {
  uint8_t pdiCurrentPid;          // the PID requested next
  uint8_t pdiFirstPid;            // PID of the first visible row
  uint8_t pdiFirstDataItemIdx;    // catalogue index of the item in the first visible row
  uint8_t pdiCurrentDataItemIdx;  // item read (single screens), first item of the PID (lists)
  uint8_t pdiMaxLineNo;           // rows the reading cycle fills; 0 while no list is read
  char pdiDataStr[OBD_VALUE_TXT_SIZE];  // value text of the last decoded item
  uint8_t pdiUnitTxtId;                 // and its unit (index into obdUnitTxt)

  LIST cdmList;        // current data items of the ECU cdmEcuAddr
  uint8_t cdmEcuAddr;  // the list (and its cursor) belongs to this ECU; 0 none yet

  uint8_t ffmFrameNo;  // selected freeze frame; wraps around at both ends
  uint16_t ffmDtc;     // trouble code stored with the selected frame, 0 none or not read
  LIST ffmList;        // data items of the selected frame
  FFM_SCAN_DONE_FCT ffmScanDoneFct;  // what follows the supported-PID scan
};
extern PdiState pdi;

void PDI_InitState();

void PDI_DrawListAll(LIST* list);
void PDI_DrawList(LIST* list);
void PDI_DrawSingleData(LIST* list);
void PDI_ProcessResponseError();

// The item in visible row `row` of the list being read.
uint8_t PDI_GetRowDataItem(uint8_t row);
// The row of the first item with PID `pid`, walking from the first visible row; pdiMaxLineNo
// when no row in the cycle has it.
uint8_t PDI_FindPidRow(uint8_t pid);
// The reassembled answer of the active ECU to the last request.
const uint8_t* PDI_GetActiveEcuData(uint8_t* length);
