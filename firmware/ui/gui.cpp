// Screen composition. The start screen sets its own backlight and is sent at once; error
// boxes likewise. Text drawing arrives with the fonts; until then the screens are blank.
#include "firmware/ui/gui.h"

#include "firmware/ui/lcd.h"

void GUI_DrawStartScreen(uint8_t major, uint8_t minor, uint8_t patch) {
  LCD_SetBacklight(200, 150, 0);
  LCD_ClearDisplay();
  LCD_UpdateDisplay();
}

void GUI_DrawErrMsg(uint8_t txtId) {
  LCD_ClearDisplay();
  LCD_UpdateDisplay();
}

void GUI_DrawPendingScreen() {
  LCD_ClearDisplay();
  guiDoDisplayUpdate = 1;
}
