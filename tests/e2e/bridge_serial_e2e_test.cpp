// Simulator mode in-process: the USB and Serial Interface menus, once switched on in the
// settings, hand the module to the serial line just as the Bluetooth menu does (which the
// whole-program tests enter): the firmware stops and a client on the pseudo-terminal is served.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "firmware/eeprom.h"
#include "firmware/ui/lcd.h"
#include "controller/controller.h"
#include "line/serial_port.h"
#include "tests/support/emulator_session.h"
#include "tests/support/wait_for.h"
#include "window/window_api.h"

namespace {

struct Bridge {
  const char* title;
  int downs;  // from "Start Diagnostics" down to the item
};

// The list row under the cursor (drawn inverted, its left edge dark), or -1.
int CursorRow(EmulatorSession& device) {
  uint8_t shown[LCD_FRAME_SIZE];
  device.Display(shown);
  for (int row = 0; row < 7; ++row) {
    const int y = 9 + 8 * row;
    if ((shown[(y / 8) * LCD_WIDTH] >> (y % 8)) & 1) return row;
  }
  return -1;
}

class BridgeMenu : public testing::TestWithParam<Bridge> {
 protected:
  void SetUp() override {
    char name[128];
    ASSERT_EQ(openpty(&client_, &port_, name, nullptr, nullptr), 0);
    ASSERT_EQ(emu_InitCOM(name, 9600), 0);
    padixMode = EmuMode::Simulator;
  }
  void TearDown() override {
    emu_CloseCOM();
    padixMode = EmuMode::Emulator;
    close(client_);
    close(port_);
  }
  std::string ClientAsks(const char* line, int timeoutMs) {
    (void)!write(client_, line, strlen(line));
    std::string answer;
    WaitFor(
        [&] {
          pollfd p = {client_, POLLIN, 0};
          char c;
          while (poll(&p, 1, 0) > 0 && read(client_, &c, 1) == 1) {
            answer += c;
            if (c == '>') return true;
          }
          return false;
        },
        timeoutMs);
    return answer;
  }
  int client_ = -1, port_ = -1;
};

TEST_P(BridgeMenu, EnteringItInSimulatorModeStopsTheFirmwareAndServesThePort) {
  const TitleRows mainMenu = RenderTitle("MAIN MENU");
  const TitleRows bridge = RenderTitle(GetParam().title);
  EmulatorSession device({{EEP_USB_MENU, 1}, {EEP_SERIAL_MENU, 1}});
  ASSERT_TRUE(device.WaitForTitle(mainMenu)) << device.Screen();
  for (int i = 0; i < GetParam().downs; ++i) ASSERT_TRUE(device.TypeAndWaitForChange(EMU_KEY_DOWN));
  ASSERT_EQ(CursorRow(device), GetParam().downs) << device.Screen();
  device.Type(EMU_KEY_RETURN);
  ASSERT_TRUE(device.WaitForTitle(bridge)) << device.Screen();

  EXPECT_EQ(ClientAsks("AT!01\r", 10000), "PaSim V2.81\r>");
  EXPECT_EQ(tarnicThreadWasCreated.load(), 0) << "the firmware was stopped";
  EXPECT_EQ(device.Quit(), 1);
}

// The main menu with both switched on: Start Diagnostics, Bluetooth, USB, Serial Interface, ...
INSTANTIATE_TEST_SUITE_P(SimulatorMode, BridgeMenu,
                         testing::Values(Bridge{"USB Mode", 2}, Bridge{"Serial Interface Mode", 3}),
                         [](const testing::TestParamInfo<Bridge>& param) {
                           return param.param.downs == 2 ? "Usb" : "SerialInterface";
                         });

}  // namespace
