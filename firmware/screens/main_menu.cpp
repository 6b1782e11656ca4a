// The main menu (menu 1). The bridge mode items (Bluetooth, USB, Serial Interface) are shown
// only when switched on in the settings (EEPROM bytes 19 to 21); the change shows the next
// time the menu is entered. Coming back from a menu, the cursor rests on the item that opened
// it, even when the number of items changed in between.
#include "screens/main_menu.h"

#include "eeprom.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/menu.h"
#include "ui/texts.h"

// Every item is the text id of a menu entry. It is set up on each entry of the menu, and the
// first entry after power-on initialises it, so a restart leaves nothing behind.
LIST mmList;

struct MmItem {
  uint8_t txtId;
  uint8_t eepShownAddr;  // the setting that shows the item; MM_ALWAYS for fixed items
};
constexpr uint8_t MM_ALWAYS = 0xFF;

// clang-format off
static const MmItem MM_ITEMS[] = {
    {TXT_START_DIAGNOSTICS,     MM_ALWAYS},
    {TXT_BLUETOOTH_MODE,        EEP_BLUETOOTH_MENU},
    {TXT_USB_MODE,              EEP_USB_MENU},
    {TXT_SERIAL_INTERFACE_MODE, EEP_SERIAL_MENU},
    {TXT_SYSTEM_INFORMATION,    MM_ALWAYS},
    {TXT_SYSTEM_SETTINGS,       MM_ALWAYS},
};
// clang-format on
static_assert(sizeof MM_ITEMS / sizeof MM_ITEMS[0] <= GUI_MAX_LIST_ITEMS);

// The item that opens `menuId`, searched from the last item up; the first item if none does.
static uint8_t MM_FindItemOpening(uint8_t menuId, uint8_t count) {
  for (uint8_t i = count; i > 0; --i) {
    if (MEN_GetMenuIdByTxtId(GUI_GetTxtId(static_cast<uint8_t>(i - 1))) == menuId) {
      return static_cast<uint8_t>(i - 1);
    }
  }
  return 0;
}

void MM_EnterMenu() {
  uint8_t count = 0;
  for (const MmItem& item : MM_ITEMS) {
    if (item.eepShownAddr == MM_ALWAYS || EEP_Read(item.eepShownAddr) != 0) {
      GUI_SetTxtId(item.txtId, count++);
    }
  }

  GUI_DrawTitle(GUI_GetTxt(TXT_MAIN_MENU));
  if (menu.menPrevMenuId != MENU_INIT) {
    mmList.noOfItems = count;
    LIST_SetCursor(&mmList, MM_FindItemOpening(menu.menPrevMenuId, count));
  } else {
    LIST_Init(&mmList, count);  // first entry after power-on
  }
  SPKF_Init(&mmList, GUI_DrawList);
  GUI_DrawListAll(&mmList);
}
