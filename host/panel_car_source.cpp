// What the test bench panel shows of the car and drives: the ECUs, their live values and codes,
// the faults.
#include "host/panel_sources.h"

const EmuPanelCarSource PANEL_CAR_SOURCE{};
