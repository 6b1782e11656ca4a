// The serial CAN adapter's text protocol in bytes: the client's bytes gathered into command lines
// (each ends with a carriage return), a line read as one command with its values, and a CAN frame
// written as the adapter sends it to the client. Pure functions over the caller's buffers: no
// port, no state of the adapter, no bus.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint8_t EMU_CAN_MAX_DLC = 8;
constexpr uint32_t EMU_CAN_MAX_ID11 = 0x7FF;
constexpr uint32_t EMU_CAN_MAX_ID29 = 0x1FFFFFFF;
// The longest command: "T", 8 identifier digits, the length digit and 8 bytes (26 characters).
// Longer lines are refused whole; the bound leaves room for a few stray characters.
constexpr size_t EMU_SLCAN_LINE_MAX = 32;
// The longest line the adapter sends: a 29-bit frame of 8 bytes, its time stamp and the CR.
constexpr size_t EMU_SLCAN_FRAME_TEXT_MAX = 1 + 8 + 1 + 2 * EMU_CAN_MAX_DLC + 4 + 1;

struct EmuCanFrame {
  uint32_t id;
  bool extended;  // a 29-bit identifier
  bool remote;    // a remote frame: a length, no data
  uint8_t dlc;
  uint8_t data[EMU_CAN_MAX_DLC];
};

enum class EmuSlcanCommandKind : uint8_t {
  Refused,         // not a command, or one with wrong values: answered BEL
  Empty,           // a lone CR
  BitRate,         // Sn: value = n, 0..8
  Open,            // O
  ListenOnly,      // L
  Close,           // C
  Frame,           // t T r R: frame
  Status,          // F
  Version,         // V
  FirmwareVersion, // v
  Serial,          // N
  TimeStamps,      // Z0 / Z1: value
  AcceptanceCode,  // Mhhhhhhhh: value
  AcceptanceMask,  // mhhhhhhhh: value
};

struct EmuSlcanCommand {
  EmuSlcanCommandKind kind;
  uint32_t value;
  EmuCanFrame frame;
};

// The client's line as it comes in.
struct EmuSlcanLine {
  char text[EMU_SLCAN_LINE_MAX + 1];
  size_t length;
  bool overflow;  // more came than the line holds: the whole line is refused at its CR
};

// Takes one byte; true when it ended a line (a CR), which is then text[0..length) (overflow
// says whether it is whole). The caller clears the line before the next byte. Line feeds and
// NULs are not part of any command and are dropped.
bool emu_SlcanTakeByte(EmuSlcanLine* line, uint8_t c);
void emu_SlcanClearLine(EmuSlcanLine* line);

// Reads one whole line (without its CR) as a command; hex digits in either case.
EmuSlcanCommand emu_SlcanReadCommand(const char* text, size_t length);

// Writes the frame as the adapter sends it ("t7E8806410C1AF8000000", 'T' with 8 identifier
// digits for 29 bits, 'r' / 'R' for remote frames), the time stamp's 4 digits when given
// (timeStamp >= 0), and the CR; returns the characters written (no terminating NUL).
size_t emu_SlcanWriteFrame(const EmuCanFrame& frame, int32_t timeStamp, char out[EMU_SLCAN_FRAME_TEXT_MAX]);
