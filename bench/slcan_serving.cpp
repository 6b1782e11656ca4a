// The serial CAN adapter serving a CAN tool on a pseudo-terminal: padix-headless started as
// "/dev/ptmx sim slcan serve" and this program as the tool. Times
//  - one 010C request frame to ECU 0's answer frame (median and p99),
//  - frames per second through the adapter (the tool's and the ECUs' together) with requests
//    written in batches, as a tool that keeps the bus busy does.
// Reference: a 500 kbit/s bus carries about 4,000 frames of 8 bytes a second.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/serial_client.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double TARGET_FRAMES_PER_S = 40000;
constexpr double TARGET_ANSWER_MS = 0.1;
constexpr double BUS_FRAMES_PER_S = 4000;  // 500 kbit/s, about 125 bits a frame
constexpr int BATCH = 64;                  // requests written at once
const std::string REQUEST = "t7DF802010C0000000000\r";
const std::string ANSWER = "t7E8804410C";

// Reads until `count` answer frames have come; false after the time-out.
bool ReadAnswers(int fd, int count, int timeoutMs) {
  std::string text;
  int seen = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t scanned = 0;
  while (seen < count) {
    char buf[8192];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<size_t>(n));
      for (size_t at; (at = text.find(ANSWER, scanned)) != std::string::npos;) {
        ++seen;
        scanned = at + ANSWER.size();
      }
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p = {fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string exe = argc > 1 ? argv[1] : "./padix-headless";
  const int requests = argc > 2 ? atoi(argv[2]) : 5000;
  signal(SIGPIPE, SIG_IGN);

  SimChild sim = SimStart(exe, "/dev/ptmx", {"sim", "slcan", "serve"}, "");
  if (sim.fd < 0) {
    BenchFailedRow("serial CAN serving", "no terminal to open");
    return 1;
  }
  const std::string open = "S6\rO\r";
  (void)!write(sim.fd, open.data(), open.size());
  if (!ReadAnswers(sim.fd, 0, 10000)) return 1;
  (void)!write(sim.fd, REQUEST.data(), REQUEST.size());
  if (!ReadAnswers(sim.fd, 1, 10000)) {
    BenchFailedRow("serial CAN, 010C request to answer frame", "010C not answered");
    SimStop(sim);
    return 1;
  }

  std::vector<double> ms;
  for (int i = 0; i < requests; ++i) {
    const auto t0 = Clock::now();
    (void)!write(sim.fd, REQUEST.data(), REQUEST.size());
    if (!ReadAnswers(sim.fd, 1, 1000)) {
      BenchFailedRow("serial CAN, 010C request to answer frame", "a request not answered");
      SimStop(sim);
      return 1;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }

  std::string batch;
  for (int i = 0; i < BATCH; ++i) batch += REQUEST;
  const int batches = requests / BATCH > 0 ? requests / BATCH : 1;
  const double cpu0 = ProcessCpuSeconds(sim.pid);
  const auto t0 = Clock::now();
  for (int i = 0; i < batches; ++i) {
    (void)!write(sim.fd, batch.data(), batch.size());
    if (!ReadAnswers(sim.fd, BATCH, 2000)) {
      BenchFailedRow("serial CAN, frames per second", "a batch not answered");
      SimStop(sim);
      return 1;
    }
  }
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu1 = ProcessCpuSeconds(sim.pid);
  SimStop(sim);

  const double frames = 2.0 * batches * BATCH;  // each request and its one answer
  const double perSecond = frames / wall;
  BenchRow("serial CAN, frames per second through the adapter", perSecond, 0, "/s", Better::Higher, TARGET_FRAMES_PER_S);
  BenchRow("serial CAN, 010C request to answer frame, median", Percentile(ms, 0.5), 3, "ms", Better::Lower,
           TARGET_ANSWER_MS);
  BenchNote("serial CAN: %.1f times what a 500 kbit/s bus carries (%.0f frames/s); 010C p99 %.3f ms over %d; "
            "CPU %.0f ms per 1,000 frames",
            perSecond / BUS_FRAMES_PER_S, BUS_FRAMES_PER_S, Percentile(ms, 0.99), requests,
            (cpu1 - cpu0) * 1e6 / frames);
  return 0;
}
