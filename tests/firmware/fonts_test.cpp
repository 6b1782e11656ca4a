// The font records: every code's width against the handheld's width tables, record layout and
// bit order, every glyph as LCD_DrawChar draws it, and sample sheets of all glyphs.
#include "firmware/ui/fonts.h"

#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "firmware/ui/lcd.h"
#include "tests/support/screen_text.h"

namespace {

std::string Range(char from, char to) {
  std::string s;
  for (char c = from; c <= to; ++c) s += c;
  return s;
}

const std::string HEX_A_F = "\x1A\x1B\x1C\x1D\x1E\x1F";

struct ExpectedFont {
  const char* name;
  const uint8_t* record;
  uint16_t size;
  uint8_t first, last, height, advance, spareBytes;
  std::map<uint8_t, std::string> widths;  // width -> codes; every other code has no glyph
};

const std::vector<ExpectedFont>& Fonts() {
  static const std::vector<ExpectedFont> fonts = {
      {"SystemFont", SystemFont.bytes, 600, 0x01, 0x7E, 8, 14, 0,
       {{1, "!',.;il|\x09"},
        {2, "[]`fjt"},
        {3, " \"()/:<>I\\^rv{}\x07\x08\x0A"},
        {4, "-" + Range('0', '9') + "=?JL_" + Range('a', 'e') + "ghk" + Range('n', 'q') + "su" +
                Range('x', 'z') + "~" + HEX_A_F},
        {5, "#$&*+" + Range('A', 'H') + "K" + Range('M', 'Z') + "mw\x03\x04\x05\x06\x0B\x0C"},
        {7, "%@\x01"},
        {9, "\x0D\x0E"},
        {13, "\x02"}}},
      {"HeaderFont", HeaderFont.bytes, 316, 0x09, 0x7A, 5, 6, 1,
       {{1, "&:\x09"},
        {2, " ()"},
        {3, "+-/IJij"},
        {4, Range('0', '9') + "=" + Range('A', 'H') + "KL" + Range('N', 'S') + "UXZ_" +
                Range('a', 'h') + "kl" + Range('n', 's') + "uxz" + HEX_A_F},
        {5, "#MTVWYmtvwy"}}},
      {"BigFont", BigFont.bytes, 830, 0x09, 0x7A, 12, 11, 1,
       {{2, ".:il\x09"},
        {3, " j"},
        {4, "I_frt"},
        {5, "\x0A"},
        {6, "\"+-/" + Range('a', 'e') + "ghk" + Range('n', 'q') + "suyz"},
        {7, Range('0', '9') + Range('A', 'H') + "JLPRSUZ\x0B"},
        {8, "KNOQTVXYvx"},
        {9, "%"},
        {10, "MWmw"}}},
  };
  return fonts;
}

TEST(Fonts, EveryCodeHasItsTableWidth) {
  for (const ExpectedFont& f : Fonts()) {
    SCOPED_TRACE(f.name);
    std::map<int, int> want;
    for (const auto& [width, codes] : f.widths) {
      for (char c : codes) EXPECT_TRUE(want.emplace(static_cast<uint8_t>(c), width).second);
    }
    FNT_Init(f.record);
    for (int code = 0; code <= 0xFF; ++code) {
      const int expected = code >= f.first && code <= f.last && want.count(code) ? want[code] : 0;
      EXPECT_EQ(FNT_GetCharWidth(static_cast<uint8_t>(code)), expected) << "code " << code;
    }
  }
}

TEST(Fonts, RecordHeaderAndSize) {
  for (const ExpectedFont& f : Fonts()) {
    SCOPED_TRACE(f.name);
    const uint8_t* rec = f.record;
    EXPECT_EQ(rec[0] | rec[1] << 8, f.size);
    EXPECT_EQ(rec[2], f.advance);
    EXPECT_EQ(rec[3], f.height);
    EXPECT_EQ(rec[4], 1);
    EXPECT_EQ(rec[5], f.first);
    EXPECT_EQ(rec[6], f.last);
    const int codes = f.last - f.first + 1;
    int columns = 0;
    for (int c = 0; c < codes; ++c) columns += rec[7 + c];
    const int bits = columns * f.height;
    EXPECT_EQ(7 + codes + (bits + 7) / 8 + f.spareBytes, f.size);
    for (int pos = bits; pos < (f.size - 7 - codes) * 8; ++pos) {  // no stray bits after
      ASSERT_EQ((rec[7 + codes + pos / 8] >> (pos % 8)) & 1, 0) << "bit " << pos;
    }
  }
}

// Hand-decoded from the art: columns left to right, each from the top row down, least
// significant bit first, glyphs without gaps.
TEST(Fonts, BitmapBitOrder) {
  FNT_SetSystemFont();
  EXPECT_EQ(fntData.bitmap[0], 0x82);  // sandglass column 0: rows 1 and 7
  EXPECT_EQ(fntData.bitmap[1], 0xC6);  // column 1: rows 1, 2, 6, 7
  uint8_t bit;
  EXPECT_EQ(FNT_GetFirstData(0x03, &bit), fntData.bitmap + 20);  // after 7 + 13 columns
  EXPECT_EQ(bit, 0);

  FNT_SetHeaderFont();  // narrow space (1 column), then 0x1A, the "A": .##. #..# #### #..# #..#
  EXPECT_EQ(fntData.bitmap[0], 0xC0);
  EXPECT_EQ(fntData.bitmap[1], 0x97);
  EXPECT_EQ(FNT_GetFirstData(' ', &bit), fntData.bitmap + 15);  // (1 + 6 x 4) x 5 = bit 125
  EXPECT_EQ(fntData.bitPos, 125);
  EXPECT_EQ(bit, 5);
}

// Every glyph of every font, drawn across a page border, against an independent reading of the
// record; and guards on the art: only the spaces are blank, and no two codes look alike except
// HeaderFont's lower case and hex digits, which carry the capitals.
TEST(Fonts, EveryGlyphDrawsAsStoredAndIsDistinct) {
  for (const ExpectedFont& f : Fonts()) {
    SCOPED_TRACE(f.name);
    const uint8_t* widths = f.record + 7;
    const uint8_t* bitmap = widths + (f.last - f.first + 1);
    std::map<std::string, int> seen;
    size_t pos = 0;
    for (int code = f.first; code <= f.last; ++code) {
      const uint8_t w = widths[code - f.first];
      std::string glyph(w * f.height + f.height, '\n');
      for (int i = 0; i < w; ++i) {
        for (int j = 0; j < f.height; ++j, ++pos) {
          glyph[j * (w + 1) + i] = (bitmap[pos / 8] >> (pos % 8)) & 1 ? '#' : '.';
        }
      }
      if (w == 0) continue;
      LCD_InitState();
      FNT_Init(f.record);
      LCD_SetPosXY(3, 5);
      ASSERT_EQ(LCD_DrawChar(static_cast<uint8_t>(code)), 1);
      EXPECT_EQ(ScreenRect(lcdFrameBuf, 3, 5, w, f.height), glyph) << "code " << code;

      EXPECT_EQ(glyph.find('#') == std::string::npos, code == ' ' || code == 0x09) << code;
      int sharedWith = code;
      if (f.record == HeaderFont.bytes && code >= 'a' && code <= 'z') sharedWith = code - 0x20;
      if (f.record == HeaderFont.bytes && code >= 0x1A && code <= 0x1F) sharedWith = code + 0x27;
      auto [it, isNew] = seen.emplace(glyph, sharedWith);
      if (!isNew) {
        EXPECT_EQ(it->second, sharedWith) << "codes " << code << " and " << it->second;
      }
    }
  }
}

// A menu screen with every kind of text element.
void DrawSampleScreen() {
  LCD_ClearDisplay();
  FNT_SetHeaderFont();
  LCD_DrawText("SYSTEM SETTINGS", 1, 0);
  LCD_DrawText("E1&2:E8", 104, 0);
  LCD_DrawHLine(0, 6, 132);
  FNT_SetSystemFont();
  LCD_DrawText("\x0E Orientation 180\x0A", 1, 8);
  LCD_FillArea(0, 16, 132, 8);  // the cursor row of a menu list
  lcdInversed = 1;
  LCD_DrawText("\x0D Beep TEST Mode \x03\x04\x0C", 1, 16);
  lcdInversed = 0;
  LCD_DrawText("\x02 \x01 \x05\x06\x07\x08 0\x1B\x1A\x1C\x1D\x1E\x1F", 1, 24);
  FNT_SetBigFont();
  LCD_DrawTextField("-40.5\x09\x0A" "C 1250min\x0B", 0, 33, 132, LCD_FIELD_CENTRE);
  FNT_SetSystemFont();
  LCD_DrawBoxFrame(0, 46, 132, 18);
  LCD_DrawTextBox("Intake Air Temperature: sensor 1, bank 2", 3, 47, 126);
}

// Every glyph of a font fits one screen. With PADIX_SCREEN_DUMP_DIR set, the sheets and the
// sample screen are written there as PBM files to look at (tools/pbm_to_png.py enlarges them).
TEST(Fonts, SampleSheetsFitTheDisplay) {
  const char* dir = getenv("PADIX_SCREEN_DUMP_DIR");
  const uint8_t lineSteps[] = {9, 7, 12};
  const char* files[] = {"system_font.pbm", "header_font.pbm", "big_font.pbm"};
  LCD_InitState();
  for (size_t i = 0; i < Fonts().size(); ++i) {
    LCD_ClearDisplay();
    FNT_Init(Fonts()[i].record);
    LCD_SetPosXY(0, 0);
    for (int code = fntData.firstChar; code <= fntData.lastChar; ++code) {
      const uint8_t w = FNT_GetCharWidth(static_cast<uint8_t>(code));
      if (w == 0) continue;
      if (lcdPosX + w > LCD_WIDTH) LCD_SetPosXY(0, static_cast<uint8_t>(lcdPosY + lineSteps[i]));
      EXPECT_EQ(LCD_DrawChar(static_cast<uint8_t>(code)), 1) << files[i] << " code " << code;
    }
    if (dir != nullptr) {
      EXPECT_TRUE(WriteScreenPbm(lcdFrameBuf, std::string(dir) + "/" + files[i]));
    }
  }
  DrawSampleScreen();
  if (dir != nullptr) {
    EXPECT_TRUE(WriteScreenPbm(lcdFrameBuf, std::string(dir) + "/sample.pbm"));
  }
}

}  // namespace
