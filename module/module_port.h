// The handheld module's port side: its state block, its settings, and the answer writer that
// hands an answer to the firmware's USART or, in simulator mode, to the serial client, with the
// operator's one-shot replacements. The AT interpreter and the OBD answer builder stand on it;
// it calls neither of them, nor the module's thread.
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
extern std::atomic<uint8_t> ecuFilter;           // ECU address requests go to, 0 = all
extern std::atomic<uint8_t> diagController;      // 0 own module, 1 ELM327 v1.1, 2 v1.3a, 3 v1.5
// The serial client is served as a serial CAN adapter (slcan/slcan.h) instead of any AT
// dialect; the handheld's firmware keeps its own personality. Set from the command line.
extern std::atomic<uint8_t> serialCanServed;
extern std::atomic<uint8_t> lastAtCmdIsAtsb;     // the previous AT command was "ATSB..."
extern std::atomic<uint8_t> sendNoData;          // one-shot: next answer becomes "NO DATA>"
extern std::atomic<uint8_t> sendCanError;        // one-shot: next answer becomes "CAN ERROR>"
// The vehicle's ECU addresses as the module sees them on the protocol set: rewritten when the
// protocol is set or the car is swapped, all 0 before either.
extern std::atomic<uint8_t> ecuAddr[EMU_QIM_NO_OF_ECU_ADDR];

// Puts the module state back to its initial values (program start; tests), and the car's
// protocol, which the module's automatic search may have settled.
void emu_QimInitState();

// ---------------------------------------------------------------------------------------------
// Writing

// Sends one answer up to and including its prompt, to the firmware while its USART is on,
// otherwise (simulator mode only) to the serial port. Applies the one-shot replacements.
void emu_SendDataBuf(const char* text);
// Sends text, CR and the prompt.
void emu_QimSendText(const char* text);
// Fixed answers.
void emu_QimSendResponsePrompt();
void emu_QimSendResponseOk();
void emu_QimSendResponseError();
void emu_QimSendResponseNoData();
// While on, answers go to the serial client even though the firmware's USART is still on
// (serving from start, before the firmware has entered its bridge).
void emu_QimAnswerSerialClient(bool on);
// One byte to the serial port, tried again until it goes.
void emu_QimWriteSerialByte(uint8_t byte);

// ---------------------------------------------------------------------------------------------
// Protocol and module settings

uint8_t emu_QimGetProtocol();
void emu_QimSetProtocol(uint8_t protocol);  // above 9 ignored; also rewrites ecuAddr
uint8_t emu_QimIsCanProtocol();             // the protocol set is 6..9
void emu_QimSetEcuFilter(uint8_t addr);
void emu_QimSetDiagController(uint8_t personality);  // 0 to 3; others ignored
// Rewrites ecuAddr for the protocol set, after the vehicle's addresses changed.
void emu_QimRefreshEcuAddresses();
// Index of the first ECU with this address in ecuAddr; 0 when none has it (and for address 0).
uint8_t emu_QimGetEcuIdx(uint8_t addr);
