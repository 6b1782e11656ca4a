// Vehicle commands from the window's command line.
#include "host/vehicle_commands.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "vehicle/capture_import.h"
#include "vehicle/vehicle_file.h"

int emu_VehicleCommand(const char* verb, const char* rest, char* why, size_t whySize) {
  std::string error;
  int result = 0;
  if (strcmp(verb, "load") == 0) {
    result = emu_LoadVehicleFile(rest, &error);
  } else if (strcmp(verb, "save") == 0) {
    result = emu_SaveVehicleFile(rest, &error);
  } else if (strcmp(verb, "import") == 0) {
    std::string report;
    result = emu_ImportCapture(rest, &report) < 0 ? -1 : 0;
    // What was taken is worth knowing too: a capture made with headers off all goes to ECU 1.
    if (result == 0) fprintf(stderr, "%s\n", report.c_str());
    error = report;
  } else if (strcmp(verb, "set") == 0) {
    // NAME, then the value: everything after the first space (it may hold spaces itself).
    const char* space = strchr(rest, ' ');
    if (space == nullptr) {
      error = std::string("set ") + rest + ": no value given";
      result = -1;
    } else {
      const std::string name(rest, static_cast<size_t>(space - rest));
      result = emu_SetVehicleValue(name.c_str(), space + 1, &error);
    }
  }
  if (result == 0) return 0;
  fprintf(stderr, "%s\n", error.c_str());
  snprintf(why, whySize, "%s", error.c_str());
  return -1;
}
