// Inside the ELM327 v1.5 personality: what its line reader hands a line to (the command table, the
// OBD answers), the settings' defaults, and the protocol numbers. The state block, the writer and
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

// Protocol names of ATDP, by number (1..9).
const char* emu_ElmProtocolName(uint8_t protocol);

constexpr bool emu_ElmIsCan(uint8_t protocol) { return protocol >= 6 && protocol <= 9; }
constexpr bool emu_ElmIsKLine(uint8_t protocol) { return protocol >= 3 && protocol <= 5; }
constexpr bool emu_ElmIs29Bit(uint8_t protocol) { return protocol == 7 || protocol == 9; }
