// Menu engine. Every screen is a menu: a record of seven handlers (enter, OK, Esc, Up, Down, Up
// repeat, Down repeat). The key handler calls at most one of them per tick, newly pressed keys
// before repeats, and a long Esc restarts the device.
#include "ui/menu.h"

#include "main.h"
#include "screens/screens.h"
#include "timer.h"
#include "ui/lcd.h"
#include "ui/list.h"

MenuState menu;

void MEN_NoFct() {}

// clang-format off
// Handlers: enter, OK, Esc, Up, Down, Up repeat, Down repeat.
static constexpr MenCfg menInitMenuCfg = {MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menMainMenuCfg = {MM_EnterMenu, SPKF_KeyPressEventOk, MEN_NoFct, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menSelectProtocolMenuCfg = {SPM_EnterMenu, SPM_KeyPressEventOk, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menBluetoothMenuCfg = {BTM_EnterMenu, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menUsbMenuCfg = {USB_EnterMenu, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menSerialMenuCfg = {SIF_EnterMenu, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menSystemInfoMenuCfg = {SIM_EnterMenu, SPKF_KeyPressEventEsc, SPKF_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menSettingsMenuCfg = {SSM_EnterMenu, SSM_KeyPressEventOk, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menLcdSettingsMenuCfg = {LSM_EnterMenu, LSM_KeyPressEventOk, LSM_KeyPressEventEsc, LSM_KeyPressEventUp, LSM_KeyPressEventDown, LSM_KeyPressEventUpRepeat, LSM_KeyPressEventDownRepeat};
static constexpr MenCfg scanProtocolScreenCfg = {SPS_EnterMenu, MEN_NoFct, SPKF_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menReadingDataScreenCfg = {RDS_EnterMenu, MEN_NoFct, RDS_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menDiagnosticsMenuCfg = {DM_EnterMenu, SPKF_KeyPressEventOk, MEN_NoFct, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menCurrentDataListMenuCfg = {CDM_EnterMenu, SPKF_KeyPressEventOk3, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menCurrentDataSingleMenuCfg = {CDS_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menTroubleCodeMenuCfg = {TCM_EnterMenu, SPKF_KeyPressEventOk, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menReadinessMenuCfg = {RCM_EnterMenu, SPKF_KeyPressEventOk, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menVehicleInfoMenuCfg = {VIM_EnterMenu, SPKF_KeyPressEventOk, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menProtocolInfoMenuCfg = {PIM_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menSupPids01MenuCfg = {SP1_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menSupPids02MenuCfg = {SP2_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menSupInfoTypesMenuCfg = {SI9_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menSelectEcuMenuCfg = {SEM_EnterMenu, SEM_KeyPressEventOk, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menDtcSummaryListMenuCfg = {DSM_EnterMenu, SPKF_KeyPressEventOk3, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menDtcSummarySingleMenuCfg = {DSS_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menClearTroublecodesMenuCfg = {CTM_EnterMenu, CTM_KeyPressEventOk, CTM_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menFreezeFrameMenuCfg = {FFM_EnterMenu, SPKF_KeyPressEventEsc, SPKF_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menFreezeFrameSelectFrameMenuCfg = {FFSF_EnterMenu, FFM_KeyPressEventOk, SPKF_KeyPressEventEsc, FFM_KeyPressEventUp, FFM_KeyPressEventDown, FFM_KeyPressEventUpRepeat, FFM_KeyPressEventDownRepeat};
static constexpr MenCfg menFreezeFrameListMenuCfg = {FFL_EnterMenu, SPKF_KeyPressEventOk3, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menFreezeFrameSingleMenuCfg = {FFS_EnterMenu, SPKF_KeyPressEventOk3, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menSupMonitorsListMenuCfg = {SML_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menSupMonitorsSingleMenuCfg = {SMS_EnterMenu, SPKF_KeyPressEventEsc, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menMonitorStatusListMenuCfg = {MSL_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menMonitorStatusSingleMenuCfg = {MSS_EnterMenu, SPKF_KeyPressEventEsc, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menMonitorSettingsMenuCfg = {MSM_EnterMenu, MSM_KeyPressEventOk, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menVinMenuCfg = {VIN_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menCalMenuCfg = {CAL_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, MEN_NoFct, CAL_KeyPressEventDown, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menCvnMenuCfg = {CVN_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, CVN_KeyPressEventUp, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menIptSparkIgnListMenuCfg = {IPT08_EnterMenu, SPKF_KeyPressEventOk3, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menIptSparkIgnSingleMenuCfg = {IPTS_EnterMenu, SPKF_KeyPressEventEsc, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menEcuNameMenuCfg = {ECU_EnterMenu, SPKF_KeyPressEventEsc, SPKF_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};
static constexpr MenCfg menIptComprIgnListMenuCfg = {IPT0B_EnterMenu, SPKF_KeyPressEventOk3, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menIptComprIgnSingleMenuCfg = {IPTS_EnterMenu, SPKF_KeyPressEventEsc, SPKF_KeyPressEventEsc, SPKF_KeyPressEventUp, SPKF_KeyPressEventDown, SPKF_KeyPressEventUpRepeat, SPKF_KeyPressEventDownRepeat};
static constexpr MenCfg menO2SLocMenuCfg = {O2L_EnterMenu, SPKF_KeyPressEventOk2, SPKF_KeyPressEventEsc, MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct};

static const MenCfg* const menCfgTab[MEN_NUM_MENUS] = {
    &menInitMenuCfg, &menMainMenuCfg, &menSelectProtocolMenuCfg,
    &menBluetoothMenuCfg, &menUsbMenuCfg, &menSerialMenuCfg,
    &menSystemInfoMenuCfg, &menSettingsMenuCfg, &menLcdSettingsMenuCfg,
    &scanProtocolScreenCfg, &menReadingDataScreenCfg, &menDiagnosticsMenuCfg,
    &menCurrentDataListMenuCfg, &menCurrentDataSingleMenuCfg, &menTroubleCodeMenuCfg,
    &menReadinessMenuCfg, &menVehicleInfoMenuCfg, &menProtocolInfoMenuCfg,
    &menSupPids01MenuCfg, &menSupPids02MenuCfg, &menSupInfoTypesMenuCfg,
    &menSelectEcuMenuCfg, &menDtcSummaryListMenuCfg, &menDtcSummarySingleMenuCfg,
    &menClearTroublecodesMenuCfg, &menFreezeFrameMenuCfg, &menFreezeFrameSelectFrameMenuCfg,
    &menFreezeFrameListMenuCfg, &menFreezeFrameSingleMenuCfg, &menSupMonitorsListMenuCfg,
    &menSupMonitorsSingleMenuCfg, &menMonitorStatusListMenuCfg, &menMonitorStatusSingleMenuCfg,
    &menMonitorSettingsMenuCfg, &menVinMenuCfg, &menCalMenuCfg,
    &menCvnMenuCfg, &menIptSparkIgnListMenuCfg, &menIptSparkIgnSingleMenuCfg,
    &menEcuNameMenuCfg, &menIptComprIgnListMenuCfg, &menIptComprIgnSingleMenuCfg,
    &menO2SLocMenuCfg,
};

// Menu that Esc returns to, by menu id.
static const uint8_t menNextMenuIdTab[MEN_NUM_MENUS] = {
    0, 1, 1, 1, 1, 1, 1, 1, 7, 1,  // 0..
    1, 11, 11, 12, 11, 11, 11, 11, 17, 18,  // 10..
    19, 11, 14, 22, 14, 14, 14, 26, 27, 15,  // 20..
    29, 15, 31, 15, 16, 16, 16, 16, 37, 16,  // 30..
    16, 40, 16,  // 40..
};

// Menu that OK opens when a menu has one successor, by menu id.
static const uint8_t menNextMenuIdByMenuIdTab[MEN_NUM_MENUS] = {
    0, 1, 9, 3, 4, 5, 1, 7, 8, 9,  // 0..
    10, 11, 13, 12, 14, 15, 16, 18, 19, 20,  // 10..
    11, 21, 23, 22, 24, 14, 27, 28, 27, 30,  // 20..
    29, 32, 31, 33, 16, 16, 16, 38, 37, 16,  // 30..
    41, 40, 16,  // 40..
};
// clang-format on

static_assert(sizeof menCfgTab / sizeof menCfgTab[0] == MEN_NUM_MENUS);

// The menu a list item opens, by the item's text id 0..27.
static const uint8_t menMenuIdByTxtIdTab[28] = {
    2, 3, 4, 5, 6, 7, 12, 14, 15, 16, 17, 21, 10, 22,
    24, 25, 29, 31, 31, 31, 33, 34, 35, 36, 37, 39, 40, 42,
};

struct Backlight {
  uint8_t menuId, red, green, blue;
};
// clang-format off
static const Backlight MEN_FIXED_BACKLIGHT[] = {
    {0, 200, 150,   0},  // power-on screen
    {3,  50,  50, 100},  // Bluetooth mode
    {4, 120,  10,  50},  // USB mode
    {5, 165, 111,   0},  // serial interface mode
    {9, 165, 111,   0},  // protocol scan
    {10, 65, 111,  10},  // reading data
};
// clang-format on

void MEN_InitState() {
  menu = MenuState{};
  menu.menCfg = menInitMenuCfg;
  KEY_SetOrientation(0);
  LIST_InitState();
}

static void MEN_SetBacklight(uint8_t menuId) {
  for (const Backlight& b : MEN_FIXED_BACKLIGHT) {
    if (b.menuId == menuId) {
      LCD_SetBacklight(b.red, b.green, b.blue);
      return;
    }
  }
  LCD_InitBacklight();
}

void MEN_EnterMenu(uint8_t menuId) {
  if (menuId >= MEN_NUM_MENUS) return;
  menu.menPrevMenuId = menu.menMenuId;
  menu.menMenuId = menuId;
  menu.menCfg = *menCfgTab[menuId];
  MEN_SetBacklight(menuId);

  // A key still held from the previous menu gives no press here until released.
  keyDebounce.keyState = 0xFF;
  keyDebounce.keyPressed = 0;
  keyDebounce.keyRepeated = 0;

  menu.menCfg.enter();
}

void MEN_CancelMenu() { MEN_EnterMenu(menNextMenuIdTab[menu.menMenuId]); }
uint8_t MEN_GetNextMenuId() { return menNextMenuIdByMenuIdTab[menu.menMenuId]; }

uint8_t MEN_GetMenuIdByTxtId(uint8_t txtId) {
  return txtId < sizeof menMenuIdByTxtIdTab ? menMenuIdByTxtIdTab[txtId] : menu.menMenuId;
}

struct KeyLayout {
  uint8_t up, down, ok, esc;
};
static const KeyLayout KEY_LAYOUT[2] = {
    {0x40, 0x80, 0x20, 0x10},  // normal
    {0x20, 0x10, 0x40, 0x80},  // turned by 180 degrees: the keys swap places
};

void KEY_SetOrientation(uint8_t orientation) {
  const KeyLayout& k = KEY_LAYOUT[orientation == 1 ? 1 : 0];
  menu.keyUp = k.up, menu.keyDown = k.down, menu.keyOk = k.ok, menu.keyEsc = k.esc;
}

void KEY_EventHandler() {
  uint8_t pressed = keyDebounce.keyPressed.exchange(0);
  uint8_t repeated = keyDebounce.keyRepeated.exchange(0);

  if (pressed != 0) {
    if (pressed & menu.keyEsc) {
      menu.menEscRepeatCounter = 0;
      menu.menCfg.esc();
    } else if (pressed & menu.keyOk) {
      menu.menCfg.ok();
    } else if (pressed & menu.keyUp) {
      menu.menCfg.up();
    } else if (pressed & menu.keyDown) {
      menu.menCfg.down();
    }
  } else if (repeated != 0) {
    if (repeated & menu.keyUp) {
      menu.menCfg.upRepeat();
    } else if (repeated & menu.keyDown) {
      menu.menCfg.downRepeat();
    } else if (repeated & menu.keyEsc) {
      if (++menu.menEscRepeatCounter > MEN_ESC_REPEATS_FOR_RESET) WatchdogReset();
    }
  }
}
