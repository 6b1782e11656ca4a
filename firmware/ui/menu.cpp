// Menu engine. Each menu is a record of seven handlers; the key handler calls at most one of
// them per tick, newly pressed keys before repeats.
#include "firmware/ui/menu.h"

#include "firmware/main.h"
#include "firmware/timer.h"
#include "firmware/ui/lcd.h"

MenuState menu;

void MEN_NoFct() {}

// Menus that are not built yet behave as an empty screen: no handler does anything, Esc goes
// back to the main menu.
static constexpr MenCfg MEN_EMPTY_CFG = {MEN_NoFct, MEN_NoFct, MEN_NoFct, MEN_NoFct,
                                         MEN_NoFct, MEN_NoFct, MEN_NoFct};

struct MenuRecord {
  MenCfg cfg;
  uint8_t backTo;     // menu that Esc returns to
  uint8_t forwardTo;  // menu that OK opens when the menu has one successor
};

static MenuRecord MEN_GetRecord(uint8_t menuId) {
  if (menuId == 0) return {MEN_EMPTY_CFG, 0, 0};
  return {MEN_EMPTY_CFG, 1, menuId};
}

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
  menu.menCfg = MEN_EMPTY_CFG;
  KEY_SetOrientation(0);
}

void MEN_EnterMenu(uint8_t menuId) {
  menu.menPrevMenuId = menu.menMenuId;
  menu.menMenuId = menuId;
  menu.menCfg = MEN_GetRecord(menuId).cfg;

  bool fixed = false;
  for (const Backlight& b : MEN_FIXED_BACKLIGHT) {
    if (b.menuId == menuId) {
      LCD_SetBacklight(b.red, b.green, b.blue);
      fixed = true;
    }
  }
  if (!fixed) LCD_InitBacklight();

  // A key still held from the previous menu gives no press here until released.
  keyDebounce.keyState = 0xFF;
  keyDebounce.keyPressed = 0;
  keyDebounce.keyRepeated = 0;

  menu.menCfg.enter();
}

void MEN_CancelMenu() { MEN_EnterMenu(MEN_GetRecord(menu.menMenuId).backTo); }
uint8_t MEN_GetNextMenuId() { return MEN_GetRecord(menu.menMenuId).forwardTo; }

void KEY_SetOrientation(uint8_t orientation) {
  if (orientation == 1) {
    menu.keyUp = 0x20, menu.keyDown = 0x10, menu.keyOk = 0x40, menu.keyEsc = 0x80;
  } else {
    menu.keyUp = 0x40, menu.keyDown = 0x80, menu.keyOk = 0x20, menu.keyEsc = 0x10;
  }
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
