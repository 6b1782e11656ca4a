// Time from OK on "CAN 11 bit Id, 500 kbps" to the first frame showing "DIAGNOSTICS MENU",
// against the simulated vehicle as it is at program start (CAN 11/500, two ECUs), in-process
// with the headless window. Floor: the waits the firmware must make on that path: the key's
// debouncing (4 ticks, 40 ms), then the request timer's 100 ms before "ATP6" and before each of
// the 15 reading steps this vehicle needs (ATSF00, 0100, 0120, 0140, 0160, 0101, 0113, 014F,
// 0150, 03, 07, 0A, 0900, 090A, ATSFE8): 1.64 s. Target: at most 10 % above the floor.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <vector>

#include "bench/bench_device.h"
#include "bench/bench_report.h"
#include "window/window_api.h"

int main(int argc, char** argv) {
  const int runs = argc > 1 ? atoi(argv[1]) : 5;
  const char* figure = "connect to DIAGNOSTICS MENU, CAN 11/500, median";
  const double floorMs = 40 + 16 * 100;
  const double targetRatio = 1.10;
  const Title mainMenu = RenderTitleProtocol("MAIN MENU", 0);
  const Title selectProtocol = RenderTitleProtocol("SELECT PROTOCOL", 0);
  const Title diagnostics = RenderTitleProtocol("DIAGNOSTICS MENU", 6);
  std::vector<double> ms;
  for (int run = 0; run < runs; ++run) {
    std::future<int> power = PowerOnWithCan11Vehicle();
    bool ok = WaitForTitle(mainMenu, 5000);
    Press(EMU_KEY_RETURN);
    ok = ok && WaitForTitle(selectProtocol, 5000);
    Press(EMU_KEY_RETURN);
    const auto t0 = std::chrono::steady_clock::now();
    ok = ok && WaitForTitle(diagnostics, 10000);
    const double t = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    QuitRun(power);
    if (!ok) {
      BenchFailedRow(figure, "screen not reached");
      return 1;
    }
    ms.push_back(t);
  }
  const double median = Percentile(ms, 0.5);
  BenchRow(figure, median, 0, "ms", Better::Lower, floorMs * targetRatio);
  BenchNote("connect: median %.0f ms, max %.0f ms over %d runs = %.3f x the floor of %.0f ms "
            "(debouncing and request-timer waits)",
            median, Percentile(ms, 1.0), runs, median / floorMs, floorMs);
  return 0;
}
