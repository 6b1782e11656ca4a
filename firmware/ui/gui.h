// Screen composition: the start screen and error boxes.
#pragma once

#include <stdint.h>

void GUI_DrawStartScreen(uint8_t major, uint8_t minor, uint8_t patch);
void GUI_DrawErrMsg(uint8_t txtId);
void GUI_DrawPendingScreen();  // a screen that is not built yet
