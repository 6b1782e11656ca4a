// LCD controller emulation. Only the commands the firmware uses are decoded: page and column
// address, orientation and contrast; chip select and A0 are not looked at, and addresses
// beyond page 7 or column 131 are dropped.
#include "host/lcd_controller.h"

#include <sched.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "host/core/controller.h"
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

// Before the LCD side sleeps on the condition it polls SPSR for a while: a frame's bytes follow
// each other within a microsecond when the firmware thread runs on another core, and sleeping
// (and being woken) for each of them would cost two system calls and a thread switch per byte.
// The number of polls adapts: it doubles while bytes arrive during the polling and halves when
// one did not. When both threads share a core (the scheduler tends to put a thread it wakes
// next to its waker), polling only delays the firmware: then giving the core away a few times
// lets the firmware store the next byte without a sleep and a wake-up.
constexpr int LCD_MIN_SPIN_POLLS = 32;
constexpr int LCD_MAX_SPIN_POLLS = 2048;
constexpr int LCD_YIELD_POLLS = 4;
static thread_local int lcdSpinPolls = LCD_MAX_SPIN_POLLS;

static inline void emu_SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

static void emu_LcdPollForByte() {
  for (int poll = 0; poll < lcdSpinPolls; ++poll) {
    if ((SPSR & 0x80) == 0) {
      if (lcdSpinPolls < LCD_MAX_SPIN_POLLS) lcdSpinPolls *= 2;
      return;
    }
    emu_SpinPause();
  }
  if (lcdSpinPolls > LCD_MIN_SPIN_POLLS) lcdSpinPolls /= 2;
  for (int yield = 0; yield < LCD_YIELD_POLLS && (SPSR & 0x80) != 0; ++yield) sched_yield();
}

// One byte: ready flag up, then wait for the firmware to store the next byte and clear the flag
// (under the lock, with a signal), and take it under the lock.
uint8_t emu_LcdTakeByte() {
  pthread_mutex_lock(&lcdMutex);
  SPSR |= 0x80;
  pthread_mutex_unlock(&lcdMutex);
  emu_LcdPollForByte();

  uint8_t byte;
  pthread_mutex_lock(&lcdMutex);
  pthread_cleanup_push(emu_UnlockMutexCleanupHandler, &lcdMutex);
  while ((SPSR & 0x80) != 0) pthread_cond_wait(&lcdCond, &lcdMutex);
  byte = SPDR;
  pthread_cleanup_pop(1);
  return byte;
}

void* emu_LcdThread(void*) {
  static LcdDecoder lcd;  // one LCD thread per power-on; starts with fresh memories
  emu_LcdDecoderReset(&lcd);
  for (;;) emu_LcdDecodeByte(&lcd, emu_LcdTakeByte());
  return nullptr;
}
