// The ELM327 v1.5 personality serving an OBD program on a pseudo-terminal: padix-headless started
// as "/dev/ptmx sim elm serve" and this program as the client. Times
//  - start of the process to the first answer (serving from start; median over several starts),
//  - the connect sequence a typical client plays, from ATZ through the automatic search to the
//    last supported-PID range,
//  - requests per second of "010C" after ATE0, with the simulator's CPU time per 1,000.
// References: a real adapter's line at 38400 baud, and its protocol search (a CAN car is found
// after about 0.2 s on a real bus).
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

constexpr double TARGET_FIRST_ANSWER_S = 1.5;
constexpr double TARGET_CONNECT_MS = 50;
constexpr double TARGET_REQUESTS_PER_S = 10000;
constexpr double REAL_ADAPTER_BAUD = 38400;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The sequence most programs open with; false when an answer is missing or says no car answered.
bool Connect(int fd, size_t* characters) {
  *characters = 0;
  for (const char* setting : {"ATZ", "ATE0", "ATL0", "ATS0", "ATH0", "ATAT1", "ATSP0", "ATRV"}) {
    const std::string answer = SimAsk(fd, setting);
    if (answer.empty()) return false;
    *characters += answer.size();
  }
  std::string answer = SimAsk(fd, "0100");
  if (answer.find("4100") == std::string::npos) return false;
  *characters += answer.size() + SimAsk(fd, "ATDPN").size();
  // Supported PIDs, range by range, while the last one of the range says the next exists.
  for (int range = 0x20; range <= 0xE0; range += 0x20) {
    char request[8];
    snprintf(request, sizeof request, "01%02X", range);
    answer = SimAsk(fd, request);
    if (answer.empty()) return false;
    *characters += answer.size();
    const size_t line = answer.find("41");
    if (line == std::string::npos || line + 12 > answer.size()) break;
    const unsigned last = static_cast<unsigned>(strtoul(answer.substr(line + 10, 2).c_str(), nullptr, 16));
    if ((last & 0x01) == 0) break;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string exe = argc > 1 ? argv[1] : "./padix-headless";
  const int requests = argc > 2 ? atoi(argv[2]) : 5000;
  const int starts = argc > 3 ? atoi(argv[3]) : 5;
  const int connects = argc > 4 ? atoi(argv[4]) : 50;
  signal(SIGPIPE, SIG_IGN);

  // Start to first answer: the request waits on the line from the moment it can be opened.
  std::vector<double> firstAnswerS;
  SimChild sim;
  for (int i = 0; i < starts; ++i) {
    if (i > 0) SimStop(sim);
    sim = SimStart(exe, "/dev/ptmx", {"sim", "elm", "serve"}, "");
    if (sim.fd < 0) {
      BenchFailedRow("ELM327 v1.5 serving", "no terminal to open");
      return 1;
    }
    (void)!write(sim.fd, "ATI\r", 4);
    if (SimReadAnswer(sim.fd, 10000, "ELM327 v1.5").empty()) {
      BenchFailedRow("ELM327 v1.5, start to first answer", "never answered");
      SimStop(sim);
      return 1;
    }
    firstAnswerS.push_back(std::chrono::duration<double>(Clock::now() - sim.started).count());
  }

  std::vector<double> connectMs;
  size_t connectCharacters = 0;
  for (int i = 0; i < connects; ++i) {
    const auto t0 = Clock::now();
    if (!Connect(sim.fd, &connectCharacters)) {
      BenchFailedRow("ELM327 v1.5, connect sequence", "a step was not answered");
      SimStop(sim);
      return 1;
    }
    connectMs.push_back(Ms(Clock::now() - t0));
  }

  SimAsk(sim.fd, "ATE0");
  SimAsk(sim.fd, "ATS1");
  std::string answer;
  for (int i = 0; i < 50; ++i) answer = SimAsk(sim.fd, "010C");
  if (answer.find("41 0C") == std::string::npos) {
    BenchFailedRow("ELM327 v1.5, requests per second", "010C not answered with its data");
    SimStop(sim);
    return 1;
  }
  std::vector<double> ms;
  const double cpu0 = ProcessCpuSeconds(sim.pid);
  const auto t0 = Clock::now();
  if (!SimTimeRequests(sim.fd, "010C", requests, &ms)) {
    BenchFailedRow("ELM327 v1.5, requests per second", "a request not answered");
    SimStop(sim);
    return 1;
  }
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu1 = ProcessCpuSeconds(sim.pid);
  SimStop(sim);

  const double first = Percentile(firstAnswerS, 0.5);
  const double connect = Percentile(connectMs, 0.5);
  const double perSecond = requests / wall;
  BenchRow("ELM327 v1.5 serving from start, start to first answer, median", first, 2, "s",
           Better::Lower, TARGET_FIRST_ANSWER_S);
  BenchRow("ELM327 v1.5, connect sequence ATZ to last PID range, median", connect, 2, "ms",
           Better::Lower, TARGET_CONNECT_MS);
  BenchRow("ELM327 v1.5, requests per second", perSecond, 0, "/s", Better::Higher, TARGET_REQUESTS_PER_S);
  const double lineMs = static_cast<double>(connectCharacters) * 10 * 1000.0 / REAL_ADAPTER_BAUD;
  BenchNote("ELM327 v1.5: first answer after start %.2f-%.2f s over %d starts; connect sequence p99 "
            "%.2f ms over %d (%zu characters, %.0f ms on a 38400-baud line alone); 010C median %.3f ms, "
            "p99 %.3f ms, CPU %.0f ms per 1,000 requests",
            Percentile(firstAnswerS, 0), Percentile(firstAnswerS, 1), starts, Percentile(connectMs, 0.99),
            connects, connectCharacters, lineMs, Percentile(ms, 0.5), Percentile(ms, 0.99),
            (cpu1 - cpu0) * 1e6 / requests);
  return 0;
}
