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

// ---------------------------------------------------------------------------------------------
// The bus, for the commands that act on it.

// The K-line initialisation of protocol p (ATSI, ATFI, or before a first request): "BUS INIT: ",
// the initialisation's time, then the outcome after `dots` ("..." after a 5-baud one): "OK" on
// its line, the protocol connected and its key bytes kept; or "ERROR" and the prompt. False when
// it failed or the client interrupted it (answered "STOPPED").
bool emu_ElmInitialiseBus(uint8_t protocol, const char* dots);

// ATMA, ATMR hh, ATMT hh: every message on the bus (found first as a request would find it), or
// those to or from one address, printed until the client sends a character; then the prompt.
enum class EmuElmWatch : uint8_t { All, Receiver, Transmitter };
void emu_ElmMonitor(EmuElmWatch watch, uint8_t address);
