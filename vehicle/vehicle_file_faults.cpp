// Faults on cue in vehicle files: the [faults] table, the car's ignition and resting battery,
// and the faults of one ECU.
#include "vehicle/vehicle_file_faults.h"

#include <string.h>

#include <atomic>
#include <charconv>
#include <sstream>

namespace {

constexpr double MAX_RESTING_VOLTS = 25.5;

// Each seed given gets a stamp of its own, so that the draws restart even from the same seed.
std::atomic<uint32_t> seedStamps{0};

bool emu_Fail(EmuFileFault* fault, const toml::node& node, const std::string& what) {
  fault->node = &node;
  fault->what = what;
  return false;
}

bool emu_Whole(const toml::node& node, int64_t high, int64_t* out, EmuFileFault* fault) {
  const auto value = node.value_exact<int64_t>();
  if (!value) return emu_Fail(fault, node, "expected a whole number from 0 to " + std::to_string(high));
  if (*value < 0 || *value > high)
    return emu_Fail(fault, node, "value out of range: " + std::to_string(*value) + " (0 to " + std::to_string(high) + ")");
  *out = *value;
  return true;
}

bool emu_Bool(const toml::node& node, bool* out, EmuFileFault* fault) {
  const auto value = node.value_exact<bool>();
  if (!value) return emu_Fail(fault, node, "expected true or false");
  *out = *value;
  return true;
}

bool emu_Share(const toml::node& node, double* out, EmuFileFault* fault) {
  const auto value = node.value<double>();
  if (!value) return emu_Fail(fault, node, "expected a share from 0 to 1, such as 0.25");
  if (!(*value >= 0 && *value <= 1)) return emu_Fail(fault, node, "value out of range: " + std::to_string(*value) + " (0 to 1)");
  *out = *value;
  return true;
}

// A list of the adapter's error texts (or one text, or texts separated by commas, as "set"
// gives them), each known and listed once.
bool emu_Errors(const toml::node& node, EmuFaults& f, EmuFileFault* fault) {
  const toml::array* list = node.as_array();
  if (list == nullptr && !node.is_string()) return emu_Fail(fault, node, "expected a list such as [\"NO DATA\", \"CAN ERROR\"]");
  uint8_t n = 0;
  uint8_t chosen[EMU_FAULT_ERROR_KINDS];
  auto take = [&](const toml::node& item) {
    if (!item.is_string()) return emu_Fail(fault, item, "expected an error in quotes, such as \"NO DATA\"");
    std::string text = item.as_string()->get();
    const size_t first = text.find_first_not_of(" \t"), last = text.find_last_not_of(" \t");
    text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    uint8_t kind = 0;
    while (kind < EMU_FAULT_ERROR_KINDS && text != EMU_FAULT_ERROR_TEXTS[kind]) ++kind;
    if (kind == EMU_FAULT_ERROR_KINDS) {
      std::string known;
      for (const char* t : EMU_FAULT_ERROR_TEXTS) known += std::string(known.empty() ? "" : ", ") + t;
      return emu_Fail(fault, item, "unknown error '" + text + "' (" + known + ")");
    }
    if (memchr(chosen, kind, n) != nullptr) return emu_Fail(fault, item, "'" + text + "' listed twice");
    chosen[n++] = kind;
    return true;
  };
  if (list == nullptr) {
    if (!take(node)) return false;
  } else {
    for (const toml::node& item : *list)
      if (!take(item)) return false;
  }
  if (n == 0) return emu_Fail(fault, node, "expected at least one error");
  f.noOfErrors = n;
  memcpy(f.errors, chosen, n);
  return true;
}

// The [faults] keys that are whole numbers: where each is kept and its bound.
struct WholeKey {
  const char* name;
  int64_t high;
  void (*store)(EmuFaults&, int64_t);
};
// clang-format off
const WholeKey WHOLE_KEYS[] = {
    {"chunk",          4096,                   [](EmuFaults& f, int64_t v) { f.chunk = static_cast<uint16_t>(v); }},
    {"chunk_pause",    EMU_FAULT_MAX_MS,       [](EmuFaults& f, int64_t v) { f.chunkPauseMs = static_cast<uint32_t>(v); }},
    {"stall",          EMU_FAULT_MAX_MS,       [](EmuFaults& f, int64_t v) { f.stallMs = static_cast<uint32_t>(v); }},
    {"garbage_before", EMU_FAULT_MAX_GARBAGE,  [](EmuFaults& f, int64_t v) { f.garbageBefore = static_cast<uint16_t>(v); }},
    {"garbage_inside", EMU_FAULT_MAX_GARBAGE,  [](EmuFaults& f, int64_t v) { f.garbageInside = static_cast<uint16_t>(v); }},
    {"drop_after",     EMU_FAULT_MAX_REQUESTS, [](EmuFaults& f, int64_t v) { f.dropAfter = static_cast<uint32_t>(v); }},
    {"drop_at",        EMU_FAULT_MAX_MS,       [](EmuFaults& f, int64_t v) { f.dropAtMs = static_cast<uint32_t>(v); }},
};
// clang-format on

bool emu_LineKey(const std::string& k, const toml::node& node, EmuFaults& f, EmuFaultActs* acts, EmuFileFault* fault) {
  for (const WholeKey& w : WHOLE_KEYS) {
    if (k != w.name) continue;
    int64_t v;
    if (!emu_Whole(node, w.high, &v, fault)) return false;
    w.store(f, v);
    return true;
  }
  if (k == "drop_now") {
    bool now = false;
    if (!emu_Bool(node, &now, fault)) return false;
    acts->dropNow = acts->dropNow || now;
    return true;
  }
  if (k == "error_rate") return emu_Share(node, &f.errorRate, fault);
  if (k == "errors") return emu_Errors(node, f, fault);
  if (k == "seed") {
    const auto value = node.value_exact<int64_t>();
    if (!value || *value < 0) return emu_Fail(fault, node, "expected a whole number from 0 up");
    f.seed = static_cast<uint64_t>(*value);
    f.seedStamp = ++seedStamps;
    return true;
  }
  return false;
}

bool emu_DefaultErrors(const EmuFaults& f) {
  if (f.noOfErrors != EMU_FAULT_ERROR_KINDS) return false;
  for (uint8_t i = 0; i < EMU_FAULT_ERROR_KINDS; ++i)
    if (f.errors[i] != i) return false;
  return true;
}

std::string emu_Number(double value) {
  char text[32];  // the shortest text that reads back the same, in any locale
  *std::to_chars(text, text + sizeof text - 1, value).ptr = '\0';
  std::string s = text;
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

}  // namespace

bool emu_IsFaultKey(const std::string& key) {
  return key == "faults" || key == "ignition" || key == "resting_battery" || key == "lose_frame" ||
         key == "error_frame";
}

bool emu_ReadFaultKey(const std::string& key, const toml::node& node, EmuFaults& f, EmuFaultActs* acts,
                      EmuFileFault* fault) {
  if (key == "ignition") {
    bool on = true;
    if (!emu_Bool(node, &on, fault)) return false;
    f.ignition = on ? 1 : 0;
    return true;
  }
  if (key == "lose_frame" || key == "error_frame") {
    bool now = false;
    if (!emu_Bool(node, &now, fault)) return false;
    bool& act = key == "lose_frame" ? acts->loseFrame : acts->errorFrame;
    act = act || now;
    return true;
  }
  if (key == "resting_battery") {
    const auto volts = node.value<double>();
    if (!volts) return emu_Fail(fault, node, "expected a number");
    if (!(*volts >= 0 && *volts <= MAX_RESTING_VOLTS)) return emu_Fail(fault, node, "value out of range: " + std::to_string(*volts));
    f.restingDeciVolts = static_cast<uint8_t>(*volts * 10 + 0.5);
    return true;
  }
  const toml::table* t = node.as_table();
  if (t == nullptr) return emu_Fail(fault, node, "expected the [faults] table");
  for (auto&& [k, value] : *t) {
    const std::string name(k.str());
    if (emu_LineKey(name, value, f, acts, fault)) continue;
    if (fault->node != nullptr) return false;
    return emu_Fail(fault, value,
                    "unknown key 'faults." + name +
                        "' (chunk, chunk_pause, stall, garbage_before, garbage_inside, drop_after, drop_at, drop_now, "
                        "error_rate, errors, seed)");
  }
  return true;
}

bool emu_IsEcuFaultKey(const std::string& key) {
  return key == "silent" || key == "answer_delay" || key == "response_pending";
}

bool emu_ReadEcuFaultKey(const std::string& key, const toml::node& node, EmuEcuFaults& f, EmuFileFault* fault) {
  if (key == "silent") {
    bool silent = false;
    if (!emu_Bool(node, &silent, fault)) return false;
    f.silent = silent ? 1 : 0;
    return true;
  }
  int64_t ms;
  if (!emu_Whole(node, EMU_FAULT_MAX_ECU_MS, &ms, fault)) return false;
  (key == "answer_delay" ? f.answerDelayMs : f.responsePendingMs) = static_cast<uint32_t>(ms);
  return true;
}

void emu_WriteCarFaults(std::ostream& out, const EmuFaults& f) {
  EmuFaults d;
  emu_FaultsSetDefaults(d);
  if (f.ignition != d.ignition) out << "ignition = " << (f.ignition != 0 ? "true" : "false") << "\n";
  if (f.restingDeciVolts != d.restingDeciVolts)
    out << "resting_battery = " << f.restingDeciVolts / 10 << "." << f.restingDeciVolts % 10 << "\n";
}

void emu_WriteEcuFaults(std::ostream& out, const EmuEcuFaults& f) {
  if (f.silent != 0) out << "silent = true\n";
  if (f.answerDelayMs != 0) out << "answer_delay = " << f.answerDelayMs << "\n";
  if (f.responsePendingMs != 0) out << "response_pending = " << f.responsePendingMs << "\n";
}

void emu_WriteLineFaults(std::ostream& out, const EmuFaults& f) {
  std::ostringstream t;
  const uint32_t numbers[] = {f.chunk, f.chunkPauseMs, f.stallMs, f.garbageBefore, f.garbageInside, f.dropAfter, f.dropAtMs};
  static_assert(sizeof numbers / sizeof numbers[0] == sizeof WHOLE_KEYS / sizeof WHOLE_KEYS[0]);
  for (size_t i = 0; i < sizeof numbers / sizeof numbers[0]; ++i)
    if (numbers[i] != 0) t << WHOLE_KEYS[i].name << " = " << numbers[i] << "\n";
  if (f.errorRate != 0) t << "error_rate = " << emu_Number(f.errorRate) << "\n";
  if (!emu_DefaultErrors(f)) {
    t << "errors = [";
    for (uint8_t i = 0; i < f.noOfErrors && i < EMU_FAULT_ERROR_KINDS; ++i)
      t << (i == 0 ? "\"" : ", \"") << EMU_FAULT_ERROR_TEXTS[f.errors[i]] << "\"";
    t << "]\n";
  }
  if (f.seed != 0) t << "seed = " << f.seed << "\n";
  if (!t.str().empty()) out << "\n[faults]\n" << t.str();
}
