// How late a vehicle file's timeline fires its events: a file of 200 events 5 to 20 ms apart
// (each sets the engine speed) is loaded as "load FILE" does, and each event's lateness is the
// time from when it was due to when its value was set in the car. The median and the worst are
// the figures. After the last event, the timeline's thread must sleep without waking: its wake-ups
// over a second are noted.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_report.h"
#include "module/module.h"
#include "vehicle/timeline.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"

namespace {

constexpr const char* MEDIAN = "timeline events, lateness (due to set in the car), median";
constexpr const char* WORST = "timeline events, lateness (due to set in the car), worst";
constexpr double TARGET_MS = 2.0;

std::mutex lock;
std::condition_variable done;
std::vector<double> lateMs;

void Fired(size_t, uint64_t dueNs, uint64_t doneNs) {
  std::lock_guard<std::mutex> guard(lock);
  lateMs.push_back(doneNs >= dueNs ? static_cast<double>(doneNs - dueNs) / 1e6 : -static_cast<double>(dueNs - doneNs) / 1e6);
  done.notify_all();
}

unsigned long long TimelineWakeUps() {
  for (const auto& [tid, t] : SampleThreads(0))
    if (t.name == "timeline") return t.switches;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int events = argc > 1 ? atoi(argv[1]) : 200;
  if (events <= 0) return 1;
  const std::string path = "/tmp/padix_bench_timeline_" + std::to_string(getpid()) + ".toml";
  {
    std::ofstream file(path);
    unsigned seed = 12345, atMs = 20;
    for (int i = 0; i < events; ++i) {
      seed = seed * 1103515245u + 12345u;
      atMs += 5 + (seed >> 16) % 16;  // 5 to 20 ms after the one before
      file << "[[events]]\nat = " << atMs / 1000.0 << "\nset = \"ecu.1.rpm\"\nvalue = " << 800 + i * 10 << "\n";
    }
  }
  emu_QimInitState();
  emu_VehicleInit();
  emu_timelineFiredNotice = &Fired;
  std::string error;
  const int loaded = emu_LoadVehicleFile(path.c_str(), &error);
  unlink(path.c_str());
  if (loaded != 0) {
    BenchFailedRow(MEDIAN, error.c_str());
    return 1;
  }
  std::unique_lock<std::mutex> guard(lock);
  const bool all = done.wait_for(guard, std::chrono::seconds(30), [&] { return lateMs.size() >= static_cast<size_t>(events); });
  const std::vector<double> late = lateMs;
  guard.unlock();
  if (!all) {
    BenchFailedRow(MEDIAN, "not every event fired within 30 s");
    return 1;
  }
  const unsigned long long before = TimelineWakeUps();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const unsigned long long idle = TimelineWakeUps() - before;

  BenchRow(MEDIAN, Percentile(late, 0.5), 3, "ms", Better::Lower, TARGET_MS);
  BenchRow(WORST, Percentile(late, 1.0), 3, "ms", Better::Lower, TARGET_MS);
  BenchNote("timeline events: %d, 5 to 20 ms apart; lateness 95th percentile %.3f ms, earliest %.3f ms; "
            "the timeline thread woke %llu times in the second after the last",
            events, Percentile(late, 0.95), Percentile(late, 0.0), idle);
  emu_TimelineReplace({});
  return 0;
}
