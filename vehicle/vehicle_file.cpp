// Vehicle files in TOML. The document's keys are the names users type:
//   ecus, protocol, jitter, battery, trace, trace_loop, ignition, resting_battery, [faults]
//   (vehicle_file_faults.h), events (timeline_file.h),
//   ecu.N. and an ECU's keys (vehicle_file_keys.h: name, address, lamp, dtc.confirmed, vin,
//   pid.XX, tests, answers ...), its faults (silent, answer_delay, response_pending), and the named
//   items (vehicle_items.h) as physical values, constant or moving ({ from, to, wave = "ramp" |
//   "sine" | "walk", period } in seconds).
// A trace is a CSV file of "time,ecu,item,value" rows (seconds, 1..8, a name or pid.XX, the value
// as in the vehicle file), replayed in a loop or once and then held.
#include "vehicle/vehicle_file.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <vector>

#include <toml++/toml.h>

#include "bus/hex.h"
#include "bus/protocols.h"
#include "vehicle/file_reader.h"
#include "vehicle/timeline_file.h"
#include "vehicle/toml_guard.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file_answers.h"
#include "vehicle/vehicle_file_faults.h"
#include "vehicle/vehicle_file_keys.h"
#include "vehicle/vehicle_items.h"

std::atomic<void (*)()> emu_vehicleSwappedNotice{nullptr};
std::atomic<void (*)()> emu_vehicleDropNotice{nullptr};

namespace {

constexpr double MAX_BATTERY_VOLTS = 25.5;

struct Where {
  const std::string* name;  // file, or "set NAME"
  uint32_t line, column;
};

// Applies one document to a vehicle; stops at the first error, which it writes out.
class VehicleReader {
 public:
  VehicleReader(EmuVehicle& v, std::string name, std::string* error, std::string dir)
      : v_(v), name_(std::move(name)), error_(error), dir_(std::move(dir)) {}

  bool Apply(const toml::table& root) {
    for (auto&& [key, node] : root) {
      const std::string k(key.str());
      if (k == "ecus") {
        int64_t n;
        if (!Integer(node, 1, EMU_MAX_ECUS, &n)) return false;
        v_.maxEcu = static_cast<uint8_t>(n);
      } else if (k == "protocol") {
        int64_t p;
        if (!Integer(node, EMU_PROTOCOL_AUTOMATIC, EMU_PROTOCOL_LAST, &p)) return false;
        protocol = static_cast<int>(p);
      } else if (k == "jitter") {
        bool on = false;
        if (!Boolean(node, &on)) return false;
        v_.dataJitterIsEnabled = on ? 1 : 0;
      } else if (k == "battery") {
        double volts;
        if (!Number(node, 0, MAX_BATTERY_VOLTS, &volts)) return false;
        v_.batteryDeciVolts = static_cast<uint8_t>(volts * 10 + 0.5);
      } else if (k == "trace") {
        if (!node.is_string()) return Fail(node, "expected the trace file's name in quotes");
        tracePath = node.as_string()->get();
        traceAt = At(node);
        if (tracePath.empty() || tracePath.size() >= sizeof v_.trace.path)
          return Fail(node, "expected the trace file's name");
        snprintf(v_.trace.path, sizeof v_.trace.path, "%s", tracePath.c_str());
      } else if (k == "trace_loop") {
        bool loop = true;
        if (!Boolean(node, &loop)) return false;
        v_.trace.loop = loop ? 1 : 0;
      } else if (k == "ecu") {
        if (!Ecus(node)) return false;
      } else if (emu_IsFaultKey(k)) {
        EmuFileFault fault;
        if (!emu_ReadFaultKey(k, node, v_.faults, &acts, &fault)) return Fail(*fault.node, fault.what);
      } else if (k == "events") {
        if (!takesEvents) return Fail(key, "events come with a whole file (load it)");
        EmuFileFault fault;
        if (!emu_ReadTimeline(node, &events, &fault)) return Fail(*fault.node, fault.what);
      } else {
        return Fail(key, "unknown key '" + k + "'");
      }
    }
    return AddressesApart() && (tracePath.empty() || Trace());
  }

  int protocol = -1;  // the protocol the car answers in, when the document names one
  std::string tracePath;
  EmuFaultActs acts;
  bool takesEvents = false;  // a whole file has a timeline; a set value none
  std::vector<EmuTimelineEvent> events;

 private:
  Where At(const toml::node& n) const { return {&name_, n.source().begin.line, n.source().begin.column}; }
  Where At(const toml::key& k) const { return {&name_, k.source().begin.line, k.source().begin.column}; }

  bool FailAt(const Where& w, const std::string& what) {
    *error_ = *w.name + ":" + std::to_string(w.line) + ":" + std::to_string(w.column) + ": " + what;
    return false;
  }
  bool Fail(const toml::node& n, const std::string& what) { return FailAt(At(n), what); }
  bool Fail(const toml::key& k, const std::string& what) { return FailAt(At(k), what); }

  bool Fail(const EmuFileFault& fault) {
    return fault.key != nullptr ? Fail(*fault.key, fault.what) : Fail(*fault.node, fault.what);
  }

  bool Integer(const toml::node& n, int64_t low, int64_t high, int64_t* out) {
    EmuFileFault fault;
    return emu_ReadWhole(n, low, high, out, &fault) || Fail(fault);
  }
  bool Number(const toml::node& n, double low, double high, double* out) {
    const auto value = n.value<double>();
    if (!value) return Fail(n, "expected a number");
    if (!(*value >= low && *value <= high)) return Fail(n, "value out of range: " + std::to_string(*value));
    *out = *value;
    return true;
  }
  bool Boolean(const toml::node& n, bool* out) {
    EmuFileFault fault;
    return emu_ReadFlag(n, out, &fault) || Fail(fault);
  }

  bool Ecus(const toml::node& node) {
    const toml::table* ecus = node.as_table();
    if (ecus == nullptr) return Fail(node, "expected [ecu.1] to [ecu.8]");
    for (auto&& [key, ecu] : *ecus) {
      const std::string k(key.str());
      char* end = nullptr;
      const long n = strtol(k.c_str(), &end, 10);
      if (k.empty() || *end != '\0' || n < 1) return Fail(key, "ECUs are numbered from 1: '" + k + "'");
      if (n > EMU_MAX_ECUS) return Fail(key, "too many ECUs: " + k + " (8 at most)");
      if (!ecu.is_table()) return Fail(ecu, "expected the values of ECU " + k);
      if (!Ecu(static_cast<uint8_t>(n - 1), *ecu.as_table())) return false;
    }
    return true;
  }

  // The support maps come first: a value given for a PID then marks that PID supported, wherever
  // the keys stand (a table's keys come in the order of their names).
  bool Ecu(uint8_t idx, const toml::table& t) {
    for (const bool maps : {true, false}) {
      for (auto&& [key, node] : t) {
        const bool map = key.str() == "supported" || key.str() == "freeze_supported";
        if (map == maps && !EcuValue(idx, key, node)) return false;
      }
    }
    return true;
  }

  // One key of the ECU (`group` before it: "dtc." inside dtc = { ... }).
  bool EcuValue(uint8_t idx, const toml::key& key, const toml::node& node, const std::string& group = "") {
    const std::string k = group + std::string(key.str());
    EmuFileFault fault;
    if (const EmuEcuKey* row = emu_FindEcuKey(k)) {
      if (!emu_ReadEcuKey(*row, node, v_, idx, &fault)) return Fail(fault);
      if (row->kind == EmuKeyKind::Address) (k == "address" ? addressAt_ : canAddressAt_)[idx] = At(node);
      return true;
    }
    if (emu_IsEcuKeyGroup(k)) {
      const toml::table* keys = node.as_table();
      if (keys == nullptr) return Fail(node, emu_EcuKeyGroupExpected(k));
      for (auto&& [subkey, value] : *keys)
        if (!EcuValue(idx, subkey, value, k + ".")) return false;
      return true;
    }
    if (group.empty() && emu_IsEcuFaultKey(k)) {
      if (!emu_ReadEcuFaultKey(k, node, v_.faults.ecu[idx], &fault)) return Fail(fault);
      return true;
    }
    if (const EmuVehicleItem* item = group.empty() ? emu_FindVehicleItem(k.c_str()) : nullptr)
      return Item(idx, *item, node);
    return Fail(key, "unknown key '" + k + "'");
  }

  bool Item(uint8_t idx, const EmuVehicleItem& item, const toml::node& node) {
    EmuEcu& ecu = v_.ecu[idx];
    if (const toml::table* wave = node.as_table()) return Motion(idx, item, *wave, node);
    double value;
    uint32_t raw;
    if (!Number(node, -1e12, 1e12, &value)) return false;
    if (!emu_ItemRaw(item, value, &raw)) return Fail(node, "value out of range for " + std::string(item.name));
    std::vector<uint8_t> data(item.bytes);
    for (uint8_t i = 0; i < item.bytes; ++i) data[i] = static_cast<uint8_t>(raw >> (8 * (item.bytes - 1 - i)));
    // A constant replaces a motion of the same item.
    for (uint8_t i = 0; i < ecu.noOfMotions; ++i) {
      if (ecu.motion[i].pid != item.pid) continue;
      ecu.motion[i] = ecu.motion[--ecu.noOfMotions];
      break;
    }
    emu_SetPidBytes(ecu, item.pid, data.data(), data.size());
    return true;
  }

  bool Motion(uint8_t idx, const EmuVehicleItem& item, const toml::table& t, const toml::node& node) {
    EmuMotion m{};
    m.pid = item.pid;
    m.bytes = item.bytes;
    m.wave = EmuWave::Sine;
    double from = 0, to = 0, period = 10;
    bool haveFrom = false, haveTo = false;
    for (auto&& [key, value] : t) {
      const std::string k(key.str());
      if (k == "from" || k == "to") {
        double physical;
        uint32_t raw;
        if (!Number(value, -1e12, 1e12, &physical)) return false;
        if (!emu_ItemRaw(item, physical, &raw)) return Fail(value, "value out of range for " + std::string(item.name));
        (k == "from" ? from : to) = physical;
        (k == "from" ? m.low : m.high) = raw;
        (k == "from" ? haveFrom : haveTo) = true;
      } else if (k == "period") {
        if (!Number(value, 0.001, 86400, &period)) return false;
      } else if (k == "wave") {
        const std::string w = value.is_string() ? value.as_string()->get() : "";
        if (w == "ramp") m.wave = EmuWave::Ramp;
        else if (w == "sine") m.wave = EmuWave::Sine;
        else if (w == "walk") m.wave = EmuWave::Walk;
        else return Fail(value, "a wave is \"ramp\", \"sine\" or \"walk\"");
      } else {
        return Fail(key, "unknown key '" + k + "' (from, to, wave, period)");
      }
    }
    if (!haveFrom || !haveTo) return Fail(node, "a moving value needs from and to");
    m.periodMs = static_cast<uint32_t>(period * 1000 + 0.5);
    m.walk = m.low;
    EmuEcu& ecu = v_.ecu[idx];
    uint8_t slot = 0;
    while (slot < ecu.noOfMotions && ecu.motion[slot].pid != item.pid) ++slot;
    if (slot == EMU_MAX_MOTIONS) return Fail(node, "more than 16 moving values in one ECU");
    ecu.motion[slot] = m;
    if (slot == ecu.noOfMotions) ++ecu.noOfMotions;
    emu_MarkPidSupported(ecu, item.pid);
    return true;
  }

  // The trace file: "time,ecu,item,value" rows, a heading row allowed.
  bool Trace() {
    const std::string path = tracePath[0] == '/' || dir_.empty() ? tracePath : dir_ + "/" + tracePath;
    EmuFileText file;
    // A trace that is not there (or not readable) is named alone; one refused for what it is says so.
    if (emu_ReadWholeFile(path.c_str(), EMU_TRACE_KIND, &file) != 0)
      return FailAt(traceAt, "cannot read the trace " + path + (file.refused ? ": " + file.why : ""));
    std::istringstream in(file.bytes);
    EmuTrace& trace = v_.trace;
    // Kept as a full path where it fits, so that a saved file finds the trace wherever it is saved.
    char full[PATH_MAX];
    if (realpath(path.c_str(), full) != nullptr && strlen(full) < sizeof trace.path)
      memcpy(trace.path, full, strlen(full) + 1);
    trace.noOfPoints = 0;
    trace.durationMs = 0;
    std::string line;
    for (uint32_t lineNo = 1; std::getline(in, line); ++lineNo) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#' || (lineNo == 1 && line.rfind("time", 0) == 0)) continue;
      EmuTracePoint p{};
      if (!TracePoint(path, lineNo, line, &p)) return false;
      if (trace.noOfPoints == EMU_MAX_TRACE_POINTS)
        return FailAt({&path, lineNo, 1}, "more than " + std::to_string(EMU_MAX_TRACE_POINTS) + " points");
      trace.points[trace.noOfPoints++] = p;
      trace.durationMs = std::max(trace.durationMs, p.timeMs);
    }
    std::stable_sort(trace.points, trace.points + trace.noOfPoints, [](const EmuTracePoint& a, const EmuTracePoint& b) {
      return a.ecuIdx != b.ecuIdx ? a.ecuIdx < b.ecuIdx : a.pid != b.pid ? a.pid < b.pid : a.timeMs < b.timeMs;
    });
    for (uint32_t i = 0; i < trace.noOfPoints; ++i) {
      const EmuTracePoint& p = trace.points[i];
      emu_MarkPidSupported(v_.ecu[p.ecuIdx], p.pid);
    }
    return true;
  }

  bool TracePoint(const std::string& path, uint32_t lineNo, const std::string& line, EmuTracePoint* p) {
    std::vector<std::string> fields;
    std::vector<uint32_t> columns;
    for (size_t at = 0;;) {
      const size_t comma = line.find(',', at);
      fields.push_back(line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
      columns.push_back(static_cast<uint32_t>(at + 1));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    auto fail = [&](size_t field, const std::string& what) {
      return FailAt({&path, lineNo, columns[std::min(field, columns.size() - 1)]}, what);
    };
    if (fields.size() != 4) return fail(0, "expected time,ecu,item,value");
    char* end = nullptr;
    const double seconds = strtod(fields[0].c_str(), &end);
    if (fields[0].empty() || *end != '\0' || !(seconds >= 0 && seconds < 4e6)) return fail(0, "bad time '" + fields[0] + "'");
    const long ecu = strtol(fields[1].c_str(), &end, 10);
    if (fields[1].empty() || *end != '\0' || ecu < 1 || ecu > EMU_MAX_ECUS) return fail(1, "bad ECU '" + fields[1] + "' (1 to 8)");
    p->timeMs = static_cast<uint32_t>(seconds * 1000 + 0.5);
    p->ecuIdx = static_cast<uint8_t>(ecu - 1);
    if (const EmuVehicleItem* item = emu_FindVehicleItem(fields[2].c_str())) {
      const double value = strtod(fields[3].c_str(), &end);
      uint32_t raw;
      if (fields[3].empty() || *end != '\0' || !emu_ItemRaw(*item, value, &raw))
        return fail(3, "bad value '" + fields[3] + "' for " + item->name);
      p->pid = item->pid;
      p->bytes = item->bytes;
      for (uint8_t i = 0; i < item->bytes; ++i) p->value[i] = static_cast<uint8_t>(raw >> (8 * (item->bytes - 1 - i)));
      return true;
    }
    if (fields[2].size() == 6 && fields[2].rfind("pid.", 0) == 0) {
      const unsigned long pid = strtoul(fields[2].c_str() + 4, &end, 16);
      // Replayed are the PIDs whose values a trace can move, with all their bytes (bank PIDs: one
      // or two), as in the vehicle file.
      const EmuPidClass cls = *end == '\0' ? emu_GetPidClass(static_cast<uint8_t>(pid)) : EmuPidClass::None;
      const bool replayed = cls == EmuPidClass::Generic1 || cls == EmuPidClass::Generic2 ||
                            cls == EmuPidClass::Generic4 || cls == EmuPidClass::Banks;
      const uint8_t bytes = replayed ? emu_PidRawBytes(static_cast<uint8_t>(pid)) : 0;
      uint8_t value[sizeof p->value];
      const EmuHexRead read = emu_ReadHexBytes(fields[3].data(), fields[3].size(), {" ", true}, value, sizeof value);
      const bool hex = read.error == EmuHexError::None && (read.n == bytes || (cls == EmuPidClass::Banks && read.n == 1));
      if (bytes == 0) return fail(2, "not a PID a trace can replay: '" + fields[2] + "'");
      if (!hex) return fail(3, "bad bytes '" + fields[3] + "' for " + fields[2]);
      p->pid = static_cast<uint8_t>(pid);
      p->bytes = static_cast<uint8_t>(read.n);
      memcpy(p->value, value, read.n);
      return true;
    }
    return fail(2, "unknown item '" + fields[2] + "'");
  }

  // Two ECUs with one address could not be told apart.
  bool AddressesApart() {
    for (const bool can : {false, true}) {
      const Where* at = can ? canAddressAt_ : addressAt_;
      for (uint8_t j = 1; j < EMU_MAX_ECUS; ++j) {
        for (uint8_t i = 0; i < j; ++i) {
          const EmuEcu &a = v_.ecu[i], &b = v_.ecu[j];
          if ((can ? a.canAddress : a.address) != (can ? b.canAddress : b.address)) continue;
          const Where& w = at[j].name != nullptr ? at[j] : at[i];
          return FailAt(w.name != nullptr ? w : Where{&name_, 1, 1}, "ECUs " + std::to_string(i + 1) + " and " +
                                                                         std::to_string(j + 1) + " have the same address");
        }
      }
    }
    return true;
  }

  Where addressAt_[EMU_MAX_ECUS] = {};
  Where canAddressAt_[EMU_MAX_ECUS] = {};
  EmuVehicle& v_;
  std::string name_;
  std::string* error_;
  std::string dir_;
  Where traceAt{nullptr, 0, 0};
};

uint64_t emu_NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u;
}

// The swap into the running vehicle, under its lock, and the document's protocol (set apart: it
// is none of the car's tables). A whole file gives the car its protocol (the default, any, when
// it names none); a set value only when it is the protocol. The testers hear of it after.
void emu_CommitVehicle(const EmuVehicle& scratch, const VehicleReader& reader, bool wholeFile) {
  emu_VehicleLock();
  emu_VehicleAssign(vehicle, scratch);
  if (!reader.tracePath.empty()) vehicle.trace.startedMs = emu_NowMs();
  emu_VehicleUnlock();
  if (wholeFile) emu_UdsReset();  // a car put in anew: its servers start over
  if (reader.protocol >= 0 || wholeFile) emu_VehicleSetProtocol(static_cast<uint8_t>(std::max(reader.protocol, 0)));
  if (void (*swapped)() = emu_vehicleSwappedNotice.load()) swapped();
  if (reader.acts.loseFrame) emu_CarArmCanCue(EmuCanCue::LostFrame);
  if (reader.acts.errorFrame) emu_CarArmCanCue(EmuCanCue::ErrorFrame);
  if (void (*drop)() = emu_vehicleDropNotice.load(); drop != nullptr && reader.acts.dropNow) drop();
}

std::string emu_DirOf(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? std::string() : std::string(path, static_cast<size_t>(slash - path));
}

}  // namespace

int emu_LoadVehicleFile(const char* path, std::string* error) {
  toml::table root;
  EmuFileText file;
  if (emu_ReadWholeFile(path, EMU_VEHICLE_FILE_KIND, &file) != 0) {
    *error = std::string(path) + ": cannot read the file: " + file.why;
    return -1;
  }
  std::string& text = file.bytes;
  std::string misread;
  if (!emu_GuardToml(&text, &misread)) {
    *error = std::string(path) + ":" + misread;
    return -1;
  }
  try {
    root = toml::parse(text, std::string_view(path));
  } catch (const toml::parse_error& e) {
    *error = std::string(path) + ":" + std::to_string(e.source().begin.line) + ":" +
             std::to_string(e.source().begin.column) + ": " + std::string(e.description());
    return -1;
  }
  auto scratch = std::make_unique<EmuVehicle>();
  emu_VehicleSetDefaults(*scratch);
  VehicleReader reader(*scratch, path, error, emu_DirOf(path));
  reader.takesEvents = true;
  if (!reader.Apply(root)) return -1;
  // The file's timeline (or none) comes with its car: no event of the old one falls in between.
  EmuTimelineHold hold;
  emu_CommitVehicle(*scratch, reader, true);
  emu_TimelineSetValueSetter(emu_SetVehicleValue);
  emu_TimelineReplace(std::move(reader.events));
  return 0;
}

int emu_SetVehicleValue(const char* name, const char* value, std::string* error) {
  // The value as it would stand in the file; otherwise texts separated by commas.
  std::string text = value;
  std::string probe = "v = " + text, misread;
  bool asInFile = emu_GuardToml(&probe, &misread);
  if (asInFile) {
    try {
      (void)toml::parse(probe);
    } catch (const toml::parse_error&) {
      asInFile = false;
    }
  }
  if (!asInFile) {
    std::string list;
    std::stringstream items(text);
    // Each text kept as typed, its quotes and backslashes included.
    auto quoted = [](const std::string& item) {
      std::string q = "\"";
      for (char c : item) q += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
      return q + "\"";
    };
    for (std::string item; std::getline(items, item, ',');) list += (list.empty() ? "" : ", ") + quoted(item);
    text = text.find(',') != std::string::npos ? "[" + list + "]" : quoted(text);
  }
  std::string document = std::string(name) + " = " + text;
  toml::table root;
  const std::string label = std::string("set ") + name;
  if (!emu_GuardToml(&document, &misread)) {
    *error = label + ": " + misread.substr(misread.find(": ") + 2);
    return -1;
  }
  try {
    root = toml::parse(document);
  } catch (const toml::parse_error& e) {
    *error = label + ": " + std::string(e.description());
    return -1;
  }
  auto scratch = std::make_unique<EmuVehicle>();
  EmuTimelineHold hold;  // no event between the copy of the car and its return
  emu_VehicleLock();
  emu_VehicleAssign(*scratch, vehicle);
  emu_VehicleUnlock();
  std::string where;
  VehicleReader reader(*scratch, "set", &where, "");
  if (!reader.Apply(root)) {
    // "set:1:COLUMN: what": the column is of no use to a command.
    const size_t what = where.find(": ");
    *error = label + ": " + (what == std::string::npos ? where : where.substr(what + 2));
    return -1;
  }
  emu_CommitVehicle(*scratch, reader, false);
  return 0;
}
