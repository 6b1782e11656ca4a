// The main menu: its items by the bridge menu settings, the screen, and where the cursor rests
// when the user comes back from a menu that one of its items opened.
#include "firmware/screens/main_menu.h"

#include <gtest/gtest.h>

#include <vector>

#include "firmware/eeprom.h"
#include "firmware/mcu.h"
#include "firmware/timer.h"
#include "firmware/ui/fonts.h"
#include "firmware/ui/gui.h"
#include "firmware/ui/lcd.h"
#include "firmware/ui/menu.h"
#include "firmware/ui/texts.h"
#include "controller/controller.h"
#include "tests/support/screen_text.h"

namespace {

const uint8_t* const SYS = SystemFont.bytes;

class MainMenu : public testing::Test {
 protected:
  void SetUp() override {
    tarnic_InitVars();
    for (uint8_t i = 0; i < EEP_SETTINGS_SIZE; ++i) eepaddr[i] = EEP_INIT_DATA[i];
  }
  void SetBridgeItems(uint8_t bluetooth, uint8_t usb, uint8_t serial) {
    eepaddr[EEP_BLUETOOTH_MENU] = bluetooth;
    eepaddr[EEP_USB_MENU] = usb;
    eepaddr[EEP_SERIAL_MENU] = serial;
  }
  std::vector<int> Items() {
    std::vector<int> ids;
    for (uint8_t i = 0; i < mmList.noOfItems; ++i) ids.push_back(GUI_GetTxtId(i));
    return ids;
  }
  void Press(uint8_t keyLine) {
    keyDebounce.keyPressed = keyLine;
    KEY_EventHandler();
  }
};

TEST_F(MainMenu, BridgeItemsFollowTheirSettings) {
  struct Case {
    uint8_t bluetooth, usb, serial;
    std::vector<int> items;
  };
  const Case cases[] = {
      {0, 0, 0, {TXT_START_DIAGNOSTICS, TXT_SYSTEM_INFORMATION, TXT_SYSTEM_SETTINGS}},
      {1, 0, 0, {0, TXT_BLUETOOTH_MODE, 4, 5}},  // the defaults
      {0, 7, 0, {0, TXT_USB_MODE, 4, 5}},        // any value other than 0 shows the item
      {1, 1, 1, {0, 1, 2, TXT_SERIAL_INTERFACE_MODE, 4, 5}},
  };
  for (const Case& c : cases) {
    tarnic_InitVars();
    SetBridgeItems(c.bluetooth, c.usb, c.serial);
    MEN_EnterMenu(1);
    EXPECT_EQ(Items(), c.items) << int{c.bluetooth} << int{c.usb} << int{c.serial};
    EXPECT_EQ(mmList.cursor, 0);
    // Every item is on the screen, the first under the cursor bar.
    for (uint8_t row = 0; row < mmList.noOfItems; ++row) {
      ExpectText(lcdFrameBuf, 1, GUI_RowY(row), SYS, txt[c.items[row]], row == 0);
    }
    EXPECT_EQ(ScreenRect(lcdFrameBuf, 0, GUI_RowY(mmList.noOfItems), LCD_WIDTH, 1),
              std::string(LCD_WIDTH, '.') + "\n")
        << "nothing under the last item";
  }
}

TEST_F(MainMenu, ShowsItsTitleAndTheStoredBacklight) {
  eepaddr[EEP_RED] = 100;
  MEN_EnterMenu(1);
  ExpectText(lcdFrameBuf, 1, 0, HeaderFont.bytes, "MAIN MENU");
  EXPECT_EQ(OCR1A, 100);
  EXPECT_EQ(guiDoDisplayUpdate, 1);
}

TEST_F(MainMenu, ComingBackTheCursorRestsOnTheItemThatWasOpened) {
  MEN_EnterMenu(1);  // defaults: four items
  MEN_EnterMenu(7);  // "System Settings"
  SetBridgeItems(1, 1, 1);  // switched on meanwhile: two more items above it
  MEN_CancelMenu();
  ASSERT_EQ(menu.menMenuId, 1);
  EXPECT_EQ(mmList.noOfItems, 6);
  EXPECT_EQ(mmList.cursor, 5);
  EXPECT_EQ(mmList.cursorRow, 5);
  ExpectText(lcdFrameBuf, 1, GUI_RowY(5), SYS, "System Settings", true);
  ExpectText(lcdFrameBuf, 1, GUI_RowY(0), SYS, "Start Diagnostics");

  // A menu that no item opens puts the cursor on the first item.
  MEN_EnterMenu(9);
  MEN_CancelMenu();
  EXPECT_EQ(mmList.cursor, 0);
  ExpectText(lcdFrameBuf, 1, GUI_RowY(0), SYS, "Start Diagnostics", true);
}

TEST_F(MainMenu, KeysMoveTheBarAndOkOpensTheItemsMenu) {
  MEN_EnterMenu(1);
  Press(menu.keyEsc);
  EXPECT_EQ(menu.menMenuId, 1) << "Esc does nothing in the main menu";
  Press(menu.keyDown);
  Press(menu.keyDown);
  ExpectText(lcdFrameBuf, 1, GUI_RowY(1), SYS, "Bluetooth Mode");
  ExpectText(lcdFrameBuf, 1, GUI_RowY(2), SYS, "System Information", true);
  Press(menu.keyOk);
  EXPECT_EQ(menu.menMenuId, 6);
  Press(menu.keyEsc);  // back from the system information
  EXPECT_EQ(menu.menMenuId, 1);
  EXPECT_EQ(mmList.cursor, 2);
  ExpectText(lcdFrameBuf, 1, GUI_RowY(2), SYS, "System Information", true);
}

}  // namespace
