// Inside the ELM327 v1.5 personality: what its line reader hands a line to (the command table, the
// OBD answers) and the settings' defaults. The protocols are the bus table's (bus/protocols.h). The state block, the writer and
// the waits that all of them use are the port side's (elm327_port.h).
#pragma once

#include <stdint.h>

void emu_ElmDefaults();  // ATZ / ATWS / ATD

// ---------------------------------------------------------------------------------------------
// The two kinds of line.

// "AT..." without the "AT", upper case, no spaces: sends the answer. False when unknown ("?").
bool emu_ElmCommand(const char* command);
// Hex digits of an OBD request, upper case, no spaces: sends the whole answer.
void emu_ElmRequest(const char* hex);
