// Menu engine. Every screen is a menu: a record of seven handlers (enter, OK, Esc, Up, Down, Up
// repeat, Down repeat) in the menu table the screens register (ui/menu_registry.h). The key handler
// calls at most one of them per tick, newly pressed keys before repeats, and a long Esc restarts
// the device.
#include "ui/menu.h"

#include <string.h>

#include "timer.h"
#include "ui/lcd.h"
#include "watchdog.h"

MenuState menu;

static MenuTables registered;  // the screens' tables

void MEN_RegisterTables(const MenuTables& tables) { registered = tables; }

static const MenuRow& MEN_Row(uint8_t menuId) { return (*registered.menus)[menuId]; }

void MEN_NoFct() {}

void MEN_InitState() {
  memset(&menu, 0, sizeof menu);
  menu.menCfg = MEN_Row(MENU_INIT).keys;
  KEY_SetOrientation(0);
}

static void MEN_SetBacklight(uint8_t menuId) {
  for (const MenuBacklight& b : *registered.backlights) {
    if (b.id == menuId) {
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
  menu.menCfg = MEN_Row(menuId).keys;
  MEN_SetBacklight(menuId);

  // A key still held from the previous menu gives no press here until released.
  keyDebounce.keyState = 0xFF;
  keyDebounce.keyPressed = 0;
  keyDebounce.keyRepeated = 0;

  menu.menCfg.enter();
}

void MEN_CancelMenu() { MEN_EnterMenu(MEN_Row(menu.menMenuId).escTo); }
uint8_t MEN_GetNextMenuId() { return MEN_Row(menu.menMenuId).okTo; }

uint8_t MEN_GetMenuIdByTxtId(uint8_t txtId) {
  if (txtId >= MEN_NUM_ITEM_TEXTS) return menu.menMenuId;  // not an item that opens a menu
  return (*registered.itemMenus)[txtId].menuId;
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
      menu.menCfg.arrows.up();
    } else if (pressed & menu.keyDown) {
      menu.menCfg.arrows.down();
    }
  } else if (repeated != 0) {
    if (repeated & menu.keyUp) {
      menu.menCfg.arrows.upRepeat();
    } else if (repeated & menu.keyDown) {
      menu.menCfg.arrows.downRepeat();
    } else if (repeated & menu.keyEsc) {
      if (++menu.menEscRepeatCounter > MEN_ESC_REPEATS_FOR_RESET) WatchdogReset();
    }
  }
}
