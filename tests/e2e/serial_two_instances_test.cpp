// Two programs over a pseudo-terminal, both headless: one in simulator mode, whose Bluetooth menu
// hands the simulated module to the serial line, and one in OBD2 software mode, whose handheld
// drives that module. A third run in emulator mode gets the same keys; the handheld on the serial
// line must show exactly what it shows.
#include <gtest/gtest.h>
#include <string.h>

#include <chrono>
#include <string>

#include "firmware/ui/fonts.h"
#include "firmware/ui/lcd.h"
#include "tests/support/process.h"
#include "tests/support/screen_text.h"
#include "tests/support/wait_for.h"

namespace {

using Clock = std::chrono::steady_clock;
using Screen = uint8_t[LCD_FRAME_SIZE];

// The live data list marks the row being read at its left edge; where the mark stands depends on
// the moment, so that strip is not compared.
constexpr int READING_MARK_WIDTH = 4;

void HideReadingMark(uint8_t* shown) {
  for (int page = 1; page < LCD_HEIGHT / 8; ++page)
    for (int x = 0; x < READING_MARK_WIDTH; ++x) shown[page * LCD_WIDTH + x] = 0;
}

// Both displays agree and have stayed unchanged for a while (data screens fill row by row).
testing::AssertionResult ShowTheSame(HeadlessChild& tester, HeadlessChild& reference,
                                     bool liveData = false) {
  Screen a, b, last{};
  auto since = Clock::now();
  const bool same = WaitFor(
      [&] {
        if (!tester.Display(a) || !reference.Display(b)) return false;
        if (liveData) HideReadingMark(a), HideReadingMark(b);
        if (memcmp(a, b, sizeof a) != 0) {
          since = Clock::now();
          return false;
        }
        if (memcmp(a, last, sizeof a) != 0) {
          memcpy(last, a, sizeof a);
          since = Clock::now();
        }
        return Clock::now() - since > std::chrono::milliseconds(300);
      },
      20000);
  if (same) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "OBD2 software mode shows\n"
                                     << ScreenRect(a, 0, 0, LCD_WIDTH, LCD_HEIGHT)
                                     << "emulator mode shows\n"
                                     << ScreenRect(b, 0, 0, LCD_WIDTH, LCD_HEIGHT);
}

TEST(SerialTwoInstances, Obd2SoftwareModeAgainstSimulatorModeShowsWhatEmulatorModeShows) {
  // The same confirmed trouble code in both simulated vehicles.
  HeadlessChild simulator({"/dev/ptmx", "sim", "dtc=P0300"});
  HeadlessChild reference({"dtc=P0300"});
  const std::string pts = simulator.WaitForErrLine("Serial device: ");
  ASSERT_EQ(pts.rfind("/dev/pts/", 0), 0u) << simulator.Err();

  ASSERT_TRUE(simulator.WaitForTitle("MAIN MENU")) << simulator.Err();
  ASSERT_TRUE(simulator.TypeAndWaitForChange("Down"));    // "Bluetooth Mode", the second item
  ASSERT_TRUE(simulator.TypeAndWaitForChange("Return"));
  ASSERT_TRUE(simulator.WaitForTitle("Bluetooth Mode"));

  // The simulator wrote its prompt long before: the tester must not wait for one.
  HeadlessChild tester({pts, "nosync"});
  ASSERT_TRUE(tester.WaitForTitle("MAIN MENU")) << tester.Err();
  ASSERT_TRUE(reference.WaitForTitle("MAIN MENU")) << reference.Err();

  auto both = [&](const char* key) {
    EXPECT_TRUE(tester.TypeAndWaitForChange(key)) << key;
    EXPECT_TRUE(reference.TypeAndWaitForChange(key)) << key;
  };
  both("Return");  // Start Diagnostics
  ASSERT_TRUE(tester.WaitForTitle("SELECT PROTOCOL"));
  {
    Screen shown;
    ASSERT_TRUE(tester.Display(shown));
    ExpectText(shown, 1, 8, SystemFont.bytes, "Automatic Protocol Scan", true)
        << "no protocol stored yet: the automatic scan comes first, under the cursor";
  }
  EXPECT_TRUE(ShowTheSame(tester, reference));

  both("Return");  // scan, connect, read everything
  ASSERT_TRUE(tester.WaitForTitle("DIAGNOSTICS MENU", 30000)) << tester.Err();
  ASSERT_TRUE(reference.WaitForTitle("DIAGNOSTICS MENU", 30000));
  EXPECT_TRUE(ShowTheSame(tester, reference)) << "the diagnostics menu";

  both("Return");  // Current Data
  ASSERT_TRUE(tester.WaitForTitle("CURRENT DATA"));
  EXPECT_TRUE(ShowTheSame(tester, reference, true)) << "current data";

  both("Escape");
  ASSERT_TRUE(tester.WaitForTitle("DIAGNOSTICS MENU"));
  both("Down");
  both("Return");  // Trouble Codes
  ASSERT_TRUE(tester.WaitForTitle("TROUBLE CODES MENU"));
  both("Return");  // DTC Summary
  ASSERT_TRUE(tester.WaitForTitle("DIAGNOSTIC TROUBLE CODES"));
  EXPECT_TRUE(ShowTheSame(tester, reference)) << "the trouble code list";
  both("Return");  // the code with its description
  EXPECT_TRUE(ShowTheSame(tester, reference)) << "the single trouble code";

  EXPECT_EQ(tester.Quit(), 0);
  EXPECT_EQ(reference.Quit(), 0);
  EXPECT_EQ(simulator.Quit(), 0);
}

}  // namespace
