// A fresh data reading: each OBD module clears its own part.
#include "obd/reading.h"

#include "obd/dtcs.h"
#include "obd/ecus.h"
#include "obd/monitors.h"
#include "obd/pids.h"

void OBD_Init() {
  OBD_InitEcuAddr();
  OBD_InitPids();
  OBD_InitInfoTypes();
  OBD_InitDtcs();
}
