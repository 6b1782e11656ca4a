// Loading a vehicle file: examples/vehicles/largest.toml (eight ECUs, every key and every named
// value set, full code lists) read, checked and swapped into the running vehicle, as "load FILE"
// does. Each load is timed on its own; the median of many is the figure, so that a burst of other
// work on the machine does not count.
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "module/module.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* FIGURE = "vehicle file, loading the largest example (8 ECUs, all items), median";
constexpr double TARGET_MEDIAN_MS = 5.0;
constexpr int WARM_UP = 5;

}  // namespace

int main(int argc, char** argv) {
  const int loads = argc > 1 ? atoi(argv[1]) : 200;
  const std::string path = argc > 2 ? argv[2] : std::string(PADIX_SOURCE_DIR) + "/examples/vehicles/largest.toml";
  if (loads <= 0) return 1;

  emu_QimInitState();
  emu_VehicleInit();
  std::vector<double> ms;
  ms.reserve(static_cast<size_t>(loads));
  std::string error;
  for (int n = -WARM_UP; n < loads; ++n) {
    const auto t0 = Clock::now();
    const int result = emu_LoadVehicleFile(path.c_str(), &error);
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    if (result != 0) {
      BenchFailedRow(FIGURE, error.c_str());
      return 1;
    }
    if (n >= 0) ms.push_back(elapsed);
  }
  if (vehicle.maxEcu != EMU_MAX_ECUS) {
    BenchFailedRow(FIGURE, "the file did not give eight ECUs");
    return 1;
  }

  BenchRow(FIGURE, Percentile(ms, 0.5), 3, "ms", Better::Lower, TARGET_MEDIAN_MS);
  BenchNote("vehicle file loads: %d of %s, 95th percentile %.3f ms, slowest %.3f ms", loads, path.c_str(),
            Percentile(ms, 0.95), Percentile(ms, 1.0));
  return 0;
}
