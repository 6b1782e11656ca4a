// Capture to table: a session recorded against a real adapter and car (a traffic log written with
// log=FILE, of the AT dialogue or of the serial CAN adapter's frames, or a terminal transcript of
// ">REQUEST" lines each followed by the adapter's answer lines) turned into entries of the running vehicle's request/answer tables, so that the simulated
// car gives the real one's answers. "save FILE" then keeps them in a vehicle file.
#pragma once

#include <string>

// The number of answers taken (each replaces an entry of the same ECU and request), with `report`
// saying so and naming senders no ECU of the vehicle has; -1 with `report` the error, and the
// vehicle as it was: a file that cannot be read (or is no regular file, or is too large), or an
// answer longer than a table entry holds ("FILE:LINE: ..." at its request).
int emu_ImportCapture(const char* path, std::string* report);
