// The vehicle file's timeline, read and written: a list of events, each a table
//   [[events]]
//   at = 20              seconds (0 to 1000000), to the millisecond or finer
//   from = "connect"     or "start" (the default): counted from the client's connection or the load
//   set = "ecu.1.rpm"    a value by its name, as the command "set" takes it, and
//   value = 3000         the value: a text as "set" takes it, or a number, true or false, a list
// or instead of set and value
//   dtc = "P0301"        a confirmed code for ECU `ecu` (1 to 8, default 1); its lamp lights
//   clear_dtcs = true    the codes of ECU `ecu` cleared as a scan tool clears them (without ecu:
//                        of every ECU)
// Names and values are checked when the event fires: an event may name what the car has only
// by then.
#pragma once

#include <ostream>
#include <vector>

#include <toml++/toml.h>

#include "vehicle/timeline.h"
#include "vehicle/vehicle_file_answers.h"

bool emu_ReadTimeline(const toml::node& node, std::vector<EmuTimelineEvent>* events, EmuFileFault* fault);
// The events as [[events]] tables, each after an empty line; nothing when there are none.
void emu_WriteTimeline(std::ostream& out, const std::vector<EmuTimelineEvent>& events);
