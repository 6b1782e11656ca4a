// The menus the screens register with the menu engine. Every screen is a menu: a record of
// seven key handlers, the menu Esc returns to and the menu OK opens. The screens define the
// tables and register them at power-on (screens/menu_table.cpp); the engine (ui/menu) only reads them.
#pragma once

#include <stdint.h>

#include "ui/texts.h"

// Menu ids, in the order of the menu table.
enum MenuId : uint8_t {
  MENU_INIT,
  MENU_MAIN,
  MENU_SELECT_PROTOCOL,
  MENU_BLUETOOTH,
  MENU_USB,
  MENU_SERIAL,
  MENU_SYSTEM_INFO,
  MENU_SETTINGS,
  MENU_LCD_SETTINGS,
  MENU_SCAN_PROTOCOL,
  MENU_READING_DATA,
  MENU_DIAGNOSTICS,
  MENU_CURRENT_DATA_LIST,
  MENU_CURRENT_DATA_SINGLE,
  MENU_TROUBLE_CODES,
  MENU_READINESS,
  MENU_VEHICLE_INFO,
  MENU_PROTOCOL_INFO,
  MENU_SUP_PIDS_01,
  MENU_SUP_PIDS_02,
  MENU_SUP_INFO_TYPES,
  MENU_SELECT_ECU,
  MENU_DTC_LIST,
  MENU_DTC_SINGLE,
  MENU_CLEAR_DTCS,
  MENU_FREEZE_FRAME,
  MENU_FREEZE_FRAME_SELECT,
  MENU_FREEZE_FRAME_LIST,
  MENU_FREEZE_FRAME_SINGLE,
  MENU_SUP_MONITORS_LIST,
  MENU_SUP_MONITORS_SINGLE,
  MENU_MONITOR_STATUS_LIST,
  MENU_MONITOR_STATUS_SINGLE,
  MENU_MONITOR_SETTINGS,
  MENU_VIN,
  MENU_CAL,
  MENU_CVN,
  MENU_IPT_SPARK_LIST,
  MENU_IPT_SPARK_SINGLE,
  MENU_ECU_NAME,
  MENU_IPT_COMPR_LIST,
  MENU_IPT_COMPR_SINGLE,
  MENU_O2S_LOCATIONS,
  MEN_NUM_MENUS
};

typedef void (*MEN_FCT)();

// The rows below are built by constructors that take every field: a row that leaves a handler
// or a menu out does not compile.
struct MenArrows {
  MEN_FCT up;
  MEN_FCT down;
  MEN_FCT upRepeat;  // held down
  MEN_FCT downRepeat;
  MenArrows() = default;
  constexpr MenArrows(MEN_FCT u, MEN_FCT d, MEN_FCT ur, MEN_FCT dr)
      : up(u), down(d), upRepeat(ur), downRepeat(dr) {}
};

struct MenCfg {
  MEN_FCT enter;
  MEN_FCT ok;
  MEN_FCT esc;
  MenArrows arrows;
  MenCfg() = default;
  constexpr MenCfg(MEN_FCT en, MEN_FCT o, MEN_FCT es, MenArrows a)
      : enter(en), ok(o), esc(es), arrows(a) {}
};

struct MenuRow {
  MenuId id;
  MenCfg keys;
  MenuId escTo;  // the menu Esc returns to
  MenuId okTo;   // the menu OK opens when the menu has one successor
  constexpr MenuRow(MenuId i, MenCfg k, MenuId e, MenuId o) : id(i), keys(k), escTo(e), okTo(o) {}
};

// The menu a list item opens, by the item's text: the texts 0 .. MEN_NUM_ITEM_TEXTS - 1.
struct MenuItemRow {
  TxtId txtId;
  MenuId menuId;
};
constexpr uint8_t MEN_NUM_ITEM_TEXTS = 28;

// Menus lit in a colour of their own; every other menu shows the stored colour.
struct MenuBacklight {
  MenuId id;
  uint8_t red, green, blue;
};
constexpr uint8_t MEN_NUM_FIXED_BACKLIGHTS = 6;

// What the screens register with the engine at power-on, before its first use
// (screens/menu_table.cpp): every menu in the row of its id, the menus the list items open, the
// menus with a backlight colour of their own.
struct MenuTables {
  const MenuRow (*menus)[MEN_NUM_MENUS];
  const MenuItemRow (*itemMenus)[MEN_NUM_ITEM_TEXTS];
  const MenuBacklight (*backlights)[MEN_NUM_FIXED_BACKLIGHTS];
};
void MEN_RegisterTables(const MenuTables& tables);

void MEN_NoFct();  // a key the menu does not use
