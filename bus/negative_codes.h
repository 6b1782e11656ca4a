// Negative responses: 7F, the service asked for, and a code saying why. The codes the car can be
// made to answer with, and their names. The operator and the vehicle file give a code as its two
// digits read as a decimal number (78 for 78): the digits are the same, the value is not.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr uint8_t EMU_NEGATIVE_RESPONSE = 0x7F;  // the first byte of a negative response
constexpr uint8_t EMU_RESPONSE_PENDING = 0x78;   // the ECU answers later; its answer follows

struct EmuNegativeCode {
  uint8_t code;
  const char* name;
};

// clang-format off
inline constexpr EmuNegativeCode EMU_NEGATIVE_CODES[] = {
    {0x10, "general reject"},
    {0x11, "service not supported"},
    {0x12, "sub-function not supported"},
    {0x21, "busy, repeat request"},
    {0x22, "conditions not correct"},
    {EMU_RESPONSE_PENDING, "response pending"},
};
// clang-format on
constexpr size_t EMU_NEGATIVE_CODE_COUNT = sizeof EMU_NEGATIVE_CODES / sizeof EMU_NEGATIVE_CODES[0];

// A code as the operator gives it (its digits as a decimal number) and as it is sent.
constexpr uint8_t emu_NegativeCodeByte(uint8_t digits) { return static_cast<uint8_t>((digits / 10) << 4 | digits % 10); }
constexpr uint8_t emu_NegativeCodeDigits(uint8_t code) { return static_cast<uint8_t>((code >> 4) * 10 + (code & 0x0F)); }

// Whether the car can be made to answer with this code, given as its digits (0 is not a code).
constexpr bool emu_NegativeCodeKnown(uint8_t digits) {
  for (const EmuNegativeCode& c : EMU_NEGATIVE_CODES)
    if (digits != 0 && emu_NegativeCodeDigits(c.code) == digits) return true;
  return false;
}
