// Inspection/maintenance readiness (menu 15) and the screens below it: supported monitors (29,
// 30), monitor status (31, 32) and monitor settings (33). While any of them is shown, the
// active ECU's monitor status (PID 0x01, and PID 0x41 when supported) is read again and again.
#pragma once

#include <stdint.h>

#include "ui/list.h"

struct RcmState {
  LIST rcmList;         // the three items of the readiness menu
  LIST rcmSubMenuList;  // monitors, monitor statuses or settings, by the screen below
  uint8_t rcmReqPid;    // 0x01 or 0x41: the PID of the next request
};
extern RcmState rcm;

void RCM_InitState();
