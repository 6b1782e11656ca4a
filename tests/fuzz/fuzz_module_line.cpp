// Fuzz target: the module's line interpreters. The first two bytes choose the personality, the
// protocol and the answer format; the rest are what the client sends. In the handheld's own
// personalities they are command lines (split at carriage returns, each cut to the module's 19
// characters) answered into the firmware's receive ring. In the ELM327 v1.5 personality they
// are the bytes of a serial line, read all at once or a line at a time (so that a request is
// either interrupted by what follows it or not), with the adapter's answers thrown away. The
// vehicle has request/answer table entries of the longest answers (and a 78 before one), a
// wildcard and a negative response. With bit 3 of the second byte set, the line misbehaves too:
// answers in pieces with noise before and inside them, half of the OBD answers replaced by the
// adapter's errors, and the client dropped every fifth line (no pauses: they would only wait).
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <utility>

#include "firmware/usart.h"
#include "controller/controller.h"
#include "elm327/elm327.h"
#include "module/module.h"
#include "vehicle/vehicle.h"

namespace {

// The client's bytes as the adapter's line: `end` moves on a line at a time when chunked.
struct FuzzLine {
  const uint8_t* data;
  size_t at, end, size;
};
FuzzLine fuzzLine;

int emu_FuzzRead(uint8_t* bytes, int max) {
  size_t n = fuzzLine.end - fuzzLine.at;
  if (n > static_cast<size_t>(max)) n = static_cast<size_t>(max);
  memcpy(bytes, fuzzLine.data + fuzzLine.at, n);
  fuzzLine.at += n;
  return static_cast<int>(n);
}
void emu_FuzzWrite(const char*, size_t) {}
// A wait for the client (the bus monitor, the baud rate handshake) lets it type its next line;
// once it has sent everything, waiting for it finds it gone, which ends a monitor nothing else
// would stop.
bool fuzzClientGone = false;
int emu_FuzzWait(int) {
  fuzzClientGone = fuzzLine.at == fuzzLine.size;
  if (fuzzLine.at == fuzzLine.end && fuzzLine.end < fuzzLine.size) {
    const void* cr = memchr(fuzzLine.data + fuzzLine.end, '\r', fuzzLine.size - fuzzLine.end);
    fuzzLine.end = cr != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(cr) - fuzzLine.data) + 1 : fuzzLine.size;
  }
  return fuzzLine.at < fuzzLine.end ? 1 : 0;
}
int emu_FuzzHangUp() { return std::exchange(fuzzClientGone, false) ? 1 : 0; }
int emu_FuzzSetBaud(uint32_t) { return 0; }
const EmuElmPort FUZZ_PORT = {emu_FuzzRead, emu_FuzzWrite, emu_FuzzWait, emu_FuzzHangUp, emu_FuzzSetBaud};

void emu_FuzzElm(const uint8_t* data, size_t size, bool lineAtATime) {
  emu_ElmInit();
  emu_ElmSetPort(&FUZZ_PORT);
  fuzzLine = {data, 0, 0, size};
  fuzzClientGone = false;
  while (fuzzLine.at < size) {
    fuzzLine.end = size;
    if (lineAtATime) {
      const void* cr = memchr(data + fuzzLine.at, '\r', size - fuzzLine.at);
      if (cr != nullptr) fuzzLine.end = static_cast<size_t>(static_cast<const uint8_t*>(cr) - data) + 1;
    }
    emu_ElmServeInput();
  }
}

void emu_FuzzTable() {
  static const uint8_t LONGEST[EMU_TABLE_MAX_MESSAGE] = {0x62, 0xF1, 0x90};
  const struct {
    uint8_t ecu, n, wildcard;
    uint8_t request[3];
    EmuTableAnswerBytes answer, then;
  } entries[] = {
      {0, 1, 1, {0x22}, {LONGEST, EMU_TABLE_MAX_MESSAGE, 0}, {nullptr, 0, 0}},
      {0, 2, 0, {0x10, 0x03}, {nullptr, 0, 0x78}, {LONGEST, EMU_TABLE_MAX_MESSAGE, 0}},
      {1, 2, 1, {0x19, 0x02}, {nullptr, 0, 0x31}, {nullptr, 0, 0}},
      {1, 1, 0, {0x3E}, {LONGEST, 2, 0}, {nullptr, 0, 0}},
  };
  for (const auto& x : entries) {
    EmuTableEntry e{};
    e.ecuIdx = x.ecu;
    e.requestLength = x.n;
    e.wildcard = x.wildcard;
    memcpy(e.request, x.request, x.n);
    const char* error = nullptr;
    if (!emu_TableAdd(vehicle, e, x.answer, x.then, &error)) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] { return pthread_mutex_init(&qimMutex, nullptr) == 0; }();
  if (!ready || size < 2) return 0;
  emu_QimInitState();
  emu_VehicleInit();
  emu_FuzzTable();
  tarnic_InitVars();
  UCSR0B = 0x98;  // the firmware's USART is on: answers go into its receive ring
  UBRR0 = 51;     // at 19200 baud, as after its start-up ("ATZ" waits for that)
  padixMode = EmuMode::Emulator;
  emu_QimSetDiagController(data[0] % 4);
  ath1Enabled = (data[0] >> 2) & 1;
  atof1Enabled = (data[0] >> 3) & 1;
  emu_VehicleSetProtocol(static_cast<uint8_t>((data[0] >> 4) % 10));
  emu_QimSetProtocol(data[1] % 10);
  if ((data[1] & 0x08) != 0) {
    emu_VehicleLock();
    EmuFaults& f = vehicle.faults;
    f.chunk = 3;
    f.garbageBefore = 2;
    f.garbageInside = 3;
    f.errorRate = 0.5;
    f.seed = data[0];
    f.dropAfter = 5;
    f.ecu[0].responsePendingMs = 10;
    emu_VehicleUnlock();
  }
  if (diagController == EMU_DIAG_ELM327_V15) {
    emu_VehicleSetNoOfEcus(static_cast<uint8_t>(1 + data[1] / 32));
    emu_FuzzElm(data + 2, size - 2, (data[1] & 0x10) != 0);
    return 0;
  }

  char line[EMU_QIM_LINE_MAX + 1];
  size_t n = 0;
  for (size_t i = 2; i <= size; ++i) {
    if (i == size || data[i] == '\r') {
      line[n] = '\0';
      emu_SendResponse(line);
      while (USART_ReadChar() != 255) {
      }
      n = 0;
    } else if (n < EMU_QIM_LINE_MAX) {
      line[n++] = static_cast<char>(data[i]);
    }
  }
  return 0;
}
