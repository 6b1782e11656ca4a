// Trouble code screens: the trouble code menu (menu 14), the summary of every stored code
// (menu 22) with the single code and its description (menu 23), and the clearing of the
// diagnostic data (menu 24), which reloads everything once the ECUs have cleared.
#pragma once

#include <stdint.h>

#include "ui/list.h"

// Where the clearing stands; the values are those the handheld reports in its state byte.
enum : uint8_t {
  CTM_ASK = 0,                 // "Clear diagnostic fault data?" with NO and YES
  CTM_PARTLY_CLEARED = 1,      // refusals listed, some ECUs cleared: any key reloads
  CTM_NONE_CLEARED = 2,        // refusals or silence listed: any key restores the filter
  CTM_STOPPED = 3,             // the module answered unexpectedly: Esc restores the filter
  CTM_WAIT_FILTER_ALL = 4,     // "ATSF00" sent
  CTM_WAIT_BEFORE_CLEAR = 5,   // 600 ms before the clear request
  CTM_WAIT_CLEAR = 6,          // clear request (service 0x04) sent
  CTM_CLEARED_MSG = 7,         // final message shown, reload line follows in 600 ms
  CTM_RELOADING_MSG = 8,       // reload line shown, data reading follows in 600 ms
  CTM_WAIT_FILTER_RESTORE = 9  // "ATSF" with the active ECU sent
};

struct TcmState {
  LIST tcmList;      // the trouble code menu's three items
  LIST dsmList;      // the summary's lines; the single code screen moves the same cursor
  uint8_t ctmState;  // CTM_ASK .. CTM_WAIT_FILTER_RESTORE
};
extern TcmState tcm;

void TCM_InitState();
