// System settings and the LCD slider: toggles stored at once, slider limits and steps, live
// preview, OK storing and Esc restoring.
#include "firmware/screens/settings.h"

#include <gtest/gtest.h>

#include "firmware/beep.h"
#include "firmware/eeprom.h"
#include "firmware/mcu.h"
#include "firmware/screens/screens.h"
#include "firmware/ui/gui.h"
#include "firmware/ui/list.h"
#include "firmware/ui/menu.h"
#include "controller/controller.h"
#include "tests/support/spi_sink.h"

namespace {

class Settings : public testing::Test {
 protected:
  SpiSink lcd;
  void SetUp() override {
    tarnic_InitVars();
    eepaddr[EEP_MARKER] = 0;
    EEP_Init();
    BEEP_Init();
    MEN_EnterMenu(1);
    MEN_EnterMenu(7);
  }
  void Select(uint8_t item) { LIST_SetCursor(&ssmList, item); }
  // True when the key started the click sound.
  bool Clicked(void (*key)()) {
    beepDurationCounter10ms = 0;
    key();
    return beepCfg.load() == SND_DATA[SND_CLICK] && beepDurationCounter10ms != 0;
  }
};

TEST_F(Settings, EveryItemShowsTheStateOfItsSetting) {
  const uint8_t defaults[10] = {84, 86, 88, 90, 93, 95, 96, 97, 98, 99};
  for (uint8_t i = 0; i < 10; ++i) EXPECT_EQ(GUI_GetTxtId(i), defaults[i]) << "item " << int(i);
  Select(3);
  SSM_KeyPressEventOk();
  EXPECT_EQ(eepaddr[EEP_BLUETOOTH_MENU], 0);
  EXPECT_EQ(GUI_GetTxtId(3), 91);
  Select(2);
  eepaddr[EEP_SAVE_LAST_PROTOCOL] = 7;  // any non-zero value counts as on
  SSM_KeyPressEventOk();
  EXPECT_EQ(eepaddr[EEP_SAVE_LAST_PROTOCOL], 0);
}

TEST_F(Settings, BeepOffStillClicksAndBeepOnDoesNot) {
  Select(1);
  EXPECT_TRUE(Clicked(SSM_KeyPressEventOk)) << "the click of the key that turns sounds off";
  EXPECT_EQ(eepaddr[EEP_BEEP], 0);
  EXPECT_FALSE(Clicked(SSM_KeyPressEventOk)) << "sounds were off when the key was pressed";
  EXPECT_EQ(eepaddr[EEP_BEEP], 1);
}

TEST_F(Settings, TurningTheDisplaySwapsTheKeysAtOnce) {
  Select(0);
  SSM_KeyPressEventOk();
  EXPECT_EQ(eepaddr[EEP_ORIENTATION], 1);
  EXPECT_EQ(menu.keyUp, 0x20);
  EXPECT_EQ(menu.keyEsc, 0x80);
  EXPECT_EQ(GUI_GetTxtId(0), 85);
}

TEST_F(Settings, ContrastSliderStopsAtItsEndsWithoutAClick) {
  Select(6);
  SSM_KeyPressEventOk();
  ASSERT_EQ(menu.menMenuId, 8);
  lsm.lsmLcdValue = 30;
  EXPECT_TRUE(Clicked(LSM_KeyPressEventUp));
  EXPECT_EQ(lsm.lsmLcdValue, 31);
  EXPECT_FALSE(Clicked(LSM_KeyPressEventUp)) << "at the maximum: refused silently";
  EXPECT_EQ(lsm.lsmLcdValue, 31);
  lsm.lsmLcdValue = 0;
  EXPECT_FALSE(Clicked(LSM_KeyPressEventDown));
  EXPECT_EQ(lsm.lsmLcdValue, 0);
  EXPECT_FALSE(Clicked(LSM_KeyPressEventUpRepeat)) << "repeats move without clicking";
  EXPECT_EQ(lsm.lsmLcdValue, 1);
}

TEST_F(Settings, RedSliderPreviewsEscRestoresOkStores) {
  Select(7);
  SSM_KeyPressEventOk();
  lsm.lsmLcdValue = 250;
  LSM_KeyPressEventUp();
  EXPECT_EQ(lsm.lsmLcdValue, 255);
  EXPECT_EQ(OCR1A, 255) << "previewed at once";
  EXPECT_EQ(OCR1B, 111);
  LSM_KeyPressEventEsc();
  EXPECT_EQ(menu.menMenuId, 7);
  EXPECT_EQ(eepaddr[EEP_RED], 165);
  EXPECT_EQ(OCR1A, 165) << "the stored colour is back";
  EXPECT_EQ(ssmList.cursor, 7) << "the settings cursor stays on the slider item";

  SSM_KeyPressEventOk();
  LSM_KeyPressEventDown();
  LSM_KeyPressEventOk();
  EXPECT_EQ(eepaddr[EEP_RED], 160);
  EXPECT_EQ(menu.menMenuId, 7);
}

}  // namespace
