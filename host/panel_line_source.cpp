// What the test bench panel shows of the line: what is served, the client, the protocol found,
// the traffic.
#include "host/panel_sources.h"

const EmuPanelLineSource PANEL_LINE_SOURCE{};
