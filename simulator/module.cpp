// Module thread (start-up placeholder): waits for the firmware to release the module from reset
// and then lets the 10 ms tick drive the firmware.
#include "simulator/module.h"

#include <unistd.h>

#include "host/controller.h"

void* emu_QimThread(void*) {
  while ((PORTE & emu_GetQimRst()) == 0) usleep(100000);
  syncWithQimIsDone = 1;
  for (;;) pause();
  return nullptr;
}
