// Vehicle files in TOML. The document's keys are the names users type:
//   ecus, protocol, jitter, battery, trace, trace_loop, ignition, resting_battery, [faults]
//   (vehicle_file_faults.h), events (timeline_file.h),
//   ecu.N.name, .address, .can_address, .lamp, .dtc.confirmed / .pending / .permanent, .negative_response, .vin,
//   .cal_ids, .cvns, .ipt, .monitors, .supported, .freeze_supported, .info_types, .o2_sensors,
//   .tests and .answers (vehicle_file_answers.h), .silent, .answer_delay, .response_pending,
//   .pid.XX (raw data bytes of any PID), and the named items (vehicle_items.h) as physical values,
//   constant or moving ({ from, to, wave = "ramp" | "sine" | "walk", period } in seconds).
// A trace is a CSV file of "time,ecu,item,value" rows (seconds, 1..8, a name or pid.XX, the value
// as in the vehicle file), replayed in a loop or once and then held.
#include "vehicle/vehicle_file.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include <toml++/toml.h>

#include "vehicle/file_reader.h"
#include "vehicle/timeline_file.h"
#include "vehicle/toml_guard.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file_answers.h"
#include "vehicle/vehicle_file_faults.h"
#include "vehicle/vehicle_items.h"

std::atomic<void (*)()> emu_vehicleSwappedNotice{nullptr};
std::atomic<void (*)()> emu_vehicleDropNotice{nullptr};

namespace {

constexpr uint8_t NEGATIVE_RESPONSES[] = {0, 10, 11, 12, 21, 22, 78};
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
        if (!Integer(node, 0, 9, &p)) return false;
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

  bool Integer(const toml::node& n, int64_t low, int64_t high, int64_t* out) {
    const auto value = n.value_exact<int64_t>();
    if (!value) return Fail(n, "expected a whole number from " + std::to_string(low) + " to " + std::to_string(high));
    if (*value < low || *value > high)
      return Fail(n, "value out of range: " + std::to_string(*value) + " (" + std::to_string(low) + " to " +
                         std::to_string(high) + ")");
    *out = *value;
    return true;
  }
  bool Number(const toml::node& n, double low, double high, double* out) {
    const auto value = n.value<double>();
    if (!value) return Fail(n, "expected a number");
    if (!(*value >= low && *value <= high)) return Fail(n, "value out of range: " + std::to_string(*value));
    *out = *value;
    return true;
  }
  bool Boolean(const toml::node& n, bool* out) {
    const auto value = n.value_exact<bool>();
    if (!value) return Fail(n, "expected true or false");
    *out = *value;
    return true;
  }

  // "1A F8", "1AF8": at most `max` bytes (exactly `exact` when not 0).
  bool HexBytes(const toml::node& n, size_t exact, size_t max, std::vector<uint8_t>* out) {
    if (!n.is_string()) return Fail(n, "expected hex bytes in quotes, such as \"1A F8\"");
    std::string digits;
    for (char c : n.as_string()->get()) {
      if (c == ' ') continue;
      if (!isxdigit(static_cast<unsigned char>(c))) return Fail(n, "not a hex byte: '" + std::string(1, c) + "'");
      digits += c;
    }
    if (digits.size() % 2 != 0) return Fail(n, "an odd number of hex digits");
    out->clear();
    for (size_t i = 0; i < digits.size(); i += 2) out->push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    if (exact != 0 && out->size() != exact) return Fail(n, "expected " + std::to_string(exact) + " bytes");
    if (out->size() > max || out->empty()) return Fail(n, "expected 1 to " + std::to_string(max) + " bytes");
    return true;
  }

  bool Text(const toml::node& n, size_t max, std::string* out) {
    if (!n.is_string()) return Fail(n, "expected a text in quotes");
    *out = n.as_string()->get();
    if (out->size() > max) return Fail(n, "longer than " + std::to_string(max) + " characters");
    return true;
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

  // Codes as a list (["P0301", "P0420"]), or as people type them after "set": one code, codes
  // separated by commas with or without spaces, brackets and quotes, and "" or "none" for none.
  bool Dtcs(const toml::node& node, uint16_t* list, std::atomic<uint8_t>* count) {
    const toml::array* codes = node.as_array();
    if (codes == nullptr && !node.is_string())
      return Fail(node, "expected codes such as \"P0301\" or [\"P0301\", \"P0420\"]");
    uint8_t n = 0;
    auto take = [&](const toml::node& item) {
      const std::string text = item.is_string() ? item.as_string()->get() : "";
      std::vector<std::string> texts = CodeTexts(text);
      // "" and "none" stand for no codes only as the whole value, not as one of a list.
      if (texts.empty() && codes != nullptr) texts.push_back(Trim(text, " \t"));
      for (const std::string& code : texts) {
        if (n == EMU_MAX_DTCS) return Fail(node, "more than 16 codes");
        if (!Dtc(code, item, &list[n])) return false;
        ++n;
      }
      return true;
    };
    if (codes == nullptr) {
      if (!take(node)) return false;
    } else {
      for (const toml::node& c : *codes)
        if (!take(c)) return false;
    }
    *count = n;
    return true;
  }

  // The codes in one text: brackets around it, and spaces and quotes around each code, dropped;
  // none in "" and "none" (either case).
  static std::vector<std::string> CodeTexts(const std::string& value) {
    std::string all = Trim(value, " \t");
    if (!all.empty() && all.front() == '[') all.erase(0, 1);
    if (!all.empty() && all.back() == ']') all.pop_back();
    all = Trim(all, " \t");
    std::string lower = all;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    std::vector<std::string> texts;
    if (lower.empty() || lower == "none") return texts;
    std::stringstream items(all);
    for (std::string item; std::getline(items, item, ',');) {
      item = Trim(item, " \t\"'");
      if (!item.empty()) texts.push_back(item);
    }
    if (texts.empty()) texts.push_back(all);  // commas alone: a bad code, not none
    return texts;
  }

  static std::string Trim(const std::string& text, const char* drop) {
    const size_t first = text.find_first_not_of(drop);
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(drop) - first + 1);
  }

  // P0123, C0123, B0123, U0123: the letter gives the top two bits, the first digit (0-3) two more.
  bool Dtc(const std::string& text, const toml::node& n, uint16_t* code) {
    static constexpr char LETTERS[] = "PCBU";
    const char* letter = text.size() == 5 ? strchr(LETTERS, toupper(static_cast<unsigned char>(text[0]))) : nullptr;
    bool digits = letter != nullptr && text[0] != '\0' && text[1] >= '0' && text[1] <= '3';
    for (size_t i = 2; digits && i < 5; ++i) digits = isxdigit(static_cast<unsigned char>(text[i])) != 0;
    if (!digits) return Fail(n, "bad code '" + text + "' (a letter P, C, B or U, a digit 0-3, three hex digits)");
    *code = static_cast<uint16_t>((letter - LETTERS) << 14 | std::stoul(text.substr(1), nullptr, 16));
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

  bool EcuValue(uint8_t idx, const toml::key& key, const toml::node& node) {
    EmuEcu& ecu = v_.ecu[idx];
    std::vector<uint8_t> bytes;
    std::string text;
    {
      const std::string k(key.str());
      if (k == "name") {
        if (!Text(node, EMU_ECU_NAME_BYTES, &text)) return false;
        emu_EcuNameFromText(text, ecu.ecuName, sizeof ecu.ecuName);
      } else if (k == "lamp") {
        bool on = false;
        if (!Boolean(node, &on)) return false;
        ecu.milState = on ? 1 : 0;
      } else if (k == "dtc") {
        if (!DtcLists(ecu, node)) return false;
      } else if (k == "negative_response") {
        int64_t code;
        if (!Integer(node, 0, 99, &code)) return false;
        if (std::find(std::begin(NEGATIVE_RESPONSES), std::end(NEGATIVE_RESPONSES), code) == std::end(NEGATIVE_RESPONSES))
          return Fail(node, "value out of range: " + std::to_string(code) + " (0, 10, 11, 12, 21, 22 or 78)");
        ecu.negRespCode = static_cast<uint8_t>(code);
      } else if (k == "vin") {
        if (!Text(node, EMU_VIN_BYTES - EMU_VIN_FILL, &text)) return false;
        if (text.size() != EMU_VIN_BYTES - EMU_VIN_FILL) return Fail(node, "a VIN has 17 characters");
        memcpy(ecu.vin + EMU_VIN_FILL, text.data(), text.size());
      } else if (k == "cal_ids") {
        if (!CalIds(ecu, node)) return false;
      } else if (k == "cvns") {
        if (!Cvns(ecu, node)) return false;
      } else if (k == "ipt") {
        if (!Ipt(ecu, node)) return false;
      } else if (k == "monitors") {
        if (!HexBytes(node, 3, 3, &bytes)) return false;
        memcpy(ecu.dataPid01 + 1, bytes.data(), 3);
      } else if (k == "supported") {
        if (!HexBytes(node, 0, EMU_SUP_PID_BYTES, &bytes)) return false;
        for (uint8_t i = 0; i < EMU_SUP_PID_BYTES; ++i) ecu.supPids[i] = i < bytes.size() ? bytes[i] : 0;
      } else if (k == "freeze_supported") {
        if (!HexBytes(node, 0, EMU_SUP_PID_BYTES, &bytes)) return false;
        for (uint8_t i = 0; i < EMU_SUP_PID_BYTES; ++i) ecu.supPidsSid02[i] = i < bytes.size() ? bytes[i] : 0;
      } else if (k == "info_types") {
        if (!HexBytes(node, 4, 4, &bytes)) return false;
        memcpy(ecu.supInfoTypes, bytes.data(), 4);
      } else if (k == "address" || k == "can_address") {
        if (!HexBytes(node, 1, 1, &bytes)) return false;
        if (bytes[0] == 0) return Fail(node, "address 00 belongs to no ECU");
        (k == "address" ? ecu.address : ecu.canAddress) = bytes[0];
        (k == "address" ? addressAt_ : canAddressAt_)[idx] = At(node);
      } else if (k == "o2_sensors") {
        if (!HexBytes(node, 1, 1, &bytes)) return false;
        ecu.dataPid13or1D = bytes[0];
      } else if (k == "pid") {
        if (!RawPids(idx, node)) return false;
      } else if (k == "tests" || k == "answers") {
        EmuFileFault fault;
        const bool read = k == "tests" ? emu_ReadTestResults(node, ecu, &fault) : emu_ReadAnswers(node, v_, idx, &fault);
        if (!read) return Fail(*fault.node, fault.what);
      } else if (emu_IsEcuFaultKey(k)) {
        EmuFileFault fault;
        if (!emu_ReadEcuFaultKey(k, node, v_.faults.ecu[idx], &fault)) return Fail(*fault.node, fault.what);
      } else if (const EmuVehicleItem* item = emu_FindVehicleItem(k.c_str())) {
        if (!Item(idx, *item, node)) return false;
      } else {
        return Fail(key, "unknown key '" + k + "'");
      }
    }
    return true;
  }

  bool DtcLists(EmuEcu& ecu, const toml::node& node) {
    const toml::table* lists = node.as_table();
    if (lists == nullptr) return Fail(node, "expected dtc.confirmed, dtc.pending or dtc.permanent");
    for (auto&& [key, list] : *lists) {
      const std::string k(key.str());
      if (k == "confirmed") {
        if (!Dtcs(list, ecu.confirmedDtc, &ecu.noOfDtcs)) return false;
      } else if (k == "pending") {
        if (!Dtcs(list, ecu.pendingDtc, &ecu.noOfPendingDtcs)) return false;
      } else if (k == "permanent") {
        if (!Dtcs(list, ecu.permanentDtc, &ecu.noOfPermanentDtcs)) return false;
      } else {
        return Fail(key, "unknown key 'dtc." + k + "'");
      }
    }
    // Codes set means they have not been cleared since; none at all, that they have.
    ecu.dtcsCleared = (ecu.noOfDtcs == 0 && ecu.noOfPendingDtcs == 0) ? 1 : 0;
    return true;
  }

  bool CalIds(EmuEcu& ecu, const toml::node& node) {
    const toml::array* ids = node.as_array();
    if (ids == nullptr || ids->size() > EMU_MAX_CAL_IDS) return Fail(node, "expected a list of up to 3 calibration IDs");
    memset(ecu.calId, 0, sizeof ecu.calId);
    ecu.noOfCalIds = 0;
    for (const toml::node& id : *ids) {
      std::string text;
      if (!Text(id, EMU_CAL_ID_CHARS, &text)) return false;
      memcpy(ecu.calId[ecu.noOfCalIds++], text.data(), text.size());
    }
    return true;
  }

  bool Cvns(EmuEcu& ecu, const toml::node& node) {
    const toml::array* cvns = node.as_array();
    if (cvns == nullptr || cvns->size() > EMU_MAX_CVNS) return Fail(node, "expected a list of up to 3 verification numbers");
    ecu.noOfCvns = 0;
    for (const toml::node& cvn : *cvns) {
      std::vector<uint8_t> bytes;
      if (!HexBytes(cvn, EMU_CVN_BYTES, EMU_CVN_BYTES, &bytes)) return false;
      memcpy(ecu.cvn[ecu.noOfCvns++], bytes.data(), EMU_CVN_BYTES);
    }
    return true;
  }

  bool Ipt(EmuEcu& ecu, const toml::node& node) {
    const toml::array* counters = node.as_array();
    if (counters == nullptr || counters->size() > EMU_MAX_IPT_COUNTERS)
      return Fail(node, "expected a list of up to 20 counters");
    ecu.noOfIptCounters = 0;
    for (const toml::node& c : *counters) {
      int64_t value;
      if (!Integer(c, 0, 65535, &value)) return false;
      ecu.iptCounter[ecu.noOfIptCounters++] = static_cast<uint16_t>(value);
    }
    return true;
  }

  // The bytes a PID's class sends, and where they are kept; 0 when raw values cannot be given.
  static uint8_t RawBytesOf(uint8_t pid) {
    switch (emu_GetPidClass(pid)) {
      case EmuPidClass::Generic1: return 1;
      case EmuPidClass::Generic2:
      case EmuPidClass::Banks: return 2;
      case EmuPidClass::Generic4:
      case EmuPidClass::Pid41:
      case EmuPidClass::Pid4F:
      case EmuPidClass::Pid50: return 4;
      case EmuPidClass::Pid13or1D: return 1;
      case EmuPidClass::Pid70: return EMU_PID70_BYTES;
      default: return 0;
    }
  }

  bool RawPids(uint8_t idx, const toml::node& node) {
    const toml::table* pids = node.as_table();
    if (pids == nullptr) return Fail(node, "expected pid.XX = \"hex bytes\"");
    for (auto&& [key, value] : *pids) {
      const std::string k(key.str());
      char* end = nullptr;
      const unsigned long pid = strtoul(k.c_str(), &end, 16);
      const uint8_t bytes = (k.size() == 2 && *end == '\0') ? RawBytesOf(static_cast<uint8_t>(pid)) : 0;
      if (bytes == 0) return Fail(key, "not a PID whose bytes can be given: '" + k + "'");
      std::vector<uint8_t> data;
      // A PID of banks sends one byte, or two with more than two banks.
      if (!HexBytes(value, emu_GetPidClass(static_cast<uint8_t>(pid)) == EmuPidClass::Banks ? 0 : bytes, bytes, &data))
        return false;
      SetRaw(idx, static_cast<uint8_t>(pid), data);
    }
    return true;
  }

  void SetRaw(uint8_t idx, uint8_t pid, const std::vector<uint8_t>& data) {
    EmuEcu& ecu = v_.ecu[idx];
    switch (emu_GetPidClass(pid)) {
      case EmuPidClass::Pid41: memcpy(ecu.dataPid41, data.data(), 4); break;
      case EmuPidClass::Pid4F: memcpy(ecu.dataPid4F, data.data(), 4); break;
      case EmuPidClass::Pid50: memcpy(ecu.dataPid50, data.data(), 4); break;
      case EmuPidClass::Pid13or1D: ecu.dataPid13or1D = data[0]; break;
      case EmuPidClass::Pid70: memcpy(ecu.dataPid70, data.data(), EMU_PID70_BYTES); break;
      default:
        memset(ecu.pidValue[pid], 0, 4);
        memcpy(ecu.pidValue[pid], data.data(), data.size());
        ecu.pidValueSet[pid >> 3] = static_cast<uint8_t>(ecu.pidValueSet[pid >> 3] | (1u << (pid & 7)));
        break;
    }
    MarkSupported(ecu, pid);
  }

  // A PID given a value is one the ECU supports, with the ranges that lead to it.
  static void MarkSupported(EmuEcu& ecu, uint8_t pid) {
    if (pid == 0) return;
    ecu.supPids[(pid - 1) / 8].fetch_or(static_cast<uint8_t>(0x80 >> ((pid - 1) % 8)));
    for (uint8_t range = 0x20; range < pid; range = static_cast<uint8_t>(range + 0x20)) {
      ecu.supPids[(range - 1) / 8].fetch_or(0x01);
    }
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
    SetRaw(idx, item.pid, data);
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
    MarkSupported(ecu, item.pid);
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
      MarkSupported(v_.ecu[p.ecuIdx], p.pid);
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
      const uint8_t bytes = replayed ? RawBytesOf(static_cast<uint8_t>(pid)) : 0;
      std::string digits;
      for (char c : fields[3]) if (c != ' ') digits += c;
      const size_t n = digits.size() / 2;
      bool hex = digits.size() % 2 == 0 && (n == bytes || (cls == EmuPidClass::Banks && n == 1));
      for (char c : digits) hex = hex && isxdigit(static_cast<unsigned char>(c));
      if (bytes == 0) return fail(2, "not a PID a trace can replay: '" + fields[2] + "'");
      if (!hex) return fail(3, "bad bytes '" + fields[3] + "' for " + fields[2]);
      p->pid = static_cast<uint8_t>(pid);
      p->bytes = static_cast<uint8_t>(digits.size() / 2);
      for (uint8_t i = 0; i < p->bytes; ++i) p->value[i] = static_cast<uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
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
  if (reader.protocol >= 0 || wholeFile) emu_VehicleSetProtocol(static_cast<uint8_t>(std::max(reader.protocol, 0)));
  if (void (*swapped)() = emu_vehicleSwappedNotice.load()) swapped();
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
