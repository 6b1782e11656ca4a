// LCD driver: the 132 x 64 frame buffer and the controller's command/data byte stream on SPI
// (lcd.cpp), and the drawing of lines, areas, boxes, characters and texts into the frame buffer
// (lcd_draw.cpp). Drawing never reaches the display before LCD_UpdateDisplay.
#pragma once

#include <stdint.h>

constexpr uint8_t LCD_WIDTH = 132;
constexpr uint8_t LCD_HEIGHT = 64;
constexpr uint8_t LCD_PAGES = 8;
constexpr uint16_t LCD_FRAME_SIZE = LCD_WIDTH * LCD_PAGES;  // 1056

// Pixel (x, y) is bit y % 8 of byte (y / 8) * 132 + x; a set bit is a dark pixel.
extern uint8_t lcdFrameBuf[LCD_FRAME_SIZE];
extern uint8_t guiDoDisplayUpdate;
extern const uint8_t LCD_INIT_DATA[9];

// Text state: the cursor is the top-left corner of the next character. A character is drawn
// only if its last column lies left of lcdMaxPosX. lcdInversed (0 or 1) draws light on dark.
// Text fields set both for their duration and put them back before they return.
extern uint8_t lcdPosX;
extern uint8_t lcdPosY;
extern uint8_t lcdMaxPosX;
extern uint8_t lcdInversed;

// LCD_DrawTextField flags; the text tables' own flag 0x80 is ignored here.
constexpr uint8_t LCD_FIELD_CENTRE = 0x01;
constexpr uint8_t LCD_FIELD_RIGHT = 0x02;  // wins over centre
constexpr uint8_t LCD_FIELD_INVERSE = 0x04;

void LCD_InitState();
void LCD_Init();
void LCD_SetContrast(uint8_t value);
void LCD_SetOrientation(uint8_t orientation);
void LCD_InitBacklight();
void LCD_SetBacklight(uint8_t red, uint8_t green, uint8_t blue);
void LCD_UpdateDisplay();
void LCD_ClearDisplay();

// Drawing into lcdFrameBuf; everything outside the 132 x 64 pixels is cut off.
void LCD_DrawHLine(uint8_t x, uint8_t y, uint8_t length);
void LCD_DrawVLine(uint8_t x, uint8_t y, uint8_t length);
void LCD_ClearArea(uint8_t x, uint8_t y, uint8_t width, uint8_t height);
void LCD_FillArea(uint8_t x, uint8_t y, uint8_t width, uint8_t height);
void LCD_DrawBoxFrame(uint8_t x, uint8_t y, uint8_t width, uint8_t height);
void LCD_DrawBoxFilled(uint8_t x, uint8_t y, uint8_t width, uint8_t height);

// Text in the current font (firmware/ui/fonts.h).
void LCD_SetPosXY(uint8_t x, uint8_t y);
void LCD_SetPosXRel(uint8_t dx);
uint8_t LCD_DrawChar(uint8_t code);  // 1 drawn, 0 no glyph or no room (cursor unchanged)
void LCD_DrawText(const char* text, uint8_t x, uint8_t y);
uint16_t LCD_GetTextWidth(const char* text);
void LCD_DrawTextField(const char* text, uint8_t x, uint8_t y, uint8_t width, uint8_t flags);
void LCD_DrawTextBox(const char* text, uint8_t x, uint8_t y, uint8_t width);
void LCD_DrawHexNibble(uint8_t value);
void LCD_DrawHexByte(uint8_t value);
void LCD_DrawDecByte(uint8_t value);
