// The vehicle commands of padix-headless: "load FILE", "set NAME VALUE", "save FILE". Each says
// on standard error what went wrong; a command that fails changes nothing.
#pragma once

void emu_VehicleCommand(const char* verb, const char* rest);
