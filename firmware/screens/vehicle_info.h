// ECU selection (menu 21), the vehicle information menu (16) and its screens: VIN (34),
// calibration ids (35), calibration verification numbers (36), ECU name (39), performance
// tracking lists and single counters (37, 38, 40, 41) and oxygen sensor locations (42).
#pragma once

#include <stdint.h>

#include "ui/list.h"

struct VimState {
  LIST semList;             // one item per ECU found
  LIST vimList;             // the vehicle information menu
  LIST iptList;             // the counters of the last decoded tracking answer
  uint8_t semEcuIdx;        // the ECU whose filter command is awaiting its "OK"
  uint8_t vimInfoType;      // info type requested by the screen shown
  uint8_t vimReqRepeatCnt;  // waits for a late answer so far
};
extern VimState vim;

void VIM_InitState();
// 1 when the active ECU has something for the vehicle information menu to show.
uint8_t VIM_MenuIsSupported();
