// Reading the serial CAN adapter's commands and writing its frames. Every field has a fixed
// number of hex digits; a line with one character too many or too few is refused, as the
// adapters do.
#include "slcan/slcan_reader.h"

#include <string.h>

#include "bus/hex.h"

namespace {

// Exactly `digits` hex digits at text; false on any other character.
bool emu_SlcanHex(const char* text, size_t digits, uint32_t* value) {
  uint32_t v = 0;
  for (size_t i = 0; i < digits; ++i) {
    const int d = emu_HexDigit(text[i]);
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *value = v;
  return true;
}

EmuSlcanCommand emu_SlcanRefused() { return EmuSlcanCommand{EmuSlcanCommandKind::Refused, 0, {}}; }

// t / T / r / R: identifier (3 or 8 digits), length digit, 2 digits a data byte (none remote).
EmuSlcanCommand emu_SlcanReadFrame(const char* text, size_t length) {
  EmuSlcanCommand c{EmuSlcanCommandKind::Frame, 0, {}};
  EmuCanFrame& f = c.frame;
  f.extended = text[0] == 'T' || text[0] == 'R';
  f.remote = text[0] == 'r' || text[0] == 'R';
  const size_t idDigits = f.extended ? 8 : 3;
  if (length < 1 + idDigits + 1 || !emu_SlcanHex(text + 1, idDigits, &f.id)) return emu_SlcanRefused();
  if (f.id > (f.extended ? EMU_CAN_MAX_ID29 : EMU_CAN_MAX_ID11)) return emu_SlcanRefused();
  const int dlc = emu_HexDigit(text[1 + idDigits]);
  if (dlc < 0 || dlc > EMU_CAN_MAX_DLC) return emu_SlcanRefused();
  f.dlc = static_cast<uint8_t>(dlc);
  const size_t dataDigits = f.remote ? 0 : 2u * f.dlc;
  if (length != 2 + idDigits + dataDigits) return emu_SlcanRefused();
  for (uint8_t i = 0; i < f.dlc && !f.remote; ++i) {
    uint32_t b;
    if (!emu_SlcanHex(text + 2 + idDigits + 2 * i, 2, &b)) return emu_SlcanRefused();
    f.data[i] = static_cast<uint8_t>(b);
  }
  return c;
}

// The commands by their letter: the kind, and the hex digits of the value behind it (-1 none).
struct SlcanCommandRow {
  char letter;
  EmuSlcanCommandKind kind;
  int8_t valueDigits;
  uint32_t maxValue;
};
constexpr SlcanCommandRow COMMANDS[] = {
    {'S', EmuSlcanCommandKind::BitRate,         1,  8},
    {'O', EmuSlcanCommandKind::Open,            -1, 0},
    {'L', EmuSlcanCommandKind::ListenOnly,      -1, 0},
    {'C', EmuSlcanCommandKind::Close,           -1, 0},
    {'F', EmuSlcanCommandKind::Status,          -1, 0},
    {'V', EmuSlcanCommandKind::Version,         -1, 0},
    {'v', EmuSlcanCommandKind::FirmwareVersion, -1, 0},
    {'N', EmuSlcanCommandKind::Serial,          -1, 0},
    {'Z', EmuSlcanCommandKind::TimeStamps,      1,  1},
    {'M', EmuSlcanCommandKind::AcceptanceCode,  8,  0xFFFFFFFF},
    {'m', EmuSlcanCommandKind::AcceptanceMask,  8,  0xFFFFFFFF},
};

}  // namespace

void emu_SlcanClearLine(EmuSlcanLine* line) {
  line->length = 0;
  line->overflow = false;
  line->text[0] = '\0';
}

bool emu_SlcanTakeByte(EmuSlcanLine* line, uint8_t c) {
  if (c == '\r') return true;
  if (c == '\n' || c == '\0') return false;
  if (line->length >= EMU_SLCAN_LINE_MAX) {
    line->overflow = true;
    return false;
  }
  line->text[line->length++] = static_cast<char>(c);
  line->text[line->length] = '\0';
  return false;
}

EmuSlcanCommand emu_SlcanReadCommand(const char* text, size_t length) {
  if (length == 0) return EmuSlcanCommand{EmuSlcanCommandKind::Empty, 0, {}};
  const char letter = text[0];
  if (letter == 't' || letter == 'T' || letter == 'r' || letter == 'R') return emu_SlcanReadFrame(text, length);
  for (const SlcanCommandRow& row : COMMANDS) {
    if (row.letter != letter) continue;
    const size_t digits = row.valueDigits < 0 ? 0 : static_cast<size_t>(row.valueDigits);
    uint32_t value = 0;
    if (length != 1 + digits || !emu_SlcanHex(text + 1, digits, &value) || value > row.maxValue) break;
    return EmuSlcanCommand{row.kind, value, {}};
  }
  return emu_SlcanRefused();
}

size_t emu_SlcanWriteFrame(const EmuCanFrame& frame, int32_t timeStamp, char out[EMU_SLCAN_FRAME_TEXT_MAX]) {
  size_t n = 0;
  out[n++] = frame.extended ? (frame.remote ? 'R' : 'T') : (frame.remote ? 'r' : 't');
  const int idDigits = frame.extended ? 8 : 3;
  for (int i = idDigits - 1; i >= 0; --i) out[n++] = emu_GetLowNibble(static_cast<uint8_t>(frame.id >> (4 * i)));
  const uint8_t dlc = frame.dlc > EMU_CAN_MAX_DLC ? EMU_CAN_MAX_DLC : frame.dlc;
  out[n++] = static_cast<char>('0' + dlc);
  for (uint8_t i = 0; i < dlc && !frame.remote; ++i) {
    out[n++] = emu_GetHighNibble(frame.data[i]);
    out[n++] = emu_GetLowNibble(frame.data[i]);
  }
  if (timeStamp >= 0) {
    for (int i = 3; i >= 0; --i) out[n++] = emu_GetLowNibble(static_cast<uint8_t>(timeStamp >> (4 * i)));
  }
  out[n++] = '\r';
  return n;
}
