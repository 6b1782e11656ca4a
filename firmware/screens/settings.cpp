// System settings: six on/off settings that take effect and are stored at once, and four
// entries to the slider screen for the LCD contrast and the three backlight colours. The
// slider previews its value live; OK stores it, Esc puts the stored value back.
#include "screens/settings.h"

#include "beep.h"
#include "eeprom.h"
#include "mcu.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/lcd.h"
#include "ui/menu.h"
#include "ui/texts.h"

LIST ssmList;
LsmState lsm;

void SSM_InitState() {
  ssmList = LIST{};
  lsm = LsmState{};
}

// ---------------------------------------------------------------------------------------------
// Settings list. Each on/off item shows the text of its current state: a ticked or an empty
// check box before the same label.

static uint8_t SSM_Pick(bool on, uint8_t txtOn, uint8_t txtOff) { return on ? txtOn : txtOff; }

// The slider items 6..9 and the titles of their slider screens.
constexpr uint8_t SSM_NUM_SLIDERS = 4;
static const uint8_t SSM_SLIDER_TXT[SSM_NUM_SLIDERS] = {TXT_LCD_CONTRAST, TXT_LCD_BACKLIGHT_RED,
                                                        TXT_LCD_BACKLIGHT_GREEN, TXT_LCD_BACKLIGHT_BLUE};

void SSM_SetOrientationTxtId() {
  GUI_SetTxtId(SSM_Pick(EEP_Read(EEP_ORIENTATION) != 0, TXT_ORIENTATION_180_ON, TXT_ORIENTATION_180_OFF), 0);
}
void SSM_SetBeepTxtId() { GUI_SetTxtId(SSM_Pick(BEEP_GetState() != 0, TXT_BEEP_ON, TXT_BEEP_OFF), 1); }
void SSM_SetSaveLastProtoTxtId() {
  GUI_SetTxtId(SSM_Pick(EEP_Read(EEP_SAVE_LAST_PROTOCOL) != 0, TXT_SAVE_LAST_PROTOCOL_ON, TXT_SAVE_LAST_PROTOCOL_OFF), 2);
}
void SSM_SetBluetoothMenuTxtId() {
  GUI_SetTxtId(SSM_Pick(EEP_Read(EEP_BLUETOOTH_MENU) != 0, TXT_BLUETOOTH_MENU_ON, TXT_BLUETOOTH_MENU_OFF), 3);
}
void SSM_SetUsbMenuTxtId() { GUI_SetTxtId(SSM_Pick(EEP_Read(EEP_USB_MENU) != 0, TXT_USB_MENU_ON, TXT_USB_MENU_OFF), 4); }
void SSM_SetSerialMenuTxtId() {
  GUI_SetTxtId(SSM_Pick(EEP_Read(EEP_SERIAL_MENU) != 0, TXT_SERIAL_MENU_ON, TXT_SERIAL_MENU_OFF), 5);
}

static void SSM_SetAllTxtIds() {
  SSM_SetOrientationTxtId();
  SSM_SetBeepTxtId();
  SSM_SetSaveLastProtoTxtId();
  SSM_SetBluetoothMenuTxtId();
  SSM_SetUsbMenuTxtId();
  SSM_SetSerialMenuTxtId();
  for (uint8_t i = 0; i < SSM_NUM_SLIDERS; ++i) {
    GUI_SetTxtId(SSM_SLIDER_TXT[i], static_cast<uint8_t>(SSM_FIRST_SLIDER_ITEM + i));
  }
}

void SSM_EnterMenu() {
  if (menu.menPrevMenuId == MENU_MAIN) LIST_Init(&ssmList, SSM_NUM_ITEMS);  // from the slider: cursor stays
  SPKF_Init(&ssmList, GUI_DrawList);
  SSM_SetAllTxtIds();
  GUI_DrawTitle(GUI_GetTxt(TXT_SYSTEM_SETTINGS));
  GUI_DrawListAll(&ssmList);
}

static void SSM_InvertEepByte(uint8_t addr) { EEP_Write(addr, EEP_Read(addr) == 0 ? 1 : 0); }

// Redraws the item under the cursor with its new text.
static void SSM_RedrawCursorItem() {
  SSM_SetAllTxtIds();
  listState.listLastEvent = LIST_EVENT_NONE;
  GUI_DrawList(&ssmList);
}

void SSM_KeyPressEventOk() {
  BEEP_PlaySound(SND_CLICK);  // before a beep toggle: turning sounds off still clicks
  switch (ssmList.cursor) {
    case 0: {
      uint8_t turned = EEP_Read(EEP_ORIENTATION) != 0 ? 0 : 1;
      LCD_SetOrientation(turned);
      KEY_SetOrientation(turned);
      EEP_Write(EEP_ORIENTATION, turned);
      SSM_SetAllTxtIds();
      GUI_DrawListAll(&ssmList);
      return;
    }
    case 1:
      BEEP_ToggleState();
      EEP_Write(EEP_BEEP, BEEP_GetState());
      break;
    case 2: SSM_InvertEepByte(EEP_SAVE_LAST_PROTOCOL); break;
    case 3: SSM_InvertEepByte(EEP_BLUETOOTH_MENU); break;
    case 4: SSM_InvertEepByte(EEP_USB_MENU); break;
    case 5: SSM_InvertEepByte(EEP_SERIAL_MENU); break;
    default: MEN_EnterMenu(MENU_LCD_SETTINGS); return;
  }
  SSM_RedrawCursorItem();
}

// ---------------------------------------------------------------------------------------------
// Slider screen.

struct LsmSetting {
  uint8_t valueAddr, maxAddr, stepAddr;
};
// By settings item 6..9: contrast, red, green, blue.
static const LsmSetting LSM_SETTINGS[4] = {
    {EEP_CONTRAST, EEP_CONTRAST_MAX, EEP_CONTRAST_STEP},
    {EEP_RED, EEP_RED_MAX, EEP_RED_STEP},
    {EEP_GREEN, EEP_GREEN_MAX, EEP_GREEN_STEP},
    {EEP_BLUE, EEP_BLUE_MAX, EEP_BLUE_STEP},
};

static void LSM_DrawSlider() {
  GUI_DrawProgressBar(lsm.lsmLcdValue, lsm.lsmMaxValue);
  char text[8];
  uint16_t percent = lsm.lsmMaxValue != 0 ? lsm.lsmLcdValue * 100u / lsm.lsmMaxValue : 0;
  uint8_t n = GUI_DecToStr(static_cast<uint8_t>(percent > 255 ? 255 : percent), text);
  text[n] = '\x09';  // narrow space before the unit
  text[n + 1] = '%';
  text[n + 2] = '\0';
  GUI_DrawProgressBarSubtitle(text);
}

void LSM_EnterMenu() {
  uint8_t item = ssmList.cursor >= SSM_FIRST_SLIDER_ITEM ? ssmList.cursor - SSM_FIRST_SLIDER_ITEM : 0;
  if (item > 3) item = 3;
  const LsmSetting& s = LSM_SETTINGS[item];
  lsm.lsmValueAddr = s.valueAddr;
  lsm.lsmLcdValue = EEP_Read(s.valueAddr);
  lsm.lsmMaxValue = EEP_Read(s.maxAddr);
  lsm.lsmIncValue = EEP_Read(s.stepAddr);
  GUI_DrawTitle(GUI_GetTxt(SSM_SLIDER_TXT[item]));
  LSM_DrawSlider();
}

// The moved value shows at once: contrast to the controller, a colour to its backlight
// register with the other two as stored.
static void LSM_ProcessSliderChange(bool click) {
  if (click) BEEP_PlaySound(SND_CLICK);
  LSM_DrawSlider();
  uint8_t v = lsm.lsmLcdValue;
  switch (lsm.lsmValueAddr) {
    case EEP_CONTRAST: LCD_SetContrast(v); break;
    case EEP_RED: LCD_SetBacklight(v, EEP_Read(EEP_GREEN), EEP_Read(EEP_BLUE)); break;
    case EEP_GREEN: LCD_SetBacklight(EEP_Read(EEP_RED), v, EEP_Read(EEP_BLUE)); break;
    default: LCD_SetBacklight(EEP_Read(EEP_RED), EEP_Read(EEP_GREEN), v); break;
  }
}

static void LSM_Step(int direction, bool click) {
  const int value = lsm.lsmLcdValue, step = lsm.lsmIncValue;
  if (direction > 0) {
    if (lsm.lsmMaxValue - step < value) return;  // would pass the maximum: refused silently
    lsm.lsmLcdValue = static_cast<uint8_t>(value + step);
  } else {
    if (value < step) return;
    lsm.lsmLcdValue = static_cast<uint8_t>(value - step);
  }
  LSM_ProcessSliderChange(click);
}

void LSM_KeyPressEventUp() { LSM_Step(+1, true); }
void LSM_KeyPressEventDown() { LSM_Step(-1, true); }
void LSM_KeyPressEventUpRepeat() { LSM_Step(+1, false); }
void LSM_KeyPressEventDownRepeat() { LSM_Step(-1, false); }

void LSM_KeyPressEventOk() {
  EEP_Write(lsm.lsmValueAddr, lsm.lsmLcdValue);
  SPKF_KeyPressEventEsc();
}

void LSM_KeyPressEventEsc() {
  LCD_SetContrast(EEP_Read(EEP_CONTRAST));
  LCD_InitBacklight();
  SPKF_KeyPressEventEsc();
}
