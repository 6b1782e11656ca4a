// The text table: 154 zero-terminated texts addressed by an 8-bit text id.
#pragma once

#include <stdint.h>

constexpr uint8_t TXT_COUNT = 154;
extern const char* const txt[TXT_COUNT];

// Text ids the firmware names in code.
enum TxtId : uint8_t {
  TXT_START_DIAGNOSTICS = 0,
  TXT_BLUETOOTH_MODE = 1,
  TXT_USB_MODE = 2,
  TXT_SERIAL_INTERFACE_MODE = 3,
  TXT_SYSTEM_INFORMATION = 4,
  TXT_SYSTEM_SETTINGS = 5,
  TXT_TARNIC = 28,
  TXT_OBD2 = 29,
  TXT_UP = 30,
  TXT_DOWN = 31,
  TXT_ESC = 32,
  TXT_OK = 33,
  TXT_ERROR = 34,
  TXT_NO_RESPONSE_FROM_QIM = 35,
  TXT_NO_DATA = 40,
  TXT_PLACEHOLDER_DOTS = 43,
  TXT_YES = 44,
  TXT_NO = 45,
  TXT_ECU = 76,
  TXT_MAIN_MENU = 78,
  TXT_PRESS_ESC_TO_RETURN = 79,
  TXT_TO_MAIN_MENU = 80,
};
