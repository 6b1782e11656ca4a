// Inspection/maintenance readiness. Entered from the diagnostics menu, the readiness menu starts
// a reading cycle that keeps the active ECU's monitor status fresh for all the screens below it:
// PID 0x01 (since the trouble codes were cleared) and, when the ECU has it, PID 0x41 (this
// drive cycle) in turn. The two display flags are stored settings; the status filter is not.
#include "screens/readiness.h"

#include "beep.h"
#include "eeprom.h"
#include "link/dispatcher.h"
#include "link/qim.h"
#include "link/reassembly.h"
#include "obd/monitors.h"
#include "obd/pids.h"
#include "screens/screen_requests.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/menu.h"
#include "ui/texts.h"

RcmState rcm;

constexpr uint8_t RCM_PID_SINCE_CLEARED = 0x01;
constexpr uint8_t RCM_PID_THIS_CYCLE = 0x41;

void RCM_InitState() {
  LIST_Init(&rcm.rcmList, 0);
  LIST_Init(&rcm.rcmSubMenuList, 0);
  rcm.rcmReqPid = RCM_PID_SINCE_CLEARED;
}

constexpr uint8_t RCM_NUM_ITEMS = 3;
constexpr uint8_t RCM_NUM_FILTERS = 3;
static_assert(TXT_SHOW_STATUS_ALL + RCM_NUM_FILTERS - 1 == TXT_SHOW_STATUS_THIS_CYCLE);

// Timer values in 100 ms.
constexpr uint8_t RCM_FIRST_REQ_TIME = 1;
constexpr uint8_t RCM_NEXT_REQ_TIME = 6;
constexpr uint8_t RCM_RETRY_TIME = 3;

static uint8_t RCM_EcuHasThisCycleStatus() {
  return OBD_Sid01PidIsSupportedByEcu(OBD_GetActiveEcuIdx(), RCM_PID_THIS_CYCLE);
}

static void RCM_DrawTitle(uint8_t txtId) {
  GUI_DrawTitleEcu(GUI_GetTxt(txtId), OBD_GetActiveEcuAddr());
}

// ---------------------------------------------------------------------------------------------
// Readiness menu and its reading cycle

void RCM_EnterMenu() {
  if (menu.menPrevMenuId == MENU_DIAGNOSTICS) {
    OBD_SetActiveSid(0x01);
    OBD_SetFlagShowUnsupMonitors(EEP_Read(EEP_SHOW_UNSUPPORTED_MONITORS));
    OBD_SetFlagShowAcrfMonitor(EEP_Read(EEP_SHOW_AC_MONITOR));
    LIST_Init(&rcm.rcmList, RCM_NUM_ITEMS);
    rcm.rcmReqPid = RCM_PID_SINCE_CLEARED;
    DRH_SetTimer(0);
    DRH_SetReqTimer(RCM_FIRST_REQ_TIME);
  }
  // The item texts are set on every entry: the settings screen uses the same positions, and
  // the status item names the filter chosen there.
  const uint8_t filter = RCM_EcuHasThisCycleStatus() ? OBD_GetMonitorStatusFilter() : 0;
  GUI_SetTxtId(TXT_SUPPORTED_MONITORS, 0);
  GUI_SetTxtId(static_cast<uint8_t>(TXT_MONITOR_STATUS + filter), 1);
  GUI_SetTxtId(TXT_MONITOR_SETTINGS, 2);
  RCM_DrawTitle(TXT_READINESS_TITLE);
  SPKF_Init(&rcm.rcmList, GUI_DrawList);
  GUI_DrawListAll(&rcm.rcmList);
}

void RCM_ReqTimerExpiredEvent() { QIM_SendObdReq(0x01, rcm.rcmReqPid, 0); }

// The number of status rows can change with the values (unsupported rows may be hidden): the
// list follows, so that no row beyond the last status is drawn.
static void RCM_UpdateStatusCount() {
  LIST* list = &rcm.rcmSubMenuList;
  const uint8_t count = OBD_GetNumMonitorStatuses();
  if (count == list->noOfItems) return;
  list->noOfItems = count;
  LIST_SetCursor(list, list->cursor);
  GUI_ClearMenuArea();
}

void RCM_ProcessRxData(uint8_t responseCode) {
  if (responseCode != QIM_RESP_OBD_DATA) {
    DRH_SetReqTimer(RCM_RETRY_TIME);
    return;
  }
  uint8_t length = 0;
  const uint8_t* data = D2O_GetObdData(&length, OBD_GetActiveEcuAddr());
  OBD_DecodeSid01RespDataByPid(data, length, rcm.rcmReqPid);
  if (RCM_EcuHasThisCycleStatus()) {
    rcm.rcmReqPid =
        rcm.rcmReqPid == RCM_PID_SINCE_CLEARED ? RCM_PID_THIS_CYCLE : RCM_PID_SINCE_CLEARED;
  }
  DRH_SetReqTimer(RCM_NEXT_REQ_TIME);

  if (menu.menMenuId == MENU_MONITOR_STATUS_LIST) {
    RCM_UpdateStatusCount();
    GUI_DrawMonitorStatusList(&rcm.rcmSubMenuList);
  } else if (menu.menMenuId == MENU_MONITOR_STATUS_SINGLE) {
    RCM_UpdateStatusCount();
    GUI_DrawMonitorStatus(&rcm.rcmSubMenuList);
  }
}

// ---------------------------------------------------------------------------------------------
// Supported monitors

void SML_EnterMenu() {
  LIST* list = &rcm.rcmSubMenuList;
  if (menu.menPrevMenuId == MENU_READINESS) LIST_Init(list, OBD_GetNumMonitors());
  RCM_DrawTitle(TXT_SUPPORTED_MONITORS);
  SPKF_Init(list, GUI_DrawMonitorList);
  GUI_DrawMonitorList(list);
  if (list->noOfItems == 0) GUI_DrawMsgCentered(TXT_NO_DATA);
}

void SMS_EnterMenu() {
  SPKF_Init(&rcm.rcmSubMenuList, GUI_DrawMonitor);
  GUI_DrawMonitor(&rcm.rcmSubMenuList);
}

// ---------------------------------------------------------------------------------------------
// Monitor status

void MSL_EnterMenu() {
  LIST* list = &rcm.rcmSubMenuList;
  if (menu.menPrevMenuId == MENU_READINESS) LIST_Init(list, OBD_GetNumMonitorStatuses());
  const uint8_t filter = OBD_GetMonitorStatusFilter();
  RCM_DrawTitle(filter == 2 ? static_cast<uint8_t>(TXT_MONITOR_STATUS_CYCLE_TITLE)
                            : static_cast<uint8_t>(TXT_MONITOR_STATUS + filter));
  SPKF_Init(list, GUI_DrawMonitorStatusList);
  GUI_DrawMonitorStatusList(list);
}

void MSS_EnterMenu() {
  SPKF_Init(&rcm.rcmSubMenuList, GUI_DrawMonitorStatus);
  GUI_DrawMonitorStatus(&rcm.rcmSubMenuList);
}

// ---------------------------------------------------------------------------------------------
// Monitor settings: the status filter (only for ECUs that report this drive cycle) and the two
// stored flags as check boxes.

static uint8_t MSM_SetItems() {
  uint8_t n = 0;
  if (RCM_EcuHasThisCycleStatus()) {
    GUI_SetTxtId(static_cast<uint8_t>(TXT_SHOW_STATUS_ALL + OBD_GetMonitorStatusFilter()), n++);
  }
  GUI_SetTxtId(
      EEP_Read(EEP_SHOW_UNSUPPORTED_MONITORS) ? TXT_SHOW_UNSUP_MONITORS_ON : TXT_SHOW_UNSUP_MONITORS_OFF,
      n++);
  GUI_SetTxtId(EEP_Read(EEP_SHOW_AC_MONITOR) ? TXT_SHOW_AC_MONITOR_ON : TXT_SHOW_AC_MONITOR_OFF, n++);
  return n;
}

void MSM_EnterMenu() {
  LIST_Init(&rcm.rcmSubMenuList, MSM_SetItems());
  RCM_DrawTitle(TXT_MONITOR_SETTINGS);
  SPKF_Init(&rcm.rcmSubMenuList, GUI_DrawList);
  GUI_DrawListAll(&rcm.rcmSubMenuList);
}

// The setting is written at once, and the monitor tables use it from now on.
static void MSM_ToggleSetting(uint8_t eepAddr, void (*apply)(uint8_t flag)) {
  const uint8_t flag = EEP_Read(eepAddr) ? 0 : 1;
  EEP_Write(eepAddr, flag);
  apply(flag);
}

void MSM_KeyPressEventOk() {
  BEEP_PlaySound(SND_CLICK);
  const uint8_t txtId = GUI_GetTxtId(rcm.rcmSubMenuList.cursor);
  if (txtId >= TXT_SHOW_STATUS_ALL && txtId <= TXT_SHOW_STATUS_THIS_CYCLE) {
    OBD_SetMonitorStatusFilter(
        static_cast<uint8_t>((OBD_GetMonitorStatusFilter() + 1) % RCM_NUM_FILTERS));
  } else if (txtId == TXT_SHOW_UNSUP_MONITORS_ON || txtId == TXT_SHOW_UNSUP_MONITORS_OFF) {
    MSM_ToggleSetting(EEP_SHOW_UNSUPPORTED_MONITORS, OBD_SetFlagShowUnsupMonitors);
  } else if (txtId == TXT_SHOW_AC_MONITOR_ON || txtId == TXT_SHOW_AC_MONITOR_OFF) {
    MSM_ToggleSetting(EEP_SHOW_AC_MONITOR, OBD_SetFlagShowAcrfMonitor);
  } else {
    return;
  }
  MSM_SetItems();  // the item changed takes its other form; the others stay as they are
  GUI_DrawListAll(&rcm.rcmSubMenuList);
}
