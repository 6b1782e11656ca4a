// The vehicle commands of padix-headless: "load FILE", "set NAME VALUE", "save FILE" and
// "import LOG" (a captured session into the ECUs' request/answer tables). Each says on standard
// error what went wrong (import also what it took); a command that fails changes nothing.
// A command has taken effect when it returns: the car the module answers from is the new one.
#pragma once

// Hands the commands to the window, which reads them among its own (window_api.h).
void emu_OfferVehicleCommands();
