// LCD controller access: reset, init script, contrast, orientation, backlight PWM and the
// transfer of the frame buffer. Each SPI byte is handed over to the controller under the LCD
// lock and waits until the controller has taken it, as the real bus transfer does.
#include "ui/lcd.h"

#include <string.h>

#include "eeprom.h"
#include "mcu.h"
#include "ui/fonts.h"

uint8_t lcdFrameBuf[LCD_FRAME_SIZE];
uint8_t guiDoDisplayUpdate;

// clang-format off
const uint8_t LCD_INIT_DATA[9] = {
    0x40,  // display start line 0
    0xA6,  // normal (not inverted) display
    0xA2,  // LCD bias 1/9
    0x2F,  // power control: booster, regulator, follower on
    0xF8,  // booster ratio select
    0x00,  //   booster ratio 4x
    0x23,  // voltage regulator resistor ratio
    0xAC,  // static indicator off
    0xAF,  // display on
};
// clang-format on

static void LCD_Select() { PORTB &= static_cast<uint8_t>(~0x01); }
static void LCD_Deselect() {
  PORTB |= 0x01;
  MCU_LcdChipSelectReleased();
}
static void LCD_CommandMode() { PORTD &= static_cast<uint8_t>(~0x10); }
static void LCD_DataMode() { PORTD |= 0x10; }

static void LCD_SendByte(uint8_t byte) {
  MCU_LockLcd();
  SPDR = byte;
  SPSR = 0;
  MCU_UnlockLcd();
  // Woken after the lock is free: a controller woken inside it would only block on the lock.
  MCU_SignalLcd();
  MCU_WaitSpiDone();
  (void)SPDR;  // reading the data register ends the transfer, as on the controller
}

void LCD_InitState() {
  memset(lcdFrameBuf, 0, sizeof lcdFrameBuf);
  guiDoDisplayUpdate = 1;
  lcdPosX = 0;
  lcdPosY = 0;
  lcdMaxPosX = LCD_WIDTH;
  lcdInversed = 0;
  FNT_SetSystemFont();  // every drawing routine selects its font; this one is only a safe start
}

void LCD_Init() {
  PORTD &= static_cast<uint8_t>(~0x80);  // reset low
  _delay_ms(1);
  PORTD |= 0x80;
  _delay_ms(1);
  LCD_Select();
  LCD_CommandMode();
  for (uint8_t byte : LCD_INIT_DATA) LCD_SendByte(byte);
  LCD_Deselect();
}

void LCD_SetContrast(uint8_t value) {
  LCD_Select();
  LCD_CommandMode();
  LCD_SendByte(0x81);  // electronic volume follows
  LCD_SendByte(value);
  LCD_Deselect();
}

void LCD_SetOrientation(uint8_t orientation) {
  LCD_Select();
  LCD_CommandMode();
  if (orientation == 1) {
    LCD_SendByte(0xA1);  // segment order reversed
    LCD_SendByte(0xC0);  // common scan normal
  } else {
    LCD_SendByte(0xA0);  // segment order normal
    LCD_SendByte(0xC8);  // common scan reversed
  }
  LCD_Deselect();
}

void LCD_InitBacklight() {
  LCD_SetBacklight(EEP_Read(EEP_RED), EEP_Read(EEP_GREEN), EEP_Read(EEP_BLUE));
}

void LCD_SetBacklight(uint8_t red, uint8_t green, uint8_t blue) {
  OCR1A = red;
  OCR1B = green;
  OCR1C = blue;
}

void LCD_UpdateDisplay() {
  LCD_Select();
  for (uint8_t page = 0; page < LCD_PAGES; ++page) {
    LCD_CommandMode();
    LCD_SendByte(static_cast<uint8_t>(0xB0 + page));  // page address
    LCD_SendByte(0x10);                               // column address high nibble 0
    LCD_SendByte(0x00);                               // column address low nibble 0
    LCD_DataMode();
    const uint8_t* row = &lcdFrameBuf[page * LCD_WIDTH];
    for (uint8_t col = 0; col < LCD_WIDTH; ++col) LCD_SendByte(row[col]);
  }
  LCD_Deselect();
}

void LCD_ClearDisplay() { memset(lcdFrameBuf, 0, sizeof lcdFrameBuf); }
