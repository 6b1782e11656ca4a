// The simulated OBD interface module: its thread, its state and its AT command interpreter.
// It speaks the module's text protocol (command line + carriage return in, answer + prompt out)
// with the firmware's USART or, in simulator mode, with a client on the serial port. Not
// emulated: echo and line feeds (the flags are kept for the status block only), real baud rates.
#pragma once

#include <stdint.h>

#include <atomic>

// One command line holds at most this many characters; further ones are dropped until the
// carriage return.
constexpr uint8_t EMU_QIM_LINE_MAX = 19;
constexpr uint8_t EMU_QIM_NO_OF_ECU_ADDR = 8;

// Personalities (diagController).
constexpr uint8_t EMU_DIAG_QIM = 0;
constexpr uint8_t EMU_DIAG_ELM327_V11 = 1;
constexpr uint8_t EMU_DIAG_ELM327_V13A = 2;
// The adapter third-party programs are written for (elm327.h). It serves the serial client only:
// the handheld's firmware is always answered by the module's own personality while it is chosen.
constexpr uint8_t EMU_DIAG_ELM327_V15 = 3;

// Module state. Single bytes: the operator keys set some of them from the main thread without a
// lock, and the module thread reads them.
extern std::atomic<uint8_t> ate1Enabled;         // echo flag, shown by "ATV" only (1)
extern std::atomic<uint8_t> atl1Enabled;         // line-feed flag, shown by "ATV" only (1)
extern std::atomic<uint8_t> ath1Enabled;         // headers on (0)
extern std::atomic<uint8_t> atof1Enabled;        // "OF1" answer format (0)
extern std::atomic<uint8_t> atpProtocol;         // 0..9, 0 = automatic, not connected
extern std::atomic<uint8_t> respondingProtocol;  // the vehicle's protocol, 0 = whatever is set
extern std::atomic<uint8_t> ecuFilter;           // ECU address requests go to, 0 = all
extern std::atomic<uint8_t> diagController;      // 0 own module, 1 ELM327 v1.1, 2 v1.3a, 3 v1.5
extern std::atomic<uint8_t> lastAtCmdIsAtsb;     // the previous AT command was "ATSB..."
extern std::atomic<uint8_t> sendNoData;          // one-shot: next answer becomes "NO DATA>"
extern std::atomic<uint8_t> sendCanError;        // one-shot: next answer becomes "CAN ERROR>"
extern std::atomic<uint8_t> ecuAddr[EMU_QIM_NO_OF_ECU_ADDR];  // rewritten on protocol change

// Puts the module state back to its initial values (program start; tests).
void emu_QimInitState();

// Thread body: power-up, start-up dialogue, running, serving a serial client. Never returns;
// cancelled at shutdown.
void* emu_QimThread(void*);

// Answers one complete command line: AT/ST commands, OBD requests, or "?".
void emu_SendResponse(const char* line);
// Interprets one AT command line and sends its answer.
void emu_QimSendATCmdResponse(const char* line);

// Sends one answer up to and including its prompt, to the firmware while its USART is on,
// otherwise (simulator mode only) to the serial port. Applies the one-shot replacements.
void emu_SendDataBuf(const char* text);
// Takes one byte that the firmware transmits; stale when the firmware had nothing left to send.
uint8_t emu_SendDataByteToQim();

// Fixed answers.
void emu_QimSendResponsePrompt();
void emu_QimSendResponseOk();
void emu_QimSendResponseError();
void emu_QimSendResponseNoData();
void emu_QimSendResponseVoltage();
void emu_QimSendResponseProtocol();
void emu_QimSendResponseProtocolText(uint8_t protocol, uint8_t withoutNumber);

// Protocol and module settings.
uint8_t emu_QimGetProtocol();
void emu_QimSetProtocol(uint8_t protocol);  // above 9 ignored; also rewrites ecuAddr
uint8_t emu_QimIsCanProtocol();             // the protocol set is 6..9
void emu_QimSetEcuFilter(uint8_t addr);
void emu_QimSetRespondingProtocol(uint8_t protocol);  // above 9 ignored
void emu_QimSetDiagController(uint8_t personality);   // 0 to 3; others ignored
// The address of ECU ecuIdx on J1850, the K-line and 29-bit CAN (10, 18, 11, ... 16 by default),
// and the low byte of its 11-bit CAN identifier (E8..EF by default); the vehicle may name others.
uint8_t emu_NonCanEcuAddr(uint8_t ecuIdx);
uint8_t emu_CanEcuAddr(uint8_t ecuIdx);
// Rewrites ecuAddr for the protocol set, after the vehicle's addresses changed.
void emu_QimRefreshEcuAddresses();
