// The hex helper every reader and writer of hex text uses: its edges are every caller's edges.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "bus/hex.h"

namespace {

struct Read {
  EmuHexRead r;
  std::string bytes;  // as text again
};

Read ReadBytes(const std::string& text, EmuHexLayout layout, size_t max = 16) {
  uint8_t out[16];
  const EmuHexRead r = emu_ReadHexBytes(text.data(), text.size(), layout, out, max);
  return {r, emu_HexText(out, r.n)};
}

}  // namespace

// Only 0-9, A-F and a-f are digits; every byte comes back from its two upper-case digits.
TEST(Hex, DigitsBothWays) {
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    const bool digit = (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
    EXPECT_EQ(emu_HexDigit(ch) >= 0, digit) << c;
  }
  EXPECT_EQ(emu_HexDigit('a'), 10);
  EXPECT_EQ(emu_HexDigit('F'), 15);
  for (int b = 0; b < 256; ++b) {
    const uint8_t byte = static_cast<uint8_t>(b);
    const char high = emu_GetHighNibble(byte), low = emu_GetLowNibble(byte);
    EXPECT_FALSE(high >= 'a' && high <= 'f');
    EXPECT_EQ(emu_HexDigit(high) << 4 | emu_HexDigit(low), b);
  }
  EXPECT_EQ(emu_HexText(nullptr, 0), "");
  const uint8_t bytes[] = {0x00, 0x7F, 0xA0, 0xFF};
  EXPECT_EQ(emu_HexText(bytes, sizeof bytes), "00 7F A0 FF");
}

// A number of at most so many digits: reading stops at the limit or the first other character.
TEST(Hex, NumbersStopAtTheirLimit) {
  uint32_t v = 99;
  EXPECT_EQ(emu_ReadHexNumber("7e8", 3, &v), 3u);
  EXPECT_EQ(v, 0x7E8u);
  EXPECT_EQ(emu_ReadHexNumber("123", 2, &v), 2u);
  EXPECT_EQ(v, 0x12u);
  EXPECT_EQ(emu_ReadHexNumber("1 2", 2, &v), 1u);
  EXPECT_EQ(v, 1u);
  EXPECT_EQ(emu_ReadHexNumber("G1", 2, &v), 0u);
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(emu_ReadHexNumber("", 8, &v), 0u) << "the terminator is no digit";
  EXPECT_EQ(emu_ReadHexNumber("FFFFFFFF", 8, &v), 8u);
  EXPECT_EQ(v, 0xFFFFFFFFu);
}

// Runs of bytes, with the characters a reader allows between them, inside a byte or not.
TEST(Hex, BytesWithAndWithoutSpaces) {
  const EmuHexLayout none{"", false}, betweenBytes{" \t", false}, anywhere{" ", true};
  EXPECT_EQ(ReadBytes("0100", none).bytes, "01 00");
  EXPECT_EQ(ReadBytes("", none).r.n, 0u);
  EXPECT_EQ(ReadBytes("", none).r.error, EmuHexError::None);
  EXPECT_EQ(ReadBytes("1a f8", betweenBytes).bytes, "1A F8");
  EXPECT_EQ(ReadBytes(" 01\t02 ", betweenBytes).bytes, "01 02");
  EXPECT_EQ(ReadBytes("1 A F 8", anywhere).bytes, "1A F8");

  // A space inside a byte where the reader allows none there: the space is the fault, and the
  // byte's first digit was waiting.
  const Read split = ReadBytes("01 0 2", betweenBytes);
  EXPECT_EQ(split.r.error, EmuHexError::NotHex);
  EXPECT_EQ(split.r.at, 4u);
  EXPECT_TRUE(split.r.loneDigit);
  EXPECT_EQ(split.bytes, "01") << "the bytes before the fault are kept";

  const Read tab = ReadBytes("01\t02", anywhere);
  EXPECT_EQ(tab.r.error, EmuHexError::NotHex);
  EXPECT_EQ(tab.r.at, 2u);
  EXPECT_FALSE(tab.r.loneDigit);

  // A NUL inside the text is a character like any other, never a skipped one.
  const std::string withNul("01\0" "02", 5);
  EXPECT_EQ(ReadBytes(withNul, anywhere).r.error, EmuHexError::NotHex);
  EXPECT_EQ(ReadBytes(withNul, anywhere).r.at, 2u);

  const Read odd = ReadBytes("01 0", anywhere);
  EXPECT_EQ(odd.r.error, EmuHexError::OddDigits);
  EXPECT_EQ(odd.r.at, 3u);
  EXPECT_EQ(odd.bytes, "01");
}

// The limit: exactly max bytes are read; one more is refused where it starts, before a later
// fault is seen, and nothing is written past max.
TEST(Hex, BytesStopAtTheLimit) {
  const EmuHexLayout spaces{" ", true};
  EXPECT_EQ(ReadBytes("01 02 03", spaces, 3).r.error, EmuHexError::None);
  const Read over = ReadBytes("01 02 03 04 ZZ", spaces, 3);
  EXPECT_EQ(over.r.error, EmuHexError::TooMany);
  EXPECT_EQ(over.r.at, 9u);
  EXPECT_EQ(over.bytes, "01 02 03");
  // A lone digit past the limit is odd, not too many: the byte never came whole.
  EXPECT_EQ(ReadBytes("01 02 03 4", spaces, 3).r.error, EmuHexError::OddDigits);

  uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  (void)emu_ReadHexBytes("0102030405", 10, {"", false}, out, 2);
  EXPECT_EQ(out[2], 0xEE);
  EXPECT_EQ(emu_ReadHexBytes("01", 2, {"", false}, out, 0).error, EmuHexError::TooMany);
}
