// Drawing into the frame buffer: clipping at the display's edges, boxes, characters and their
// limits, text fields, word-wrapped text boxes, hex and decimal output.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "firmware/ui/fonts.h"
#include "firmware/ui/lcd.h"
#include "tests/support/screen_text.h"

namespace {

int DarkPixelsIn(int x, int y, int width, int height) {
  int n = 0;
  for (int j = y; j < y + height; ++j) {
    for (int i = x; i < x + width; ++i) n += (lcdFrameBuf[(j / 8) * LCD_WIDTH + i] >> (j % 8)) & 1;
  }
  return n;
}
int DarkPixels() { return DarkPixelsIn(0, 0, LCD_WIDTH, LCD_HEIGHT); }

const uint8_t* const SYS = SystemFont.bytes;

class LcdDraw : public testing::Test {
 protected:
  void SetUp() override { LCD_InitState(); }  // also selects SystemFont
};

TEST_F(LcdDraw, LinesAndAreasAreCutAtTheDisplayEdges) {
  LCD_DrawHLine(130, 10, 10);
  EXPECT_EQ(DarkPixelsIn(130, 10, 2, 1), 2);
  LCD_DrawVLine(5, 60, 10);
  EXPECT_EQ(DarkPixelsIn(5, 60, 1, 4), 4);
  LCD_DrawHLine(0, 64, 10);
  LCD_DrawVLine(132, 0, 10);
  LCD_FillArea(128, 56, 10, 10);
  EXPECT_EQ(DarkPixelsIn(128, 56, 4, 8), 32);
  EXPECT_EQ(DarkPixels(), 2 + 4 + 32);

  LCD_FillArea(0, 0, 132, 64);
  LCD_ClearArea(10, 5, 3, 7);  // across the page border at row 8
  EXPECT_EQ(DarkPixelsIn(10, 5, 3, 7), 0);
  EXPECT_EQ(DarkPixels(), 132 * 64 - 21);
}

TEST_F(LcdDraw, BoxesHaveCutCorners) {
  LCD_DrawBoxFrame(1, 1, 6, 5);
  LCD_DrawBoxFilled(9, 1, 6, 5);
  EXPECT_EQ(ScreenRect(lcdFrameBuf, 1, 1, 14, 5),
            "..##......##..\n"
            ".#..#....####.\n"
            "#....#..######\n"
            ".#..#....####.\n"
            "..##......##..\n");
  LCD_ClearDisplay();
  LCD_DrawBoxFrame(0, 0, 4, 20);  // too small
  LCD_DrawBoxFrame(0, 0, 20, 4);
  LCD_DrawBoxFilled(0, 0, 4, 20);
  LCD_DrawBoxFilled(0, 0, 20, 4);
  EXPECT_EQ(DarkPixels(), 0);
}

TEST_F(LcdDraw, BoxFrameRoundsItsCornersOnlyWhenItEndsOnTheDisplay) {
  LCD_DrawBoxFrame(127, 57, 6, 7);  // ends at column 131 and row 63
  EXPECT_EQ(DarkPixelsIn(128, 58, 1, 1) + DarkPixelsIn(131, 58, 1, 1), 2);
  LCD_DrawBoxFrame(20, 58, 8, 8);  // one row beyond the display: lines only
  EXPECT_EQ(DarkPixelsIn(21, 59, 1, 1), 0);
  EXPECT_EQ(DarkPixelsIn(20, 60, 1, 4), 4);
  LCD_DrawBoxFrame(128, 20, 6, 8);  // one column beyond
  EXPECT_EQ(DarkPixelsIn(129, 21, 1, 1), 0);
  EXPECT_EQ(DarkPixelsIn(130, 20, 2, 1), 2);
}

TEST_F(LcdDraw, CharacterFillsItsCellWhereItFitsWhole) {
  LCD_FillArea(10, 10, 20, 8);
  LCD_SetPosXY(10, 10);
  EXPECT_EQ(LCD_DrawChar('I'), 1);
  EXPECT_EQ(lcdPosX, 14);
  ExpectText(lcdFrameBuf, 10, 10, SYS, "I");  // the background of the cell was cleared
  EXPECT_EQ(DarkPixelsIn(13, 10, 1, 8), 8);      // the gap column was not touched

  LCD_SetPosXY(0, 57);  // bottom row would be 64
  EXPECT_EQ(LCD_DrawChar('A'), 0);
  LCD_SetPosXY(0, 56);
  EXPECT_EQ(LCD_DrawChar('A'), 1);
  LCD_SetPosXY(127, 0);  // 5 wide: 127 to 131
  EXPECT_EQ(LCD_DrawChar('A'), 1);
  LCD_SetPosXY(128, 0);
  EXPECT_EQ(LCD_DrawChar('A'), 0);
  EXPECT_EQ(lcdPosX, 128);
  lcdMaxPosX = 20;
  LCD_SetPosXY(15, 30);
  EXPECT_EQ(LCD_DrawChar('A'), 1);
  EXPECT_EQ(LCD_DrawChar('A'), 0);
}

TEST_F(LcdDraw, TextStopsAtACodeWithoutGlyph) {
  FNT_SetHeaderFont();
  LCD_DrawText("AB.CD", 0, 0);
  ExpectText(lcdFrameBuf, 0, 0, HeaderFont.bytes, "AB");
  EXPECT_EQ(DarkPixelsIn(9, 0, 123, 5), 0);
  FNT_SetBigFont();  // no hex digits, nothing beyond 0x7A
  LCD_DrawText("1\x1A" "2", 0, 10);
  LCD_DrawText("3~4", 0, 30);
  EXPECT_EQ(DarkPixelsIn(8, 10, 124, 40), 0);
}

TEST_F(LcdDraw, TextWidth) {
  EXPECT_EQ(LCD_GetTextWidth(""), 0);
  EXPECT_EQ(LCD_GetTextWidth("A"), 5);
  EXPECT_EQ(LCD_GetTextWidth("Ab"), 10);
  EXPECT_EQ(LCD_GetTextWidth(std::string(40, '\x02').c_str()), 40 * 14 - 1);  // over 8 bits
  FNT_SetHeaderFont();
  EXPECT_EQ(LCD_GetTextWidth("A.B"), 4 + 1 + 0 + 1 + 4);
}

TEST_F(LcdDraw, TextFieldCutsAndAligns) {
  LCD_DrawTextField("ABCD", 0, 0, 16, 0);  // C would end at column 16
  ExpectText(lcdFrameBuf, 0, 0, SYS, "AB");
  EXPECT_EQ(DarkPixelsIn(11, 0, 121, 8), 0);
  LCD_DrawTextField("ABC", 0, 8, 17, 0);
  ExpectText(lcdFrameBuf, 0, 8, SYS, "ABC");

  LCD_DrawTextField("Ab", 20, 16, 15, LCD_FIELD_CENTRE);  // 10 in 15: 2 to the right
  ExpectText(lcdFrameBuf, 22, 16, SYS, "Ab");
  LCD_DrawTextField("Ab", 20, 24, 15, LCD_FIELD_CENTRE | LCD_FIELD_RIGHT);  // right wins
  ExpectText(lcdFrameBuf, 25, 24, SYS, "Ab");
  LCD_DrawTextField("ABCD", 20, 32, 15, LCD_FIELD_RIGHT | 0x80);  // too wide: starts at x
  ExpectText(lcdFrameBuf, 20, 32, SYS, "AB");
  LCD_DrawTextField("ABCDEFGH", 110, 40, 30, 0);  // limit 140 becomes 132: no part of "D"
  ExpectText(lcdFrameBuf, 110, 40, SYS, "ABC");
  EXPECT_EQ(DarkPixelsIn(127, 40, 5, 8), 0);
  EXPECT_EQ(lcdMaxPosX, 132);
}

TEST_F(LcdDraw, InverseTextField) {
  LCD_FillArea(0, 0, 132, 64);
  LCD_DrawTextField("", 10, 1, 20, 0);  // a plain field clears its rectangle
  EXPECT_EQ(DarkPixels(), 132 * 64 - 160);

  LCD_ClearDisplay();
  LCD_DrawTextField("Beep", 0, 8, 100, LCD_FIELD_INVERSE);
  EXPECT_TRUE(ShowsText(lcdFrameBuf, 0, 8, SYS, "Beep", true));
  EXPECT_EQ(DarkPixelsIn(20, 8, 80, 8), 80 * 8);
  EXPECT_EQ(DarkPixels(), DarkPixelsIn(0, 8, 100, 8));
  EXPECT_EQ(lcdInversed, 0);
  EXPECT_EQ(lcdMaxPosX, 132);
}

struct WrapCase {
  const char* text;
  uint8_t width;
  std::vector<const char*> lines;
};

// SystemFont steps (width + 1): capitals 6, space 4, "-" and "=" 5, ":" and "/" 4, "," 2.
TEST_F(LcdDraw, TextBoxWrapsWords) {
  const WrapCase cases[] = {
      {"AB CD EF", 20, {"AB ", "CD ", "EF"}},  // "C" reaches 22: break after the space
      {"AB CD", 16, {"AB ", "CD"}},            // the space reaching the edge stays
      {"ABCDEFGH", 20, {"ABC", "DEF", "GH"}},  // no candidate: hard break
      {"A:B=C/D,E", 12, {"A:", "B=", "C/", "D,", "E"}},
      {"A-B-CD", 24, {"A-B-", "CD"}},  // the last candidate wins
      {"ABC-D", 22, {"ABC", "-D"}},    // a candidate counts only before the edge
  };
  for (const WrapCase& c : cases) {
    SCOPED_TRACE(c.text);
    LCD_ClearDisplay();
    LCD_DrawTextBox(c.text, 2, 1, c.width);
    int dark = 0;
    for (size_t i = 0; i < c.lines.size(); ++i) {
      ExpectText(lcdFrameBuf, 2, static_cast<uint8_t>(1 + 8 * i), SYS, c.lines[i]);
      dark += DarkPixelsIn(2, 1 + 8 * i, LCD_GetTextWidth(c.lines[i]), 8);
    }
    EXPECT_EQ(DarkPixels(), dark);
  }
}

TEST_F(LcdDraw, TextBoxStopsAtTheBottom) {
  FNT_SetHeaderFont();  // 5 rows: lines at 54 and 59, none at 64
  LCD_DrawTextBox("AB CD EF GH", 0, 54, 15);
  ExpectText(lcdFrameBuf, 0, 54, HeaderFont.bytes, "AB ");
  ExpectText(lcdFrameBuf, 0, 59, HeaderFont.bytes, "CD ");
  EXPECT_EQ(DarkPixels(), DarkPixelsIn(0, 54, 132, 10));
  LCD_DrawTextBox("W", 0, 0, 3);  // never fits a line, and still ends
  EXPECT_EQ(DarkPixelsIn(0, 0, 132, 54), 0);
}

TEST_F(LcdDraw, HexAndDecimalNumbers) {
  LCD_SetPosXY(0, 0);
  LCD_DrawHexByte(0xAB);
  LCD_DrawHexByte(0x09);
  LCD_DrawHexNibble(0xF0);
  ExpectText(lcdFrameBuf, 0, 0, SYS, "\x1A\x1B" "090");

  const struct {
    uint8_t value;
    const char* text;
  } cases[] = {{0, "0"},     {7, "7"},     {10, "10"},   {99, "99"},   {100, "100"},
               {105, "105"}, {199, "199"}, {205, "205"}, {255, "255"}};
  for (const auto& c : cases) {
    LCD_ClearDisplay();
    LCD_SetPosXY(4, 20);
    LCD_DrawDecByte(c.value);
    ExpectText(lcdFrameBuf, 4, 20, SYS, c.text);
    EXPECT_EQ(DarkPixels(), DarkPixelsIn(4, 20, LCD_GetTextWidth(c.text), 8)) << c.text;
  }
}

TEST_F(LcdDraw, InitStateResetsTheTextState) {
  LCD_SetPosXY(50, 30);
  lcdMaxPosX = 10;
  lcdInversed = 1;
  FNT_SetBigFont();
  LCD_InitState();
  EXPECT_EQ(lcdPosX + lcdPosY + lcdInversed, 0);
  EXPECT_EQ(lcdMaxPosX, 132);
  EXPECT_EQ(fntData.height, 8);
}

TEST_F(LcdDraw, ShowsTextNoticesDifferences) {
  LCD_DrawText("P0123", 1, 9);
  EXPECT_TRUE(ShowsText(lcdFrameBuf, 1, 9, SYS, "P0123"));
  EXPECT_FALSE(ShowsText(lcdFrameBuf, 1, 9, SYS, "P0124"));
  EXPECT_FALSE(ShowsText(lcdFrameBuf, 2, 9, SYS, "P0123"));
  EXPECT_FALSE(ShowsText(lcdFrameBuf, 1, 9, SYS, "P0123", true));
  EXPECT_FALSE(ShowsText(lcdFrameBuf, 130, 9, SYS, "P0123"));  // cannot be drawn there
  lcdFrameBuf[LCD_WIDTH + 1] ^= 0x04;  // one pixel of the "P"
  EXPECT_FALSE(ShowsText(lcdFrameBuf, 1, 9, SYS, "P0123"));
  EXPECT_EQ(lcdPosX, 1 + LCD_GetTextWidth("P0123") + 1);  // the comparison left the state alone
}

}  // namespace
