#include "tests/support/screen_text.h"

#include <stdio.h>
#include <string.h>

#include "firmware/ui/fonts.h"
#include "firmware/ui/lcd.h"

namespace {

bool Pixel(const uint8_t* frameBuf, int x, int y) {
  return (frameBuf[(y / 8) * LCD_WIDTH + x] >> (y % 8)) & 1;
}

// The firmware's drawing state, kept aside while the expected text is drawn.
struct SavedLcdState {
  uint8_t frame[LCD_FRAME_SIZE];
  uint8_t posX, posY, maxPosX, inversed;
  FntData font;
  void Save() {
    memcpy(frame, lcdFrameBuf, sizeof frame);
    posX = lcdPosX, posY = lcdPosY, maxPosX = lcdMaxPosX, inversed = lcdInversed;
    font = fntData;
  }
  void Restore() const {
    memcpy(lcdFrameBuf, frame, sizeof frame);
    lcdPosX = posX, lcdPosY = posY, lcdMaxPosX = maxPosX, lcdInversed = inversed;
    fntData = font;
  }
};

}  // namespace

std::string ScreenRect(const uint8_t* frameBuf, int x, int y, int width, int height) {
  std::string out;
  for (int j = y; j < y + height; ++j) {
    for (int i = x; i < x + width; ++i) {
      out += (i >= 0 && j >= 0 && i < LCD_WIDTH && j < LCD_HEIGHT && Pixel(frameBuf, i, j))
                 ? '#'
                 : '.';
    }
    out += '\n';
  }
  return out;
}

testing::AssertionResult ShowsText(const uint8_t* frameBuf, uint8_t x, uint8_t y,
                                   const uint8_t* font, const char* text, bool inverse) {
  uint8_t actual[LCD_FRAME_SIZE];
  memcpy(actual, frameBuf, sizeof actual);

  static SavedLcdState saved;  // large; the tests run on one thread
  saved.Save();
  memset(lcdFrameBuf, 0, LCD_FRAME_SIZE);
  lcdMaxPosX = LCD_WIDTH;
  lcdInversed = 0;
  FNT_Init(font);
  const int width = LCD_GetTextWidth(text);
  const int height = fntData.height;
  LCD_DrawText(text, x, y);
  const bool complete = lcdPosX == static_cast<uint8_t>(x + width + 1) || width == 0;
  uint8_t expected[LCD_FRAME_SIZE];
  memcpy(expected, lcdFrameBuf, sizeof expected);
  saved.Restore();

  if (!complete) {
    return testing::AssertionFailure()
           << "\"" << text << "\" cannot be drawn whole at (" << int{x} << ", " << int{y}
           << ") in this font";
  }
  bool same = true;
  for (int j = y; j < y + height; ++j) {
    for (int i = x; i < x + width; ++i) {
      if (Pixel(actual, i, j) != (Pixel(expected, i, j) != inverse)) same = false;
    }
  }
  if (same) return testing::AssertionSuccess();

  std::string want = ScreenRect(expected, x, y, width, height);
  if (inverse) {
    for (char& c : want) c = c == '#' ? '.' : c == '.' ? '#' : c;
  }
  return testing::AssertionFailure()
         << "\"" << text << "\" not found at (" << int{x} << ", " << int{y} << ")"
         << (inverse ? " inverse" : "") << "\nexpected:\n"
         << want << "screen (with 2 pixels around):\n"
         << ScreenRect(actual, x - 2, y - 2, width + 4, height + 4);
}

bool WriteScreenPbm(const uint8_t* frameBuf, const std::string& path) {
  FILE* f = fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  fprintf(f, "P1\n%d %d\n", LCD_WIDTH, LCD_HEIGHT);
  for (int y = 0; y < LCD_HEIGHT; ++y) {
    for (int x = 0; x < LCD_WIDTH; ++x) fputc(Pixel(frameBuf, x, y) ? '1' : '0', f);
    fputc('\n', f);
  }
  return fclose(f) == 0;
}
