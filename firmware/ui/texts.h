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
  TXT_CURRENT_DATA = 6,
  TXT_FREEZE_FRAMES = 15,
  TXT_TARNIC = 28,
  TXT_OBD2 = 29,
  TXT_UP = 30,
  TXT_DOWN = 31,
  TXT_ESC = 32,
  TXT_OK = 33,
  TXT_ERROR = 34,
  TXT_NO_RESPONSE_FROM_QIM = 35,
  TXT_SERVICE_NOT_SUPPORTED = 39,
  TXT_NO_DATA = 40,
  TXT_INVALID_DATA = 41,
  TXT_NO_FREEZE_FRAMES = 42,
  TXT_PLACEHOLDER_DOTS = 43,
  TXT_YES = 44,
  TXT_NO = 45,
  TXT_NEG_RESPONSE = 47,  // "Neg. response:"
  TXT_WAITING_FOR_CVN = 48,  // "Waiting for CVN response..."
  TXT_PID_LABEL = 49,  // "PID:"
  TXT_ECU_LABEL = 50,  // "ECU:"
  TXT_DTC_LABEL = 51,  // "DTC:"
  TXT_VIN_LABEL = 52,  // "VIN:"
  TXT_FRAME_LABEL = 53,  // "FRAME:"
  TXT_ACRONYM = 54,  // "Acronym:"
  TXT_NAME = 55,  // "Name:"
  TXT_CALID = 56,  // "CALID"
  TXT_CVN = 57,  // "CVN"
  TXT_PROTOCOL_1_PWM = 58,  // "1-PWM" .. "9-CAN" follow, by protocol number
  TXT_KEY_BYTES = 67,  // "Key bytes:"
  TXT_DASHES = 68,  // MIL off
  TXT_ENGINE_SYMBOL = 69,  // MIL on
  TXT_ECU = 76,
  TXT_MAIN_MENU = 78,
  TXT_PRESS_ESC_TO_RETURN = 79,
  TXT_TO_MAIN_MENU = 80,
  TXT_QIM_SERIAL = 81,  // "QIM-Serial:", "QIM-Bios:", "QIM-Power:" follow
  TXT_NO_SUPPORTED_PIDS = 116,
  TXT_NO_RESPONSE = 125,  // "no response"
  TXT_SELECT_FRAME = 130,
  TXT_MARK_DTC = 133,  // "(DTC)"
  TXT_MARK_CYCLE = 134,  // "(CYCLE)"
  TXT_SUP_INFOTYPES = 144,
  TXT_O2SLOC_PID13 = 151,
  TXT_O2SLOC_PID1D = 152,
};
