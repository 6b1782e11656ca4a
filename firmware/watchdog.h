// The controller's watchdog: off while the firmware runs, armed only to restart the device.
#pragma once

void WatchdogOff();
[[noreturn]] void WatchdogReset();  // the device restarts as from power-on (EEPROM kept)
