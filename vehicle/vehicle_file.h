// Vehicle files: the simulated car as a TOML document a user writes by hand. Everything left out
// keeps the built-in default, so an empty file is the default car. A file is read into a fresh
// vehicle and swapped in whole, so a bad file never leaves a half-read car; its error names the
// file, line and column and what is wrong. The same names change single values while the car
// runs ("set ecu.1.rpm 2500"), and the running car can be written back as a file.
#pragma once

#include <atomic>
#include <string>

// Loads FILE: the built-in default car with the file's values. 0, or -1 with `error` set
// ("FILE:LINE:COLUMN: what is wrong") and the car as it was.
int emu_LoadVehicleFile(const char* path, std::string* error);
// Sets one value by its name in the file ("ecus", "ecu.1.rpm", "ecu.2.dtc.confirmed"): the
// value as it would stand in the file, or codes (or other texts) separated by commas. 0, or -1
// with `error` set and the car as it was.
int emu_SetVehicleValue(const char* name, const char* value, std::string* error);
// Writes the running car (operator keys included) as a vehicle file that loads back to the same
// car. 0, or -1 with `error` set.
int emu_SaveVehicleFile(const char* path, std::string* error);

// What the testers above the vehicle hear of a load or a set, each through the notice it puts here
// at start-up (none put: nobody is told). Swapped: the car was put in whole, its ECUs' addresses
// may be others. Drop: "faults.drop_now" asks for the line's client to be dropped at once.
extern std::atomic<void (*)()> emu_vehicleSwappedNotice;
extern std::atomic<void (*)()> emu_vehicleDropNotice;
