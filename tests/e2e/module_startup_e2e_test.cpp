// The module start-up handshake in a whole power-on, in-process: the firmware's reset sequence
// against the simulated module until the main menu, and against a module that never answers.
#include <gtest/gtest.h>
#include "firmware/ui/lcd.h"
#include "firmware/ui/fonts.h"
#include "tests/support/screen_text.h"
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>

#include "firmware/beep.h"
#include "firmware/eeprom.h"
#include "firmware/ui/menu.h"
#include "controller/controller.h"
#include "host/power_on.h"
#include "module/module.h"
#include "tests/support/wait_for.h"
#include "window/headless_window.h"
#include "window/window_api.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// A module that is powered but never says a word: it only keeps the firmware's 10 ms flag
// going, as the module side does before the start-up dialogue is over, so that the firmware's
// waits for the prompt run out. It counts how often the firmware released it from reset; the
// reset line may still be high from an earlier power-on, so only a rise counts.
std::atomic<int> silentModuleReleases{0};

void* SilentModuleThread(void*) {
  bool released = true;
  for (;;) {
    const bool now = (PORTE & emu_GetQimRst()) != 0;
    if (now && !released) ++silentModuleReleases;
    released = now;
    emu_SetTimerUpdate(1);
    usleep(10000);  // cancellation point
  }
}

class ModuleStartUp : public ::testing::Test {
 protected:
  // What the waits below look at must not still show an earlier power-on in this process: the
  // power-on resets it too, but on its own thread, after the waits have begun.
  void SetUp() override {
    emu_QimInitState();
    tarnic_InitVars();
    syncWithQimIsDone = 0;
    OCR1A = 0, OCR1B = 0, OCR1C = 0;
    silentModuleReleases = 0;
  }
  void TearDown() override {
    if (run_.valid()) {
      emu_HeadlessTypeKey(EMU_KEY_QUIT);
      run_.wait();
    }
    emu_powerOnQimThreadBody = emu_QimThread;
  }

  void PowerOn() {
    t0_ = Clock::now();
    run_ = std::async(std::launch::async, emu_PowerOnCycle);
  }

  // Ends the power-on; the firmware thread has been joined when this returns true, so its
  // variables may be read.
  bool Quit() {
    emu_HeadlessTypeKey(EMU_KEY_QUIT);
    if (run_.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return false;
    return run_.get() == 1;
  }

  Clock::time_point t0_;
  std::future<int> run_;
};

// Menu 1 takes the backlight colours of the settings; the start-up set 50/150/10 before it.
bool ShowsSettingsBacklight() {
  return OCR1A == __eerd_byte_can128(EEP_RED) && OCR1B == __eerd_byte_can128(EEP_GREEN) &&
         OCR1C == __eerd_byte_can128(EEP_BLUE);
}

TEST_F(ModuleStartUp, HandshakeCompletesAndTheFirmwareEntersTheMainMenu) {
  PowerOn();
  ASSERT_TRUE(WaitFor([] { return syncWithQimIsDone.load() != 0; }, 10000))
      << "the module never saw the end of the start-up dialogue";
  const double syncMs = MsSince(t0_);
  // Entering menu 1 changes the backlight after the module's "OK" to "ATOF1" has arrived.
  ASSERT_TRUE(WaitFor(ShowsSettingsBacklight, 10000));
  const double menuMs = MsSince(t0_);
  printf("power-on to the end of the module start-up: %.0f ms, to the main menu: %.0f ms\n", syncMs,
         menuMs);
  RecordProperty("power_on_to_main_menu_ms", static_cast<int>(menuMs));

  // The module went through the whole dialogue: 19200 baud, no echo, no line feeds, "OF1" format.
  EXPECT_EQ(int(UBRR0), emu_BaudrateToUBRR0(19200));
  EXPECT_NE(PORTE & emu_GetQimRst(), 0) << "module released from reset";
  EXPECT_EQ(ate1Enabled, 0);
  EXPECT_EQ(atl1Enabled, 0);
  EXPECT_EQ(atof1Enabled, 1);

  ASSERT_TRUE(Quit());
  EXPECT_EQ(menu.menMenuId, 1);
}

TEST_F(ModuleStartUp, SilentModuleGivesTheErrorAfterThreeAttempts) {
  emu_powerOnQimThreadBody = SilentModuleThread;
  PowerOn();
  // The error sound has been played through when the firmware's sound pointer rests on the end
  // of sound 1 with no tone left.
  const SND_ENTRY* const errorEnd = SND_DATA[SND_ERROR] + 2;
  ASSERT_TRUE(WaitFor([&] { return beepCfg.load() == errorEnd && beepDurationCounter10ms == 0; },
                      20000))
      << "no error sound";
  printf("power-on to the end of the error sound with a silent module: %.0f ms\n", MsSince(t0_));

  EXPECT_EQ(silentModuleReleases, 3) << "reset attempts";
  EXPECT_EQ(PORTE & emu_GetQimRst(), 0) << "a silent module stays held in reset";
  EXPECT_EQ(syncWithQimIsDone, 0);
  EXPECT_NE(int(UBRR0), emu_BaudrateToUBRR0(19200)) << "no baud switch without a module";

  ASSERT_TRUE(Quit());
  EXPECT_EQ(menu.menMenuId, 0) << "the main menu must not be entered without a module";
  // The error box as the LCD shows it (compared once the firmware has stopped).
  uint8_t shown[1056];
  emu_HeadlessGetDisplay(shown);
  ExpectText(shown, 44, 4, SystemFont.bytes, "ERROR 01", true);
  const char* text = "No response from QIM";
  FNT_SetSystemFont();
  ExpectText(shown, static_cast<uint8_t>(7 + (118 - LCD_GetTextWidth(text)) / 2), 17,
             SystemFont.bytes, text);
}

}  // namespace
