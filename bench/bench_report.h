// What every benchmark shares: its rows for the one table bench/run prints, percentiles, and the
// CPU time and resident memory of a process read from /proc.
//
// A row is printed as   row|<figure>|<measured>|<unit>|<= or >=|<target>
// and any other line of a benchmark is a note that bench/run shows below the table.
#pragma once

#include <dirent.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

enum class Better { Lower, Higher };

inline void BenchRow(const char* figure, double measured, int decimals, const char* unit,
                     Better better, double target) {
  printf("row|%s|%.*f|%s|%s|%.*f\n", figure, decimals, measured, unit,
         better == Better::Lower ? "<=" : ">=", decimals, target);
}

// A row that could not be measured: it fails, with the reason as its figure.
inline void BenchFailedRow(const char* figure, const char* why) { printf("row|%s (%s)|-|-|-|-\n", figure, why); }

inline void BenchNote(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline void BenchNote(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  putchar('\n');
}

inline double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t idx = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[idx];
}

// CPU time of all the process's threads (0: this process). Another process's is read from the
// scheduler's nanosecond account (/proc/<pid>/task/*/schedstat): clock ticks of 10 ms are too
// coarse for an idle process.
inline double ProcessCpuSeconds(pid_t pid) {
  if (pid == 0) {  // this process: threads that already ended count too
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  }
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return -1;
  unsigned long long ns = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    FILE* f = fopen((tasks + "/" + entry->d_name + "/schedstat").c_str(), "r");
    unsigned long long onCpu = 0;
    if (f != nullptr && fscanf(f, "%llu", &onCpu) == 1) ns += onCpu;
    if (f != nullptr) fclose(f);
  }
  closedir(dir);
  return static_cast<double>(ns) / 1e9;
}

// The peak resident set (VmHWM) of a process (0: this process) in MiB, or -1.
inline double PeakResidentMiB(pid_t pid) {
  const std::string path = (pid == 0 ? std::string("/proc/self") : "/proc/" + std::to_string(pid)) + "/status";
  FILE* f = fopen(path.c_str(), "r");
  if (f == nullptr) return -1;
  char line[256];
  double kib = -1;
  while (fgets(line, sizeof line, f) != nullptr)
    if (strncmp(line, "VmHWM:", 6) == 0) kib = atof(line + 6);
  fclose(f);
  return kib < 0 ? -1 : kib / 1024.0;
}

// CPU use of a process (0: this process) as % of one core: the median of one-second windows
// over `seconds`, so that a burst of other work on the machine in one of them does not count.
// -1 when the CPU time cannot be read.
inline double MedianCpuPercent(pid_t pid, int seconds) {
  std::vector<double> windows;
  for (int w = 0; w < seconds; ++w) {
    const double cpu0 = ProcessCpuSeconds(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu1 = ProcessCpuSeconds(pid);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (cpu0 < 0 || cpu1 < 0) return -1;
    windows.push_back(100.0 * (cpu1 - cpu0) / wall);
  }
  return windows.empty() ? -1 : Percentile(windows, 0.5);
}

// The reference for idle figures: what a bare loop of 10 ms sleeps (the device's tick, and
// nothing else) costs on this machine now, as % of one core, measured over `seconds`.
inline double TickFloorPercent(int seconds) {
  double percent = -1;
  std::thread([&] {
    timespec a, b;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < seconds * 100; ++i) usleep(10000);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = static_cast<double>(b.tv_sec - a.tv_sec) + static_cast<double>(b.tv_nsec - a.tv_nsec) / 1e9;
    percent = 100.0 * cpu / wall;
  }).join();
  return percent;
}

// What each thread of a process (0: this process) did over a window: its wake-ups (voluntary
// and involuntary context switches, from /proc/<pid>/task/*/status) and its CPU time, by thread
// name (/proc/<pid>/task/*/comm; threads of the same name are added up).
struct ThreadSample {
  std::string name;
  unsigned long long switches;
  unsigned long long cpuNs;
};

inline std::map<std::string, ThreadSample> SampleThreads(pid_t pid) {
  std::map<std::string, ThreadSample> threads;  // by task id
  const std::string tasks = (pid == 0 ? std::string("/proc/self") : "/proc/" + std::to_string(pid)) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return threads;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string task = tasks + "/" + entry->d_name;
    ThreadSample t{"?", 0, 0};
    char line[256];
    if (FILE* f = fopen((task + "/comm").c_str(), "r")) {
      if (fgets(line, sizeof line, f) != nullptr) t.name = std::string(line, strcspn(line, "\n"));
      fclose(f);
    }
    if (FILE* f = fopen((task + "/status").c_str(), "r")) {
      while (fgets(line, sizeof line, f) != nullptr) {
        if (strncmp(line, "voluntary_ctxt_switches:", 24) == 0) t.switches += strtoull(line + 24, nullptr, 10);
        if (strncmp(line, "nonvoluntary_ctxt_switches:", 27) == 0) t.switches += strtoull(line + 27, nullptr, 10);
      }
      fclose(f);
    }
    if (FILE* f = fopen((task + "/schedstat").c_str(), "r")) {
      if (fscanf(f, "%llu", &t.cpuNs) != 1) t.cpuNs = 0;
      fclose(f);
    }
    threads[entry->d_name] = t;
  }
  closedir(dir);
  return threads;
}

struct ThreadWindow {
  pid_t pid;
  std::map<std::string, ThreadSample> start;
  std::chrono::steady_clock::time_point t0;
};

inline ThreadWindow StartThreadWindow(pid_t pid) { return {pid, SampleThreads(pid), std::chrono::steady_clock::now()}; }

// A note with the wake-ups per second and the % of one core of every thread that lived through
// the window, busiest first: "<what>: tick 100.0/s 0.12 %, firmware ...".
inline void ThreadWakeUpNote(const char* what, const ThreadWindow& w) {
  const auto end = SampleThreads(w.pid);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w.t0).count();
  std::map<std::string, std::pair<double, double>> byName;  // wake-ups, CPU seconds
  for (const auto& [tid, after] : end) {
    const auto before = w.start.find(tid);
    if (before == w.start.end()) continue;
    auto& sum = byName[after.name];
    sum.first += static_cast<double>(after.switches - before->second.switches);
    sum.second += static_cast<double>(after.cpuNs - before->second.cpuNs) / 1e9;
  }
  std::vector<std::pair<std::string, std::pair<double, double>>> rows(byName.begin(), byName.end());
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second.first > b.second.first; });
  std::string text;
  double total = 0;
  for (const auto& [name, v] : rows) {
    char item[128];
    snprintf(item, sizeof item, "%s%s %.1f/s %.2f %%", text.empty() ? "" : ", ", name.c_str(),
             v.first / wall, 100.0 * v.second / wall);
    text += item;
    total += v.first;
  }
  BenchNote("%s, wake-ups per second by thread (%.0f in all) and %% of one core: %s", what, total / wall, text.c_str());
}
