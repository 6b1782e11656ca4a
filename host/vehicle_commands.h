// The vehicle commands of padix-headless: "load FILE", "set NAME VALUE", "save FILE" and
// "import LOG" (a captured session into the ECUs' request/answer tables). Each says on standard
// error what went wrong (import also what it took); a command that fails changes nothing.
// A command has taken effect when it returns: the car the module answers from is the new one.
#pragma once

#include <stddef.h>

// 0, or -1 with what went wrong in `why` (also written on standard error).
int emu_VehicleCommand(const char* verb, const char* rest, char* why, size_t whySize);
