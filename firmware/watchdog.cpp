// The watchdog through its control register: the change enable bit (0x10) with the enable bit
// (0x08), then the new setting within four cycles.
#include "watchdog.h"

#include "mcu.h"

void WatchdogOff() {
  WDTCR = 0x18;
  WDTCR = 0x00;
}

void WatchdogReset() {
  WDTCR = 0x18;
  WDTCR = 0x08;
  for (;;) _delay_ms(10);  // the host stops this thread and powers the device on again
}
