// OBD answers built per second by the simulated module: a mixed set of requests over every
// service (current data, freeze frames, trouble codes, clearing, vehicle information) from eight
// ECUs, on CAN and K-line protocols, with headers off, spaced (ATH1) and in the handheld's ATOF1
// format. Only the building of the text is timed, not its sending. Reference: the answers per
// second a 19200-baud line could carry at the measured average answer length.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <vector>

#include "bench/bench_report.h"
#include "module/module.h"
#include "module/obd_answer.h"
#include "vehicle/vehicle.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Request {
  uint8_t service;
  uint8_t pid;
  uint8_t frame;
};

std::vector<Request> Mix() {
  std::vector<Request> mix;
  for (uint8_t pid : {0x00, 0x01, 0x05, 0x0C, 0x0D, 0x13, 0x1F, 0x20, 0x24, 0x40, 0x41, 0x4F, 0x60, 0x70})
    mix.push_back({0x01, pid, 0});
  for (uint8_t frame : {0, 1})
    for (uint8_t pid : {0x00, 0x02, 0x0C, 0x0D, 0x70}) mix.push_back({0x02, pid, frame});
  for (uint8_t type = 0; type <= 0x0B; ++type) mix.push_back({0x09, type, 0});
  for (uint8_t service : {0x03, 0x07, 0x0A, 0x04}) mix.push_back({service, 0, 0});  // clearing last
  return mix;
}

}  // namespace

int main(int argc, char** argv) {
  const int passes = argc > 1 ? atoi(argv[1]) : 2000;
  if (passes <= 0) return 1;

  const struct {
    uint8_t protocol;
    uint8_t ath1;
    uint8_t of1;
  } links[] = {{6, 0, 0}, {6, 1, 0}, {6, 0, 1}, {7, 0, 1}, {3, 0, 0}, {3, 1, 0}, {3, 0, 1}, {5, 0, 1}};
  const std::vector<Request> mix = Mix();

  emu_QimInitState();
  double seconds = 0;
  size_t answers = 0;
  size_t lines = 0;
  size_t chars = 0;
  static char out[EMU_OBD_ANSWER_BUF_SIZE];
  for (const auto& link : links) {
    emu_QimSetProtocol(link.protocol);
    ath1Enabled = link.ath1;
    atof1Enabled = link.of1;
    for (int pass = 0; pass < passes; ++pass) {
      // Clearing empties the code lists: every pass starts from the full vehicle.
      emu_VehicleInit();
      emu_VehicleSetNoOfEcus(8);
      const auto t0 = Clock::now();
      for (const Request& r : mix) {
        lines += emu_BuildObdAnswer(r.service, r.pid, r.frame, out);
        chars += strlen(out);
      }
      seconds += std::chrono::duration<double>(Clock::now() - t0).count();
      answers += mix.size();
    }
  }

  const double rate = static_cast<double>(answers) / seconds;
  const double avgChars = static_cast<double>(chars) / static_cast<double>(answers);
  const double lineRate = 19200.0 / 10.0 / avgChars;  // 10 bits a character
  BenchNote(
      "OBD answers built: %.0f answers/s, %.0f lines/s over %zu answers, 8 ECUs, %zu protocol/format "
      "pairs (average %.0f characters: %.0f x what a 19200-baud line carries; no target)",
      rate, static_cast<double>(lines) / seconds, answers, sizeof links / sizeof links[0], avgChars,
      rate / lineRate);
  return 0;
}
