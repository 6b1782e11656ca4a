// Request dispatcher. The handlers belong to the screens; this file only decides whether an
// expiry or an answer is wanted and whose it is. A module "CAN ERROR" report never reaches a
// screen: the request is simply sent again 300 ms later, as often as it takes.
#include "link/dispatcher.h"

#include "link/qim.h"

uint16_t gblCounter10ms;
DrhState drh;

void DRH_NoTimerExpiredEventFct() {}
void DRH_NoProcessRxDataFct(uint8_t) {}

namespace {

const DrhRow (*registered)[MEN_NUM_MENUS] = nullptr;  // the screens' table

// A menu id beyond the table (never entered by the menu engine) has no handlers, as the
// power-on menu.
const DrhRow& DRH_CurrentHandlers() {
  uint8_t menuId = menu.menMenuId;
  return (*registered)[menuId < MEN_NUM_MENUS ? menuId : uint8_t{MENU_INIT}];
}

}  // namespace

void DRH_RegisterHandlers(const DrhRow (&rows)[MEN_NUM_MENUS]) { registered = &rows; }

void DRH_InitState() {
  gblCounter10ms = 0;
  drh.drhReqState = DRH_IDLE;
  drh.drhIgnoreReqState = 0;
}

void DRH_SetReqTimer(uint8_t t) {
  drh.drhReqState = DRH_TIMER_RUNNING;
  gblCounter10ms = static_cast<uint16_t>(10 * t);
}

void DRH_SetTimer(uint8_t t) {
  if (t > 0) {
    drh.drhIgnoreReqState = 1;
  } else {
    drh.drhIgnoreReqState = 0;
    drh.drhReqState = DRH_IDLE;
  }
  gblCounter10ms = static_cast<uint16_t>(10 * t);
}

void DRH_SetNextReqState() {
  switch (drh.drhReqState) {
    case DRH_IDLE:
    case DRH_TIMER_RUNNING:
      drh.drhReqState = DRH_TIMER_RUNNING;
      gblCounter10ms = DRH_NEXT_REQ_TICKS;
      break;
    case DRH_WAIT_ANSWER:
      drh.drhReqState = DRH_DISCARD_ANSWER;  // the answer in flight belongs to the old page
      break;
    default:
      break;
  }
}

void DRH_TimerExpiredEvent() {
  if (drh.drhReqState != DRH_TIMER_RUNNING && drh.drhIgnoreReqState == 0) return;
  drh.drhReqState = DRH_WAIT_ANSWER;
  DRH_CurrentHandlers().timerExpired();
}

void DRH_QimRxEvent(uint8_t responseCode) {
  if (drh.drhReqState != DRH_WAIT_ANSWER && drh.drhIgnoreReqState == 0) {
    if (drh.drhReqState == DRH_DISCARD_ANSWER) {
      drh.drhReqState = DRH_TIMER_RUNNING;
      gblCounter10ms = DRH_NEXT_REQ_TICKS;
    }
    return;
  }
  if (responseCode == QIM_RESP_CAN) {  // the module reported a CAN error: ask again
    drh.drhReqState = DRH_TIMER_RUNNING;
    gblCounter10ms = DRH_NEXT_REQ_TICKS;
    return;
  }
  drh.drhReqState = DRH_IDLE;
  drh.drhIgnoreReqState = 0;
  DRH_CurrentHandlers().processRx(responseCode);
}
