// The menu table: every menu with its key handlers and where Esc and OK lead, the menus the
// list items open, and the menus with a backlight colour of their own. Checked when compiled:
// each menu stands in the row of its id, and every row names all its handlers (the row types
// take no fewer).
#include "screens/screens.h"
#include "screens/tables.h"
#include "ui/list.h"
#include "ui/menu_registry.h"
#include "ui/texts.h"

namespace {

// The handlers most menus share (ui/list.cpp).
constexpr MEN_FCT NONE = MEN_NoFct;
constexpr MEN_FCT ITEM = SPKF_KeyPressEventOk;   // opens the menu of the item under the cursor
constexpr MEN_FCT NEXT = SPKF_KeyPressEventOk2;  // opens the menu's "OK opens"
constexpr MEN_FCT NEXT_IF_ANY = SPKF_KeyPressEventOk3;  // the same, unless the list is empty
constexpr MEN_FCT BACK = SPKF_KeyPressEventEsc;  // returns to the menu's "Esc returns to"

constexpr MenArrows NO_ARROWS = {NONE, NONE, NONE, NONE};
constexpr MenArrows SCROLL = {SPKF_KeyPressEventUp, SPKF_KeyPressEventDown,
                              SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
constexpr MenArrows LSM_ARROWS = {LSM_KeyPressEventUp, LSM_KeyPressEventDown,
                                  LSM_KeyPressEventUpRepeat, LSM_KeyPressEventDownRepeat};
constexpr MenArrows FFM_ARROWS = {FFM_KeyPressEventUp, FFM_KeyPressEventDown,
                                  FFM_KeyPressEventUpRepeat, FFM_KeyPressEventDownRepeat};
constexpr MenArrows CAL_ARROWS = {NONE, CAL_KeyPressEventDown, NONE, NONE};
constexpr MenArrows CVN_ARROWS = {CVN_KeyPressEventUp, NONE, NONE, NONE};

}  // namespace

// clang-format off
constexpr MenuRow MEN_MENUS[MEN_NUM_MENUS] = {
    // menu                       enter             OK                   Esc                   arrows       Esc returns to            OK opens
    {MENU_INIT,                  {NONE,            NONE,                NONE,                 NO_ARROWS},  MENU_INIT,                MENU_INIT},
    {MENU_MAIN,                  {MM_EnterMenu,    ITEM,                NONE,                 SCROLL},     MENU_MAIN,                MENU_MAIN},
    {MENU_SELECT_PROTOCOL,       {SPM_EnterMenu,   SPM_KeyPressEventOk, BACK,                 SCROLL},     MENU_MAIN,                MENU_SCAN_PROTOCOL},
    {MENU_BLUETOOTH,             {BTM_EnterMenu,   NONE,                NONE,                 NO_ARROWS},  MENU_MAIN,                MENU_BLUETOOTH},
    {MENU_USB,                   {USB_EnterMenu,   NONE,                NONE,                 NO_ARROWS},  MENU_MAIN,                MENU_USB},
    {MENU_SERIAL,                {SIF_EnterMenu,   NONE,                NONE,                 NO_ARROWS},  MENU_MAIN,                MENU_SERIAL},
    {MENU_SYSTEM_INFO,           {SIM_EnterMenu,   BACK,                BACK,                 NO_ARROWS},  MENU_MAIN,                MENU_MAIN},
    {MENU_SETTINGS,              {SSM_EnterMenu,   SSM_KeyPressEventOk, BACK,                 SCROLL},     MENU_MAIN,                MENU_SETTINGS},
    {MENU_LCD_SETTINGS,          {LSM_EnterMenu,   LSM_KeyPressEventOk, LSM_KeyPressEventEsc, LSM_ARROWS}, MENU_SETTINGS,            MENU_LCD_SETTINGS},
    {MENU_SCAN_PROTOCOL,         {SPS_EnterMenu,   NONE,                BACK,                 NO_ARROWS},  MENU_MAIN,                MENU_SCAN_PROTOCOL},
    {MENU_READING_DATA,          {RDS_EnterMenu,   NONE,                RDS_KeyPressEventEsc, NO_ARROWS},  MENU_MAIN,                MENU_READING_DATA},
    {MENU_DIAGNOSTICS,           {DM_EnterMenu,    ITEM,                NONE,                 SCROLL},     MENU_DIAGNOSTICS,         MENU_DIAGNOSTICS},
    {MENU_CURRENT_DATA_LIST,     {CDM_EnterMenu,   NEXT_IF_ANY,         BACK,                 SCROLL},     MENU_DIAGNOSTICS,         MENU_CURRENT_DATA_SINGLE},
    {MENU_CURRENT_DATA_SINGLE,   {CDS_EnterMenu,   NEXT,                BACK,                 SCROLL},     MENU_CURRENT_DATA_LIST,   MENU_CURRENT_DATA_LIST},
    {MENU_TROUBLE_CODES,         {TCM_EnterMenu,   ITEM,                BACK,                 SCROLL},     MENU_DIAGNOSTICS,         MENU_TROUBLE_CODES},
    {MENU_READINESS,             {RCM_EnterMenu,   ITEM,                BACK,                 SCROLL},     MENU_DIAGNOSTICS,         MENU_READINESS},
    {MENU_VEHICLE_INFO,          {VIM_EnterMenu,   ITEM,                BACK,                 SCROLL},     MENU_DIAGNOSTICS,         MENU_VEHICLE_INFO},
    {MENU_PROTOCOL_INFO,         {PIM_EnterMenu,   NEXT,                BACK,                 NO_ARROWS},  MENU_DIAGNOSTICS,         MENU_SUP_PIDS_01},
    {MENU_SUP_PIDS_01,           {SP1_EnterMenu,   NEXT,                BACK,                 NO_ARROWS},  MENU_PROTOCOL_INFO,       MENU_SUP_PIDS_02},
    {MENU_SUP_PIDS_02,           {SP2_EnterMenu,   NEXT,                BACK,                 NO_ARROWS},  MENU_SUP_PIDS_01,         MENU_SUP_INFO_TYPES},
    {MENU_SUP_INFO_TYPES,        {SI9_EnterMenu,   NEXT,                BACK,                 NO_ARROWS},  MENU_SUP_PIDS_02,         MENU_DIAGNOSTICS},
    {MENU_SELECT_ECU,            {SEM_EnterMenu,   SEM_KeyPressEventOk, BACK,                 SCROLL},     MENU_DIAGNOSTICS,         MENU_SELECT_ECU},
    {MENU_DTC_LIST,              {DSM_EnterMenu,   NEXT_IF_ANY,         BACK,                 SCROLL},     MENU_TROUBLE_CODES,       MENU_DTC_SINGLE},
    {MENU_DTC_SINGLE,            {DSS_EnterMenu,   NEXT,                BACK,                 SCROLL},     MENU_DTC_LIST,            MENU_DTC_LIST},
    {MENU_CLEAR_DTCS,            {CTM_EnterMenu,   CTM_KeyPressEventOk, CTM_KeyPressEventEsc, NO_ARROWS},  MENU_TROUBLE_CODES,       MENU_CLEAR_DTCS},
    {MENU_FREEZE_FRAME,          {FFM_EnterMenu,   BACK,                BACK,                 NO_ARROWS},  MENU_TROUBLE_CODES,       MENU_TROUBLE_CODES},
    {MENU_FREEZE_FRAME_SELECT,   {FFSF_EnterMenu,  FFM_KeyPressEventOk, BACK,                 FFM_ARROWS}, MENU_TROUBLE_CODES,       MENU_FREEZE_FRAME_LIST},
    {MENU_FREEZE_FRAME_LIST,     {FFL_EnterMenu,   NEXT_IF_ANY,         BACK,                 SCROLL},     MENU_FREEZE_FRAME_SELECT, MENU_FREEZE_FRAME_SINGLE},
    {MENU_FREEZE_FRAME_SINGLE,   {FFS_EnterMenu,   NEXT_IF_ANY,         BACK,                 SCROLL},     MENU_FREEZE_FRAME_LIST,   MENU_FREEZE_FRAME_LIST},
    {MENU_SUP_MONITORS_LIST,     {SML_EnterMenu,   NEXT,                BACK,                 SCROLL},     MENU_READINESS,           MENU_SUP_MONITORS_SINGLE},
    {MENU_SUP_MONITORS_SINGLE,   {SMS_EnterMenu,   BACK,                BACK,                 SCROLL},     MENU_SUP_MONITORS_LIST,   MENU_SUP_MONITORS_LIST},
    {MENU_MONITOR_STATUS_LIST,   {MSL_EnterMenu,   NEXT,                BACK,                 SCROLL},     MENU_READINESS,           MENU_MONITOR_STATUS_SINGLE},
    {MENU_MONITOR_STATUS_SINGLE, {MSS_EnterMenu,   BACK,                BACK,                 SCROLL},     MENU_MONITOR_STATUS_LIST, MENU_MONITOR_STATUS_LIST},
    {MENU_MONITOR_SETTINGS,      {MSM_EnterMenu,   MSM_KeyPressEventOk, BACK,                 SCROLL},     MENU_READINESS,           MENU_MONITOR_SETTINGS},
    {MENU_VIN,                   {VIN_EnterMenu,   NEXT,                BACK,                 NO_ARROWS},  MENU_VEHICLE_INFO,        MENU_VEHICLE_INFO},
    {MENU_CAL,                   {CAL_EnterMenu,   NEXT,                BACK,                 CAL_ARROWS}, MENU_VEHICLE_INFO,        MENU_VEHICLE_INFO},
    {MENU_CVN,                   {CVN_EnterMenu,   NEXT,                BACK,                 CVN_ARROWS}, MENU_VEHICLE_INFO,        MENU_VEHICLE_INFO},
    {MENU_IPT_SPARK_LIST,        {IPT08_EnterMenu, NEXT_IF_ANY,         BACK,                 SCROLL},     MENU_VEHICLE_INFO,        MENU_IPT_SPARK_SINGLE},
    {MENU_IPT_SPARK_SINGLE,      {IPTS_EnterMenu,  BACK,                BACK,                 SCROLL},     MENU_IPT_SPARK_LIST,      MENU_IPT_SPARK_LIST},
    {MENU_ECU_NAME,              {ECU_EnterMenu,   BACK,                BACK,                 NO_ARROWS},  MENU_VEHICLE_INFO,        MENU_VEHICLE_INFO},
    {MENU_IPT_COMPR_LIST,        {IPT0B_EnterMenu, NEXT_IF_ANY,         BACK,                 SCROLL},     MENU_VEHICLE_INFO,        MENU_IPT_COMPR_SINGLE},
    {MENU_IPT_COMPR_SINGLE,      {IPTS_EnterMenu,  BACK,                BACK,                 SCROLL},     MENU_IPT_COMPR_LIST,      MENU_IPT_COMPR_LIST},
    {MENU_O2S_LOCATIONS,         {O2L_EnterMenu,   NEXT,                BACK,                 NO_ARROWS},  MENU_VEHICLE_INFO,        MENU_VEHICLE_INFO},
};

constexpr MenuItemRow MEN_ITEM_MENUS[MEN_NUM_ITEM_TEXTS] = {
    {TXT_START_DIAGNOSTICS,        MENU_SELECT_PROTOCOL},
    {TXT_BLUETOOTH_MODE,           MENU_BLUETOOTH},
    {TXT_USB_MODE,                 MENU_USB},
    {TXT_SERIAL_INTERFACE_MODE,    MENU_SERIAL},
    {TXT_SYSTEM_INFORMATION,       MENU_SYSTEM_INFO},
    {TXT_SYSTEM_SETTINGS,          MENU_SETTINGS},
    {TXT_CURRENT_DATA,             MENU_CURRENT_DATA_LIST},
    {TXT_TROUBLE_CODES,            MENU_TROUBLE_CODES},
    {TXT_IM_READINESS,             MENU_READINESS},
    {TXT_VEHICLE_INFO,             MENU_VEHICLE_INFO},
    {TXT_PROTOCOL_INFORMATION,     MENU_PROTOCOL_INFO},
    {TXT_CHANGE_ECU,               MENU_SELECT_ECU},
    {TXT_RELOAD_OBD_DATA,          MENU_READING_DATA},
    {TXT_DTC_SUMMARY,              MENU_DTC_LIST},
    {TXT_CLEAR_DTC_DATA,           MENU_CLEAR_DTCS},
    {TXT_FREEZE_FRAMES,            MENU_FREEZE_FRAME},
    {TXT_SUPPORTED_MONITORS,       MENU_SUP_MONITORS_LIST},
    {TXT_MONITOR_STATUS,           MENU_MONITOR_STATUS_LIST},
    {TXT_MONITOR_STATUS_DTC,       MENU_MONITOR_STATUS_LIST},
    {TXT_MONITOR_STATUS_CYCLE,     MENU_MONITOR_STATUS_LIST},
    {TXT_MONITOR_SETTINGS,         MENU_MONITOR_SETTINGS},
    {TXT_VIN,                      MENU_VIN},
    {TXT_CALIBRATION_IDS,          MENU_CAL},
    {TXT_CALIBRATION_VERIFICATION, MENU_CVN},
    {TXT_PERFORMANCE_TRACKING_08,  MENU_IPT_SPARK_LIST},
    {TXT_ECU_NAME,                 MENU_ECU_NAME},
    {TXT_PERFORMANCE_TRACKING_0B,  MENU_IPT_COMPR_LIST},
    {TXT_O2_SENSOR_LOCATIONS,      MENU_O2S_LOCATIONS},
};

constexpr MenuBacklight MEN_FIXED_BACKLIGHTS[MEN_NUM_FIXED_BACKLIGHTS] = {
    {MENU_INIT,          200, 150,   0},
    {MENU_BLUETOOTH,      50,  50, 100},
    {MENU_USB,           120,  10,  50},
    {MENU_SERIAL,        165, 111,   0},
    {MENU_SCAN_PROTOCOL, 165, 111,   0},
    {MENU_READING_DATA,   65, 111,  10},
};
// clang-format on

namespace {

constexpr bool MenusInIdOrder() {
  for (uint8_t id = 0; id < MEN_NUM_MENUS; ++id) {
    const MenuRow& r = MEN_MENUS[id];
    if (r.id != id || r.escTo >= MEN_NUM_MENUS || r.okTo >= MEN_NUM_MENUS) return false;
  }
  return true;
}

constexpr bool ItemTextsInOrder() {
  for (uint8_t i = 0; i < MEN_NUM_ITEM_TEXTS; ++i) {
    if (MEN_ITEM_MENUS[i].txtId != i || MEN_ITEM_MENUS[i].menuId >= MEN_NUM_MENUS) return false;
  }
  return true;
}

constexpr bool BacklightMenusDistinct() {
  for (uint8_t i = 0; i < MEN_NUM_FIXED_BACKLIGHTS; ++i) {
    for (uint8_t j = 0; j < i; ++j) {
      if (MEN_FIXED_BACKLIGHTS[i].id == MEN_FIXED_BACKLIGHTS[j].id) return false;
    }
  }
  return true;
}

}  // namespace

static_assert(MenusInIdOrder(), "each menu in the row of its id");
static_assert(ItemTextsInOrder(), "each list item text in the row of its id");
static_assert(BacklightMenusDistinct(), "one backlight colour per menu");

void SCR_RegisterTables() {
  MEN_RegisterTables({&MEN_MENUS, &MEN_ITEM_MENUS, &MEN_FIXED_BACKLIGHTS});
  DRH_RegisterHandlers(DRH_HANDLERS);
}
