// Screen composition, common parts: the title bar, key buttons, the start screen, the screen of
// menus that have no screen of their own yet, and number formatting.
#include "ui/gui.h"

#include "ui/fonts.h"
#include "ui/lcd.h"
#include "ui/menu.h"
#include "ui/texts.h"

// Title bar: the title on the top five rows, a full-width line under it.
constexpr uint8_t GUI_TITLE_X = 1;
constexpr uint8_t GUI_TITLE_LINE_Y = 6;
// The right end of the title bar.
constexpr uint8_t GUI_ECU_LABEL_X = 104;
constexpr uint8_t GUI_ECU_ADDR_X = 122;
constexpr uint8_t GUI_PROTOCOL_X = 100;
constexpr uint8_t GUI_PROTOCOL_WIDTH = 31;
constexpr uint8_t GUI_LAST_PROTOCOL = 9;
// Freeze frame title: frame number, "DTC:" and the code between title and ECU.
constexpr uint8_t GUI_FRAME_NO_X = 30;
constexpr uint8_t GUI_FRAME_DTC_LABEL_X = 50;
constexpr uint8_t GUI_FRAME_DTC_X = 69;

// Text ids of labels drawn here.

// Key buttons: a filled box with cut corners, the text inverse 1 pixel in and 2 pixels down.
constexpr uint8_t GUI_BUTTON_WIDTH = 31;
constexpr uint8_t GUI_BUTTON_HEIGHT = 11;

const char* GUI_GetTxt(uint8_t txtId) { return txtId < TXT_COUNT ? txt[txtId] : ""; }

void GUI_DrawTitleKeepHeaderFont(const char* text) {
  LCD_ClearDisplay();
  FNT_SetHeaderFont();
  LCD_DrawText(text, GUI_TITLE_X, 0);
  LCD_DrawHLine(0, GUI_TITLE_LINE_Y, LCD_WIDTH);
  guiDoDisplayUpdate = 1;
}

void GUI_DrawTitle(const char* text) {
  GUI_DrawTitleKeepHeaderFont(text);
  FNT_SetSystemFont();
}

void GUI_DrawTitleProtocol(const char* text, uint8_t protocol) {
  GUI_DrawTitleKeepHeaderFont(text);
  // 0 is "automatic / not connected": nothing to show.
  if (protocol != 0 && protocol <= GUI_LAST_PROTOCOL) {
    LCD_DrawTextField(GUI_GetTxt(static_cast<uint8_t>(TXT_PROTOCOL_1_PWM - 1 + protocol)),
                      GUI_PROTOCOL_X, 0, GUI_PROTOCOL_WIDTH, LCD_FIELD_RIGHT);
  }
  FNT_SetSystemFont();
}

void GUI_DrawEcu(uint8_t ecuAddr) {
  LCD_DrawText(GUI_GetTxt(TXT_ECU_LABEL), GUI_ECU_LABEL_X, 0);
  LCD_SetPosXY(GUI_ECU_ADDR_X, 0);
  LCD_DrawHexByte(ecuAddr);
}

void GUI_DrawTitleEcu(const char* text, uint8_t ecuAddr) {
  GUI_DrawTitleKeepHeaderFont(text);
  GUI_DrawEcu(ecuAddr);
  FNT_SetSystemFont();
}

void GUI_DrawTitleFrameDtcEcu(const char* text, uint8_t frame, const char* dtcText,
                              uint8_t ecuAddr) {
  GUI_DrawTitleKeepHeaderFont(text);
  LCD_SetPosXY(GUI_FRAME_NO_X, 0);
  LCD_DrawDecByte(frame);
  LCD_DrawText(GUI_GetTxt(TXT_DTC_LABEL), GUI_FRAME_DTC_LABEL_X, 0);
  LCD_DrawText(dtcText != nullptr ? dtcText : "", GUI_FRAME_DTC_X, 0);
  GUI_DrawEcu(ecuAddr);
  FNT_SetSystemFont();
}

void GUI_DrawButton(uint8_t txtId, uint8_t x, uint8_t y) {
  FNT_SetSystemFont();
  LCD_DrawBoxFilled(x, y, GUI_BUTTON_WIDTH, GUI_BUTTON_HEIGHT);
  LCD_DrawTextField(GUI_GetTxt(txtId), static_cast<uint8_t>(x + 1), static_cast<uint8_t>(y + 2),
                    GUI_BUTTON_WIDTH - 2, LCD_FIELD_CENTRE | LCD_FIELD_INVERSE);
  guiDoDisplayUpdate = 1;
}

// Start screen: the name between the four key buttons, which sit beside the keys they stand
// for (Up and Esc on top, Down and OK below).
constexpr uint8_t GUI_START_FIELD_X = 31;
constexpr uint8_t GUI_START_FIELD_WIDTH = 70;
constexpr uint8_t GUI_BUTTON_RIGHT_X = LCD_WIDTH - GUI_BUTTON_WIDTH;       // 101
constexpr uint8_t GUI_BUTTON_BOTTOM_Y = LCD_HEIGHT - GUI_BUTTON_HEIGHT;    // 53

struct GuiButton {
  uint8_t txtId, x, y;
};
// clang-format off
static const GuiButton GUI_START_BUTTONS[] = {
    {TXT_UP,   0,                  0},
    {TXT_DOWN, 0,                  GUI_BUTTON_BOTTOM_Y},
    {TXT_ESC,  GUI_BUTTON_RIGHT_X, 0},
    {TXT_OK,   GUI_BUTTON_RIGHT_X, GUI_BUTTON_BOTTOM_Y},
};
// clang-format on

void GUI_DrawStartScreen(uint8_t major, uint8_t minor, uint8_t patch) {
  LCD_SetBacklight(200, 150, 0);
  LCD_ClearDisplay();
  FNT_SetBigFont();
  LCD_DrawTextField(GUI_GetTxt(TXT_OBD2), GUI_START_FIELD_X, 16, GUI_START_FIELD_WIDTH,
                    LCD_FIELD_CENTRE);
  for (const GuiButton& b : GUI_START_BUTTONS) GUI_DrawButton(b.txtId, b.x, b.y);
  LCD_DrawHLine(33, 29, 66);
  LCD_DrawTextField(GUI_GetTxt(TXT_TARNIC), GUI_START_FIELD_X, 32, GUI_START_FIELD_WIDTH,
                    LCD_FIELD_CENTRE);
  // One decimal digit per version number.
  const char version[] = {'v', static_cast<char>('0' + major % 10), '.',
                          static_cast<char>('0' + minor % 10), '.',
                          static_cast<char>('0' + patch % 10), 0};
  LCD_DrawTextField(version, GUI_START_FIELD_X, 40, GUI_START_FIELD_WIDTH, LCD_FIELD_CENTRE);
  LCD_UpdateDisplay();
}

uint8_t GUI_DecToStr(uint8_t value, char* buf) {
  uint8_t n = 0;
  if (value >= 100) buf[n++] = static_cast<char>('0' + value / 100);
  if (value >= 10) buf[n++] = static_cast<char>('0' + value / 10 % 10);
  buf[n++] = static_cast<char>('0' + value % 10);
  buf[n] = 0;
  return n;
}

void GUI_DecToHexStr(uint8_t value, char* buf) {
  static const char HEX_DIGITS[] = "0123456789ABCDEF";
  buf[0] = HEX_DIGITS[value >> 4];
  buf[1] = HEX_DIGITS[value & 0x0F];
  buf[2] = 0;
}
