// Hex digits and bytes: the one reader and writer of hex text for the car, its adapters and its
// files.
#include "bus/hex.h"

#include <string.h>

std::string emu_HexText(const uint8_t* bytes, size_t n) {
  std::string out;
  out.reserve(n * 3);
  for (size_t i = 0; i < n; ++i) {
    if (i != 0) out += ' ';
    out += emu_GetHighNibble(bytes[i]);
    out += emu_GetLowNibble(bytes[i]);
  }
  return out;
}

size_t emu_ReadHexNumber(const char* text, size_t maxDigits, uint32_t* value) {
  size_t digits = 0;
  *value = 0;
  while (digits < maxDigits && emu_HexDigit(text[digits]) >= 0) {
    *value = *value * 16 + static_cast<uint32_t>(emu_HexDigit(text[digits]));
    ++digits;
  }
  return digits;
}

EmuHexRead emu_ReadHexBytes(const char* text, size_t length, const EmuHexLayout& layout, uint8_t* out, size_t max) {
  EmuHexRead r{0, EmuHexError::None, 0, false};
  int high = -1;
  size_t byteStart = 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    const int digit = emu_HexDigit(c);
    if (digit < 0) {
      // A NUL is never a skipped character, though strchr finds the terminator.
      const bool skipped = c != '\0' && strchr(layout.skipped, c) != nullptr;
      if (skipped && (high < 0 || layout.splitPairs)) continue;
      r.error = EmuHexError::NotHex;
      r.at = i;
      r.loneDigit = high >= 0;
      return r;
    }
    if (high < 0) {
      high = digit;
      byteStart = i;
      continue;
    }
    if (r.n == max) {
      r.error = EmuHexError::TooMany;
      r.at = byteStart;
      return r;
    }
    out[r.n++] = static_cast<uint8_t>(high << 4 | digit);
    high = -1;
  }
  if (high >= 0) {
    r.error = EmuHexError::OddDigits;
    r.at = byteStart;
  }
  return r;
}
