// The host's sources for the window's test bench panel: the line and its traffic, the car and its
// faults, each in a file of its own.
#pragma once

#include "window/panel/panel_sources.h"

extern const EmuPanelLineSource PANEL_LINE_SOURCE;  // panel_line_source.cpp
extern const EmuPanelCarSource PANEL_CAR_SOURCE;    // panel_car_source.cpp
