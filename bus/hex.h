// Hex as the car's bytes are written on every side: a digit's value (either case), a byte as
// two upper-case digits, and runs of digit pairs read into bytes. What may stand between the
// digits differs by reader (a vehicle file allows spaces, the module's line any white space
// between bytes only, a traffic log none), so the reader names it; each keeps its own messages.
// The lowest room: the standard library only.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

// The value of a hex digit, '0'-'9', 'A'-'F' or 'a'-'f'; -1 for any other character.
constexpr int emu_HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Upper-case hexadecimal digit of the low or high four bits.
constexpr char emu_GetLowNibble(uint8_t v) {
  const uint8_t n = v & 0x0F;
  return static_cast<char>(n < 10 ? '0' + n : 'A' + n - 10);
}
constexpr char emu_GetHighNibble(uint8_t v) { return emu_GetLowNibble(static_cast<uint8_t>(v >> 4)); }

// "1A 2B 3C": the bytes as pairs of upper-case digits, a space between two (none for no bytes).
std::string emu_HexText(const uint8_t* bytes, size_t n);

// A number of at most maxDigits hex digits at the start of text: returns how many digits were
// read (0: no number, value 0); reading stops at the first other character.
size_t emu_ReadHexNumber(const char* text, size_t maxDigits, uint32_t* value);

// How a run of hex bytes may be written.
struct EmuHexLayout {
  const char* skipped;  // characters that may stand between the digits ("" for none)
  bool splitPairs;      // whether they may stand between the two digits of one byte too
};

enum class EmuHexError : uint8_t {
  None,
  NotHex,     // a character that is neither a digit nor skipped, or a skipped one inside a byte
  OddDigits,  // the text ended on a lone digit
  TooMany,    // more than max bytes
};

struct EmuHexRead {
  size_t n;           // bytes read and stored
  EmuHexError error;
  size_t at;          // NotHex: where the offending character stands; TooMany: where its byte starts
  bool loneDigit;     // NotHex: a byte's first digit was waiting for its second
};

// Reads length characters of text as hex bytes into out, at most max of them. Stops at the
// first fault, the bytes before it stored.
EmuHexRead emu_ReadHexBytes(const char* text, size_t length, const EmuHexLayout& layout, uint8_t* out, size_t max);
