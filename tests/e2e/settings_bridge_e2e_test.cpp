// The top-level screens in a running emulator: system information asking the module, a bridge
// menu that gives the module's line away and takes it back, and a setting kept over restarts.
#include <gtest/gtest.h>

#include "firmware/eeprom.h"
#include "firmware/mcu.h"
#include "firmware/ui/lcd.h"
#include "tests/support/emulator_session.h"
#include "tests/support/wait_for.h"
#include "window/window_api.h"

namespace {

bool AnyDark(const uint8_t* mem, int x0, int y0, int x1, int y1) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if ((mem[(y / 8) * LCD_WIDTH + x] >> (y % 8)) & 1) return true;
  return false;
}

TEST(TopLevelScreens, SystemInformationShowsTheModuleAnswersAndABridgeMenuComesBack) {
  const TitleRows mainMenu = RenderTitle("MAIN MENU");
  const TitleRows sysInfo = RenderTitle("System Information");
  const TitleRows bluetooth = RenderTitle("Bluetooth Mode");
  EmulatorSession device;
  ASSERT_TRUE(device.WaitForTitle(mainMenu)) << device.Screen();

  // Main menu with the default settings: Start Diagnostics, Bluetooth Mode, System
  // Information, System Settings.
  ASSERT_TRUE(device.TypeAndWaitForChange(EMU_KEY_DOWN));
  ASSERT_TRUE(device.TypeAndWaitForChange(EMU_KEY_DOWN));
  device.Type(EMU_KEY_RETURN);
  ASSERT_TRUE(device.WaitForTitle(sysInfo)) << device.Screen();
  // All three values arrive beside their labels (x 56 on, rows 8..31).
  uint8_t shown[LCD_FRAME_SIZE];
  EXPECT_TRUE(WaitFor([&] {
    device.Display(shown);
    return AnyDark(shown, 56, 8, 132, 16) && AnyDark(shown, 56, 16, 132, 24) &&
           AnyDark(shown, 56, 24, 132, 32);
  }))
      << device.Screen();

  device.Type(EMU_KEY_ESCAPE);
  ASSERT_TRUE(device.WaitForTitle(mainMenu)) << device.Screen();
  ASSERT_TRUE(device.TypeAndWaitForChange(EMU_KEY_UP));  // from System Information to Bluetooth
  device.Type(EMU_KEY_RETURN);
  ASSERT_TRUE(device.WaitForTitle(bluetooth)) << device.Screen();
  // Esc gives the line back; the module answers its initialisation again.
  device.Type(EMU_KEY_ESCAPE);
  EXPECT_TRUE(device.WaitForTitle(mainMenu)) << device.Screen();
  EXPECT_EQ(device.Quit(), 1);
}

TEST(TopLevelScreens, BacklightStoredWithOkSurvivesARestartAndAnEscapedPreviewDoesNot) {
  const TitleRows mainMenu = RenderTitle("MAIN MENU");
  const TitleRows settings = RenderTitle("System Settings");
  const TitleRows red = RenderTitle("LCD Backlight Red");
  EmulatorSession device;
  auto openRedSlider = [&] {
    ASSERT_TRUE(device.WaitForTitle(mainMenu)) << device.Screen();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(device.TypeAndWaitForChange(EMU_KEY_DOWN));
    device.Type(EMU_KEY_RETURN);
    ASSERT_TRUE(device.WaitForTitle(settings)) << device.Screen();
    for (int i = 0; i < 7; ++i) ASSERT_TRUE(device.TypeAndWaitForChange(EMU_KEY_DOWN));
    device.Type(EMU_KEY_RETURN);
    ASSERT_TRUE(device.WaitForTitle(red)) << device.Screen();
  };
  // Back to the main menu, where a long Esc restarts the device.
  auto restart = [&] {
    device.Type(EMU_KEY_ESCAPE);
    ASSERT_TRUE(device.WaitForTitle(mainMenu)) << device.Screen();
    ASSERT_TRUE(device.HoldEscapeToRestart());
    ASSERT_TRUE(device.WaitForTitle(mainMenu)) << device.Screen();
  };

  ASSERT_NO_FATAL_FAILURE(openRedSlider());
  ASSERT_TRUE(device.TypeAndWaitForChange(EMU_KEY_UP));  // 165 + one step of 5
  EXPECT_TRUE(WaitFor([] { return OCR1A == 170; })) << "previewed";
  device.Type(EMU_KEY_RETURN);
  ASSERT_TRUE(device.WaitForTitle(settings)) << device.Screen();
  ASSERT_NO_FATAL_FAILURE(restart());
  EXPECT_EQ(__eerd_byte_can128(EEP_RED), 170);
  EXPECT_TRUE(WaitFor([] { return OCR1A == 170; })) << "the main menu shows the stored colour";

  ASSERT_NO_FATAL_FAILURE(openRedSlider());
  ASSERT_TRUE(device.TypeAndWaitForChange(EMU_KEY_UP));
  EXPECT_TRUE(WaitFor([] { return OCR1A == 175; }));
  device.Type(EMU_KEY_ESCAPE);
  ASSERT_TRUE(device.WaitForTitle(settings)) << device.Screen();
  ASSERT_NO_FATAL_FAILURE(restart());
  EXPECT_EQ(__eerd_byte_can128(EEP_RED), 170);
  EXPECT_TRUE(WaitFor([] { return OCR1A == 170; }));
  EXPECT_EQ(device.Quit(), 1);
}

}  // namespace
