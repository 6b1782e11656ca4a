// LCD controller emulation. Only the commands the firmware uses are decoded: page and column
// address, orientation and contrast; A0 is not looked at, the chip select only tells when to act
// on the bytes received (spi_bus.h), and addresses beyond page 7 or column 131 are dropped.
#include "host/lcd_controller.h"

#include <pthread.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "controller/controller.h"
#include "controller/spi_bus.h"
#include "window/window_api.h"

constexpr uint8_t LCD_LAST_COLUMN = 131;
constexpr uint8_t LCD_LAST_PAGE = 7;

void emu_LcdDecoderReset(LcdDecoder* lcd) {
  memset(lcd, 0, sizeof *lcd);
  lcd->changed = 1;  // the first complete frame is always shown
}

static std::atomic<uint32_t> changedFrames{0};

uint32_t emu_LcdChangedFrames() { return changedFrames.load(); }

static void emu_LcdFrameComplete(LcdDecoder* lcd) {
  emu_GtkSetColors(OCR1A, OCR1B, OCR1C, lcd->memory[lcd->shown]);
  if (!lcd->changed) return;
  lcd->changed = 0;
  lcd->shown ^= 1;
  while (emu_GtkDrawDisplay(lcd->memory[lcd->shown]) == -1) usleep(1000);
  changedFrames.fetch_add(1);
}

static void emu_LcdStoreData(LcdDecoder* lcd, uint8_t byte) {
  if (lcd->page <= LCD_LAST_PAGE && lcd->column <= LCD_LAST_COLUMN) {
    unsigned idx = lcd->page * 132u + lcd->column;
    lcd->memory[lcd->shown ^ 1][idx] = byte;
    if (byte != lcd->memory[lcd->shown][idx]) lcd->changed = 1;
  }
  uint8_t column = lcd->column++;
  if (column == LCD_LAST_COLUMN) {
    lcd->dataMode = 0;
    if (lcd->page == LCD_LAST_PAGE) emu_LcdFrameComplete(lcd);
  }
}

void emu_LcdDecodeByte(LcdDecoder* lcd, uint8_t byte) {
  if (lcd->dataMode) {
    emu_LcdStoreData(lcd, byte);
  } else if (lcd->lowNibbleExpected) {
    lcd->column = static_cast<uint8_t>(lcd->column + (byte & 0x0F));
    lcd->lowNibbleExpected = 0;
    lcd->dataMode = 1;
  } else if (lcd->contrastExpected) {
    lcd->contrastExpected = 0;
    emu_GtkSetContrast(byte);
  } else if ((byte & 0xF0) == 0xB0) {
    lcd->page = byte & 0x0F;  // page address
  } else if (byte == 0xA0) {
    emu_GtkSetOrientation(0);  // segment order normal
  } else if (byte == 0xA1) {
    emu_GtkSetOrientation(1);  // segment order reversed: display turned
  } else if (byte == 0x81) {
    lcd->contrastExpected = 1;  // electronic volume: the next byte is the contrast
  } else if ((byte & 0xF0) == 0x10) {
    lcd->column = static_cast<uint8_t>(16 * (byte & 0x0F));  // column address high nibble
    lcd->lowNibbleExpected = 1;
  }
}

// One byte for a taker that wants them singly; the LCD thread takes what is there at once.
uint8_t emu_LcdTakeByte() {
  emu_SpiOpenBuffer();
  uint8_t byte;
  (void)emu_SpiTakeBytes(&byte, 1);
  return byte;
}

void* emu_LcdThread(void*) {
  static LcdDecoder lcd;  // one LCD thread per power-on; starts with fresh memories
  static uint8_t bytes[EMU_SPI_BUFFER_SIZE];
  emu_LcdDecoderReset(&lcd);
  emu_SpiOpenBuffer();
  for (;;) {
    const size_t n = emu_SpiTakeBytes(bytes, sizeof bytes);
    for (size_t i = 0; i < n; ++i) emu_LcdDecodeByte(&lcd, bytes[i]);
  }
  return nullptr;
}
