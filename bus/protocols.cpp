// The protocol table. The names are the ones each side has always printed: they differ in their
// punctuation, and clients compare them as they are.
#include "bus/protocols.h"

namespace {

using K = EmuBusKind;

// clang-format off
constexpr EmuProtocol PROTOCOLS[EMU_PROTOCOL_ROWS] = {
    {0, K::None,       0,  0,      "NOT CONNECTED",
     "AUTO",                     "Any",
     {0x00, 0x00}, false, {0x00, 0x00}, {0,  0,  0,    0}},
    {1, K::J1850Pwm,   0,  41600,  "SAE J1850 / PWM",
     "SAE J1850 PWM",            "1 SAE J1850 PWM",
     {0x41, 0x6B}, false, {0x00, 0x00}, {15, 5,  0,    250}},
    {2, K::J1850Vpwm,  0,  10400,  "SAE J1850 / VPWM",
     "SAE J1850 VPWM",           "2 SAE J1850 VPWM",
     {0x48, 0x6B}, false, {0x00, 0x00}, {15, 5,  0,    250}},
    {3, K::KLine5Baud, 0,  10400,  "ISO 9141-2",
     "ISO 9141-2",               "3 ISO 9141-2",
     {0x48, 0x6B}, false, {0x94, 0x94}, {30, 20, 2500, 2600}},
    {4, K::KLine5Baud, 0,  10400,  "ISO 14230-4, KWP2000 (5 Baud Init)",
     "ISO 14230-4 (KWP 5BAUD)",  "4 ISO 14230-4 KWP (5-baud init)",
     {0x80, 0xF1}, true,  {0x8F, 0x6B}, {30, 20, 2500, 2600}},
    {5, K::KLineFast,  0,  10400,  "ISO 14230-4, KWP2000 (Fast Init)",
     "ISO 14230-4 (KWP FAST)",   "5 ISO 14230-4 KWP (fast init)",
     {0x80, 0xF1}, true,  {0x8F, 0xE9}, {30, 20, 300,  350}},
    {6, K::Can,        11, 500000, "ISO 15765-4, CAN (11/500)",
     "ISO 15765-4 (CAN 11/500)", "6 ISO 15765-4 CAN (11 bit, 500 kbit/s)",
     {0x00, 0x00}, false, {0x00, 0x00}, {10, 2,  0,    200}},
    {7, K::Can,        29, 500000, "ISO 15765-4, CAN (29/500)",
     "ISO 15765-4 (CAN 29/500)", "7 ISO 15765-4 CAN (29 bit, 500 kbit/s)",
     {0x00, 0x00}, false, {0x00, 0x00}, {10, 2,  0,    200}},
    {8, K::Can,        11, 250000, "ISO 15765-4, CAN (11/250)",
     "ISO 15765-4 (CAN 11/250)", "8 ISO 15765-4 CAN (11 bit, 250 kbit/s)",
     {0x00, 0x00}, false, {0x00, 0x00}, {12, 3,  0,    200}},
    {9, K::Can,        29, 250000, "ISO 15765-4, CAN (29/250)",
     "ISO 15765-4 (CAN 29/250)", "9 ISO 15765-4 CAN (29 bit, 250 kbit/s)",
     {0x00, 0x00}, false, {0x00, 0x00}, {12, 3,  0,    200}},
};
// clang-format on

constexpr bool emu_ProtocolsValid() {
  for (uint8_t i = 0; i < EMU_PROTOCOL_ROWS; ++i) {
    const EmuProtocol& p = PROTOCOLS[i];
    if (p.number != i) return false;
    if ((p.kind == K::Can) != (p.canIdBits == 11 || p.canIdBits == 29)) return false;
    if ((p.kind == K::None) != (p.bitRate == 0)) return false;
  }
  return true;
}
static_assert(emu_ProtocolsValid(), "rows in number order; CAN rows, and only they, with 11 or 29 bit identifiers");

}  // namespace

const EmuProtocol& emu_Protocol(uint8_t number) { return PROTOCOLS[number <= EMU_PROTOCOL_LAST ? number : 0]; }

void emu_ProtocolAnswerHeader(uint8_t number, uint8_t source, uint8_t dataBytes, uint8_t header[3]) {
  const EmuProtocol& p = emu_Protocol(number);
  header[0] = p.formatLength ? static_cast<uint8_t>(p.header[0] | (dataBytes & 0x3F)) : p.header[0];
  header[1] = p.header[1];
  header[2] = source;
}

uint8_t emu_ProtocolCheckByte(uint8_t number, const uint8_t* bytes, size_t n) {
  if (emu_ProtocolIsJ1850(number)) {
    uint8_t crc = 0xFF;
    for (size_t i = 0; i < n; ++i) {
      crc ^= bytes[i];
      for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x1D : crc << 1);
    }
    return static_cast<uint8_t>(~crc);
  }
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}
