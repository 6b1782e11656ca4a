// From the main menu to a connected vehicle, in-process and through the keys: the protocol
// scan against the simulated vehicle, the reading of its data and the diagnostics menu; the
// error boxes when no protocol answers or the vehicle falls silent; the protocol information
// of a K-line vehicle with its key bytes. Screens are checked by their pixels.
#include <gtest/gtest.h>
#include <string.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>

#include "firmware/eeprom.h"
#include "firmware/timer.h"
#include "firmware/ui/fonts.h"
#include "firmware/ui/gui.h"
#include "firmware/ui/lcd.h"
#include "firmware/ui/menu.h"
#include "controller/controller.h"
#include "host/power_on.h"
#include "module/module.h"
#include "vehicle/vehicle.h"
#include "tests/support/screen_text.h"
#include "tests/support/wait_for.h"
#include "window/headless_window.h"
#include "window/window_api.h"

namespace {

const uint8_t* const SYS = SystemFont.bytes;
const uint8_t* const HDR = HeaderFont.bytes;

struct Screen {
  uint8_t mem[LCD_FRAME_SIZE];
};

bool Dark(const uint8_t* mem, int x, int y) { return (mem[(y / 8) * LCD_WIDTH + x] >> (y % 8)) & 1; }

bool SameRect(const uint8_t* a, const uint8_t* b, int x, int y, int w, int h) {
  for (int j = y; j < y + h; ++j) {
    for (int i = x; i < x + w; ++i) {
      if (Dark(a, i, j) != Dark(b, i, j)) return false;
    }
  }
  return true;
}

// Drawn with the firmware's own composition routines while its thread is not running.
Screen Render(const std::function<void()>& draw) {
  LCD_ClearDisplay();
  draw();
  Screen s;
  memcpy(s.mem, lcdFrameBuf, sizeof s.mem);
  LCD_ClearDisplay();
  return s;
}

Screen Title(const char* text) {
  return Render([&] { GUI_DrawTitle(text); });
}
Screen TitleProtocol(const char* text, uint8_t protocol) {
  return Render([&] { GUI_DrawTitleProtocol(text, protocol); });
}

constexpr int TITLE_BAND = 7;  // the title text and its line

class ConnectE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    emu_QimInitState();
    emu_VehicleInit();
    tarnic_InitVars();
    syncWithQimIsDone = 0;
    for (uint8_t i = 0; i < EEP_SETTINGS_SIZE; ++i) eepaddr[i] = EEP_INIT_DATA[i];
    mainMenu_ = Title("MAIN MENU");
    selectProtocol_ = Title("SELECT PROTOCOL");
  }
  void TearDown() override {
    if (run_.valid()) {
      emu_HeadlessTypeKey(EMU_KEY_QUIT);
      run_.wait();
    }
  }

  void PowerOn() { run_ = std::async(std::launch::async, emu_PowerOnCycle); }

  // Ends the power-on; the firmware thread has been joined when this returns true.
  bool Quit() {
    emu_HeadlessTypeKey(EMU_KEY_QUIT);
    if (run_.wait_for(std::chrono::seconds(10)) != std::future_status::ready) return false;
    return run_.get() == 1;
  }

  bool WaitForScreen(const std::function<bool(const uint8_t*)>& shows, int timeoutMs) {
    return WaitFor(
        [&] {
          emu_HeadlessGetDisplay(shown_);
          return shows(shown_);
        },
        timeoutMs);
  }
  bool WaitForTitle(const Screen& title, int timeoutMs = 10000) {
    return WaitForScreen(
        [&](const uint8_t* mem) { return SameRect(mem, title.mem, 0, 0, LCD_WIDTH, TITLE_BAND); },
        timeoutMs);
  }
  // The inverse bar of an error box: rows 3 and 12 dark from x 6 to 125.
  bool WaitForErrorBox(int timeoutMs) {
    return WaitForScreen(
        [](const uint8_t* mem) {
          for (int x = 6; x < 126; ++x) {
            if (!Dark(mem, x, 3) || !Dark(mem, x, 12)) return false;
          }
          return true;
        },
        timeoutMs);
  }
  // Row `row` of a menu list is under the cursor bar.
  bool WaitForCursorRow(int row) {
    return WaitForScreen([row](const uint8_t* mem) { return mem[(row + 1) * LCD_WIDTH] == 0xFF; },
                         3000);
  }
  // A menu takes a key only once every key has been seen released after it was entered.
  static void Press(int key) {
    WaitFor([] { return keyDebounce.keyState.load() == 0; }, 2000);
    emu_HeadlessTypeKey(key);
  }
  std::string Shown() const { return ScreenRect(shown_, 0, 0, LCD_WIDTH, LCD_HEIGHT); }

  // From power-on through "Start Diagnostics" to OK on the first protocol of the list, which
  // is the one stored as used last.
  void StartScanOnFirstListEntry(uint8_t lastProtocol = 0) {
    PowerOn();
    // Until the module is set up the display may still show the end of an earlier power-on.
    ASSERT_TRUE(WaitFor([] { return syncWithQimIsDone.load() != 0; }, 10000));
    // The first power-on of a run writes the default settings, and it is over by now.
    eepaddr[EEP_LAST_PROTOCOL] = lastProtocol;
    ASSERT_TRUE(WaitForTitle(mainMenu_)) << Shown();
    Press(EMU_KEY_RETURN);
    ASSERT_TRUE(WaitForTitle(selectProtocol_)) << Shown();
    Press(EMU_KEY_RETURN);
  }

  // An error box's text, centred in its field (7, 17, width 118).
  static void ExpectErrorText(const uint8_t* mem, const char* number, const char* text) {
    FNT_SetSystemFont();
    const int numberX = 6 + (120 - LCD_GetTextWidth(number)) / 2;
    const int textX = 7 + (118 - LCD_GetTextWidth(text)) / 2;
    ExpectText(mem, static_cast<uint8_t>(numberX), 4, SYS, number, true);
    ExpectText(mem, static_cast<uint8_t>(textX), 17, SYS, text);
  }

  // The error box that comes within the time-out shows `number` and `text`, and Esc on it goes
  // back to the main menu; then the run quits.
  void ExpectErrorBoxAndEscapeToMainMenu(int timeoutMs, const char* number, const char* text) {
    ASSERT_TRUE(WaitForErrorBox(timeoutMs)) << Shown();
    uint8_t errorBox[LCD_FRAME_SIZE];
    memcpy(errorBox, shown_, sizeof errorBox);
    Press(EMU_KEY_ESCAPE);
    const bool backInMainMenu = WaitForTitle(mainMenu_);
    ASSERT_TRUE(Quit());
    ExpectErrorText(errorBox, number, text);  // drawn once the firmware no longer runs
    EXPECT_TRUE(backInMainMenu) << "Esc leaves the error box";
  }

  Screen mainMenu_, selectProtocol_;
  uint8_t shown_[LCD_FRAME_SIZE] = {};
  std::future<int> run_;
};

TEST_F(ConnectE2e, AutomaticScanConnectsToACan11VehicleAndShowsTheDiagnosticsMenu) {
  emu_VehicleSetProtocol(6);
  const Screen diagnostics = TitleProtocol("DIAGNOSTICS MENU", 6);
  const auto t0 = std::chrono::steady_clock::now();
  StartScanOnFirstListEntry();
  // PWM, VPWM, KWP2000 fast and slow init fail first: about 7.2 s of pauses.
  ASSERT_TRUE(WaitForTitle(diagnostics, 30000)) << Shown();
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  printf("main menu to the diagnostics menu with the automatic scan: %.1f s\n", s);
  ASSERT_TRUE(Quit());

  emu_HeadlessGetDisplay(shown_);
  EXPECT_TRUE(SameRect(shown_, diagnostics.mem, 0, 0, LCD_WIDTH, TITLE_BAND)) << "6-CAN";
  const char* const items[] = {"Current Data",     "Trouble Codes",        "I/M Readiness",
                               "Vehicle/ECU Info", "Protocol Information", "Change ECU",
                               "Reload OBD Data"};
  for (uint8_t i = 0; i < 7; ++i) ExpectText(shown_, 1, GUI_RowY(i), SYS, items[i], i == 0);
  // The summary column: MIL on (the engine symbol), the codes of both ECUs, ECU 1 of 2 is E8.
  int dtcs = 0;
  for (int e = 0; e < vehicle.maxEcu; ++e) {
    dtcs += vehicle.ecu[e].noOfDtcs + vehicle.ecu[e].noOfPendingDtcs +
            vehicle.ecu[e].noOfPermanentDtcs;
  }
  ExpectText(shown_, 104, 20, HDR, ("DTC:" + std::to_string(dtcs)).c_str());
  ExpectText(shown_, 103, 27, HDR, "E1&2:E8");
  EXPECT_EQ(eepaddr[EEP_LAST_PROTOCOL], 0) << "the first entry is never stored";
}

TEST_F(ConnectE2e, EveryFixedProtocolConnectsToAVehicleOnThatProtocol) {
  for (uint8_t p = 1; p <= 9; ++p) {
    SCOPED_TRACE(testing::Message() << "protocol " << int(p));
    SetUp();
    emu_VehicleSetProtocol(p);
    const Screen diagnostics = TitleProtocol("DIAGNOSTICS MENU", p);
    StartScanOnFirstListEntry(p);
    const bool connected = WaitForTitle(diagnostics, 15000);
    ASSERT_TRUE(Quit());
    ASSERT_TRUE(connected) << Shown();
    ExpectText(shown_, 1, 8, SYS, "Current Data", true);
  }
}

TEST_F(ConnectE2e, VehicleOnAnotherProtocolGivesNoProtocolFound) {
  emu_VehicleSetProtocol(6);
  StartScanOnFirstListEntry(7);  // CAN 29 bit, 500 kbps: three tries, 1 s apart
  ExpectErrorBoxAndEscapeToMainMenu(15000, "ERROR 02", "No protocol found");
}

TEST_F(ConnectE2e, VehicleFallingSilentAfterConnectingGivesNoDataReceived) {
  emu_VehicleSetProtocol(6);
  const Screen reading = TitleProtocol("READING DATA", 6);
  StartScanOnFirstListEntry(6);
  ASSERT_TRUE(WaitForTitle(reading)) << Shown();
  // The reading's first request is the filter "ATSF00", answered "OK", which is never
  // replaced; the next answer, to 0100, becomes "NO DATA".
  sendNoData = 1;
  ExpectErrorBoxAndEscapeToMainMenu(5000, "ERROR 03", "No data received");
}

TEST_F(ConnectE2e, KwpFastInitVehicleShowsItsKeyBytes) {
  emu_VehicleSetProtocol(5);
  const Screen diagnostics = TitleProtocol("DIAGNOSTICS MENU", 5);
  const Screen protocolInfo = Render([] { GUI_DrawTitleEcu("Protocol Information", 0x10); });
  const Screen supPids = Render([] { GUI_DrawTitleEcu("SUPPORTED PIDS 01", 0x10); });
  // The rows that follow the module's description of the protocol.
  const Screen indicator = Render([] { GUI_DrawMenuChangeIndicator(); });
  StartScanOnFirstListEntry(5);
  ASSERT_TRUE(WaitForTitle(diagnostics, 15000)) << Shown();
  for (int row = 1; row <= 4; ++row) {  // down to "Protocol Information"
    Press(EMU_KEY_DOWN);
    ASSERT_TRUE(WaitForCursorRow(row)) << Shown();
  }
  Press(EMU_KEY_RETURN);
  ASSERT_TRUE(WaitForTitle(protocolInfo)) << Shown();
  // The answer to "ATDP" is drawn with the menu change indicator.
  ASSERT_TRUE(WaitForScreen(
      [&](const uint8_t* mem) { return SameRect(mem, indicator.mem, 120, 56, 12, 8); }, 3000))
      << Shown();
  uint8_t info[LCD_FRAME_SIZE];
  memcpy(info, shown_, sizeof info);
  Press(EMU_KEY_RETURN);
  const bool supportedPids = WaitForTitle(supPids);
  ASSERT_TRUE(Quit());

  ExpectText(info, 1, 8, SYS, "ISO 14230-4, KWP2000");
  int keyRow = -1;
  for (int y = 16; y <= 40 && keyRow < 0; y += 8) {
    if (ShowsText(info, 1, static_cast<uint8_t>(y), SYS, "Key bytes:")) keyRow = y;
  }
  ASSERT_GE(keyRow, 0) << ScreenRect(info, 0, 0, LCD_WIDTH, LCD_HEIGHT);
  // "Key bytes:", 2 pixels, then the bytes in the order the module reported them: 8F E9.
  const Screen keyBytes = Render([&] {
    FNT_SetSystemFont();
    LCD_DrawText("Key bytes:", 1, static_cast<uint8_t>(keyRow));
    LCD_SetPosXRel(2);
    LCD_DrawHexByte(0x8F);
    LCD_SetPosXRel(2);
    LCD_DrawHexByte(0xE9);
  });
  EXPECT_TRUE(SameRect(info, keyBytes.mem, 0, keyRow, LCD_WIDTH, 8))
      << ScreenRect(info, 0, keyRow, LCD_WIDTH, 8);
  ExpectText(info, 1, static_cast<uint8_t>(keyRow + 8), SYS, "P2min\x09=\x09" "25ms");
  ExpectText(info, 1, static_cast<uint8_t>(keyRow + 16), SYS, "Header size:\x09" "3");
  EXPECT_TRUE(supportedPids) << "OK leads on to the supported PIDs";
}

}  // namespace
