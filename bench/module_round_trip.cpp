// Module round trip in emulator mode: an AT command written by the firmware's driver until the
// receive parser delivers its response code, with the real module thread and byte channel.
// This program plays the firmware thread itself (no firmware main loop runs beside it): it
// performs the start-up handshake with the driver's own QIM_ResetInit, then times "ATE0" / "OK".
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <vector>

#include "bench/bench_report.h"
#include "firmware/link/qim.h"
#include "firmware/usart.h"
#include "controller/controller.h"
#include "module/module.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WARM_UP = 50;
constexpr double TARGET_MEDIAN_MS = 2.0;
// A real module at 19200 baud (10 bits a character) carries "ATE0", CR and "OK", CR, ">".
constexpr double LINE_MS = 9 * 10 * 1000.0 / 19200.0;

// What tarnic_main does before it resets the module: USART at 9600 baud, module held in reset.
void FirmwarePowerOn() {
  pthread_mutex_init(&qimMutex, nullptr);
  padixMode = EmuMode::Emulator;
  emu_QimInitState();
  emu_InitTarnicVars();
  PORTE = 0x13;
  USART_InitTxRxBuf();
  UBRR0 = 103;
  UCSR0B = 0x98;
  UCSR0C = 0x06;
  UCSR0A = 0x02;
}

// One command until its response code, as the firmware's main loop receives it: every byte to
// the parser, the idle wait while none is waiting.
uint8_t RoundTrip(uint8_t id) {
  QIM_SendATx(id);
  for (;;) {
    uint8_t c = USART_ReadChar();
    if (c == 255) {
      MCU_IdleWait();
      continue;
    }
    if (uint8_t code = QIM_ProcessRxData(c)) return code;
  }
}


}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? atoi(argv[1]) : 1000;
  if (requests <= 0) return 1;

  FirmwarePowerOn();
  if (pthread_create(&qimThread, nullptr, emu_QimThread, nullptr) != 0) return 1;
  if (QIM_ResetInit() != 1) {
    BenchFailedRow("module round trip", "module start-up failed");
    return 1;
  }

  std::vector<double> ms;
  ms.reserve(static_cast<size_t>(requests));
  for (int n = -WARM_UP; n < requests; ++n) {
    auto t0 = Clock::now();
    uint8_t code = RoundTrip(QIM_ATE0);
    double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    if (code != QIM_RESP_OK) {
      BenchFailedRow("module round trip", "a request not answered with OK");
      return 1;
    }
    if (n >= 0) ms.push_back(elapsed);
  }
  pthread_cancel(qimThread);
  pthread_join(qimThread, nullptr);

  const double median = Percentile(ms, 0.5);
  const double p99 = Percentile(ms, 0.99);
  BenchRow("module round trip, emulator mode, ATE0 to OK, median", median, 3, "ms", Better::Lower,
           TARGET_MEDIAN_MS);
  BenchNote("module round trip: median %.3f ms, p99 %.3f ms over %d requests = %.3f x / %.3f x the "
            "%.1f ms a 19200-baud line takes", median, p99, requests, median / LINE_MS, p99 / LINE_MS,
            LINE_MS);
  return 0;
}
