// Screen assertions by pixels. The expected text is drawn with the firmware's own fonts and
// LCD_DrawText into a scratch frame buffer, and the rectangle it covers (the text's width by
// the font's height) is compared with the screen under test. Also: the screen as text and as
// a PBM file, for failure messages and for looking at it.
#pragma once

#include <stdint.h>

#include <string>

#include <gtest/gtest.h>

// `font` is a font record such as SystemFont.bytes. With `inverse`, the text is expected light
// on dark, as an inverse text field draws it (the gaps between the characters dark too).
// The firmware's frame buffer and text state are left as they were; as they are the
// firmware's own, only one thread may draw at a time, and not while an in-process firmware runs.
testing::AssertionResult ShowsText(const uint8_t* frameBuf, uint8_t x, uint8_t y,
                                   const uint8_t* font, const char* text, bool inverse = false);

// EXPECT_TRUE(ShowsText(...)) with the caller's position in the message.
#define ExpectText(frameBuf, x, y, font, ...) \
  EXPECT_TRUE(ShowsText((frameBuf), (x), (y), (font), __VA_ARGS__))

// The rectangle as rows of '#' (dark) and '.' (light), each row ended by '\n'.
std::string ScreenRect(const uint8_t* frameBuf, int x, int y, int width, int height);

// The whole 132 x 64 screen as a plain PBM (P1) file; false if the file cannot be written.
bool WriteScreenPbm(const uint8_t* frameBuf, const std::string& path);
