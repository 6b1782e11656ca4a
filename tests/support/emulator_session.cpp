// Scenario support: power-on on a std::async thread, keys at the headless window.
#include "tests/support/emulator_session.h"

#include <string.h>

#include <chrono>

#include "firmware/eeprom.h"
#include "firmware/timer.h"
#include "firmware/ui/fonts.h"
#include "firmware/ui/lcd.h"
#include "controller/controller.h"
#include "host/power_on.h"
#include "tests/support/screen_text.h"
#include "tests/support/wait_for.h"
#include "window/headless_window.h"
#include "window/window_api.h"

TitleRows RenderTitle(const char* title) {
  TitleRows rows{};
  LCD_ClearDisplay();
  FNT_Init(HeaderFont.bytes);
  LCD_DrawText(title, 1, 0);
  for (int x = 0; x < LCD_WIDTH; ++x) rows[x] = lcdFrameBuf[x] & 0x1F;
  LCD_ClearDisplay();
  return rows;
}

static bool DarkAt(const uint8_t* mem, int x, int y) {
  return (mem[(y / 8) * LCD_WIDTH + x] >> (y % 8)) & 1;
}

bool ScreenPart::ShownIn(const uint8_t* displayMem) const {
  for (int j = y; j < y + height; ++j)
    for (int i = x; i < x + width; ++i)
      if (DarkAt(displayMem, i, j) != DarkAt(mem.data(), i, j)) return false;
  return true;
}

ScreenPart RenderPart(int x, int y, int width, int height, const std::function<void()>& draw) {
  static_assert(sizeof(ScreenPart::mem) == LCD_FRAME_SIZE);
  ScreenPart part;
  part.x = x, part.y = y, part.width = width, part.height = height;
  LCD_ClearDisplay();
  draw();
  memcpy(part.mem.data(), lcdFrameBuf, LCD_FRAME_SIZE);
  LCD_ClearDisplay();
  return part;
}

ScreenPart RenderText(uint8_t x, uint8_t y, const uint8_t* font, const char* text) {
  FNT_Init(font);
  const int width = LCD_GetTextWidth(text);
  const int height = fntData.height;
  return RenderPart(x, y, width, height, [&] {
    FNT_Init(font);
    LCD_DrawText(text, x, y);
  });
}

EmulatorSession::EmulatorSession(std::initializer_list<std::pair<uint8_t, uint8_t>> settings) {
  // The first power-on of a run finds no valid settings; let that happen here, so that the
  // settings given are the ones the firmware finds.
  emu_InitTarnicVars();
  for (uint8_t i = 0; i < EEP_SETTINGS_SIZE; ++i) eepaddr[i] = EEP_INIT_DATA[i];
  for (const auto& [address, value] : settings) eepaddr[address] = value;
  uint8_t shown[LCD_FRAME_SIZE];
  framesBefore_ = emu_HeadlessGetDisplay(shown);
  run_ = std::async(std::launch::async, emu_PowerOnCycle);
}

EmulatorSession::~EmulatorSession() {
  if (!ended_) Quit();
}

void EmulatorSession::Display(uint8_t* displayMem) { emu_HeadlessGetDisplay(displayMem); }

bool EmulatorSession::WaitForTitle(const TitleRows& title, int timeoutMs) {
  return WaitFor(
      [&] {
        uint8_t shown[LCD_FRAME_SIZE];
        if (emu_HeadlessGetDisplay(shown) == framesBefore_) return false;
        for (int x = 0; x < LCD_WIDTH; ++x)
          if ((shown[x] & 0x1F) != title[x]) return false;
        return true;
      },
      timeoutMs);
}

bool EmulatorSession::WaitForScreen(const std::function<bool(const uint8_t*)>& shows,
                                    int timeoutMs, uint8_t* shown) {
  uint8_t mem[LCD_FRAME_SIZE];
  if (shown == nullptr) shown = mem;
  return WaitFor(
      [&] {
        emu_HeadlessGetDisplay(shown);
        return shows(shown);
      },
      timeoutMs);
}

bool EmulatorSession::WaitForPart(const ScreenPart& part, int timeoutMs, uint8_t* shown) {
  return WaitForScreen([&](const uint8_t* mem) { return part.ShownIn(mem); }, timeoutMs, shown);
}

// After a menu change the firmware takes every key as held until it has seen it released, so a
// key typed at once would be lost, as on the device. Typing waits for that.
static bool WaitForKeysReleased() {
  return WaitFor([] { return keyDebounce.keyState.load() == 0; }, 2000);
}

void EmulatorSession::Type(int keyValue) {
  WaitForKeysReleased();
  emu_HeadlessTypeKey(keyValue);
}

bool EmulatorSession::TypeAndWaitForChange(int keyValue, int timeoutMs) {
  uint8_t before[LCD_FRAME_SIZE], now[LCD_FRAME_SIZE];
  WaitForKeysReleased();
  uint32_t frames = emu_HeadlessGetDisplay(before);
  emu_HeadlessTypeKey(keyValue);
  return WaitFor(
      [&] { return emu_HeadlessGetDisplay(now) != frames && memcmp(before, now, sizeof now) != 0; },
      timeoutMs);
}

std::string EmulatorSession::Screen() {
  uint8_t shown[LCD_FRAME_SIZE];
  emu_HeadlessGetDisplay(shown);
  return ScreenRect(shown, 0, 0, LCD_WIDTH, LCD_HEIGHT);
}

bool EmulatorSession::HoldEscapeToRestart() {
  emu_HeadlessHoldKey(EMU_KEY_ESCAPE);
  const bool ended = run_.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  emu_HeadlessHoldKey(0);
  if (!ended || run_.get() != 0) return false;
  uint8_t shown[LCD_FRAME_SIZE];
  framesBefore_ = emu_HeadlessGetDisplay(shown);
  run_ = std::async(std::launch::async, emu_PowerOnCycle);
  return true;
}

int EmulatorSession::Quit() {
  ended_ = true;
  emu_HeadlessTypeKey(EMU_KEY_QUIT);
  if (run_.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return -2;
  return run_.get();
}
