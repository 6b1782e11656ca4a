// System settings (menu 7) and the LCD slider screen (menu 8).
#pragma once

#include <stdint.h>

#include "ui/list.h"

constexpr uint8_t SSM_NUM_ITEMS = 10;
constexpr uint8_t SSM_FIRST_SLIDER_ITEM = 6;  // items 6..9 open the slider screen

extern LIST ssmList;

struct LsmState {
  uint8_t lsmLcdValue;   // the slider's value, previewed while it moves
  uint8_t lsmMaxValue;
  uint8_t lsmIncValue;   // step of Up and Down
  uint8_t lsmValueAddr;  // EEPROM byte that OK stores the value in
};
extern LsmState lsm;

void SSM_InitState();
