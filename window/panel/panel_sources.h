// What the test bench panel beside the handheld shows and drives, handed over by the host as the
// operator menu is (the window knows no adapter and no car). Two sources, each filled by its own
// host module: the line and its traffic (host/panel_line_source.cpp), the car and its faults
// (host/panel_car_source.cpp). Their functions are called on the window's thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct EmuPanelLineSource {
  // Filled as the line's view grows: what is served, the client, the protocol, the traffic.
  int unused = 0;
};

struct EmuPanelCarSource {
  // Filled as the car's view grows: the ECUs, their live values and codes, the faults.
  int unused = 0;
};
