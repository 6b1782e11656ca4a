// Fuzz target: diagnostic requests to an ECU whose server has every feature on (every kind of
// DID, three security levels, routines; tests/simulator/uds_ecu.h), asked as every front asks
// (emu_VehicleAnswerRequest). The input is a run of requests, each a control byte (its low five
// bits: 0 to 31 request bytes; bit 5: asked at the functional address; bits 6-7: the clock moves
// on by 0, 1, 1000 or 6000 ms first) and the request's bytes. Whatever comes, an answer stays
// within its buffer, is the service's positive answer or 7F with the service and a code (a 78
// followed by the answer), and the ECU stays in a session it has. ECU 1 carries the same server
// and is asked the same requests off CAN (the K-line), where no answer line is over 7 bytes.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "tests/simulator/uds_ecu.h"
#include "vehicle/uds_server.h"
#include "vehicle/request_answer.h"
#include "vehicle/vehicle.h"

namespace {

uint64_t nowMs = 0;
uint64_t FuzzClock() { return nowMs; }

void emu_FuzzFail(const char* what) {
  fprintf(stderr, "uds: %s\n", what);
  abort();
}

void emu_FuzzCheckLine(const EmuEcuAnswer& a, uint8_t line, uint8_t sid, bool last) {
  const uint8_t at = a.LineStart(line), n = a.LineLength(line);
  if (n == 0) emu_FuzzFail("an empty line");
  if (a.data[at] == 0x7F) {
    if (n != 3 || a.data[at + 1] != sid || a.data[at + 2] == 0) emu_FuzzFail("a negative answer not 7F SID code");
    if (a.data[at + 2] == 0x78 && last) emu_FuzzFail("a pending answer with nothing after it");
    return;
  }
  if (a.data[at] != static_cast<uint8_t>(sid + 0x40)) emu_FuzzFail("a positive answer to another service");
}

void emu_FuzzCheck(const uint8_t* request, uint8_t n, const EmuEcuAnswer& a, uint8_t ecuIdx, bool can) {
  if (a.length > EMU_ANSWER_MAX_BYTES || a.noOfLines > EMU_ANSWER_MAX_LINES) emu_FuzzFail("an answer beyond its buffer");
  if (n == 0) return;
  for (uint8_t line = 0; line < a.noOfLines; ++line) {
    emu_FuzzCheckLine(a, line, request[0], line + 1 == a.noOfLines);
    if (!can && a.LineLength(line) > EMU_KLINE_LINE_BYTES) emu_FuzzFail("a K-line message over 7 bytes");
  }
  const EmuUdsStatus s = emu_UdsStatus(ecuIdx);
  if (s.session < EMU_UDS_SESSION_DEFAULT || s.session > EMU_UDS_SESSION_EXTENDED) emu_FuzzFail("a session the ECU has not");
  if (s.unlockedLevel > 3) emu_FuzzFail("a level the ECU has not");
}

constexpr uint64_t STEPS_MS[4] = {0, 1, 1000, 6000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  emu_VehicleInit();
  uds_test::PutEngineServer(0);
  uds_test::PutEngineServer(1);
  emu_udsClock = FuzzClock;
  nowMs = 1;
  size_t at = 0;
  while (at < size) {
    const uint8_t control = data[at++];
    uint8_t request[31];
    uint8_t n = 0;
    while (n < (control & 0x1F) && at < size) request[n++] = data[at++];
    nowMs += STEPS_MS[control >> 6];
    const EmuUdsAddressing addressing = (control & 0x20) != 0 ? EmuUdsAddressing::Functional : EmuUdsAddressing::Physical;
    for (uint8_t ecu = 0; ecu < 2; ++ecu) {
      const bool can = ecu == 0;
      EmuEcuAnswer answer;
      answer.Clear();
      if (emu_VehicleAnswerRequest(request, n, ecu, can, &answer, addressing) && answer.length == 0)
        emu_FuzzFail("an answer without bytes");
      emu_FuzzCheck(request, n, answer, ecu, can);
    }
  }
  return 0;
}
