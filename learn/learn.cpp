// Learning a car through an ELM327-type adapter (learn.h): the dialogue, one step of requests
// after the other, each said on standard output as it ends. Headers stay on the whole time, so
// that every answer is taken to the ECU that sent it; the found protocol decides how its lines
// are read. Requests are sent functionally (every ECU hears them), one at a time, each waited for
// up to its prompt.
#include "learn/learn.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "bus/hex.h"
#include "bus/protocols.h"
#include "learn/learned_car.h"
#include "line/serial_port.h"
#include "vehicle/file_reader.h"
#include "vehicle/vehicle_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int RESET_WAIT_MS = 5000;
constexpr int SEARCH_WAIT_MS = 30000;  // a real adapter tries every protocol, K-line ones slowly
constexpr int ANSWER_WAIT_MS = 10000;
constexpr size_t MAX_ANSWER_TEXT = 64 * 1024;  // far more than a prompt's worth of lines
constexpr uint8_t RANGE_STEP = 0x20;
constexpr int MOVING_READINGS = 6;  // readings of a service 01 value seen changing, the first two included

// The adapter settings a list of extra requests may make: none changes how its answers are
// printed, nor the protocol.
constexpr const char* EXTRA_SETTINGS[] = {"ATST", "ATAT", "ATSH", "ATCRA", "ATAR", "ATCP"};

// Requests that change a car: clearing codes (04, 14), writing data (2E), routines (31), resets
// (11), security access (27).
constexpr uint8_t CHANGING_SERVICES[] = {0x04, 0x11, 0x14, 0x27, 0x2E, 0x31};

uint64_t emu_NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void emu_Progress(const std::string& line) {
  printf("learn: %s\n", line.c_str());
  fflush(stdout);
}

struct Session {
  EmuLearnedCar car;
  uint64_t startedMs = emu_NowMs();
  size_t requests = 0;  // OBD requests sent
  size_t answered = 0;  // of them, answered by at least one ECU

  // Sends one line and returns what came up to the prompt; false on a time-out.
  bool Ask(const std::string& line, int waitMs, std::string* text) {
    uint8_t junk[256];
    while (emu_ReadCOM(junk, sizeof junk) > 0) {
    }
    const std::string out = line + "\r";
    emu_WriteCOM(out.data(), out.size());
    text->clear();
    const uint64_t until = emu_NowMs() + static_cast<uint64_t>(waitMs);
    for (;;) {
      uint8_t buf[512];
      const int n = emu_ReadCOM(buf, sizeof buf);
      if (n > 0) {
        if (text->size() < MAX_ANSWER_TEXT) text->append(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
        if (memchr(buf, '>', static_cast<size_t>(n)) != nullptr) {
          text->resize(text->find('>'));
          return true;
        }
        continue;
      }
      const uint64_t now = emu_NowMs();
      if (now >= until) return false;
      (void)emu_WaitForCOMInputMidAnswer(static_cast<int>(until - now));
    }
  }

  // An OBD request, its answers taken to their ECUs; false on a time-out (said on standard
  // error). `user`: listed by the user, who may ask anything.
  bool Obd(const Bytes& request, bool user, size_t* ecusAnswering = nullptr) {
    if (!user && emu_LearnChangesCar(request[0])) return true;  // never asked on its own
    std::string text;
    const std::string hex = emu_HexText(request.data(), request.size());
    std::string compact;
    for (char c : hex)
      if (c != ' ') compact += c;
    if (!Ask(compact, ANSWER_WAIT_MS, &text)) {
      fprintf(stderr, "learn: no prompt from the adapter within %d ms after %s\n", ANSWER_WAIT_MS, hex.c_str());
      return false;
    }
    ++requests;
    const std::vector<EmuLearnMessage> messages = emu_LearnReadAnswer(text.data(), text.size(), car.bus);
    if (!messages.empty()) ++answered;
    car.Take(request, messages, false);
    if (request.size() == 2 && request[0] == 0x01 && request[1] % RANGE_STEP != 0) {
      const uint32_t ms = static_cast<uint32_t>(emu_NowMs() - startedMs);
      for (EmuLearnedEcu& e : car.ecus) {
        const auto* got = e.Answer(request);
        if (got == nullptr || got->empty() || (*got)[0].size() < 3 || (*got)[0][0] != 0x41) continue;
        e.samples[request[1]].push_back({ms, Bytes((*got)[0].begin() + 2, (*got)[0].end())});
      }
    }
    if (ecusAnswering != nullptr) {
      size_t n = 0;
      for (const EmuLearnedEcu& e : car.ecus) n += e.Answer(request) != nullptr ? 1 : 0;
      *ecusAnswering = n;
    }
    return true;
  }

  // The support maps of a service chained from 00 (20, 40, ... while a map ends in bit 0x01):
  // each ID any ECU supports, in order. Service 02 asks for frame 0.
  bool SupportedIds(uint8_t service, std::vector<uint8_t>* ids) {
    // After the service and the range: service 02's frame; off CAN, service 09's line number.
    const bool lineNumber = service == 0x09 && car.bus == EmuLearnBus::Serial;
    const size_t dataAt = service == 0x02 || lineNumber ? 3 : 2;
    for (unsigned range = 0; range <= 0xE0; range += RANGE_STEP) {
      Bytes request{service, static_cast<uint8_t>(range)};
      if (service == 0x02) request.push_back(0);
      if (!Obd(request, false)) return false;
      bool more = false;
      for (const EmuLearnedEcu& e : car.ecus) {
        const auto* got = e.Answer(request);
        if (got == nullptr) continue;
        for (const Bytes& m : *got) {
          if (m.size() < dataAt + 4 || m[0] != (0x40 | service) || m[1] != range) continue;
          for (unsigned bit = 0; bit < 32; ++bit) {
            const unsigned id = range + 1 + bit;
            if ((m[dataAt + bit / 8] & (0x80 >> (bit % 8))) == 0 || id % RANGE_STEP == 0) continue;
            if (std::find(ids->begin(), ids->end(), static_cast<uint8_t>(id)) == ids->end())
              ids->push_back(static_cast<uint8_t>(id));
          }
          more = more || (m[dataAt + 3] & 0x01) != 0;
        }
      }
      if (!more) break;
    }
    std::sort(ids->begin(), ids->end());
    return true;
  }

  bool Each(uint8_t service, const std::vector<uint8_t>& ids) {
    for (uint8_t id : ids) {
      Bytes request{service, id};
      if (service == 0x02) request.push_back(0);
      if (!Obd(request, false)) return false;
    }
    return true;
  }
};

bool emu_Setting(Session& s, const std::string& command) {
  std::string text;
  if (!s.Ask(command, RESET_WAIT_MS, &text)) {
    fprintf(stderr, "learn: the adapter gave no prompt within %d ms after %s\n", RESET_WAIT_MS, command.c_str());
    return false;
  }
  if (text.find('?') != std::string::npos) fprintf(stderr, "learn: the adapter did not take %s\n", command.c_str());
  return true;
}

bool emu_Setup(Session& s, const std::vector<EmuLearnExtra>& extra) {
  std::string text;
  emu_Progress("resetting the adapter (ATZ)");
  if (!s.Ask("ATZ", RESET_WAIT_MS, &text)) {
    fprintf(stderr, "learn: the adapter gave no prompt within %d ms after ATZ\n", RESET_WAIT_MS);
    return false;
  }
  // Echo off, line feeds off, spaces on, headers on (each answer's sender), automatic search.
  for (const char* command : {"ATE0", "ATL0", "ATS1", "ATH1", "ATSP0"}) {
    if (!s.Ask(command, RESET_WAIT_MS, &text)) {
      fprintf(stderr, "learn: the adapter gave no prompt within %d ms after %s\n", RESET_WAIT_MS, command);
      return false;
    }
  }
  for (const EmuLearnExtra& e : extra) {
    if (e.command.empty()) break;
    if (!emu_Setting(s, e.command)) return false;
  }
  if (s.Ask("ATRV", RESET_WAIT_MS, &text)) {
    float volts = 0;
    const size_t at = text.find_first_of("0123456789");
    if (at != std::string::npos && sscanf(text.c_str() + at, "%f", &volts) == 1 && volts > 0 && volts < 25.5f)
      s.car.batteryDeciVolts = static_cast<uint8_t>(volts * 10 + 0.5f);
  }
  emu_Progress("searching for the car (0100)");
  std::string search;
  if (!s.Ask("0100", SEARCH_WAIT_MS, &search)) {
    fprintf(stderr, "learn: no prompt from the adapter within %d ms of the search\n", SEARCH_WAIT_MS);
    return false;
  }
  if (!s.Ask("ATDPN", RESET_WAIT_MS, &text)) return false;
  std::string digits;
  for (char c : text)
    if (emu_HexDigit(c) >= 0) digits += c;
  // "A6" after a search: the last digit is the protocol.
  const int protocol = digits.empty() ? 0 : emu_HexDigit(digits.back());
  if (protocol < 1 || protocol > 9) {
    std::string said = search;
    for (char& c : said)
      if (c == '\r' || c == '\n') c = ' ';
    fprintf(stderr, "learn: the car does not answer (the adapter said: %s)\n", said.c_str());
    return false;
  }
  s.car.protocol = static_cast<uint8_t>(protocol);
  s.car.bus = emu_LearnBusOf(s.car.protocol);
  ++s.requests;
  ++s.answered;
  s.car.Take({0x01, 0x00}, emu_LearnReadAnswer(search.data(), search.size(), s.car.bus), true);
  if (s.car.ecus.empty()) {
    fprintf(stderr, "learn: the car answered 0100 with nothing readable\n");
    return false;
  }
  // A ninth ECU has no place in a vehicle: said, and left out.
  for (const EmuLearnMessage& m : emu_LearnReadAnswer(search.data(), search.size(), s.car.bus))
    if (s.car.Ecu(m.sender, false) == nullptr)
      fprintf(stderr, "learn: more than %u ECUs answer; the one at %02X is left out\n", EMU_MAX_ECUS, m.sender);
  std::string ecus;
  for (const EmuLearnedEcu& e : s.car.ecus) {
    const uint8_t sender = e.sender;
    ecus += " " + std::string(s.car.bus == EmuLearnBus::Can11 ? "7" : "") + emu_HexText(&sender, 1);
  }
  emu_Progress("protocol " + std::to_string(protocol) + " (" + emu_Protocol(s.car.protocol).elmName + "), " +
               std::to_string(s.car.ecus.size()) + " ECU" + (s.car.ecus.size() == 1 ? "" : "s") + ":" + ecus);
  return true;
}

// Reads every service in turn; false when the adapter stopped answering.
bool emu_ReadServices(Session& s, const std::vector<EmuLearnExtra>& extra) {
  std::vector<uint8_t> pids, freeze, tests, info;
  // Every value twice; those that changed a few times more, to be replayed as seen.
  if (!s.SupportedIds(0x01, &pids) || !s.Each(0x01, pids) || !s.Each(0x01, pids)) return false;
  std::vector<uint8_t> moving;
  for (uint8_t pid : pids)
    for (const EmuLearnedEcu& e : s.car.ecus)
      if (e.Moves(pid) && std::find(moving.begin(), moving.end(), pid) == moving.end()) moving.push_back(pid);
  for (int reading = 2; reading < MOVING_READINGS; ++reading)
    if (!s.Each(0x01, moving)) return false;
  emu_Progress("service 01: " + std::to_string(pids.size()) + " PIDs read, " + std::to_string(moving.size()) +
               " seen changing");
  if (!s.SupportedIds(0x02, &freeze) || !s.Each(0x02, freeze)) return false;
  emu_Progress("service 02: " + std::to_string(freeze.size()) + " freeze frame PIDs read");
  size_t confirmed = 0, pending = 0, permanent = 0;
  if (!s.Obd({0x03}, false, &confirmed) || !s.Obd({0x07}, false, &pending) || !s.Obd({0x0A}, false, &permanent))
    return false;
  emu_Progress("codes: confirmed (03), pending (07) and permanent (0A) read");
  if (!s.SupportedIds(0x06, &tests) || !s.Each(0x06, tests)) return false;
  emu_Progress("service 06: " + std::to_string(tests.size()) + " test IDs read");
  if (!s.SupportedIds(0x09, &info) || !s.Each(0x09, info)) return false;
  emu_Progress("service 09: " + std::to_string(info.size()) + " info types read");
  size_t sent = 0;
  bool before = true;  // the settings before the first request were made at the start
  for (const EmuLearnExtra& e : extra) {
    before = before && !e.command.empty();
    if (before) continue;
    if (!e.command.empty()) {
      if (!emu_Setting(s, e.command)) return false;
      continue;
    }
    if (!s.Obd(e.request, true)) return false;
    s.car.tableRequests.push_back(e.request);
    ++sent;
  }
  if (sent != 0) emu_Progress("extra requests: " + std::to_string(sent) + " sent");
  return true;
}

}  // namespace

bool emu_LearnChangesCar(uint8_t service) {
  for (uint8_t s : CHANGING_SERVICES)
    if (s == service) return true;
  return false;
}

int emu_LearnReadRequests(const char* path, std::vector<EmuLearnExtra>* out, std::string* error) {
  EmuFileText file;
  if (emu_ReadWholeFile(path, EMU_VEHICLE_FILE_KIND, &file) != 0) {
    *error = std::string(path) + ": cannot read the file: " + file.why;
    return -1;
  }
  std::istringstream in(file.bytes);
  std::string line;
  for (unsigned lineNo = 1; std::getline(in, line); ++lineNo) {
    line = line.substr(0, line.find('#'));
    std::string hex;
    for (char c : line)
      if (c != ' ' && c != '\t' && c != '\r') hex += c;
    if (hex.empty()) continue;
    const std::string at = std::to_string(lineNo) + ": ";
    if (out->size() >= EMU_LEARN_MAX_EXTRA) {
      *error = std::string(path) + ":" + at + "more than " + std::to_string(EMU_LEARN_MAX_EXTRA) + " lines";
      return -1;
    }
    for (char& c : hex) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (hex.compare(0, 2, "AT") == 0) {
      bool known = false;
      for (const char* setting : EXTRA_SETTINGS) {
        const size_t n = strlen(setting);
        known = known || (hex.compare(0, n, setting) == 0 && hex.size() <= n + 8 &&
                          hex.find_first_not_of("0123456789ABCDEF", n) == std::string::npos);
      }
      if (!known) {
        *error = std::string(path) + ":" + at +
                 "only the adapter's time-out and addressing are set here (ATST, ATAT, ATSH, ATCRA, ATAR, ATCP)";
        return -1;
      }
      out->push_back({hex, {}});
      continue;
    }
    uint8_t bytes[EMU_TABLE_MAX_REQUEST];
    const EmuHexRead read = emu_ReadHexBytes(hex.data(), hex.size(), {"", false}, bytes, sizeof bytes);
    if (read.error != EmuHexError::None || read.n == 0) {
      *error = std::string(path) + ":" + std::to_string(lineNo) + ": expected a request of 1 to " +
               std::to_string(EMU_TABLE_MAX_REQUEST) + " hex bytes";
      return -1;
    }
    out->push_back({"", Bytes(bytes, bytes + read.n)});
  }
  return 0;
}

int emu_LearnCar(const char* file, const char* requestsFile) {
  std::vector<EmuLearnExtra> extra;
  std::string error;
  if (requestsFile != nullptr && emu_LearnReadRequests(requestsFile, &extra, &error) != 0) {
    fprintf(stderr, "%s\n", error.c_str());
    return -1;
  }
  const uint64_t started = emu_NowMs();
  Session s;
  if (!emu_Setup(s, extra) || !emu_ReadServices(s, extra)) return -1;
  // The trace lies beside the file, named after it: car.toml, car.csv.
  std::string tracePath = file;
  const size_t slash = tracePath.rfind('/');
  const size_t dot = tracePath.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) tracePath.resize(dot);
  tracePath += ".csv";
  const std::string traceName = slash == std::string::npos ? tracePath : tracePath.substr(slash + 1);
  auto v = std::make_unique<EmuVehicle>();
  if (emu_LearnBuildVehicle(s.car, *v, traceName, &error) != 0) {
    fprintf(stderr, "learn: %s\n", error.c_str());
    return -1;
  }
  (void)emu_LearnPutAndCompare(s.car, *v);
  if (emu_LearnWriteTrace(*v, tracePath, &error) != 0 || emu_SaveVehicleFile(file, &error) != 0) {
    fprintf(stderr, "%s\n", error.c_str());
    return -1;
  }
  // The file as it loads, not the car in memory, is what must answer as the car did.
  if (emu_LoadVehicleFile(file, &error) != 0) {
    fprintf(stderr, "learn: the written file does not load: %s\n", error.c_str());
    return -1;
  }
  emu_VehicleLock();
  emu_VehicleAssign(*v, vehicle);
  emu_VehicleUnlock();
  const std::vector<std::string> differ = emu_LearnPutAndCompare(s.car, *v);
  printf("learned %zu ECU%s on protocol %u in %.1f s: %zu requests, %zu answered; written to %s\n",
         s.car.ecus.size(), s.car.ecus.size() == 1 ? "" : "s", s.car.protocol,
         static_cast<double>(emu_NowMs() - started) / 1000.0, s.requests, s.answered, file);
  if (v->trace.noOfPoints != 0)
    printf("values seen changing: %u readings written to %s\n", v->trace.noOfPoints, tracePath.c_str());
  if (!differ.empty()) {
    printf("%zu answer%s the file gives otherwise than the car did:", differ.size(), differ.size() == 1 ? "" : "s");
    constexpr size_t SHOWN = 20;  // the rest is counted
    for (size_t i = 0; i < differ.size() && i < SHOWN; ++i) printf(" %s;", differ[i].c_str());
    if (differ.size() > SHOWN) printf(" and %zu more", differ.size() - SHOWN);
    printf("\n");
  }
  fflush(stdout);
  return 0;
}
