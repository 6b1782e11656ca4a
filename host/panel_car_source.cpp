// What the test bench panel shows of the car and drives: the ECUs, their live values and codes,
// the faults. It reads the running car under the vehicle's lock and changes it only through the
// vehicle file's setter, as "set NAME VALUE" does, so that the panel, a headless script and a
// timeline all change the car the same way (and a save writes what the panel set).
#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <string_view>
#include <vector>

#include "adapter/line_faults.h"
#include "bus/protocols.h"
#include "host/panel_sources.h"
#include "vehicle/timeline.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"
#include "vehicle/vehicle_items.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Live values: the named items of vehicle files a tester looks at first, by their file names,
// with the limits and units of the file's table; the battery is the car's, not an ECU's.

constexpr const char* BATTERY = "battery";
constexpr double BATTERY_MAX_VOLTS = 25.5;  // a byte of tenths, as the vehicle file takes it

constexpr const char* SHOWN_ITEMS[] = {
    "rpm",      "speed",      "coolant",         "intake_temp",    "maf",      "throttle", "load",
    "fuel_level", "intake_pressure", "timing_advance", "oil_temp", "ambient_temp", BATTERY,
};
constexpr int NO_OF_SHOWN = sizeof SHOWN_ITEMS / sizeof SHOWN_ITEMS[0];
static_assert(NO_OF_SHOWN <= EMU_PANEL_MAX_ITEMS);

void emu_Why(char* why, size_t whySize, const std::string& text) {
  if (whySize > 0) snprintf(why, whySize, "%s", text.c_str());
}

// The setter of "set", its error handed on.
int emu_Set(const std::string& name, const std::string& value, char* why, size_t whySize) {
  std::string error;
  if (emu_SetVehicleValue(name.c_str(), value.c_str(), &error) == 0) return 0;
  emu_Why(why, whySize, error);
  return -1;
}

std::string emu_EcuKey(uint8_t ecuIdx, const char* key) {
  return "ecu." + std::to_string(ecuIdx % EMU_MAX_ECUS + 1) + "." + key;
}

int emu_Items(EmuPanelItem* items, int max) {
  int n = 0;
  for (const char* name : SHOWN_ITEMS) {
    if (n == max) break;
    EmuPanelItem& out = items[n];
    out = {};
    snprintf(out.name, sizeof out.name, "%s", name);
    if (strcmp(name, BATTERY) == 0) {
      snprintf(out.unit, sizeof out.unit, "V");
      out.low = 0, out.high = BATTERY_MAX_VOLTS, out.step = 0.1;
    } else if (const EmuVehicleItem* item = emu_FindVehicleItem(name)) {
      const double top = static_cast<double>((uint64_t{1} << (8 * item->bytes)) - 1);
      snprintf(out.unit, sizeof out.unit, "%s", item->unit);
      out.low = emu_ItemValue(*item, 0);
      out.high = emu_ItemValue(*item, static_cast<uint32_t>(top));
      out.step = item->scale;
    } else {
      continue;  // a name the table lost: left out rather than shown dead
    }
    ++n;
  }
  return n;
}

void emu_Car(uint8_t ecuIdx, EmuPanelCar* out) {
  *out = {};
  ecuIdx %= EMU_MAX_ECUS;
  const uint8_t protocol = vehicleProtocol;
  snprintf(out->protocol, sizeof out->protocol, "%s",
           protocol == EMU_PROTOCOL_AUTOMATIC ? "any the tester sets" : emu_Protocol(protocol).menuName);
  emu_VehicleLock();
  out->noOfEcus = vehicle.maxEcu;
  const EmuEcu& ecu = vehicle.ecu[ecuIdx];
  for (int i = 0; i < NO_OF_SHOWN; ++i) {
    if (strcmp(SHOWN_ITEMS[i], BATTERY) == 0) {
      out->value[i] = vehicle.batteryDeciVolts / 10.0;
      out->sent[i] = 1;
      continue;
    }
    const EmuVehicleItem* item = emu_FindVehicleItem(SHOWN_ITEMS[i]);
    uint8_t bytes[4];
    bool moves = false;
    if (item == nullptr || !emu_VehicleSentBytes(ecuIdx, item->pid, item->bytes, bytes, &moves)) continue;
    uint32_t raw = 0;
    for (uint8_t b = 0; b < item->bytes; ++b) raw = raw << 8 | bytes[b];
    out->value[i] = emu_ItemValue(*item, raw);
    out->sent[i] = emu_VehicleSupportsPid(0x01, item->pid, 0, ecuIdx) ? 1 : 0;
    out->moves[i] = moves ? 1 : 0;
  }
  out->lamp = ecu.milState != 0 ? 1 : 0;
  const struct {
    const uint16_t* codes;
    uint8_t count;
  } lists[EMU_PANEL_CODE_KINDS] = {{ecu.confirmedDtc, ecu.noOfDtcs},
                                   {ecu.pendingDtc, ecu.noOfPendingDtcs},
                                   {ecu.permanentDtc, ecu.noOfPermanentDtcs}};
  for (int k = 0; k < EMU_PANEL_CODE_KINDS; ++k) {
    out->noOfCodes[k] = emu_AtMost16(lists[k].count);
    memcpy(out->code[k], lists[k].codes, out->noOfCodes[k] * sizeof(uint16_t));
  }
  emu_VehicleUnlock();
}

// The shortest text the setter reads back to the same bytes (780.25 rpm, 39.2 %).
int emu_SetItem(uint8_t ecuIdx, int index, double value, char* why, size_t whySize) {
  if (index < 0 || index >= NO_OF_SHOWN) {
    emu_Why(why, whySize, "no such value");
    return -1;
  }
  const char* name = SHOWN_ITEMS[index];
  char text[32];
  if (strcmp(name, BATTERY) == 0) {
    snprintf(text, sizeof text, "%.1f", value);
    return emu_Set(BATTERY, text, why, whySize);
  }
  const EmuVehicleItem* item = emu_FindVehicleItem(name);
  uint32_t raw;
  std::string exact;
  if (item == nullptr || !emu_ItemRaw(*item, value, &raw) || !emu_ItemText(*item, raw, &exact)) {
    emu_Why(why, whySize, std::string("value out of range for ") + name);
    return -1;
  }
  return emu_Set(emu_EcuKey(ecuIdx, name), exact, why, whySize);
}

// ---------------------------------------------------------------------------------------------
// Trouble codes: each list set whole, as "set ecu.N.dtc.KIND P0301,P0420" does.

constexpr const char* CODE_KEYS[EMU_PANEL_CODE_KINDS] = {"dtc.confirmed", "dtc.pending", "dtc.permanent"};

std::string emu_CodeText(uint16_t code) {
  static constexpr char LETTERS[] = "PCBU";
  char text[8];
  snprintf(text, sizeof text, "%c%04X", LETTERS[code >> 14], code & 0x3FFF);
  return text;
}

std::string emu_CodeList(const std::vector<uint16_t>& codes) {
  std::string list;
  for (uint16_t code : codes) list += (list.empty() ? "" : ",") + emu_CodeText(code);
  return list.empty() ? "none" : list;
}

std::vector<uint16_t> emu_Codes(uint8_t ecuIdx, int kind) {
  EmuPanelCar car;
  emu_Car(ecuIdx, &car);
  return std::vector<uint16_t>(car.code[kind], car.code[kind] + car.noOfCodes[kind]);
}

int emu_AddCode(uint8_t ecuIdx, int kind, const char* code, char* why, size_t whySize) {
  if (kind < 0 || kind >= EMU_PANEL_CODE_KINDS) {
    emu_Why(why, whySize, "no such kind of code");
    return -1;
  }
  // The code is read by the setter alone (one code, checked as a file's), then joins the list.
  std::string text = code;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(0, 1);
  if (text.empty() || text.find(',') != std::string::npos) {
    emu_Why(why, whySize, "one code, such as P0301");
    return -1;
  }
  // A code the list holds already stays there once, where it is.
  const std::vector<uint16_t> codes = emu_Codes(ecuIdx, kind);
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  for (uint16_t held : codes)
    if (emu_CodeText(held) == text) return 0;
  const std::string list = codes.empty() ? text : emu_CodeList(codes) + "," + text;
  return emu_Set(emu_EcuKey(ecuIdx, CODE_KEYS[kind]), list, why, whySize);
}

int emu_RemoveCode(uint8_t ecuIdx, int kind, uint16_t code, char* why, size_t whySize) {
  if (kind < 0 || kind >= EMU_PANEL_CODE_KINDS) {
    emu_Why(why, whySize, "no such kind of code");
    return -1;
  }
  std::vector<uint16_t> codes = emu_Codes(ecuIdx, kind);
  std::vector<uint16_t> kept;
  for (uint16_t c : codes)
    if (c != code) kept.push_back(c);
  if (kept.size() == codes.size()) return 0;  // gone already
  return emu_Set(emu_EcuKey(ecuIdx, CODE_KEYS[kind]), emu_CodeList(kept), why, whySize);
}

int emu_SetLamp(uint8_t ecuIdx, bool on, char* why, size_t whySize) {
  return emu_Set(emu_EcuKey(ecuIdx, "lamp"), on ? "true" : "false", why, whySize);
}

// ---------------------------------------------------------------------------------------------
// Faults. One-shots: the client dropped now, the next OBD answer replaced by an adapter error,
// the next answer held back.

constexpr uint32_t LATE_MS = 2000;

struct OneShot {
  const char* label;
  int error;         // EMU_FAULT_ERROR_TEXTS index to arm, or -1
  uint32_t stallMs;  // to arm, or 0
  bool silent;       // to arm
};
// clang-format off
constexpr OneShot ONE_SHOTS[] = {
    {"Drop the client now",      -1, 0,       false},
    {"Next answer NO DATA",       0, 0,       false},
    {"Next answer CAN ERROR",     1, 0,       false},
    {"Next answer BUS BUSY",      3, 0,       false},
    {"Next answer <RX ERROR",     7, 0,       false},
    {"Next answer 2 s late",     -1, LATE_MS, false},
    {"Next answer never comes",  -1, 0,       true},
};
// clang-format on
constexpr int NO_OF_SHOTS = sizeof ONE_SHOTS / sizeof ONE_SHOTS[0];
static_assert(std::string_view(EMU_FAULT_ERROR_TEXTS[1]) == "CAN ERROR");
static_assert(std::string_view(EMU_FAULT_ERROR_TEXTS[3]) == "BUS BUSY");
static_assert(std::string_view(EMU_FAULT_ERROR_TEXTS[7]) == "<RX ERROR");

const char* emu_OneShot(int index) { return index >= 0 && index < NO_OF_SHOTS ? ONE_SHOTS[index].label : nullptr; }

int emu_FireOneShot(int index, char* why, size_t whySize) {
  if (index < 0 || index >= NO_OF_SHOTS) {
    emu_Why(why, whySize, "no such fault");
    return -1;
  }
  const OneShot& shot = ONE_SHOTS[index];
  if (shot.error >= 0) emu_LineFaultsArmError(shot.error);
  if (shot.stallMs != 0) emu_LineFaultsArmStall(shot.stallMs);
  if (shot.silent) emu_LineFaultsArmSilence(true);
  if (shot.error < 0 && shot.stallMs == 0 && !shot.silent) return emu_Set("faults.drop_now", "true", why, whySize);
  return 0;
}

// The settings as the vehicle file names them, each shown when it is not at its default, and
// the value "set" puts back for the default.
struct Setting {
  const char* key;
  const char* byDefault;
  std::string (*shown)(const EmuFaults& f);  // "" at the default
};

std::string emu_Number(uint64_t n) { return n == 0 ? "" : std::to_string(n); }

std::string emu_ErrorsText(const EmuFaults& f) {
  std::string text;
  for (uint8_t i = 0; i < f.noOfErrors && i < EMU_FAULT_ERROR_KINDS; ++i)
    text += (i == 0 ? "" : ", ") + std::string(EMU_FAULT_ERROR_TEXTS[f.errors[i] % EMU_FAULT_ERROR_KINDS]);
  return text;
}

// clang-format off
const Setting SETTINGS[] = {
    {"faults.chunk",          "0", [](const EmuFaults& f) { return emu_Number(f.chunk); }},
    {"faults.chunk_pause",    "0", [](const EmuFaults& f) { return emu_Number(f.chunkPauseMs); }},
    {"faults.stall",          "0", [](const EmuFaults& f) { return emu_Number(f.stallMs); }},
    {"faults.garbage_before", "0", [](const EmuFaults& f) { return emu_Number(f.garbageBefore); }},
    {"faults.garbage_inside", "0", [](const EmuFaults& f) { return emu_Number(f.garbageInside); }},
    {"faults.drop_after",     "0", [](const EmuFaults& f) { return emu_Number(f.dropAfter); }},
    {"faults.drop_at",        "0", [](const EmuFaults& f) { return emu_Number(f.dropAtMs); }},
    {"faults.error_rate",     "0", [](const EmuFaults& f) {
       if (f.errorRate <= 0) return std::string();
       char rate[24];
       snprintf(rate, sizeof rate, "%g", f.errorRate);
       return std::string(rate) + ": " + emu_ErrorsText(f);
     }},
    {"ignition",              "true", [](const EmuFaults& f) { return std::string(f.ignition != 0 ? "" : "off"); }},
};
// clang-format on

// One ECU's: silent, late, response pending.
struct EcuSetting {
  const char* key;
  const char* byDefault;
  uint32_t (*value)(const EmuEcuFaults& f);
};
// clang-format off
const EcuSetting ECU_SETTINGS[] = {
    {"silent",           "false", [](const EmuEcuFaults& f) { return uint32_t{f.silent}; }},
    {"answer_delay",     "0",     [](const EmuEcuFaults& f) { return f.answerDelayMs; }},
    {"response_pending", "0",     [](const EmuEcuFaults& f) { return f.responsePendingMs; }},
};
// clang-format on

void emu_AddRow(EmuPanelFaults* out, const std::string& what, const std::string& state) {
  if (out->noOfRows == EMU_PANEL_MAX_FAULT_ROWS) return;
  EmuPanelFaultRow& row = out->row[out->noOfRows++];
  row = {};  // compared whole by the panel
  snprintf(row.what, sizeof row.what, "%s", what.c_str());
  snprintf(row.state, sizeof row.state, "%s", state.c_str());
}

std::string emu_EventText(const EmuTimelineEvent& e) {
  char at[32];
  snprintf(at, sizeof at, "at %gs%s ", e.at, e.from == EmuEventFrom::Connect ? " of a client" : "");
  switch (e.kind) {
    case EmuEventKind::Set:
      return at + ("set " + e.name + " " + e.value);
    case EmuEventKind::Dtc:
      return at + ("dtc " + e.value + " on ECU " + std::to_string(e.ecu));
    case EmuEventKind::ClearDtcs:
      return at + std::string(e.ecu == 0 ? "clear every ECU's codes" : "clear ECU " + std::to_string(e.ecu) + "'s codes");
  }
  return at;
}

std::string emu_EventState(const EmuTimelineEntry& e) {
  switch (e.state) {
    case EmuEventState::Waiting:
      return "waits for a client";
    case EmuEventState::Fired:
      return "done";
    case EmuEventState::Failed:
      return "failed";
    case EmuEventState::Due:
      break;
  }
  char in[32];
  snprintf(in, sizeof in, "in %.0f s", ceil(e.inSeconds));
  return in;
}

void emu_Faults(EmuPanelFaults* out) {
  out->noOfRows = 0;
  const EmuFaults f = emu_FaultsNow();
  for (const Setting& s : SETTINGS)
    if (const std::string shown = s.shown(f); !shown.empty()) emu_AddRow(out, s.key, shown);
  for (uint8_t i = 0; i < EMU_FAULT_ECUS; ++i)
    for (const EcuSetting& s : ECU_SETTINGS)
      if (const uint32_t v = s.value(f.ecu[i]); v != 0)
        emu_AddRow(out, emu_EcuKey(i, s.key), strcmp(s.byDefault, "false") == 0 ? "true" : std::to_string(v) + " ms");
  const EmuArmedFaults armed = emu_LineFaultsArmed();
  if (armed.error >= 0) emu_AddRow(out, std::string("next answer ") + EMU_FAULT_ERROR_TEXTS[armed.error], "armed");
  if (armed.stallMs != 0) emu_AddRow(out, "next answer " + std::to_string(armed.stallMs) + " ms late", "armed");
  if (armed.silent) emu_AddRow(out, "next answer never comes", "armed");
  const std::vector<EmuTimelineEntry> events = emu_TimelineEntries();
  const int room = EMU_PANEL_MAX_FAULT_ROWS - out->noOfRows;
  for (size_t i = 0; i < events.size(); ++i) {
    // The last row says how many more there are when they do not all fit.
    if (events.size() > static_cast<size_t>(room) && i + 1 == static_cast<size_t>(room)) {
      emu_AddRow(out, "timeline: " + std::to_string(events.size() - i) + " more events", "");
      break;
    }
    emu_AddRow(out, emu_EventText(events[i].event), emu_EventState(events[i]));
  }
}

int emu_ClearFaults(char* why, size_t whySize) {
  emu_LineFaultsArmError(-1);
  emu_LineFaultsArmStall(0);
  emu_LineFaultsArmSilence(false);
  const EmuFaults f = emu_FaultsNow();
  for (const Setting& s : SETTINGS)
    if (!s.shown(f).empty() && emu_Set(s.key, s.byDefault, why, whySize) != 0) return -1;
  for (uint8_t i = 0; i < EMU_FAULT_ECUS; ++i)
    for (const EcuSetting& s : ECU_SETTINGS)
      if (s.value(f.ecu[i]) != 0 && emu_Set(emu_EcuKey(i, s.key), s.byDefault, why, whySize) != 0) return -1;
  return 0;
}

}  // namespace

const EmuPanelCarSource PANEL_CAR_SOURCE{
    .items = emu_Items,
    .car = emu_Car,
    .setItem = emu_SetItem,
    .addCode = emu_AddCode,
    .removeCode = emu_RemoveCode,
    .setLamp = emu_SetLamp,
    .oneShot = emu_OneShot,
    .fireOneShot = emu_FireOneShot,
    .faults = emu_Faults,
    .clearFaults = emu_ClearFaults,
};
