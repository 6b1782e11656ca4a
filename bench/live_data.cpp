// CPU and memory while reading live data: the device in-process with the headless window,
// connected to the CAN 11/500 vehicle, showing the "Current Data" list of the engine ECU as it
// refreshes continuously; CPU time of the whole process as % of one core (median of one-second
// windows). Then the peak resident set of the process over its whole run (power-on, connect,
// reading).
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "bench/bench_device.h"
#include "bench/bench_report.h"
#include "window/headless_window.h"
#include "window/window_api.h"

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? atoi(argv[1]) : 10;
  const char* cpuFigure = "live data CPU, Current Data list, % of one core";
  const char* memFigure = "resident memory, peak over power-on, connect, live data";
  const Title mainMenu = RenderTitleProtocol("MAIN MENU", 0);
  const Title selectProtocol = RenderTitleProtocol("SELECT PROTOCOL", 0);
  const Title diagnostics = RenderTitleProtocol("DIAGNOSTICS MENU", 6);
  const Title currentData = RenderTitleEcu("Current Data", 0xE8);

  std::future<int> run = PowerOnWithCan11Vehicle();
  bool ok = WaitForTitle(mainMenu, 5000);
  Press(EMU_KEY_RETURN);
  ok = ok && WaitForTitle(selectProtocol, 5000);
  Press(EMU_KEY_RETURN);
  ok = ok && WaitForTitle(diagnostics, 10000);
  Press(EMU_KEY_RETURN);  // the first item
  ok = ok && WaitForTitle(currentData, 5000);
  if (!ok) {
    QuitRun(run);
    BenchFailedRow(cpuFigure, "screen not reached");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));  // the first reading of the list is done

  uint8_t mem[LCD_FRAME_SIZE];
  const uint32_t frames0 = emu_HeadlessGetDisplay(mem);
  const auto t0 = std::chrono::steady_clock::now();
  const ThreadWindow threads = StartThreadWindow(0);
  const double percent = MedianCpuPercent(0, seconds);
  ThreadWakeUpNote("live data", threads);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const uint32_t frames1 = emu_HeadlessGetDisplay(mem);
  const double peakMiB = PeakResidentMiB(0);
  QuitRun(run);

  BenchRow(cpuFigure, percent, 2, "%", Better::Lower, 1.5);
  BenchRow(memFigure, peakMiB, 1, "MiB", Better::Lower, 16.0);
  BenchNote("live data: %.0f frames/s shown while reading over %.1f s", (frames1 - frames0) / wall, wall);
  return 0;
}
