// Vehicle commands from the window's command line: one row a verb, each with what it does with
// the rest of the line.
#include "host/vehicle_commands.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "vehicle/capture_import.h"
#include "vehicle/vehicle_file.h"
#include "window/window_api.h"

namespace {

int emu_LoadCommand(const char* rest, std::string* error) { return emu_LoadVehicleFile(rest, error); }

int emu_SaveCommand(const char* rest, std::string* error) { return emu_SaveVehicleFile(rest, error); }

int emu_ImportCommand(const char* rest, std::string* error) {
  std::string report;
  const int result = emu_ImportCapture(rest, &report) < 0 ? -1 : 0;
  // What was taken is worth knowing too: a capture made with headers off all goes to ECU 1.
  if (result == 0) fprintf(stderr, "%s\n", report.c_str());
  *error = report;
  return result;
}

// NAME, then the value: everything after the first space (it may hold spaces itself).
int emu_SetCommand(const char* rest, std::string* error) {
  const char* space = strchr(rest, ' ');
  if (space == nullptr) {
    *error = std::string("set ") + rest + ": no value given";
    return -1;
  }
  const std::string name(rest, static_cast<size_t>(space - rest));
  return emu_SetVehicleValue(name.c_str(), space + 1, error);
}

// 0, or -1 with what went wrong in `why`, also written on standard error.
template <int (*COMMAND)(const char*, std::string*)>
int emu_Run(const char* rest, char* why, size_t whySize) {
  std::string error;
  if (COMMAND(rest, &error) == 0) return 0;
  fprintf(stderr, "%s\n", error.c_str());
  snprintf(why, whySize, "%s", error.c_str());
  return -1;
}

// clang-format off
const EmuHostVerb VEHICLE_COMMANDS[] = {
    {"load",   emu_Run<emu_LoadCommand>},
    {"set",    emu_Run<emu_SetCommand>},
    {"save",   emu_Run<emu_SaveCommand>},
    {"import", emu_Run<emu_ImportCommand>},
};
// clang-format on

}  // namespace

void emu_OfferVehicleCommands() {
  emu_GtkSetHostVerbs(VEHICLE_COMMANDS, sizeof VEHICLE_COMMANDS / sizeof VEHICLE_COMMANDS[0]);
}
