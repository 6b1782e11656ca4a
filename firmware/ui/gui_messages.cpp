// Screen composition, messages: error boxes, centred and framed messages, the yes/no
// requester, per-ECU error lines of the clearing screen, and the progress bar and sandglass of
// the screens that wait for the vehicle.
#include <string.h>

#include "ui/fonts.h"
#include "ui/gui.h"
#include "ui/lcd.h"
#include "ui/texts.h"

// Error box: a frame, an inverse bar "ERROR nn" across its top, the message under it. The
// error number is the text id counted from the text before the first message.
constexpr uint8_t GUI_RESPONSE_CODE_NONE = 255;

// Framed messages and the requester share the frame's inner text rows.
constexpr uint8_t GUI_FRAME_X = 5;
constexpr uint8_t GUI_FRAME_Y = 2;
constexpr uint8_t GUI_FRAME_TEXT_X = 7;
constexpr uint8_t GUI_FRAME_LINE1_Y = 6;
constexpr uint8_t GUI_FRAME_LINE2_Y = 18;

// Progress bar: a frame and, 2 pixels inside it, a 108-pixel track of 3 rows.
constexpr uint8_t GUI_BAR_TRACK_X = 12;
constexpr uint8_t GUI_BAR_TRACK_Y = 16;
constexpr uint8_t GUI_BAR_TRACK_LENGTH = 108;
constexpr uint8_t GUI_BAR_TRACK_HEIGHT = 3;

constexpr uint8_t GUI_SANDGLASS_X = 62;
constexpr uint8_t GUI_SANDGLASS_Y = 16;
static const char GUI_SYM_SANDGLASS[] = "\x01";

static void GUI_DrawCentred(uint8_t txtId, uint8_t x, uint8_t y, uint8_t width) {
  LCD_DrawTextField(GUI_GetTxt(txtId), x, y, width, LCD_FIELD_CENTRE);
}

void GUI_DrawErrMsg(uint8_t txtId) {
  // "ERROR" (5 characters), a space, two digits.
  char title[12];
  const char* error = GUI_GetTxt(TXT_ERROR);
  const size_t n = strlen(error) < 8 ? strlen(error) : 8;
  memcpy(title, error, n);
  title[n] = ' ';
  GUI_DecToHexStr(static_cast<uint8_t>(txtId - TXT_ERROR), &title[n + 1]);

  LCD_SetBacklight(200, 50, 20);
  LCD_ClearDisplay();
  FNT_SetSystemFont();
  LCD_DrawBoxFrame(5, 2, 122, 27);
  LCD_FillArea(6, 3, 120, 10);
  LCD_DrawTextField(title, 6, 4, 120, LCD_FIELD_CENTRE | LCD_FIELD_INVERSE);
  GUI_DrawCentred(txtId, 7, 17, 118);
  LCD_UpdateDisplay();
}

void GUI_DrawMsgCentered(uint8_t txtId) {
  FNT_SetSystemFont();
  GUI_DrawCentred(txtId, 0, 16, LCD_WIDTH);
  guiDoDisplayUpdate = 1;
}

void GUI_DrawMenuMsg(uint8_t txtId1, uint8_t txtId2) {
  FNT_SetSystemFont();
  GUI_DrawCentred(txtId1, 0, 12, LCD_WIDTH);
  GUI_DrawCentred(txtId2, 0, 22, LCD_WIDTH);
  LCD_UpdateDisplay();
}

void GUI_DrawFramedMsgLine1(uint8_t txtId) {
  LCD_ClearDisplay();
  FNT_SetSystemFont();
  LCD_DrawBoxFrame(GUI_FRAME_X, GUI_FRAME_Y, 122, 28);
  GUI_DrawCentred(txtId, GUI_FRAME_TEXT_X, GUI_FRAME_LINE1_Y, 118);
  guiDoDisplayUpdate = 1;
}

void GUI_DrawFramedMsgLine2(uint8_t txtId) {
  FNT_SetSystemFont();
  GUI_DrawCentred(txtId, GUI_FRAME_TEXT_X, GUI_FRAME_LINE2_Y, 118);
  guiDoDisplayUpdate = 1;
}

// The question stays left of the buttons: "NO" beside Esc, "YES" beside OK.
void GUI_DrawRequesterYesNo(uint8_t txtId1, uint8_t txtId2) {
  LCD_ClearDisplay();
  FNT_SetSystemFont();
  LCD_DrawBoxFrame(GUI_FRAME_X, GUI_FRAME_Y, 91, 28);
  GUI_DrawCentred(txtId1, GUI_FRAME_TEXT_X, GUI_FRAME_LINE1_Y, 87);
  GUI_DrawCentred(txtId2, GUI_FRAME_TEXT_X, GUI_FRAME_LINE2_Y, 87);
  GUI_DrawButton(TXT_NO, 101, 0);
  GUI_DrawButton(TXT_YES, 101, 53);
  guiDoDisplayUpdate = 1;
}

void GUI_DrawRequesterYes() {
  LCD_ClearArea(101, 0, 31, 11);
  guiDoDisplayUpdate = 1;
}

void GUI_DrawErrorCodeLine(uint8_t ecuAddr, uint8_t responseCode, uint8_t row) {
  const uint8_t y = GUI_RowY(row);
  FNT_SetSystemFont();
  LCD_DrawText(GUI_GetTxt(TXT_ECU), 1, y);
  LCD_SetPosXRel(1);
  LCD_DrawHexByte(ecuAddr);
  LCD_DrawChar(':');
  LCD_SetPosXRel(1);
  if (responseCode == GUI_RESPONSE_CODE_NONE) {
    LCD_DrawText(GUI_GetTxt(TXT_NO_RESPONSE), lcdPosX, y);
  } else {
    GUI_DrawNegRespCode(responseCode, lcdPosX, y);
  }
  guiDoDisplayUpdate = 1;
}

void GUI_DrawProgressBar(uint8_t value, uint8_t maximum) {
  // The length is computed 16 bits wide and kept to the track, so a value past the maximum
  // (or a maximum of 0) cannot draw outside the frame.
  uint16_t length = 0;
  if (maximum != 0) length = static_cast<uint16_t>(value * GUI_BAR_TRACK_LENGTH / maximum);
  if (length > GUI_BAR_TRACK_LENGTH) length = GUI_BAR_TRACK_LENGTH;
  const uint8_t filled = static_cast<uint8_t>(length);
  LCD_DrawBoxFrame(10, 14, 112, 7);
  LCD_FillArea(GUI_BAR_TRACK_X, GUI_BAR_TRACK_Y, filled, GUI_BAR_TRACK_HEIGHT);
  LCD_ClearArea(static_cast<uint8_t>(GUI_BAR_TRACK_X + filled), GUI_BAR_TRACK_Y,
                static_cast<uint8_t>(GUI_BAR_TRACK_LENGTH - filled), GUI_BAR_TRACK_HEIGHT);
  guiDoDisplayUpdate = 1;
}

void GUI_DrawProgressBarSubtitle(const char* text) {
  FNT_SetSystemFont();
  LCD_DrawTextField(text, 10, 24, 112, 0);
  guiDoDisplayUpdate = 1;
}

void GUI_DrawProgressBarSubtitleById(uint8_t txtId) {
  GUI_DrawProgressBarSubtitle(GUI_GetTxt(txtId));
}

void GUI_DrawSandglass() {
  FNT_SetSystemFont();
  LCD_DrawText(GUI_SYM_SANDGLASS, GUI_SANDGLASS_X, GUI_SANDGLASS_Y);
  guiDoDisplayUpdate = 1;
}

void GUI_ClearSandglass() {
  LCD_ClearArea(GUI_SANDGLASS_X, GUI_SANDGLASS_Y, 70, 8);
  guiDoDisplayUpdate = 1;
}

void GUI_ClearMenuArea() {
  LCD_ClearArea(0, 8, LCD_WIDTH, LCD_HEIGHT - 8);
  guiDoDisplayUpdate = 1;
}
