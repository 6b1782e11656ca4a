// Drawing into the frame buffer: lines, areas, boxes with cut corners, characters of the current
// font, texts, text fields with alignment and inverse video, word-wrapped text boxes, hex and
// decimal numbers. Every pixel goes through LCD_WritePixel, the one place where the 132 x 64
// bounds are checked. Arguments are 8-bit values as on the controller, so sums of coordinates
// that the callers pass on wrap at 256 just as they do there.
#include "ui/fonts.h"
#include "ui/lcd.h"

uint8_t lcdPosX;
uint8_t lcdPosY;
uint8_t lcdMaxPosX = LCD_WIDTH;
uint8_t lcdInversed;

// Sets (dark != 0) or clears the pixel; pixels outside the display are dropped.
static void LCD_WritePixel(uint16_t x, uint16_t y, uint8_t dark) {
  if (x >= LCD_WIDTH || y >= LCD_HEIGHT) return;
  uint8_t& b = lcdFrameBuf[(y >> 3) * LCD_WIDTH + x];
  const uint8_t mask = static_cast<uint8_t>(1u << (y & 7));
  b = dark ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
}

static void LCD_WriteArea(uint8_t x, uint8_t y, uint8_t width, uint8_t height, uint8_t dark) {
  for (uint16_t j = 0; j < height; ++j) {
    for (uint16_t i = 0; i < width; ++i) LCD_WritePixel(x + i, y + j, dark);
  }
}

void LCD_DrawHLine(uint8_t x, uint8_t y, uint8_t length) { LCD_WriteArea(x, y, length, 1, 1); }

void LCD_DrawVLine(uint8_t x, uint8_t y, uint8_t length) { LCD_WriteArea(x, y, 1, length, 1); }

void LCD_ClearArea(uint8_t x, uint8_t y, uint8_t width, uint8_t height) {
  LCD_WriteArea(x, y, width, height, 0);
}

void LCD_FillArea(uint8_t x, uint8_t y, uint8_t width, uint8_t height) {
  LCD_WriteArea(x, y, width, height, 1);
}

static uint8_t U8(int v) { return static_cast<uint8_t>(v); }

void LCD_DrawBoxFrame(uint8_t x, uint8_t y, uint8_t width, uint8_t height) {
  if (width <= 4 || height <= 4) return;
  LCD_DrawHLine(U8(x + 2), y, U8(width - 4));
  LCD_DrawHLine(U8(x + 2), U8(y + height - 1), U8(width - 4));
  LCD_DrawVLine(x, U8(y + 2), U8(height - 4));
  LCD_DrawVLine(U8(x + width - 1), U8(y + 2), U8(height - 4));
  // The rounding pixels only when the box ends on the display: the columns and rows they
  // would get from a wrapped 8-bit sum lie elsewhere on screen.
  if (x + width <= LCD_WIDTH + 1 && y + height <= LCD_HEIGHT + 1) {
    LCD_WritePixel(U8(x + 1), U8(y + 1), 1);
    LCD_WritePixel(U8(x + width - 2), U8(y + 1), 1);
    LCD_WritePixel(U8(x + 1), U8(y + height - 2), 1);
    LCD_WritePixel(U8(x + width - 2), U8(y + height - 2), 1);
  }
}

void LCD_DrawBoxFilled(uint8_t x, uint8_t y, uint8_t width, uint8_t height) {
  if (width < 5 || height < 5) return;
  LCD_DrawHLine(U8(x + 2), y, U8(width - 4));
  LCD_DrawHLine(U8(x + 2), U8(y + height - 1), U8(width - 4));
  LCD_DrawHLine(U8(x + 1), U8(y + 1), U8(width - 2));
  LCD_DrawHLine(U8(x + 1), U8(y + height - 2), U8(width - 2));
  LCD_FillArea(x, U8(y + 2), width, U8(height - 4));
}

void LCD_SetPosXY(uint8_t x, uint8_t y) {
  lcdPosX = x;
  lcdPosY = y;
}

void LCD_SetPosXRel(uint8_t dx) { lcdPosX = U8(lcdPosX + dx); }

uint8_t LCD_DrawChar(uint8_t code) {
  const uint8_t width = FNT_GetCharWidth(code);
  if (width == 0) return 0;
  if (lcdPosX + width > lcdMaxPosX || lcdPosY + fntData.height > LCD_HEIGHT) return 0;

  uint8_t bit;
  const uint8_t* data = FNT_GetFirstData(code, &bit);
  // The whole cell is written, ink and background, so a character replaces what was there.
  for (uint8_t i = 0; i < width; ++i) {
    for (uint8_t j = 0; j < fntData.height; ++j) {
      if (bit == 8) {
        ++data;
        bit = 0;
      }
      const uint8_t ink = (*data >> bit) & 1;
      ++bit;
      LCD_WritePixel(lcdPosX + i, lcdPosY + j, ink != lcdInversed);
    }
  }
  lcdPosX = U8(lcdPosX + width + 1);
  return 1;
}

void LCD_DrawText(const char* text, uint8_t x, uint8_t y) {
  LCD_SetPosXY(x, y);
  for (; *text != 0; ++text) {
    if (!LCD_DrawChar(static_cast<uint8_t>(*text))) return;
  }
}

uint16_t LCD_GetTextWidth(const char* text) {
  uint16_t width = 0;
  const char* p = text;
  for (; *p != 0; ++p) {
    width = static_cast<uint16_t>(width + FNT_GetCharWidth(static_cast<uint8_t>(*p)) + 1);
  }
  return p == text ? 0 : static_cast<uint16_t>(width - 1);
}

void LCD_DrawTextField(const char* text, uint8_t x, uint8_t y, uint8_t width, uint8_t flags) {
  const uint8_t limit = U8(x + width);
  lcdMaxPosX = limit > LCD_WIDTH ? LCD_WIDTH : limit;
  if (flags & LCD_FIELD_INVERSE) {
    LCD_FillArea(x, y, width, fntData.height);
    lcdInversed = 1;
  } else {
    LCD_ClearArea(x, y, width, fntData.height);
  }
  uint8_t startX = x;
  if (flags & (LCD_FIELD_CENTRE | LCD_FIELD_RIGHT)) {
    const uint16_t textWidth = LCD_GetTextWidth(text);
    if (textWidth < width) {
      const uint8_t room = U8(width - textWidth);
      startX = U8(startX + ((flags & LCD_FIELD_RIGHT) ? room : room / 2));
    }
  }
  LCD_DrawText(text, startX, y);
  lcdInversed = 0;
  lcdMaxPosX = LCD_WIDTH;
}

// A line may break after these; the character stays at the end of the line.
static uint8_t LCD_IsBreakChar(char c) {
  return c == ' ' || c == '=' || c == '/' || c == ':' || c == '-' || c == ',';
}

void LCD_DrawTextBox(const char* text, uint8_t x, uint8_t y, uint8_t width) {
  const char* line = text;
  uint16_t row = y;  // 16 bits, so that the stop at row 64 cannot be skipped by a wrap
  for (;;) {
    LCD_SetPosXY(x, U8(row));
    uint8_t sum = 0;  // 8 bits, as on the controller
    const char* lastBreak = nullptr;
    const char* end = line;  // one past the line's last character
    uint8_t textEnds = 1;
    for (; *end != 0; ++end) {
      sum = U8(sum + FNT_GetCharWidth(static_cast<uint8_t>(*end)) + 1);
      if (sum >= width) {
        // A space that reaches the edge stays on its line; otherwise break after the last
        // candidate before this character, or inside the word when there is none.
        if (*end == ' ') {
          ++end;
        } else if (lastBreak != nullptr) {
          end = lastBreak + 1;
        }
        textEnds = 0;
        break;
      }
      if (LCD_IsBreakChar(*end)) lastBreak = end;
    }
    for (const char* p = line; p < end; ++p) LCD_DrawChar(static_cast<uint8_t>(*p));
    row += fntData.height;
    line = end;
    if (textEnds || row >= LCD_HEIGHT) return;
  }
}

void LCD_DrawHexNibble(uint8_t value) {
  value &= 0x0F;
  LCD_DrawChar(value < 10 ? U8('0' + value) : U8(0x1A + value - 10));  // 0x1A-0x1F: narrow A-F
}

void LCD_DrawHexByte(uint8_t value) {
  LCD_DrawHexNibble(value >> 4);
  LCD_DrawHexNibble(value);
}

void LCD_DrawDecByte(uint8_t value) {
  uint8_t hundreds = 0;
  if (value >= 200) {
    hundreds = 2;
  } else if (value >= 100) {
    hundreds = 1;
  }
  if (hundreds != 0) {
    LCD_DrawChar(U8('0' + hundreds));
    value = U8(value - hundreds * 100);
  }
  uint8_t tens = 0;
  while (value >= 10) {
    value = U8(value - 10);
    ++tens;
  }
  if (tens != 0 || hundreds != 0) LCD_DrawChar(U8('0' + tens));
  LCD_DrawChar(U8('0' + value));
}
