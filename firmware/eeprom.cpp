// Settings in EEPROM: written with their defaults whenever the validity marker is missing.
#include "eeprom.h"

#include "mcu.h"

// clang-format off
const uint8_t EEP_INIT_DATA[EEP_SETTINGS_SIZE] = {
    3,              // marker
    1,              // beep on
    1,              // save the last protocol
    0,              // last protocol
    0,              // orientation normal
    18, 31, 1,      // contrast value, slider maximum, step
    165, 255, 5,    // backlight red, maximum, step
    111, 150, 3,    // backlight green, maximum, step
    28, 100, 2,     // backlight blue, maximum, step
    0,              // show unsupported monitors
    0,              // show the A/C system monitor
    1, 0, 0,        // Bluetooth, USB, Serial menu items shown
};
// clang-format on

void EEP_Init() {
  if (EEP_Read(EEP_MARKER) == EEP_VALID_MARKER) return;
  for (uint8_t i = 0; i < EEP_SETTINGS_SIZE; ++i) EEP_Write(i, EEP_INIT_DATA[i]);
}

uint8_t EEP_Read(uint8_t addr) { return __eerd_byte_can128(addr); }
void EEP_Write(uint8_t addr, uint8_t value) { __eewr_byte_can128(addr, value); }
