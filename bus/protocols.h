// The OBD protocols 1 to 9 (0: automatic, nothing connected), one row each: the bus under it,
// its CAN identifiers and bit rate, its names as each side prints them (the handheld's module,
// the ELM327 v1.5, the operator menu), the header and key bytes of its answers off CAN, and how
// long its bus takes. Every question "is it CAN?", "which bit rate?" or "what is it called?"
// is asked of this table.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint8_t EMU_PROTOCOL_AUTOMATIC = 0;
constexpr uint8_t EMU_PROTOCOL_LAST = 9;
constexpr uint8_t EMU_PROTOCOL_ROWS = EMU_PROTOCOL_LAST + 1;

enum class EmuBusKind : uint8_t {
  None,        // automatic: no bus yet
  J1850Pwm,    // SAE J1850 PWM, 41.6 kbit/s
  J1850Vpwm,   // SAE J1850 VPWM, 10.4 kbit/s
  KLine5Baud,  // ISO 9141-2 and ISO 14230-4 with the 5-baud initialisation
  KLineFast,   // ISO 14230-4 with the fast initialisation
  Can,         // ISO 15765-4
};

// How long the car and the bus take (real timing). answerMs: from the request to the first ECU's
// answer; gapMs: between two ECUs' answers; initMs: the bus initialisation before the first
// request (5-baud about 2.5 s, fast about 0.3 s); missMs: what a protocol the car does not use
// costs a search (its initialisation failing, or the time-out of an unanswered 0100).
struct EmuBusTiming {
  uint16_t answerMs;
  uint16_t gapMs;
  uint16_t initMs;
  uint16_t missMs;
};

struct EmuProtocol {
  uint8_t number;
  EmuBusKind kind;
  uint8_t canIdBits;      // 11 or 29 on CAN; 0 elsewhere
  uint32_t bitRate;       // bit/s; 0 for automatic
  const char* moduleName; // the handheld's module: "ATDP"; "ATP" shows "n = " before it
  const char* elmName;    // the ELM327 v1.5: "ATDP"
  const char* menuName;   // the operator menu's choice of the car's protocol
  // Off CAN, the first two header bytes of an answer (priority/format, target); the source
  // follows. With formatLength the format byte carries the message's data length (ISO 14230-4).
  uint8_t header[2];
  bool formatLength;
  uint8_t keyBytes[2];    // the K-line's key bytes after its initialisation; 00 00 elsewhere
  EmuBusTiming timing;
};

// The row of a protocol number; numbers above 9 get the row of automatic.
const EmuProtocol& emu_Protocol(uint8_t number);

inline bool emu_ProtocolIsCan(uint8_t number) { return emu_Protocol(number).kind == EmuBusKind::Can; }
inline bool emu_ProtocolIs29Bit(uint8_t number) { return emu_Protocol(number).canIdBits == 29; }
inline bool emu_ProtocolIsKLine(uint8_t number) {
  const EmuBusKind k = emu_Protocol(number).kind;
  return k == EmuBusKind::KLine5Baud || k == EmuBusKind::KLineFast;
}
inline bool emu_ProtocolIsJ1850(uint8_t number) {
  const EmuBusKind k = emu_Protocol(number).kind;
  return k == EmuBusKind::J1850Pwm || k == EmuBusKind::J1850Vpwm;
}

// The three header bytes of an answer message on J1850 and the K-line (0 0 and the source
// before a protocol is set): priority/format byte, target, and the ECU's address as source.
void emu_ProtocolAnswerHeader(uint8_t number, uint8_t source, uint8_t dataBytes, uint8_t header[3]);

// The check byte after a J1850 / K-line message: SAE J1850 carries a CRC (polynomial 1D, preset
// and inverted), ISO 9141-2 and ISO 14230-4 the sum of the bytes.
uint8_t emu_ProtocolCheckByte(uint8_t number, const uint8_t* bytes, size_t n);
