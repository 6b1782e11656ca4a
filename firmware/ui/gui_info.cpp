// Screen composition, information screens: supported PIDs and info types, the vehicle
// information answers (VIN, calibration ids, verification numbers), the protocol information
// and the module's system information. The callers bring the data; nothing is read here.
#include "ui/fonts.h"
#include "ui/gui.h"
#include "ui/lcd.h"
#include "ui/texts.h"


constexpr uint8_t GUI_TEXT_X = 1;
constexpr uint8_t GUI_SYS_INFO_VALUE_X = 56;
constexpr uint8_t GUI_SYS_INFO_LINES = 3;
constexpr uint8_t GUI_CAL_ID_LENGTH = 16;
constexpr uint8_t GUI_CVN_LENGTH = 4;

// Supported PID lines: two ranges of 32 PIDs each, four bitmap bytes per range.
constexpr uint8_t GUI_SUP_PID_LINES = 4;
constexpr uint8_t GUI_SUP_RANGE_BYTES = 4;
constexpr uint8_t GUI_SUP_RANGE_GAP = 7;

// "NN:" with the range's first PID, 1 pixel, then the range's bitmap bytes in hex.
static void GUI_DrawSupportRange(uint8_t firstPid, const uint8_t* bytes) {
  LCD_DrawHexByte(firstPid);
  LCD_DrawChar(':');
  LCD_SetPosXRel(1);
  for (uint8_t i = 0; i < GUI_SUP_RANGE_BYTES; ++i) LCD_DrawHexByte(bytes[i]);
}

// Rows 8, 16, ... as long as they fit: at most seven below the title bar.
static uint8_t GUI_RowsThatFit(uint8_t count) {
  const uint8_t rows = GUI_GetMaxVisibleItems();
  return count < rows ? count : rows;
}

void GUI_DrawSupPids(uint8_t titleTxtId, uint8_t ecuAddr, const uint8_t* supportBitmap) {
  GUI_DrawTitleEcu(GUI_GetTxt(titleTxtId), ecuAddr);
  for (uint8_t line = 0; line < GUI_SUP_PID_LINES; ++line) {
    const uint8_t* bytes = &supportBitmap[line * 2 * GUI_SUP_RANGE_BYTES];
    LCD_SetPosXY(GUI_TEXT_X, GUI_RowY(line));
    GUI_DrawSupportRange(static_cast<uint8_t>(line * 0x40), bytes);
    LCD_SetPosXRel(GUI_SUP_RANGE_GAP);
    GUI_DrawSupportRange(static_cast<uint8_t>(line * 0x40 + 0x20), &bytes[GUI_SUP_RANGE_BYTES]);
  }
  GUI_DrawMenuChangeIndicator();
}

void GUI_DrawSupInfoTypes(uint8_t ecuAddr, const uint8_t* supportBitmap) {
  GUI_DrawTitleEcu(GUI_GetTxt(TXT_SUP_INFOTYPES), ecuAddr);
  LCD_SetPosXY(GUI_TEXT_X, GUI_RowY(0));
  GUI_DrawSupportRange(0x00, supportBitmap);
  GUI_DrawMenuChangeIndicator();
}

void GUI_DrawVin(const char* vin) {
  FNT_SetSystemFont();
  LCD_DrawText(GUI_GetTxt(TXT_VIN_LABEL), GUI_TEXT_X, GUI_RowY(0));
  LCD_SetPosXRel(1);
  LCD_DrawText(vin, lcdPosX, GUI_RowY(0));
  guiDoDisplayUpdate = 1;
}

// "CALIDn:" or "CVNn:" with the 1-based number of the entry, and 1 pixel.
static void GUI_DrawNumberedLabel(uint8_t txtId, uint8_t index) {
  LCD_DrawText(GUI_GetTxt(txtId), GUI_TEXT_X, GUI_RowY(index));
  LCD_DrawChar(static_cast<uint8_t>('1' + index));
  LCD_DrawChar(':');
  LCD_SetPosXRel(1);
}

void GUI_DrawCal(const char* data, uint8_t count) {
  FNT_SetSystemFont();
  count = GUI_RowsThatFit(count);
  for (uint8_t i = 0; i < count; ++i) {
    GUI_DrawNumberedLabel(TXT_CALID, i);
    // Character by character: an id shorter than 16 is padded with zero bytes, which have no
    // glyph and are skipped rather than ending the id.
    const char* id = &data[i * GUI_CAL_ID_LENGTH];
    for (uint8_t c = 0; c < GUI_CAL_ID_LENGTH; ++c) LCD_DrawChar(static_cast<uint8_t>(id[c]));
  }
  guiDoDisplayUpdate = 1;
}

void GUI_DrawCvn(const uint8_t* data, uint8_t count) {
  FNT_SetSystemFont();
  count = GUI_RowsThatFit(count);
  for (uint8_t i = 0; i < count; ++i) {
    GUI_DrawNumberedLabel(TXT_CVN, i);
    for (uint8_t b = 0; b < GUI_CVN_LENGTH; ++b) LCD_DrawHexByte(data[i * GUI_CVN_LENGTH + b]);
  }
  guiDoDisplayUpdate = 1;
}

void GUI_DrawProtocolInfoScreen(const char* text, uint8_t withKeyBytes, uint8_t keyByte1,
                                uint8_t keyByte2, uint8_t txtIdA, uint8_t txtIdB) {
  FNT_SetSystemFont();
  LCD_DrawTextBox(text, GUI_TEXT_X, GUI_RowY(0), LCD_WIDTH);
  if (withKeyBytes) {
    // The text box leaves the cursor on its last line; the key bytes go on the line under it.
    uint8_t y = static_cast<uint8_t>(lcdPosY + GUI_ROW_HEIGHT);
    LCD_DrawText(GUI_GetTxt(TXT_KEY_BYTES), GUI_TEXT_X, y);
    LCD_SetPosXRel(2);
    LCD_DrawHexByte(keyByte2);  // in the order the module reports them
    LCD_SetPosXRel(2);
    LCD_DrawHexByte(keyByte1);
    y = static_cast<uint8_t>(y + GUI_ROW_HEIGHT);
    LCD_DrawText(GUI_GetTxt(txtIdA), GUI_TEXT_X, y);
    y = static_cast<uint8_t>(y + GUI_ROW_HEIGHT);
    LCD_DrawText(GUI_GetTxt(txtIdB), GUI_TEXT_X, y);
  }
  guiDoDisplayUpdate = 1;
}

void GUI_DrawSysInfo() {
  FNT_SetSystemFont();
  for (uint8_t line = 0; line < GUI_SYS_INFO_LINES; ++line) {
    LCD_DrawText(GUI_GetTxt(static_cast<uint8_t>(TXT_QIM_SERIAL + line)), GUI_TEXT_X,
                 GUI_RowY(line));
  }
  guiDoDisplayUpdate = 1;
}

void GUI_DrawSysInfoLine(const char* text, uint8_t line) {
  FNT_SetSystemFont();
  // As a field to the right edge: the supply voltage is redrawn twice a second and a shorter
  // reading must not leave the end of the previous one.
  LCD_DrawTextField(text, GUI_SYS_INFO_VALUE_X, GUI_RowY(line), LCD_WIDTH - GUI_SYS_INFO_VALUE_X,
                    0);
  guiDoDisplayUpdate = 1;
}
