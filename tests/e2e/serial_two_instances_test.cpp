// Two programs over a pseudo-terminal, or over TCP as with a Wi-Fi adapter, both headless: one in
// simulator mode, whose Bluetooth menu hands the simulated module to the line, and one in OBD2
// software mode, whose handheld drives that module. A third run in emulator mode gets the same
// keys; the handheld on the line must show exactly what it shows.
#include <gtest/gtest.h>

#include <string>

#include "firmware/ui/fonts.h"
#include "firmware/ui/lcd.h"
#include "tests/support/process.h"
#include "tests/support/same_screens.h"
#include "tests/support/screen_text.h"
#include "tests/support/simulator_on_port.h"
#include "tests/support/wait_for.h"

namespace {

class SerialTwoInstances : public testing::TestWithParam<SimLine> {};

TEST_P(SerialTwoInstances, Obd2SoftwareModeAgainstSimulatorModeShowsWhatEmulatorModeShows) {
  const bool tcp = GetParam() == SimLine::Tcp;
  // The same confirmed trouble code in both simulated vehicles.
  HeadlessChild simulator({tcp ? "tcp:0" : "/dev/ptmx", "sim", "dtc=P0300"});
  HeadlessChild reference({"dtc=P0300"});
  // The tester's line: the terminal the simulator names, or where it listens.
  std::string line;
  if (tcp) {
    const std::string where = simulator.WaitForErrLine("Listening on ");
    ASSERT_EQ(where.rfind("127.0.0.1:", 0), 0u) << simulator.Err();
    line = "tcp:" + where;
  } else {
    line = simulator.WaitForErrLine("Serial device: ");
    ASSERT_EQ(line.rfind("/dev/pts/", 0), 0u) << simulator.Err();
  }

  ASSERT_TRUE(simulator.WaitForTitle("MAIN MENU")) << simulator.Err();
  ASSERT_TRUE(simulator.TypeAndWaitForChange("Down"));    // "Bluetooth Mode", the second item
  ASSERT_TRUE(simulator.TypeAndWaitForChange("Return"));
  ASSERT_TRUE(simulator.WaitForTitle("Bluetooth Mode"));

  // The simulator wrote its prompt long before (over TCP to nobody): the tester must not wait
  // for one.
  HeadlessChild tester({line, "nosync"});
  ASSERT_TRUE(tester.WaitForTitle("MAIN MENU")) << tester.Err();
  ASSERT_TRUE(reference.WaitForTitle("MAIN MENU")) << reference.Err();

  auto both = [&](const char* key) {
    EXPECT_TRUE(tester.TypeAndWaitForChange(key)) << key;
    EXPECT_TRUE(reference.TypeAndWaitForChange(key)) << key;
  };
  both("Return");  // Start Diagnostics
  ASSERT_TRUE(tester.WaitForTitle("SELECT PROTOCOL"));
  {
    uint8_t shown[LCD_FRAME_SIZE];
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

INSTANTIATE_TEST_SUITE_P(, SerialTwoInstances, testing::Values(SimLine::Pty, SimLine::Tcp), SimLineName);

}  // namespace
