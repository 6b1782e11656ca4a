// The request table: each menu's request and answer handlers. Menus of one screen family share
// a request handler that asks what the current menu needs. Checked when compiled: each menu
// stands in the row of its id, with both handlers (the row type takes no fewer).
#include "link/request_registry.h"
#include "screens/screen_requests.h"
#include "screens/tables.h"

namespace {

constexpr DRH_TIMER_FCT NO_REQUEST = DRH_NoTimerExpiredEventFct;
constexpr DRH_RX_FCT NO_ANSWER = DRH_NoProcessRxDataFct;

}  // namespace

// clang-format off
constexpr DrhRow DRH_HANDLERS[MEN_NUM_MENUS] = {
    // menu                      request                   answer
    {MENU_INIT,                  NO_REQUEST,               NO_ANSWER},
    {MENU_MAIN,                  NO_REQUEST,               NO_ANSWER},
    {MENU_SELECT_PROTOCOL,       NO_REQUEST,               NO_ANSWER},
    {MENU_BLUETOOTH,             NO_REQUEST,               NO_ANSWER},
    {MENU_USB,                   NO_REQUEST,               NO_ANSWER},
    {MENU_SERIAL,                NO_REQUEST,               NO_ANSWER},
    {MENU_SYSTEM_INFO,           SIM_ReqTimerExpiredEvent, SIM_ProcessRxData},
    {MENU_SETTINGS,              NO_REQUEST,               NO_ANSWER},
    {MENU_LCD_SETTINGS,          NO_REQUEST,               NO_ANSWER},
    {MENU_SCAN_PROTOCOL,         SPS_ReqTimerExpiredEvent, SPS_ProcessRxData},
    {MENU_READING_DATA,          RDS_ReqTimerExpiredEvent, RDS_ProcessRxData},
    {MENU_DIAGNOSTICS,           NO_REQUEST,               NO_ANSWER},
    {MENU_CURRENT_DATA_LIST,     CDM_ReqTimerExpiredEvent, CDM_ProcessRxListData},
    {MENU_CURRENT_DATA_SINGLE,   CDM_ReqTimerExpiredEvent, CDM_ProcessRxSingleData},
    {MENU_TROUBLE_CODES,         NO_REQUEST,               NO_ANSWER},
    {MENU_READINESS,             RCM_ReqTimerExpiredEvent, RCM_ProcessRxData},
    {MENU_VEHICLE_INFO,          NO_REQUEST,               NO_ANSWER},
    {MENU_PROTOCOL_INFO,         PIM_ReqTimerExpiredEvent, PIM_ProcessRxData},
    {MENU_SUP_PIDS_01,           NO_REQUEST,               NO_ANSWER},
    {MENU_SUP_PIDS_02,           NO_REQUEST,               NO_ANSWER},
    {MENU_SUP_INFO_TYPES,        NO_REQUEST,               NO_ANSWER},
    {MENU_SELECT_ECU,            NO_REQUEST,               SEM_ProcessRxData},  // sends from its OK key
    {MENU_DTC_LIST,              NO_REQUEST,               NO_ANSWER},
    {MENU_DTC_SINGLE,            NO_REQUEST,               NO_ANSWER},
    {MENU_CLEAR_DTCS,            CTM_ReqTimerExpiredEvent, CTM_ProcessRxData},
    {MENU_FREEZE_FRAME,          FFM_ReqTimerExpiredEvent, FFM_ProcessRxInitData},
    {MENU_FREEZE_FRAME_SELECT,   FFM_ReqTimerExpiredEvent, FFSF_ProcessRxData},
    {MENU_FREEZE_FRAME_LIST,     FFM_ReqTimerExpiredEvent, FFM_ProcessRxListData},
    {MENU_FREEZE_FRAME_SINGLE,   FFM_ReqTimerExpiredEvent, FFM_ProcessRxSingleData},
    {MENU_SUP_MONITORS_LIST,     RCM_ReqTimerExpiredEvent, RCM_ProcessRxData},
    {MENU_SUP_MONITORS_SINGLE,   RCM_ReqTimerExpiredEvent, RCM_ProcessRxData},
    {MENU_MONITOR_STATUS_LIST,   RCM_ReqTimerExpiredEvent, RCM_ProcessRxData},
    {MENU_MONITOR_STATUS_SINGLE, RCM_ReqTimerExpiredEvent, RCM_ProcessRxData},
    {MENU_MONITOR_SETTINGS,      RCM_ReqTimerExpiredEvent, RCM_ProcessRxData},
    {MENU_VIN,                   VIM_ReqTimerExpiredEvent, VIM_ProcessRxData},
    {MENU_CAL,                   VIM_ReqTimerExpiredEvent, VIM_ProcessRxData},
    {MENU_CVN,                   VIM_ReqTimerExpiredEvent, VIM_ProcessRxData},
    {MENU_IPT_SPARK_LIST,        VIM_ReqTimerExpiredEvent, IPT_ProcessRxData},
    {MENU_IPT_SPARK_SINGLE,      VIM_ReqTimerExpiredEvent, IPT_ProcessRxData},
    {MENU_ECU_NAME,              VIM_ReqTimerExpiredEvent, VIM_ProcessRxData},
    {MENU_IPT_COMPR_LIST,        VIM_ReqTimerExpiredEvent, IPT_ProcessRxData},
    {MENU_IPT_COMPR_SINGLE,      VIM_ReqTimerExpiredEvent, IPT_ProcessRxData},
    {MENU_O2S_LOCATIONS,         NO_REQUEST,               NO_ANSWER},
};
// clang-format on

namespace {

constexpr bool MenusInIdOrder() {
  for (uint8_t id = 0; id < MEN_NUM_MENUS; ++id) {
    if (DRH_HANDLERS[id].menuId != id) return false;
  }
  return true;
}

}  // namespace

static_assert(MenusInIdOrder(), "each menu in the row of its id");
