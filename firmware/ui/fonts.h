// The three proportional bitmap fonts of the handheld and the current-font state the LCD driver
// draws with. There is one current font for the whole firmware; every routine that draws text
// selects its font first.
#pragma once

#include <stdint.h>

#include "ui/font_pack.h"

// Byte offsets inside a font record.
constexpr uint8_t FNT_REC_SIZE = 0;     // 2 bytes, little-endian
constexpr uint8_t FNT_REC_ADVANCE = 2;  // widest glyph + 1; not read when drawing
constexpr uint8_t FNT_REC_HEIGHT = 3;
constexpr uint8_t FNT_REC_FIRST = 5;
constexpr uint8_t FNT_REC_LAST = 6;
constexpr uint8_t FNT_REC_WIDTHS = 7;   // one byte per code first ... last, then the bitmap

constexpr uint16_t SYSTEM_FONT_SIZE = 600;
constexpr uint16_t HEADER_FONT_SIZE = 316;
constexpr uint16_t BIG_FONT_SIZE = 830;

extern const FntRecord<SYSTEM_FONT_SIZE> SystemFont;  // lists, messages, data; 8 pixels high
extern const FntRecord<HEADER_FONT_SIZE> HeaderFont;  // title bar and labels; 5 pixels high
extern const FntRecord<BIG_FONT_SIZE> BigFont;        // start screen, single values; 12 high

struct FntData {
  uint8_t firstChar;
  uint8_t lastChar;
  uint8_t height;
  uint16_t bitPos;        // bit position of the glyph being drawn, inside the bitmap
  const uint8_t* widths;  // width of firstChar at [0]
  const uint8_t* bitmap;
};
extern FntData fntData;

void FNT_Init(const uint8_t* font);
void FNT_SetBigFont();
void FNT_SetHeaderFont();
void FNT_SetSystemFont();
// Width in pixels of the code in the current font; 0 when the font has no glyph for it.
uint8_t FNT_GetCharWidth(uint8_t code);
// Sets fntData.bitPos to the code's glyph and returns the bitmap byte holding its first bit;
// *bitIndex receives the bit inside that byte. Only for codes of width > 0.
const uint8_t* FNT_GetFirstData(uint8_t code, uint8_t* bitIndex);
