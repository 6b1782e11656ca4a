// Settings kept in the first 22 EEPROM bytes, with their defaults.
#pragma once

#include <stdint.h>

enum EepAddr : uint8_t {
  EEP_MARKER = 0,         // 3: the settings are valid
  EEP_BEEP = 1,
  EEP_SAVE_LAST_PROTOCOL = 2,
  EEP_LAST_PROTOCOL = 3,
  EEP_ORIENTATION = 4,
  EEP_CONTRAST = 5,
  EEP_CONTRAST_MAX = 6,
  EEP_CONTRAST_STEP = 7,
  EEP_RED = 8,
  EEP_RED_MAX = 9,
  EEP_RED_STEP = 10,
  EEP_GREEN = 11,
  EEP_GREEN_MAX = 12,
  EEP_GREEN_STEP = 13,
  EEP_BLUE = 14,
  EEP_BLUE_MAX = 15,
  EEP_BLUE_STEP = 16,
  EEP_SHOW_UNSUPPORTED_MONITORS = 17,
  EEP_SHOW_AC_MONITOR = 18,
  EEP_BLUETOOTH_MENU = 19,
  EEP_USB_MENU = 20,
  EEP_SERIAL_MENU = 21,
  EEP_SETTINGS_SIZE = 22,
};

constexpr uint8_t EEP_VALID_MARKER = 3;
extern const uint8_t EEP_INIT_DATA[EEP_SETTINGS_SIZE];

void EEP_Init();
uint8_t EEP_Read(uint8_t addr);
void EEP_Write(uint8_t addr, uint8_t value);
