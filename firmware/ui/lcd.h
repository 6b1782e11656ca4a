// LCD driver: the 132 x 64 frame buffer and the controller's command/data byte stream on SPI.
#pragma once

#include <stdint.h>

constexpr uint8_t LCD_WIDTH = 132;
constexpr uint8_t LCD_HEIGHT = 64;
constexpr uint8_t LCD_PAGES = 8;
constexpr uint16_t LCD_FRAME_SIZE = LCD_WIDTH * LCD_PAGES;  // 1056

extern uint8_t lcdFrameBuf[LCD_FRAME_SIZE];
extern uint8_t guiDoDisplayUpdate;
extern const uint8_t LCD_INIT_DATA[9];

void LCD_InitState();
void LCD_Init();
void LCD_SetContrast(uint8_t value);
void LCD_SetOrientation(uint8_t orientation);
void LCD_InitBacklight();
void LCD_SetBacklight(uint8_t red, uint8_t green, uint8_t blue);
void LCD_UpdateDisplay();
void LCD_ClearDisplay();
