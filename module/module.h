// The simulated OBD interface module: its thread, its state and its AT command interpreter.
// It speaks the module's text protocol (command line + carriage return in, answer + prompt out)
// with the firmware's USART or, in simulator mode, with a client on the serial port. Not
// emulated: echo and line feeds (the flags are kept for the status block only), real baud rates.
// Layers, low to high: the port (module_port.h: state, settings, answer writer), the OBD answer
// builder (obd_answer.h), the AT interpreter, the thread; each calls only those below it.
#pragma once

#include <stdint.h>

#include "module/module_port.h"

// Thread body: power-up, start-up dialogue, running, serving a serial client. Never returns;
// cancelled at shutdown.
void* emu_QimThread(void*);
// Takes one byte that the firmware transmits; stale when the firmware had nothing left to send.
uint8_t emu_SendDataByteToQim();

// The interpreter (at_commands.cpp). Answers one complete command line: AT/ST commands, OBD
// requests, or "?".
void emu_SendResponse(const char* line);
// Interprets one AT command line and sends its answer.
void emu_QimSendATCmdResponse(const char* line);
// Answers the interpreter gives.
void emu_QimSendResponseVoltage();
void emu_QimSendResponseProtocol();
void emu_QimSendResponseProtocolText(uint8_t protocol, uint8_t withoutNumber);
