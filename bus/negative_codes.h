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

// The codes a diagnostic server answers with where their condition arises (vehicle/uds_server.h);
// not among those the operator arms.
constexpr uint8_t EMU_UDS_SERVICE_NOT_SUPPORTED = 0x11;
constexpr uint8_t EMU_UDS_SUB_FUNCTION_NOT_SUPPORTED = 0x12;
constexpr uint8_t EMU_UDS_WRONG_LENGTH = 0x13;
constexpr uint8_t EMU_UDS_RESPONSE_TOO_LONG = 0x14;
constexpr uint8_t EMU_UDS_CONDITIONS_NOT_CORRECT = 0x22;
constexpr uint8_t EMU_UDS_SEQUENCE_ERROR = 0x24;
constexpr uint8_t EMU_UDS_OUT_OF_RANGE = 0x31;
constexpr uint8_t EMU_UDS_SECURITY_DENIED = 0x33;
constexpr uint8_t EMU_UDS_INVALID_KEY = 0x35;
constexpr uint8_t EMU_UDS_EXCEEDED_ATTEMPTS = 0x36;
constexpr uint8_t EMU_UDS_DELAY_NOT_EXPIRED = 0x37;
constexpr uint8_t EMU_UDS_SUB_FUNCTION_NOT_IN_SESSION = 0x7E;
constexpr uint8_t EMU_UDS_SERVICE_NOT_IN_SESSION = 0x7F;

// A code as the operator gives it (its digits as a decimal number) and as it is sent.
constexpr uint8_t emu_NegativeCodeByte(uint8_t digits) { return static_cast<uint8_t>((digits / 10) << 4 | digits % 10); }
constexpr uint8_t emu_NegativeCodeDigits(uint8_t code) { return static_cast<uint8_t>((code >> 4) * 10 + (code & 0x0F)); }

// Whether the car can be made to answer with this code, given as its digits (0 is not a code).
constexpr bool emu_NegativeCodeKnown(uint8_t digits) {
  for (const EmuNegativeCode& c : EMU_NEGATIVE_CODES)
    if (digits != 0 && emu_NegativeCodeDigits(c.code) == digits) return true;
  return false;
}
