// The vehicle commands of padix-headless: "load FILE", "set NAME VALUE", "save FILE" and
// "import LOG" (a captured session into the ECUs' request/answer tables). Each says on standard
// error what went wrong (import also what it took); a command that fails changes nothing.
#pragma once

void emu_VehicleCommand(const char* verb, const char* rest);
