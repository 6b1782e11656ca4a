// From power-on to the main menu in-process: the firmware draws the start screen, sets up the
// simulated module and shows the main menu on the emulated LCD; "q" at the window ends the run.
#include <gtest/gtest.h>
#include <string.h>

#include <chrono>
#include <future>

#include "firmware/eeprom.h"
#include "firmware/ui/fonts.h"
#include "firmware/ui/lcd.h"
#include "controller/controller.h"
#include "host/power_on.h"
#include "tests/support/screen_text.h"
#include "tests/support/wait_for.h"
#include "window/headless_window.h"
#include "window/window_api.h"

namespace {

// The title bar rows (0..4) as the firmware draws "MAIN MENU", rendered before the firmware
// runs: while it runs, its frame buffer and font state belong to its own thread.
void RenderMainMenuTitle(uint8_t* titleRows) {
  LCD_ClearDisplay();
  FNT_Init(HeaderFont.bytes);
  LCD_DrawText("MAIN MENU", 1, 0);
  for (int x = 0; x < LCD_WIDTH; ++x) titleRows[x] = lcdFrameBuf[x] & 0x1F;
  LCD_ClearDisplay();
}

TEST(MainMenuE2e, PowerOnEndsInTheMainMenuAndQuitEndsTheRun) {
  uint8_t expected[LCD_WIDTH];
  RenderMainMenuTitle(expected);
  for (uint8_t i = 0; i < EEP_SETTINGS_SIZE; ++i) eepaddr[i] = EEP_INIT_DATA[i];

  uint8_t shown[LCD_FRAME_SIZE] = {};
  std::future<int> run = std::async(std::launch::async, emu_PowerOnCycle);
  const bool mainMenu = WaitFor(
      [&] {
        emu_HeadlessGetDisplay(shown);
        for (int x = 0; x < LCD_WIDTH; ++x) {
          if ((shown[x] & 0x1F) != expected[x]) return false;
        }
        return true;
      },
      10000);

  emu_HeadlessTypeKey(EMU_KEY_QUIT);
  ASSERT_EQ(run.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(run.get(), 1) << "quit";
  ASSERT_TRUE(mainMenu) << "main menu not shown; the display:\n"
                        << ScreenRect(shown, 0, 0, LCD_WIDTH, LCD_HEIGHT);
  // The firmware has stopped: its fonts can draw the expectations now.
  emu_HeadlessGetDisplay(shown);
  ExpectText(shown, 1, 0, HeaderFont.bytes, "MAIN MENU");
  ExpectText(shown, 1, 8, SystemFont.bytes, "Start Diagnostics", true);
  ExpectText(shown, 1, 32, SystemFont.bytes, "System Settings") << "fourth item with the defaults";
}

}  // namespace
