// The learned car turned into a vehicle (learned_car.h). Each OBD service is read back into the
// tables the vehicle builds that service's answers from, inverting its framing: on CAN one
// message per answer (count bytes in front of lists), on J1850 and the K-line one line per
// message (three codes a line, four bytes of information a line, with the line's number).
#include "learn/learned_car.h"

#include <string.h>

#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "bus/hex.h"
#include "bus/negative_codes.h"
#include "vehicle/request_answer.h"
#include "vehicle/vehicle_file_keys.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Messages = std::vector<Bytes>;

constexpr uint8_t RANGE_STEP = 0x20;

// Messages that start with these bytes (the positive answer's service and item), past them.
Messages emu_Payloads(const Messages* got, std::initializer_list<uint8_t> head) {
  Messages out;
  if (got == nullptr) return out;
  for (const Bytes& m : *got) {
    if (m.size() < head.size() || !std::equal(head.begin(), head.end(), m.begin())) continue;
    out.emplace_back(m.begin() + static_cast<long>(head.size()), m.end());
  }
  return out;
}

uint16_t emu_Word(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

// Trouble codes of 03, 07 or 0A: on CAN a count and the codes; elsewhere three a line, 0000 in
// the empty places.
uint8_t emu_ReadCodes(const Messages& payloads, bool can, uint16_t* list) {
  uint8_t n = 0;
  for (const Bytes& p : payloads) {
    size_t at = can ? 1 : 0;
    if (can && p.empty()) continue;
    for (; at + 1 < p.size() && n < EMU_MAX_DTCS; at += 2) {
      const uint16_t code = emu_Word(p, at);
      if (can || code != 0) list[n++] = code;
    }
  }
  return n;
}

// Service 09 items of `size` bytes: on CAN after the count; elsewhere four bytes a line after the
// line's number. Returns the bytes read into `out` (at most max).
size_t emu_ReadInfoBytes(const Messages& payloads, bool can, uint8_t* out, size_t max) {
  size_t n = 0;
  for (const Bytes& p : payloads) {
    for (size_t at = 1; at < p.size() && n < max; ++at) out[n++] = p[at];
    if (can) break;
  }
  return n;
}

// A service 06 answer back into results. CAN: 46 MID, then TID UASID value min max per result.
// Elsewhere: 46 TID CID value limit, the limit the maximum when bit 7 of CID is set; the minimum of
// the same result follows its maximum.
void emu_ReadTests(const Messages& payloads, uint8_t id, bool can, EmuEcuData& e) {
  constexpr size_t CAN_RESULT_BYTES = 8;
  for (const Bytes& p : payloads) {
    if (can) {
      for (size_t at = 0; at + CAN_RESULT_BYTES <= p.size() && e.noOfTestResults < EMU_MAX_TEST_RESULTS;
           at += CAN_RESULT_BYTES) {
        e.testResult[e.noOfTestResults++] = {id, p[at], p[at + 1], emu_Word(p, at + 2), emu_Word(p, at + 4),
                                             emu_Word(p, at + 6)};
      }
      continue;
    }
    if (p.size() < 5) continue;
    const uint8_t mid = p[0] & 0x7F;
    const bool maximum = (p[0] & 0x80) != 0;
    const uint16_t value = emu_Word(p, 1), limit = emu_Word(p, 3);
    EmuTestResult* last = e.noOfTestResults > 0 ? &e.testResult[e.noOfTestResults - 1] : nullptr;
    if (!maximum && last != nullptr && last->mid == mid && last->tid == id && last->value == value) {
      last->min = limit;
    } else if (e.noOfTestResults < EMU_MAX_TEST_RESULTS) {
      e.testResult[e.noOfTestResults++] = {mid, id, 0, value, maximum ? uint16_t{0} : limit,
                                           maximum ? limit : uint16_t{0}};
    }
  }
}

// The ECU's answer to a request in the table: a response pending (7F xx 78) and what followed, a
// refusal, or the data (J1850 and K-line lines of one answer are one message cut).
bool emu_AddTableEntry(EmuVehicle& v, uint8_t ecuIdx, const Bytes& request, const Messages& got, bool can,
                       std::string* error) {
  if (got.empty() || request.empty() || request.size() > EMU_TABLE_MAX_REQUEST) return true;
  EmuTableEntry e{};
  e.ecuIdx = ecuIdx;
  e.requestLength = static_cast<uint8_t>(request.size());
  memcpy(e.request, request.data(), request.size());
  auto negative = [](const Bytes& m) { return m.size() == 3 && m[0] == EMU_NEGATIVE_RESPONSE; };
  EmuTableAnswerBytes answer{nullptr, 0, 0}, then{nullptr, 0, 0};
  Bytes joined;
  if (negative(got[0]) && got[0][2] == EMU_RESPONSE_PENDING && got.size() > 1) {
    answer.negative = EMU_RESPONSE_PENDING;
    joined = got.back();
  } else if (negative(got[0])) {
    answer.negative = got[0][2];
  } else {
    for (const Bytes& m : got) {
      joined.insert(joined.end(), m.begin(), m.end());
      if (can) break;
    }
  }
  if (joined.size() > EMU_TABLE_MAX_MESSAGE) {
    *error = "the answer to " + emu_HexText(request.data(), request.size()) + " has " + std::to_string(joined.size()) +
             " bytes, more than " + std::to_string(EMU_TABLE_MAX_MESSAGE);
    return false;
  }
  EmuTableAnswerBytes& bytes = answer.negative == EMU_RESPONSE_PENDING ? then : answer;
  if (!joined.empty()) bytes = {joined.data(), static_cast<uint8_t>(joined.size()), 0};
  const char* full = nullptr;
  if (!emu_TableAdd(v, e, answer, then, &full)) {
    *error = full;
    return false;
  }
  return true;
}

// Nothing of the built-in ECU stays that the car did not show.
void emu_ClearEcu(EmuEcu& e) {
  for (auto& b : e.supPids) b = 0;
  memset(e.supPidsSid02, 0, sizeof e.supPidsSid02);
  memset(e.pidValueSet, 0, sizeof e.pidValueSet);
  memset(e.supInfoTypes, 0, sizeof e.supInfoTypes);
  memset(e.vin, 0, sizeof e.vin);
  memset(e.ecuName, 0, sizeof e.ecuName);
  e.noOfCalIds = e.noOfCvns = e.noOfIptCounters = e.noOfMotions = e.noOfTestResults = 0;
  e.milState = 0;
  e.noOfDtcs = e.noOfPendingDtcs = e.noOfPermanentDtcs = 0;
  e.dtcsCleared = 0;
  e.negRespCode = 0;
}

bool emu_Replayable(EmuPidClass cls) {
  return cls == EmuPidClass::Generic1 || cls == EmuPidClass::Generic2 || cls == EmuPidClass::Generic4 ||
         cls == EmuPidClass::Banks;
}

EmuTracePoint emu_Point(uint32_t ms, uint8_t ecuIdx, uint8_t pid, const Bytes& value) {
  EmuTracePoint p{};
  p.timeMs = ms;
  p.ecuIdx = ecuIdx;
  p.pid = pid;
  p.bytes = static_cast<uint8_t>(std::min(value.size(), sizeof p.value));
  memcpy(p.value, value.data(), p.bytes);
  return p;
}

// Services 01 and 02: support maps, then values. The vehicle keeps one value a PID, which the
// freeze frame (service 02) shows as it is; service 01 shows a trace instead where it differs.
void emu_BuildPids(const EmuLearnedEcu& l, EmuEcu& e, uint8_t ecuIdx, bool can, uint32_t traceStart,
                   std::vector<Bytes>* forTable, std::vector<EmuTracePoint>* trace) {
  uint8_t maps[2][EMU_SUP_PID_BYTES] = {};
  std::set<uint8_t> frozen;
  for (uint8_t service : {uint8_t{0x02}, uint8_t{0x01}}) {
    for (unsigned pid = 0; pid <= 0xFF; ++pid) {
      const Bytes request = service == 0x01 ? Bytes{0x01, static_cast<uint8_t>(pid)}
                                            : Bytes{0x02, static_cast<uint8_t>(pid), 0x00};
      const Messages* got = l.Answer(request);
      if (got == nullptr) continue;
      const Messages data = emu_Payloads(got, service == 0x01 ? std::initializer_list<uint8_t>{0x41, uint8_t(pid)}
                                                              : std::initializer_list<uint8_t>{0x42, uint8_t(pid), 0});
      if (data.empty()) {
        if (service == 0x01) forTable->push_back(request);
        continue;
      }
      const Bytes& d = data[0];
      const uint8_t p = static_cast<uint8_t>(pid);
      const EmuPidClass cls = emu_GetPidClass(p);
      if (pid % RANGE_STEP == 0 && cls == EmuPidClass::SupportMap) {
        if (d.size() == 4) memcpy(&maps[service - 1][pid / 8], d.data(), 4);
        continue;
      }
      if (cls == EmuPidClass::Pid02) continue;  // made from the codes
      if (cls == EmuPidClass::Pid01) {
        if (d.size() != 4) continue;
        e.milState = d[0] >> 7;
        e.noOfDtcs = std::min<uint8_t>(d[0] & 0x7F, EMU_MAX_DTCS);
        memcpy(e.dataPid01 + 1, d.data() + 1, 3);
        continue;
      }
      Bytes joined = d;
      if (cls == EmuPidClass::Pid70 && !can)
        for (size_t i = 1; i < data.size(); ++i) joined.insert(joined.end(), data[i].begin(), data[i].end());
      const uint8_t bytes = emu_PidRawBytes(p);
      const bool fits = bytes != 0 && (joined.size() == bytes || (cls == EmuPidClass::Banks && joined.size() == 1));
      if (!fits) {
        if (service == 0x01) forTable->push_back(request);
        continue;
      }
      if (service == 0x02) {
        // A value of its own makes a PID one of service 01 too: a freeze frame PID the ECU does
        // not read live keeps the value its class shares.
        if (l.Answer({0x01, p}) == nullptr) continue;
        emu_SetPidBytes(e, p, joined.data(), joined.size());
        frozen.insert(p);
        continue;
      }
      const auto samples = l.samples.find(p);
      if (emu_Replayable(cls) && l.Moves(p)) {
        for (const auto& [ms, value] : samples->second) trace->push_back(emu_Point(ms - traceStart, ecuIdx, p, value));
        if (frozen.count(p) == 0) emu_SetPidBytes(e, p, samples->second[0].second.data(), samples->second[0].second.size());
      } else if (frozen.count(p) != 0 && memcmp(e.pidValue[p], joined.data(), std::min<size_t>(joined.size(), 4)) != 0 &&
                 emu_Replayable(cls)) {
        trace->push_back(emu_Point(0, ecuIdx, p, joined));
      } else if (frozen.count(p) == 0) {
        emu_SetPidBytes(e, p, joined.data(), joined.size());
      }
    }
  }
  for (uint8_t i = 0; i < EMU_SUP_PID_BYTES; ++i) e.supPids[i] = maps[0][i];
  memcpy(e.supPidsSid02, maps[1], sizeof e.supPidsSid02);
}

void emu_BuildCodes(const EmuLearnedEcu& l, EmuEcu& e, bool can) {
  const Messages* confirmed = l.Answer({0x03});
  if (confirmed != nullptr) e.noOfDtcs = emu_ReadCodes(emu_Payloads(confirmed, {0x43}), can, e.confirmedDtc);
  e.noOfPendingDtcs = emu_ReadCodes(emu_Payloads(l.Answer({0x07}), {0x47}), can, e.pendingDtc);
  e.noOfPermanentDtcs = emu_ReadCodes(emu_Payloads(l.Answer({0x0A}), {0x4A}), can, e.permanentDtc);
}

void emu_BuildTests(const EmuLearnedEcu& l, EmuEcu& e, bool can) {
  for (unsigned id = 1; id <= 0xFF; ++id) {
    if (id % RANGE_STEP == 0) continue;
    emu_ReadTests(emu_Payloads(l.Answer({0x06, static_cast<uint8_t>(id)}), {0x46, static_cast<uint8_t>(id)}),
                  static_cast<uint8_t>(id), can, e);
  }
}

void emu_BuildInfo(const EmuLearnedEcu& l, EmuEcu& e, bool can, std::vector<Bytes>* forTable) {
  auto payloads = [&](uint8_t type) { return emu_Payloads(l.Answer({0x09, type}), {0x49, type}); };
  const Messages map = payloads(0x00);
  if (!map.empty()) {
    const Bytes& m = map[0];
    const size_t at = can ? 0 : 1;
    if (m.size() >= at + 4) memcpy(e.supInfoTypes, m.data() + at, 4);
  }
  uint8_t vin[EMU_VIN_BYTES] = {};
  if (can) {
    e.vin[0] = e.vin[1] = e.vin[2] = 0;
    (void)emu_ReadInfoBytes(payloads(0x02), true, e.vin + EMU_VIN_FILL, EMU_VIN_BYTES - EMU_VIN_FILL);
  } else if (emu_ReadInfoBytes(payloads(0x02), false, vin, sizeof vin) > 0) {
    memcpy(e.vin, vin, sizeof vin);
  }
  uint8_t cal[EMU_MAX_CAL_IDS * EMU_CAL_ID_CHARS] = {};
  e.noOfCalIds = static_cast<uint8_t>(emu_ReadInfoBytes(payloads(0x04), can, cal, sizeof cal) / EMU_CAL_ID_CHARS);
  memcpy(e.calId, cal, sizeof cal);
  const Messages* cvnAnswer = l.Answer({0x09, 0x06});
  if (cvnAnswer != nullptr && !cvnAnswer->empty() && (*cvnAnswer)[0].size() == 3 &&
      (*cvnAnswer)[0][0] == EMU_NEGATIVE_RESPONSE) {
    e.negRespCode = emu_NegativeCodeDigits((*cvnAnswer)[0][2]);
  } else {
    uint8_t cvn[EMU_MAX_CVNS * EMU_CVN_BYTES] = {};
    e.noOfCvns = static_cast<uint8_t>(emu_ReadInfoBytes(payloads(0x06), can, cvn, sizeof cvn) / EMU_CVN_BYTES);
    memcpy(e.cvn, cvn, sizeof cvn);
  }
  for (uint8_t type : {uint8_t{0x08}, uint8_t{0x0B}}) {
    const Messages ipt = payloads(type);
    if (ipt.empty()) continue;
    uint8_t raw[2 * EMU_MAX_IPT_COUNTERS] = {};
    size_t bytes = emu_ReadInfoBytes(ipt, can, raw, sizeof raw);
    if (can) bytes = std::min<size_t>(bytes, 2u * ipt[0][0]);
    const Messages count = payloads(0x07);  // off CAN: the counters a line of two leaves open
    if (!can && !count.empty() && !count[0].empty()) bytes = std::min<size_t>(bytes, 2u * count[0][0]);
    e.noOfIptCounters = static_cast<uint8_t>(bytes / 2);
    for (uint8_t i = 0; i < e.noOfIptCounters; ++i) e.iptCounter[i] = static_cast<uint16_t>(raw[2 * i] << 8 | raw[2 * i + 1]);
    break;
  }
  (void)emu_ReadInfoBytes(payloads(0x0A), can, e.ecuName, EMU_ECU_NAME_BYTES);
  for (const auto& [request, got] : l.answers)
    if (request.size() == 2 && request[0] == 0x09 && !emu_RequestIsKnown(0x09, request[1])) forTable->push_back(request);
}

// The learned ECUs keep the addresses they answered from; every other address of the car (the
// ECUs not learned, and the kind of address the protocol does not use) moves out of their way to
// a free one, as a vehicle file's ECUs must all differ.
void emu_SpreadAddresses(EmuVehicle& v, size_t learned, EmuLearnBus bus) {
  for (const bool can : {false, true}) {
    const bool kindLearned = can == (bus == EmuLearnBus::Can11);
    bool used[256] = {};
    used[0] = true;  // no address
    for (size_t i = 0; i < learned && kindLearned; ++i) used[can ? v.ecu[i].canAddress : v.ecu[i].address] = true;
    for (size_t j = 0; j < EMU_MAX_ECUS; ++j) {
      if (kindLearned && j < learned) continue;
      std::atomic<uint8_t>& a = can ? v.ecu[j].canAddress : v.ecu[j].address;
      for (unsigned step = 0; used[a.load()] && step < 256; ++step) a = static_cast<uint8_t>(a + 1);
      used[a.load()] = true;
    }
  }
}

}  // namespace

bool EmuLearnedEcu::Moves(uint8_t pid) const {
  const auto it = samples.find(pid);
  if (it == samples.end()) return false;
  for (const auto& sample : it->second)
    if (sample.second != it->second[0].second) return true;
  return false;
}

const Messages* EmuLearnedEcu::Answer(const Bytes& request) const {
  const auto it = answers.find(request);
  return it == answers.end() ? nullptr : &it->second;
}

EmuLearnedEcu* EmuLearnedCar::Ecu(uint8_t sender, bool addIfNew) {
  for (EmuLearnedEcu& e : ecus)
    if (e.sender == sender) return &e;
  if (!addIfNew || ecus.size() >= EMU_MAX_ECUS) return nullptr;
  ecus.push_back({});
  ecus.back().sender = sender;
  return &ecus.back();
}

void EmuLearnedCar::Take(const Bytes& request, const std::vector<EmuLearnMessage>& messages, bool addEcus) {
  for (EmuLearnedEcu& e : ecus) e.answers.erase(request);  // a request asked again: its last answer counts
  for (const EmuLearnMessage& m : messages)
    if (EmuLearnedEcu* e = Ecu(m.sender, addEcus)) e->answers[request].push_back(m.bytes);
}

int emu_LearnBuildVehicle(const EmuLearnedCar& car, EmuVehicle& v, const std::string& tracePath, std::string* error) {
  emu_VehicleSetDefaults(v);
  // The trace starts at the first reading of a value that moves.
  uint32_t traceStart = UINT32_MAX;
  for (const EmuLearnedEcu& l : car.ecus)
    for (const auto& [pid, samples] : l.samples)
      if (l.Moves(pid)) traceStart = std::min(traceStart, samples[0].first);
  std::vector<EmuTracePoint> trace;
  const bool can = car.bus != EmuLearnBus::Serial;
  v.maxEcu = static_cast<uint8_t>(std::max<size_t>(1, car.ecus.size()));
  if (car.batteryDeciVolts != 0) v.batteryDeciVolts = car.batteryDeciVolts;
  for (uint8_t i = 0; i < car.ecus.size(); ++i) {
    const EmuLearnedEcu& l = car.ecus[i];
    EmuEcu& e = v.ecu[i];
    emu_ClearEcu(e);
    if (car.bus == EmuLearnBus::Can11) {
      e.canAddress = l.sender;
    } else {
      e.address = l.sender;
    }
    std::vector<Bytes> forTable;
    emu_BuildPids(l, e, i, can, traceStart == UINT32_MAX ? 0 : traceStart, &forTable, &trace);
    emu_BuildCodes(l, e, can);
    emu_BuildTests(l, e, can);
    emu_BuildInfo(l, e, can, &forTable);
    for (const Bytes& r : car.tableRequests) forTable.push_back(r);
    for (const Bytes& r : forTable) {
      const Messages* got = l.Answer(r);
      if (got != nullptr && !emu_AddTableEntry(v, i, r, *got, can, error)) return -1;
    }
  }
  emu_SpreadAddresses(v, car.ecus.size(), car.bus);
  if (trace.size() > EMU_MAX_TRACE_POINTS) {
    *error = "more than " + std::to_string(EMU_MAX_TRACE_POINTS) + " values seen moving";
    return -1;
  }
  if (!trace.empty()) {
    std::stable_sort(trace.begin(), trace.end(), [](const EmuTracePoint& a, const EmuTracePoint& b) {
      return a.ecuIdx != b.ecuIdx ? a.ecuIdx < b.ecuIdx : a.pid != b.pid ? a.pid < b.pid : a.timeMs < b.timeMs;
    });
    if (tracePath.empty() || tracePath.size() >= sizeof v.trace.path) {
      *error = "no place for the trace of the values seen moving";
      return -1;
    }
    std::copy(trace.begin(), trace.end(), v.trace.points);
    v.trace.noOfPoints = static_cast<uint32_t>(trace.size());
    v.trace.loop = 1;
    v.trace.durationMs = 0;
    for (const EmuTracePoint& p : trace) v.trace.durationMs = std::max(v.trace.durationMs, p.timeMs);
    snprintf(v.trace.path, sizeof v.trace.path, "%s", tracePath.c_str());
  }
  return 0;
}

int emu_LearnWriteTrace(const EmuVehicle& v, const std::string& path, std::string* error) {
  if (v.trace.noOfPoints == 0) return 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "time,ecu,item,value\n# Values seen changing while the car was learned, replayed in a loop.\n";
  for (uint32_t i = 0; i < v.trace.noOfPoints; ++i) {
    const EmuTracePoint& p = v.trace.points[i];
    char time[32];
    snprintf(time, sizeof time, "%.3f", p.timeMs / 1000.0);
    out << time << "," << (p.ecuIdx + 1) << ",pid." << emu_HexText(&p.pid, 1) << "," << emu_HexText(p.value, p.bytes)
        << "\n";
  }
  out.close();
  if (!out) {
    *error = "cannot write " + path;
    return -1;
  }
  return 0;
}

std::vector<std::string> emu_LearnPutAndCompare(const EmuLearnedCar& car, const EmuVehicle& v) {
  std::vector<std::string> differ;
  emu_VehicleSetProtocol(car.protocol);
  emu_VehicleLock();
  emu_VehicleAssign(vehicle, v);
  emu_VehicleUnlock();
  const bool can = car.bus != EmuLearnBus::Serial;
  for (uint8_t i = 0; i < car.ecus.size(); ++i) {
    const EmuLearnedEcu& l = car.ecus[i];
    for (const auto& [request, got] : l.answers) {
      if (request.size() > EMU_TABLE_MAX_REQUEST || (request.size() == 2 && request[0] == 0x01 && l.Moves(request[1])))
        continue;
      EmuEcuAnswer answer;
      answer.Clear();
      Bytes mine, theirs;
      if (emu_VehicleAnswerRequest(request.data(), static_cast<uint8_t>(request.size()), i, can, &answer))
        mine.assign(answer.data, answer.data + answer.length);
      for (const Bytes& m : got) theirs.insert(theirs.end(), m.begin(), m.end());
      if (mine != theirs) {
        const uint8_t sender = l.sender;
        differ.push_back(emu_HexText(request.data(), request.size()) + " from " +
                         (car.bus == EmuLearnBus::Can11 ? "7" : "") + emu_HexText(&sender, 1));
      }
    }
  }
  return differ;
}
