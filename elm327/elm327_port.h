// The ELM327 v1.5 personality's port side: its state block, the answer writer and the waits that
// a client's next character interrupts. Its line reader, command table and OBD answers all stand
// on it; it calls none of them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "elm327/elm327.h"

// Settings that ATZ, ATWS and ATD put back to their defaults.
struct EmuElmSettings {
  uint8_t echo;            // ATE: every received character is sent back
  uint8_t lineFeeds;       // ATL: line ends are CR LF instead of CR
  uint8_t spaces;          // ATS: a space after every byte
  uint8_t headers;         // ATH: identifiers / header bytes and check bytes shown
  uint8_t canAutoFormat;   // ATCAF: PCI bytes hidden, multi-frame answers as numbered lines
  uint8_t canFlowControl;  // ATCFC: flow control sent after a first frame
  uint8_t showDlc;         // ATD1: the CAN data length code shown after the identifier
  uint8_t responses;       // ATR: answers awaited and shown
  uint8_t memory;          // ATM
  uint8_t longMessages;    // ATAL: requests of 8 data bytes allowed
  uint8_t adaptiveTiming;  // ATAT 0, 1, 2
  uint8_t timeout;         // ATST, in steps of 4 ms
  uint8_t canPriority;     // ATCP: bits 28-24 of a 29-bit identifier
  uint8_t headerSet;       // ATSH given: `header` replaces the protocol's functional header
  uint32_t header;         // three bytes (K-line, J1850, 29-bit CAN) or an 11-bit identifier
  uint8_t filterSet;       // ATCRA, ATCF or ATCM given: only answers from identifiers that match
  uint8_t maskSet;         // ATCM (or ATCRA) gave the mask; ATCF alone compares every bit
  uint32_t filterValue;
  uint32_t filterMask;     // bits compared; an X in ATCRA leaves its four bits out
  uint8_t initAddress;     // ATIIA: the target of the 5-baud initialisation (33: every ECU)
  uint8_t keyWordCheck;    // ATKW: key bytes of an initialisation checked
  uint8_t baudTimeout;     // ATBRT: the baud rate handshake's wait for the client, x 5 ms
  uint8_t protocol;        // the protocol in use until ATSP/ATTP: 0 automatic, 1..9
  uint8_t automatic;       // search when nothing answers (ATSP 0, ATSP Ah)
  uint8_t tryFirst;        // ATTP Ah: tried first by searches until the next reset; 0 none
};

struct EmuElm {
  EmuElmSettings s;
  uint8_t savedProtocol;   // ATSP: what ATZ/ATD return to (ATTP does not change it)
  uint8_t savedAutomatic;
  uint8_t searchFirst;     // the stored protocol a search tries first: 6, h of ATSP Ah, or the
                           // last one found
  std::atomic<uint8_t> connected;  // the protocol found or initialised, 0 none (ATPC closes it)
  uint8_t learnedDelayMs;  // adaptive timing: the car's answer time once seen
  uint8_t keyBytes[2];     // ATKW: the key bytes of the last K-line initialisation, in bus order
  // ATBD: the last message the adapter received, its length and up to 12 bytes as they came
  // (header, data and check byte off CAN; the frame's 8 bytes on CAN).
  uint8_t lastMessage[1 + 12];
  // The client's line.
  char line[EMU_ELM_LINE_MAX + 1];
  size_t length;
  uint8_t overflow;  // more characters came than the buffer holds
  char last[EMU_ELM_LINE_MAX + 1];  // repeated by an empty line
};
extern EmuElm elm;

// ---------------------------------------------------------------------------------------------
// Writing: everything goes into one buffer that is handed to the port at the end of a batch of
// input, before each wait, and whenever it fills.

void emu_ElmPut(const char* text);
void emu_ElmPutChar(char c);
void emu_ElmPutByte(uint8_t byte);   // two hex digits, then a space when spaces are on
void emu_ElmLineEnd();               // CR, or CR LF after ATL1
void emu_ElmLine(const char* text);  // the text and a line end
void emu_ElmPrompt();                // the answer's closing line end and ">"
void emu_ElmFlush();

// ---------------------------------------------------------------------------------------------
// Busy: a character that arrives while an OBD request is under way stops it.

// True when the client has sent something that counts (not a space, line feed or other control
// character) since the line being answered.
bool emu_ElmInterrupted();
// Waits ms milliseconds (real timing only; returns at once otherwise); true when the client
// interrupted meanwhile.
bool emu_ElmWait(uint32_t ms);
// Paces the text written since the last call at the serial line's byte time (real timing).
bool emu_ElmPaceOutput();
// "STOPPED": the request is abandoned and what the client sent meanwhile is dropped.
void emu_ElmAnswerStopped();
// Waits up to ms milliseconds for the client (whatever the timing) with what was written sent;
// true as soon as it has sent something that counts or has left.
bool emu_ElmWaitForClient(int ms);
// The bus monitor was stopped by the client: the stopping characters are dropped and the prompt
// follows (nothing for a client that left).
void emu_ElmEndMonitor();

// With real timing, a message the bus delivers in busUs fills the adapter's transmit buffer with
// its text but for what the serial line carries meanwhile; BUFFER FULL when it does not fit.
// Watches the text written until emu_ElmTransmitOverflowed(), which is true when some was lost
// (the text kept then ends with its last whole line).
void emu_ElmWatchTransmit(uint64_t busUs);
bool emu_ElmTransmitOverflowed();

// ---------------------------------------------------------------------------------------------
// ATBRD: the baud rate handshake. "OK" goes out at the line's rate, the line switches to
// baudrate and the identity is sent there; a carriage return from the client within waitMs keeps
// the new rate, anything else (or nothing) returns to the old one. The prompt follows at the rate
// kept.
void emu_ElmSwitchBaud(uint32_t baudrate, const char* identity, uint32_t waitMs);

// ---------------------------------------------------------------------------------------------
// Reading, for the line reader.

// Spaces and control characters (the carriage return aside) are not part of any command.
constexpr bool emu_ElmIgnored(uint8_t c) { return c != '\r' && (c <= ' ' || c == 0x7F); }

// The client's next character, read from the port when none is waiting; false when there is
// none.
bool emu_ElmNextInput(uint8_t* c);
// The client's half-typed line is void.
void emu_ElmForgetLine();
// Input not taken yet and answer text not written yet are void.
void emu_ElmDropTraffic();
