#include "bench/bench_device.h"

#include <string.h>

#include <chrono>
#include <thread>

#include "firmware/eeprom.h"
#include "firmware/timer.h"
#include "firmware/ui/gui.h"
#include "controller/controller.h"
#include "host/power_on.h"
#include "module/module.h"
#include "vehicle/vehicle.h"
#include "window/headless_window.h"
#include "window/window_api.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Draw>
Title Render(Draw draw) {
  LCD_ClearDisplay();
  draw();
  Title t;
  memcpy(t.rows, lcdFrameBuf, LCD_WIDTH);
  LCD_ClearDisplay();
  return t;
}

bool Shows(const Title& t) {
  uint8_t mem[LCD_FRAME_SIZE];
  emu_HeadlessGetDisplay(mem);
  return memcmp(mem, t.rows, LCD_WIDTH) == 0;
}

}  // namespace

Title RenderTitleProtocol(const char* text, uint8_t protocol) {
  return Render([&] { GUI_DrawTitleProtocol(text, protocol); });
}

Title RenderTitleEcu(const char* text, uint8_t ecu) {
  return Render([&] { GUI_DrawTitleEcu(text, ecu); });
}

bool WaitForTitle(const Title& t, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!Shows(t)) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

void Press(int key) {
  while (keyDebounce.keyState.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  emu_HeadlessTypeKey(key);
}

std::future<int> PowerOnWithCan11Vehicle() {
  emu_QimInitState();
  emu_VehicleInit();
  emu_VehicleSetProtocol(6);
  tarnic_InitVars();
  syncWithQimIsDone = 0;
  for (uint8_t i = 0; i < EEP_SETTINGS_SIZE; ++i) eepaddr[i] = EEP_INIT_DATA[i];
  std::future<int> run = std::async(std::launch::async, emu_PowerOnCycle);
  while (syncWithQimIsDone.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // After the first power-on of the run has written the default settings: first in the list.
  eepaddr[EEP_LAST_PROTOCOL] = 6;
  return run;
}

void QuitRun(std::future<int>& run) {
  emu_HeadlessTypeKey(EMU_KEY_QUIT);
  run.wait();
}
