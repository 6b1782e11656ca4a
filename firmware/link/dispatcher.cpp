// Request dispatcher. The handlers belong to the screens; this file only decides whether an
// expiry or an answer is wanted and whose it is. A module "CAN ERROR" report never reaches a
// screen: the request is simply sent again 300 ms later, as often as it takes.
#include "link/dispatcher.h"

#include "link/qim.h"
#include "screens/screen_requests.h"

uint16_t gblCounter10ms;
DrhState drh;

void DRH_NoTimerExpiredEventFct() {}
void DRH_NoProcessRxDataFct(uint8_t) {}

// clang-format off
constexpr DRH_TIMER_FCT DRH_TIMER_EXPIRED_EVENT_FCT[DRH_NUM_FCTS] = {
    DRH_NoTimerExpiredEventFct,  //  0 menus without requests
    SIM_ReqTimerExpiredEvent,    //  1 system information
    SPS_ReqTimerExpiredEvent,    //  2 protocol scan
    RDS_ReqTimerExpiredEvent,    //  3 data reading
    CDM_ReqTimerExpiredEvent,    //  4 current data list
    CDM_ReqTimerExpiredEvent,    //  5 current data single
    RCM_ReqTimerExpiredEvent,    //  6 readiness and monitors
    PIM_ReqTimerExpiredEvent,    //  7 protocol information
    DRH_NoTimerExpiredEventFct,  //  8 ECU selection (sends from its key handler)
    CTM_ReqTimerExpiredEvent,    //  9 clear trouble codes
    FFM_ReqTimerExpiredEvent,    // 10 freeze frame
    FFM_ReqTimerExpiredEvent,    // 11 freeze frame selection
    FFM_ReqTimerExpiredEvent,    // 12 freeze frame list
    FFM_ReqTimerExpiredEvent,    // 13 freeze frame single
    VIM_ReqTimerExpiredEvent,    // 14 vehicle information
    VIM_ReqTimerExpiredEvent,    // 15 in-use performance tracking
};

constexpr DRH_RX_FCT DRH_PROCESS_RX_DATA_FCT[DRH_NUM_FCTS] = {
    DRH_NoProcessRxDataFct,   //  0
    SIM_ProcessRxData,        //  1
    SPS_ProcessRxData,        //  2
    RDS_ProcessRxData,        //  3
    CDM_ProcessRxListData,    //  4
    CDM_ProcessRxSingleData,  //  5
    RCM_ProcessRxData,        //  6
    PIM_ProcessRxData,        //  7
    SEM_ProcessRxData,        //  8
    CTM_ProcessRxData,        //  9
    FFM_ProcessRxInitData,    // 10
    FFSF_ProcessRxData,       // 11
    FFM_ProcessRxListData,    // 12
    FFM_ProcessRxSingleData,  // 13
    VIM_ProcessRxData,        // 14
    IPT_ProcessRxData,        // 15
};

constexpr uint8_t DRH_MENU_ID_TO_FCT_IDX[MEN_NUM_MENUS] = {
     0,  //  0 menInitMenuCfg
     0,  //  1 menMainMenuCfg
     0,  //  2 menSelectProtocolMenuCfg
     0,  //  3 menBluetoothMenuCfg
     0,  //  4 menUsbMenuCfg
     0,  //  5 menSerialMenuCfg
     1,  //  6 menSystemInfoMenuCfg
     0,  //  7 menSettingsMenuCfg
     0,  //  8 menLcdSettingsMenuCfg
     2,  //  9 scanProtocolScreenCfg
     3,  // 10 menReadingDataScreenCfg
     0,  // 11 menDiagnosticsMenuCfg
     4,  // 12 menCurrentDataListMenuCfg
     5,  // 13 menCurrentDataSingleMenuCfg
     0,  // 14 menTroubleCodeMenuCfg
     6,  // 15 menReadinessMenuCfg
     0,  // 16 menVehicleInfoMenuCfg
     7,  // 17 menProtocolInfoMenuCfg
     0,  // 18 menSupPids01MenuCfg
     0,  // 19 menSupPids02MenuCfg
     0,  // 20 menSupInfoTypesMenuCfg
     8,  // 21 menSelectEcuMenuCfg
     0,  // 22 menDtcSummaryListMenuCfg
     0,  // 23 menDtcSummarySingleMenuCfg
     9,  // 24 menClearTroublecodesMenuCfg
    10,  // 25 menFreezeFrameMenuCfg
    11,  // 26 menFreezeFrameSelectFrameMenuCfg
    12,  // 27 menFreezeFrameListMenuCfg
    13,  // 28 menFreezeFrameSingleMenuCfg
     6,  // 29 menSupMonitorsListMenuCfg
     6,  // 30 menSupMonitorsSingleMenuCfg
     6,  // 31 menMonitorStatusListMenuCfg
     6,  // 32 menMonitorStatusSingleMenuCfg
     6,  // 33 menMonitorSettingsMenuCfg
    14,  // 34 menVinMenuCfg
    14,  // 35 menCalMenuCfg
    14,  // 36 menCvnMenuCfg
    15,  // 37 menIptSparkIgnListMenuCfg
    15,  // 38 menIptSparkIgnSingleMenuCfg
    14,  // 39 menEcuNameMenuCfg
    15,  // 40 menIptComprIgnListMenuCfg
    15,  // 41 menIptComprIgnSingleMenuCfg
     0,  // 42 menO2SLocMenuCfg
};
// clang-format on

namespace {

constexpr bool DRH_HandlerIdxInRange() {
  for (uint8_t idx : DRH_MENU_ID_TO_FCT_IDX) {
    if (idx >= DRH_NUM_FCTS) return false;
  }
  return true;
}
static_assert(DRH_HandlerIdxInRange());

// A menu id beyond the table (never entered by the menu engine) has no handlers.
uint8_t DRH_CurrentFctIdx() {
  uint8_t menuId = menu.menMenuId;
  return menuId < MEN_NUM_MENUS ? DRH_MENU_ID_TO_FCT_IDX[menuId] : 0;
}

}  // namespace

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
  DRH_TIMER_EXPIRED_EVENT_FCT[DRH_CurrentFctIdx()]();
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
  DRH_PROCESS_RX_DATA_FCT[DRH_CurrentFctIdx()](responseCode);
}
