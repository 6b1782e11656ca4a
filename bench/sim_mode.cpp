// Simulator mode over a pseudo-terminal: padix-headless started as "/dev/ptmx sim", its Bluetooth
// menu entered, and this program as the OBD client on the printed terminal; or over TCP
// ("tcp:0 sim serve", a port of the system's choice) with this program connected. Times request line to
// prompt for "010C" (after ATZ, ATE0 and warm-up requests), and reads the simulator process's CPU
// time while it answers and while it waits for a client.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_report.h"
#include "bench/serial_client.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WARM_UP = 20;
constexpr double TARGET_MEDIAN_MS = 0.25;
constexpr double TARGET_REQUESTS_PER_S = 3500;
constexpr double TARGET_TCP_REQUESTS_PER_S = 10000;  // every new line keeps this rate
constexpr double TARGET_IDLE_PERCENT = 0.05;
constexpr double REAL_ADAPTER_BAUD = 38400;  // 10 bits a character on the wire

std::string Ask(int fd, const char* line, int timeoutMs = 1000) { return SimAsk(fd, line, timeoutMs); }

}  // namespace

int main(int argc, char** argv) {
  const std::string exe = argc > 1 ? argv[1] : "./padix-headless";
  const int requests = argc > 2 ? atoi(argv[2]) : 1000;
  const int idleSeconds = argc > 3 ? atoi(argv[3]) : 10;
  const std::string device = argc > 4 ? argv[4] : "/dev/ptmx";
  const bool tcp = device.compare(0, 4, "tcp:") == 0;
  signal(SIGPIPE, SIG_IGN);

  // On a pseudo-terminal as a user sets it up: power-on waits four seconds in simulator mode,
  // then the Bluetooth menu is entered once the main menu is up. Over TCP, served from start.
  SimChild sim = tcp ? SimStart(exe, device, {"sim", "serve"}, "")
                     : SimStart(exe, device, {"sim"}, "wait 6500\nkey Down\nwait 500\nkey Return\n");
  if (sim.fd < 0) {
    BenchFailedRow("simulator mode", "no terminal to open");
    return 1;
  }
  const int fd = sim.fd;

  // The module serves the terminal once the firmware has been stopped after the menu change.
  bool serving = false;
  for (auto deadline = Clock::now() + std::chrono::seconds(30); !serving && Clock::now() < deadline;)
    serving = Ask(fd, "ATI", 500).find("QIM1") != std::string::npos;
  if (!serving) {
    BenchFailedRow("simulator mode", "the module never served the terminal");
    SimStop(sim);
    return 1;
  }
  if (!tcp) tcflush(fd, TCIFLUSH);
  Ask(fd, "ATZ");
  Ask(fd, "ATE0");
  std::string answer;
  for (int i = 0; i < WARM_UP; ++i) answer = Ask(fd, "010C");
  if (answer.compare(0, 2, "41") != 0 && answer.find("41 0C") == std::string::npos &&
      answer.find("410C") == std::string::npos) {
    BenchFailedRow("simulator mode", "010C not answered with its data");
    SimStop(sim);
    return 1;
  }

  std::vector<double> ms;
  const double cpu0 = ProcessCpuSeconds(sim.pid);
  const auto t0 = Clock::now();
  if (!SimTimeRequests(fd, "010C", requests, &ms)) {
    BenchFailedRow("simulator mode", "a request not answered");
    SimStop(sim);
    return 1;
  }
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu1 = ProcessCpuSeconds(sim.pid);
  const ThreadWindow threads = StartThreadWindow(sim.pid);
  const double idlePercent = idleSeconds > 0 ? MedianCpuPercent(sim.pid, idleSeconds) : -1;
  if (idleSeconds > 0) ThreadWakeUpNote("simulator mode idle, client attached", threads);
  SimStop(sim);

  const double median = Percentile(ms, 0.5);
  const double p99 = Percentile(ms, 0.99);
  const double perSecond = requests / wall;
  const double cpuPer1000 = (cpu1 - cpu0) * 1000.0 * 1000.0 / requests;
  // The same exchange on a real adapter's line: request and answer characters at 38400 baud.
  const double lineMs = (5.0 + static_cast<double>(answer.size())) * 10 * 1000.0 / REAL_ADAPTER_BAUD;
  if (tcp) {
    BenchRow("simulator mode over TCP, 010C to prompt, median", median, 3, "ms", Better::Lower,
             TARGET_MEDIAN_MS);
    BenchRow("simulator mode over TCP, requests per second", perSecond, 0, "/s", Better::Higher,
             TARGET_TCP_REQUESTS_PER_S);
    BenchNote("simulator mode over TCP: median %.3f ms, p99 %.3f ms over %d requests, CPU %.0f ms per "
              "1,000; a 38400-baud line needs %.2f ms for the exchange (%.0f x the median)",
              median, p99, requests, cpuPer1000, lineMs, lineMs / median);
    return 0;
  }
  BenchRow("simulator mode on a pseudo-terminal, 010C to prompt, median", median, 3, "ms",
           Better::Lower, TARGET_MEDIAN_MS);
  BenchRow("simulator mode, requests per second", perSecond, 0, "/s", Better::Higher,
           TARGET_REQUESTS_PER_S);
  if (idleSeconds > 0) {
    BenchRow("simulator mode, idle CPU with a client attached, % of one core", idlePercent, 2, "%",
             Better::Lower, TARGET_IDLE_PERCENT);
    const double tick = TickFloorPercent(2);
    BenchNote("simulator mode idle: %.2f %% = %.1f x what a bare loop of 10 ms sleeps costs on this "
              "machine now (%.2f %%; the device's tick alone)", idlePercent, idlePercent / tick, tick);
  }
  BenchNote("simulator mode: median %.3f ms, p99 %.3f ms over %d requests, CPU %.0f ms per 1,000; "
            "a 38400-baud line needs %.2f ms for the exchange (%.0f x the median); idle: median of %d "
            "one-second windows", median, p99, requests, cpuPer1000, lineMs, lineMs / median, idleSeconds);
  return 0;
}
