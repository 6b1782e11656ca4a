// Screen composition, the diagnostics summary column right of the menu lists of the diagnostics
// and trouble code menus: the malfunction indicator lamp, the number of stored trouble codes of
// all ECUs, and which ECU is active.
#include "obd/dtcs.h"
#include "obd/monitors.h"
#include "ui/fonts.h"
#include "ui/gui.h"
#include "ui/lcd.h"
#include "ui/texts.h"


constexpr uint8_t GUI_INFO_LINE_X = 101;
constexpr uint8_t GUI_INFO_X = 103;
constexpr uint8_t GUI_INFO_WIDTH = LCD_WIDTH - GUI_INFO_X;  // 29
constexpr uint8_t GUI_INFO_TOP = 8;
constexpr uint8_t GUI_INFO_MIL_Y = 9;
constexpr uint8_t GUI_INFO_DTC_X = 104;
constexpr uint8_t GUI_INFO_DTC_Y = 20;
constexpr uint8_t GUI_INFO_ECU_Y = 27;

// Up to 8 ECUs x 3 kinds x 16 codes: more than a byte holds.
static void GUI_DrawDecWord(uint16_t value) {
  char digits[6];
  uint8_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value = static_cast<uint16_t>(value / 10);
  } while (value != 0 && n < sizeof digits);
  while (n > 0) LCD_DrawChar(static_cast<uint8_t>(digits[--n]));
}

void GUI_DrawDiagnosticsInfo() {
  // Redrawn in place when the data changes: the column is cleared first.
  LCD_ClearArea(static_cast<uint8_t>(GUI_INFO_LINE_X + 1), GUI_INFO_TOP,
                static_cast<uint8_t>(LCD_WIDTH - GUI_INFO_LINE_X - 1), LCD_HEIGHT - GUI_INFO_TOP);
  LCD_DrawVLine(GUI_INFO_LINE_X, GUI_INFO_TOP, LCD_HEIGHT - GUI_INFO_TOP);

  FNT_SetSystemFont();
  LCD_DrawTextField(GUI_GetTxt(OBD_GetMilStatus() ? TXT_ENGINE_SYMBOL : TXT_DASHES),
                    GUI_INFO_X, GUI_INFO_MIL_Y, GUI_INFO_WIDTH, LCD_FIELD_CENTRE);

  FNT_SetHeaderFont();
  const uint16_t dtcs = static_cast<uint16_t>(
      OBD_GetNumDtcsBySid(0x03) + OBD_GetNumDtcsBySid(0x07) + OBD_GetNumDtcsBySid(0x0A));
  LCD_DrawText(GUI_GetTxt(TXT_DTC_LABEL), GUI_INFO_DTC_X, GUI_INFO_DTC_Y);
  GUI_DrawDecWord(dtcs);

  // "E1&2:E8": ECU 1 of 2, address E8.
  LCD_SetPosXY(GUI_INFO_X, GUI_INFO_ECU_Y);
  LCD_DrawChar('E');
  LCD_DrawChar(static_cast<uint8_t>('0' + (OBD_GetActiveEcuIdx() + 1) % 10));
  LCD_DrawChar('&');
  LCD_DrawChar(static_cast<uint8_t>('0' + OBD_GetNumEcus() % 10));
  LCD_DrawChar(':');
  LCD_DrawHexByte(OBD_GetActiveEcuAddr());

  FNT_SetSystemFont();
  guiDoDisplayUpdate = 1;
}
