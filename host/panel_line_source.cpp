// What the test bench panel shows of the line: what is served, the client, the protocol found,
// the traffic. Everything is read from atomics or under short locks of the line's own; called on
// the window's thread only, so the rates' last sample needs no lock.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "bus/protocols.h"
#include "controller/controller.h"
#include "elm327/elm327.h"
#include "host/panel_sources.h"
#include "line/serial_port.h"
#include "line/traffic_log.h"
#include "module/module_port.h"
#include "vehicle/capture_import.h"
#include "vehicle/vehicle.h"

namespace {

const char* const MODE_NAMES[] = {"Emulator (handheld and its module)", "OBD software (handheld on the line)",
                                  "Simulator (serving the line)"};
const char* const PERSONALITY_NAMES[] = {"Handheld module", "ELM327 v1.1", "ELM327 v1.3a", "ELM327 v1.5"};
constexpr double RATE_SPAN_S = 1.0;  // the rates are counted over about this long

double emu_PanelNowS() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct RateSample {
  double at = -1;
  uint64_t tester = 0, module = 0;
  double requests = 0, answers = 0;
};
RateSample rates;

void emu_PanelRates(EmuPanelLineStatus* out) {
  const double now = emu_PanelNowS();
  uint64_t tester = 0, module = 0;
  emu_TrafficSenderCounts(&tester, &module);
  if (rates.at < 0) {
    rates = RateSample{now, tester, module, 0, 0};
  } else if (now - rates.at >= RATE_SPAN_S) {
    const double span = now - rates.at;
    rates = RateSample{now, tester, module, static_cast<double>(tester - rates.tester) / span,
                       static_cast<double>(module - rates.module) / span};
  }
  out->requestsPerSecond = rates.requests;
  out->answersPerSecond = rates.answers;
}

// The protocol the side that answers the client is on: the ELM327 v1.5 its own (0 none yet),
// the handheld's module what it was set to or found (0 automatic, not yet connected), the
// serial CAN adapter the car's.
void emu_PanelProtocol(EmuPanelLineStatus* out) {
  uint8_t p = 0;
  if (serialCanServed.load() != 0)
    p = vehicleProtocol.load();
  else if (diagController.load() == EMU_DIAG_ELM327_V15)
    p = emu_ElmConnectedProtocol();
  else
    p = atpProtocol.load();
  snprintf(out->protocol, sizeof out->protocol, "%s", p != 0 ? emu_Protocol(p).menuName : "");
  out->searching = emu_ElmSearching();
}

void emu_PanelLineStatus(EmuPanelLineStatus* out) {
  *out = EmuPanelLineStatus{};
  const auto mode = static_cast<size_t>(emu_GetPadixMode());
  snprintf(out->mode, sizeof out->mode, "%s", mode < 3 ? MODE_NAMES[mode] : "?");
  const uint8_t personality = diagController.load();
  snprintf(out->personality, sizeof out->personality, "%s",
           serialCanServed.load() != 0 ? "Serial CAN"
           : personality < 4           ? PERSONALITY_NAMES[personality]
                                       : "?");
  const char* kind = nullptr;
  const char* where = nullptr;
  if (emu_COMClientPlace(&kind, &where)) {
    snprintf(out->served, sizeof out->served, "%s %s", strcmp(kind, "tcp") == 0 ? "TCP" : "terminal", where);
    out->client = emu_LineClient(&out->clientSeconds, out->clientFrom, sizeof out->clientFrom) ? 1 : 0;
  } else {
    snprintf(out->served, sizeof out->served, "%s", emu_IsCOMOpen() != 0 ? "a serial device" : "");
    out->client = -1;
  }
  emu_PanelProtocol(out);
  emu_PanelRates(out);
}

// The import reads a file: the text goes through one of its own, gone again at once.
int emu_PanelImportText(const char* text, char* message, size_t size) {
  const char* dir = getenv("TMPDIR");
  std::string path = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/padix-import-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) {
    snprintf(message, size, "cannot make a file for the import in %s", path.c_str());
    return -1;
  }
  const size_t length = strlen(text);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = write(fd, text + done, length - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  std::string report;
  const int taken = done == length ? emu_ImportCapture(path.c_str(), &report) : -1;
  unlink(path.c_str());
  if (done != length) report = "cannot write the file for the import";
  snprintf(message, size, "%s", report.c_str());
  return taken;
}

}  // namespace

const EmuPanelLineSource PANEL_LINE_SOURCE{
    .status = emu_PanelLineStatus,
    .keepTraffic = emu_KeepTrafficInMemory,
    .trafficCount = emu_TrafficEntryCount,
    .trafficEntry = emu_TrafficEntry,
    .importText = emu_PanelImportText,
};
