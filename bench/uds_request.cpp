// A diagnostic request through the ELM327 v1.5: padix-headless serving the example engine ECU
// with its diagnostic server (examples/vehicles/uds_ecu.toml) on a pseudo-terminal, this program
// the client asking "22 F40C" (the live engine speed as a data identifier) at the ECU's own
// address. Time from the request's last character written to the prompt read.
#include <signal.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "bench/bench_report.h"
#include "bench/serial_client.h"

namespace {

constexpr double TARGET_MEDIAN_MS = 0.1;

}  // namespace

int main(int argc, char** argv) {
  const std::string exe = argc > 1 ? argv[1] : "./padix-headless";
  const int requests = argc > 2 ? atoi(argv[2]) : 2000;
  signal(SIGPIPE, SIG_IGN);
  const char* row = "ELM327 v1.5, UDS 22 request to answer, median";
  SimChild sim = SimStart(exe, "/dev/ptmx",
                          {"sim", "elm", "serve", "vehicle=" PADIX_SOURCE_DIR "/examples/vehicles/uds_ecu.toml"}, "");
  if (sim.fd < 0) {
    BenchFailedRow(row, "no terminal to open");
    return 1;
  }
  std::string answer = SimAsk(sim.fd, "ATE0", 10000);
  SimAsk(sim.fd, "ATSP6");
  SimAsk(sim.fd, "ATSH7E0");
  for (int i = 0; i < 50; ++i) answer = SimAsk(sim.fd, "22F40C");
  if (answer.find("62 F4 0C") == std::string::npos) {
    BenchFailedRow(row, "22 F40C not answered with its data");
    SimStop(sim);
    return 1;
  }
  std::vector<double> ms;
  const bool all = SimTimeRequests(sim.fd, "22F40C", requests, &ms);
  SimStop(sim);
  if (!all) {
    BenchFailedRow(row, "a request not answered");
    return 1;
  }
  BenchRow(row, Percentile(ms, 0.5), 3, "ms", Better::Lower, TARGET_MEDIAN_MS);
  BenchNote("UDS 22 F40C through the ELM327 v1.5: p99 %.3f ms over %d requests", Percentile(ms, 0.99), requests);
  return 0;
}
