// An ECU's keys in vehicle files: the table, how each kind of value is read and written, and the
// keys with logic of their own (the PIDs' bytes and named values).
#include "vehicle/vehicle_file_keys.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <charconv>
#include <sstream>
#include <type_traits>
#include <utility>
#include <array>
#include <vector>

#include "bus/hex.h"
#include "bus/negative_codes.h"
#include "vehicle/vehicle_file_broadcasts.h"
#include "vehicle/vehicle_file_uds.h"
#include "vehicle/vehicle_items.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Places: where a value lives, as bytes. A member is a byte, an atomic byte or a two-byte number,
// or an array of them (two-byte numbers high byte first).

static_assert(sizeof(std::atomic<uint8_t>) == 1);

template <typename T>
constexpr size_t WIDTH = sizeof(T);
template <typename T, size_t N>
constexpr size_t WIDTH<T[N]> = N * WIDTH<T>;

void emu_Load(const uint8_t& from, uint8_t* to) { to[0] = from; }
void emu_Load(const std::atomic<uint8_t>& from, uint8_t* to) { to[0] = from.load(); }
void emu_Load(const uint16_t& from, uint8_t* to) {
  to[0] = static_cast<uint8_t>(from >> 8);
  to[1] = static_cast<uint8_t>(from);
}
template <typename T, size_t N>
void emu_Load(const T (&from)[N], uint8_t* to) {
  for (size_t i = 0; i < N; ++i) emu_Load(from[i], to + i * WIDTH<T>);
}

void emu_Store(uint8_t& to, const uint8_t* from) { to = from[0]; }
void emu_Store(std::atomic<uint8_t>& to, const uint8_t* from) { to = from[0]; }
void emu_Store(uint16_t& to, const uint8_t* from) { to = static_cast<uint16_t>(from[0] << 8 | from[1]); }
template <typename T, size_t N>
void emu_Store(T (&to)[N], const uint8_t* from) {
  for (size_t i = 0; i < N; ++i) emu_Store(to[i], from + i * WIDTH<T>);
}

template <auto Member>
using MemberOf = std::remove_reference_t<decltype(std::declval<EmuEcu&>().*Member)>;

// One value: the member, or the array member from element `Skip` on.
template <auto Member, size_t Skip = 0>
constexpr EmuEcuPlace emu_Value() {
  using M = MemberOf<Member>;
  if constexpr (std::is_array_v<M>) {
    using T = std::remove_extent_t<M>;
    constexpr size_t n = std::extent_v<M> - Skip;
    static_assert(n * WIDTH<T> <= 255);
    return {static_cast<uint8_t>(n * WIDTH<T>), 0,
            [](const EmuEcu& e, uint8_t, uint8_t* b) {
              for (size_t i = 0; i < n; ++i) emu_Load((e.*Member)[Skip + i], b + i * WIDTH<T>);
            },
            [](EmuEcu& e, uint8_t, const uint8_t* b) {
              for (size_t i = 0; i < n; ++i) emu_Store((e.*Member)[Skip + i], b + i * WIDTH<T>);
            },
            nullptr, nullptr};
  } else {
    static_assert(Skip == 0);
    return {static_cast<uint8_t>(WIDTH<M>), 0, [](const EmuEcu& e, uint8_t, uint8_t* b) { emu_Load(e.*Member, b); },
            [](EmuEcu& e, uint8_t, const uint8_t* b) { emu_Store(e.*Member, b); }, nullptr, nullptr};
  }
}

// A list: the array member's entries, as many as the count member says.
template <auto Member, auto Count>
constexpr EmuEcuPlace emu_List() {
  using M = MemberOf<Member>;
  using T = std::remove_extent_t<M>;
  static_assert(WIDTH<T> <= 255 && std::extent_v<M> <= 255);
  return {static_cast<uint8_t>(WIDTH<T>), static_cast<uint8_t>(std::extent_v<M>),
          [](const EmuEcu& e, uint8_t i, uint8_t* b) { emu_Load((e.*Member)[i], b); },
          [](EmuEcu& e, uint8_t i, const uint8_t* b) { emu_Store((e.*Member)[i], b); },
          [](const EmuEcu& e) { return static_cast<uint8_t>(e.*Count); },
          [](EmuEcu& e, uint8_t n) { e.*Count = n; }};
}

// The largest value a place holds: 32 bytes of a support map.
constexpr size_t MAX_WIDTH = EMU_SUP_PID_BYTES;

// ---------------------------------------------------------------------------------------------
// Values.

bool emu_Fail(EmuFileFault* fault, const toml::node& node, const std::string& what) {
  fault->node = &node;
  fault->what = what;
  return false;
}

// "1A F8", "1AF8": at most `max` bytes (exactly `exact` when not 0).
bool emu_ReadHex(const toml::node& n, size_t exact, size_t max, std::vector<uint8_t>* out, EmuFileFault* fault) {
  if (!n.is_string()) return emu_Fail(fault, n, "expected hex bytes in quotes, such as \"1A F8\"");
  const std::string& text = n.as_string()->get();
  out->assign(text.size() / 2 + 1, 0);  // room for every byte the text can hold
  const EmuHexRead read = emu_ReadHexBytes(text.data(), text.size(), {" ", true}, out->data(), out->size());
  if (read.error == EmuHexError::NotHex) return emu_Fail(fault, n, "not a hex byte: '" + std::string(1, text[read.at]) + "'");
  if (read.error != EmuHexError::None) return emu_Fail(fault, n, "an odd number of hex digits");
  out->resize(read.n);
  if (exact != 0 && out->size() != exact) return emu_Fail(fault, n, "expected " + std::to_string(exact) + " bytes");
  if (out->size() > max || out->empty()) return emu_Fail(fault, n, "expected 1 to " + std::to_string(max) + " bytes");
  return true;
}

bool emu_ReadText(const toml::node& n, size_t max, std::string* out, EmuFileFault* fault) {
  if (!n.is_string()) return emu_Fail(fault, n, "expected a text in quotes");
  *out = n.as_string()->get();
  if (out->size() > max) return emu_Fail(fault, n, "longer than " + std::to_string(max) + " characters");
  return true;
}

std::string emu_Trim(const std::string& text, const char* drop) {
  const size_t first = text.find_first_not_of(drop);
  return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(drop) - first + 1);
}

// The codes in one text: brackets around it, and spaces and quotes around each code, dropped;
// none in "" and "none" (either case).
std::vector<std::string> emu_CodeTexts(const std::string& value) {
  std::string all = emu_Trim(value, " \t");
  if (!all.empty() && all.front() == '[') all.erase(0, 1);
  if (!all.empty() && all.back() == ']') all.pop_back();
  all = emu_Trim(all, " \t");
  std::string lower = all;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  std::vector<std::string> texts;
  if (lower.empty() || lower == "none") return texts;
  std::stringstream items(all);
  for (std::string item; std::getline(items, item, ',');) {
    item = emu_Trim(item, " \t\"'");
    if (!item.empty()) texts.push_back(item);
  }
  if (texts.empty()) texts.push_back(all);  // commas alone: a bad code, not none
  return texts;
}

// P0123, C0123, B0123, U0123: the letter gives the top two bits, the first digit (0-3) two more.
bool emu_ReadCode(const std::string& text, const toml::node& n, uint16_t* code, EmuFileFault* fault) {
  static constexpr char LETTERS[] = "PCBU";
  const char* letter = text.size() == 5 ? strchr(LETTERS, toupper(static_cast<unsigned char>(text[0]))) : nullptr;
  bool digits = letter != nullptr && text[0] != '\0' && text[1] >= '0' && text[1] <= '3';
  for (size_t i = 2; digits && i < 5; ++i) digits = isxdigit(static_cast<unsigned char>(text[i])) != 0;
  if (!digits)
    return emu_Fail(fault, n, "bad code '" + text + "' (a letter P, C, B or U, a digit 0-3, three hex digits)");
  *code = static_cast<uint16_t>((letter - LETTERS) << 14 | std::stoul(text.substr(1), nullptr, 16));
  return true;
}

// Codes as a list (["P0301", "P0420"]), or as people type them after "set": one code, codes
// separated by commas with or without spaces, brackets and quotes, and "" or "none" for none.
bool emu_ReadCodes(const EmuEcuKey& key, const toml::node& node, EmuEcu& ecu, EmuFileFault* fault) {
  const toml::array* codes = node.as_array();
  if (codes == nullptr && !node.is_string())
    return emu_Fail(fault, node, "expected codes such as \"P0301\" or [\"P0301\", \"P0420\"]");
  const EmuEcuPlace& place = key.place;
  uint8_t n = 0;
  auto take = [&](const toml::node& item) {
    const std::string text = item.is_string() ? item.as_string()->get() : "";
    std::vector<std::string> texts = emu_CodeTexts(text);
    // "" and "none" stand for no codes only as the whole value, not as one of a list.
    if (texts.empty() && codes != nullptr) texts.push_back(emu_Trim(text, " \t"));
    for (const std::string& t : texts) {
      if (n == place.entries) return emu_Fail(fault, node, "more than " + std::to_string(place.entries) + " codes");
      uint16_t code;
      if (!emu_ReadCode(t, item, &code, fault)) return false;
      const uint8_t bytes[2] = {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code)};
      place.put(ecu, n++, bytes);
    }
    return true;
  };
  if (codes == nullptr) {
    if (!take(node)) return false;
  } else {
    for (const toml::node& c : *codes)
      if (!take(c)) return false;
  }
  place.setCount(ecu, n);
  // Codes set means they have not been cleared since; none at all, that they have.
  ecu.dtcsCleared = (ecu.noOfDtcs == 0 && ecu.noOfPendingDtcs == 0) ? 1 : 0;
  return true;
}

// "0, 10, 11 or 12".
std::string emu_Choices(const EmuEcuKey& key) {
  std::string text;
  for (uint8_t i = 0; i < key.noOfChoices; ++i)
    text += (i == 0 ? "" : i + 1 == key.noOfChoices ? " or " : ", ") + std::to_string(key.choices[i]);
  return text;
}

// One value of a key (a list's entry) as `width` bytes.
bool emu_ReadValue(const EmuEcuKey& key, const toml::node& node, uint8_t* bytes, EmuFileFault* fault) {
  const uint8_t width = key.place.width;
  memset(bytes, 0, width);
  std::vector<uint8_t> hex;
  std::string text;
  switch (key.kind) {
    case EmuKeyKind::Flag: {
      bool on = false;
      if (!emu_ReadFlag(node, &on, fault)) return false;
      bytes[0] = on ? 1 : 0;
      return true;
    }
    case EmuKeyKind::Whole: {
      int64_t value;
      if (!emu_ReadWhole(node, key.low, key.high, &value, fault)) return false;
      bool allowed = key.choices == nullptr;
      for (uint8_t i = 0; i < key.noOfChoices; ++i) allowed = allowed || key.choices[i] == value;
      if (!allowed)
        return emu_Fail(fault, node, "value out of range: " + std::to_string(value) + " (" + emu_Choices(key) + ")");
      for (uint8_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
      return true;
    }
    case EmuKeyKind::Hex:
    case EmuKeyKind::Address:
      if (!emu_ReadHex(node, key.shorter ? 0 : width, width, &hex, fault)) return false;
      if (key.kind == EmuKeyKind::Address && hex[0] == 0) return emu_Fail(fault, node, "address 00 belongs to no ECU");
      memcpy(bytes, hex.data(), hex.size());
      return true;
    case EmuKeyKind::Text:
      if (!emu_ReadText(node, width, &text, fault)) return false;
      if (!key.shorter && text.size() != width) return emu_Fail(fault, node, key.wrongSize);
      memcpy(bytes, text.data(), text.size());
      return true;
    case EmuKeyKind::EcuName:
      if (!emu_ReadText(node, width, &text, fault)) return false;
      emu_EcuNameFromText(text, bytes, width);
      return true;
    case EmuKeyKind::Codes:
    case EmuKeyKind::Own:
      break;
  }
  return false;
}

bool emu_ReadList(const EmuEcuKey& key, const toml::node& node, EmuEcu& ecu, EmuFileFault* fault) {
  const EmuEcuPlace& place = key.place;
  const toml::array* list = node.as_array();
  if (list == nullptr || list->size() > place.entries) return emu_Fail(fault, node, key.wrongSize);
  uint8_t bytes[MAX_WIDTH] = {};
  for (uint8_t i = 0; i < place.entries; ++i) place.put(ecu, i, bytes);  // a list replaces the whole list
  uint8_t n = 0;
  for (const toml::node& entry : *list) {
    if (!emu_ReadValue(key, entry, bytes, fault)) return false;
    place.put(ecu, n++, bytes);
  }
  place.setCount(ecu, n);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Writing values.

std::string emu_Hex(const uint8_t* bytes, size_t n) { return "\"" + emu_HexText(bytes, n) + "\""; }

std::string emu_ValueText(const EmuEcuKey& key, const uint8_t* bytes) {
  const uint8_t width = key.place.width;
  switch (key.kind) {
    case EmuKeyKind::Flag:
      return bytes[0] != 0 ? "true" : "false";
    case EmuKeyKind::Whole: {
      uint32_t value = 0;
      for (uint8_t i = 0; i < width; ++i) value = value << 8 | bytes[i];
      return std::to_string(value);
    }
    case EmuKeyKind::Hex:
    case EmuKeyKind::Address:
      return emu_Hex(bytes, width);
    case EmuKeyKind::Text:
      return emu_QuotedBytes(bytes, width, key.shorter);
    case EmuKeyKind::EcuName: {
      const std::string name = emu_EcuNameText(bytes, width);
      return emu_QuotedBytes(reinterpret_cast<const uint8_t*>(name.data()), name.size(), false);
    }
    case EmuKeyKind::Codes: {
      static constexpr char LETTERS[] = "PCBU";
      const unsigned code = static_cast<unsigned>(bytes[0] << 8 | bytes[1]);
      char text[8];
      snprintf(text, sizeof text, "\"%c%04X\"", LETTERS[code >> 14], code & 0x3FFF);
      return text;
    }
    case EmuKeyKind::Own:
      break;
  }
  return "";
}

// ---------------------------------------------------------------------------------------------
// The PIDs' bytes: pid.XX = "hex bytes" for any PID whose bytes may be given.

bool emu_ReadPids(const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault) {
  const toml::table* pids = node.as_table();
  if (pids == nullptr) return emu_Fail(fault, node, "expected pid.XX = \"hex bytes\"");
  for (auto&& [key, value] : *pids) {
    const std::string k(key.str());
    char* end = nullptr;
    const unsigned long pid = strtoul(k.c_str(), &end, 16);
    const uint8_t bytes = (k.size() == 2 && *end == '\0') ? emu_PidRawBytes(static_cast<uint8_t>(pid)) : 0;
    if (bytes == 0) {
      fault->key = &key;
      return emu_Fail(fault, value, "not a PID whose bytes can be given: '" + k + "'");
    }
    std::vector<uint8_t> data;
    // A PID of banks sends one byte, or two with more than two banks.
    if (!emu_ReadHex(value, emu_GetPidClass(static_cast<uint8_t>(pid)) == EmuPidClass::Banks ? 0 : bytes, bytes, &data,
                     fault))
      return false;
    emu_SetPidBytes(v.ecu[ecuIdx], static_cast<uint8_t>(pid), data.data(), data.size());
  }
  return true;
}

// A PID's stored bytes (`n`, as written raw) as its item's physical value, when loading that value
// gives the same bytes back: a PID of banks holding two bytes (more than two banks) has none.
bool emu_NamedValue(const EmuVehicleItem& item, const uint8_t* bytes, size_t n, std::string* text) {
  if (item.bytes > n) return false;
  for (size_t i = item.bytes; i < n; ++i)
    if (bytes[i] != 0) return false;
  uint32_t raw = 0;
  for (uint8_t i = 0; i < item.bytes; ++i) raw = raw << 8 | bytes[i];
  return emu_ItemText(item, raw, text);
}

// The tables of PIDs 41, 4F, 50 and 70 only where they differ from the ECU as a loaded file starts
// it, since a value given marks its PID supported; the PIDs given values of their own, by name
// where they have one; the moving values.
void emu_WritePids(std::ostream& out, const EmuVehicle& v, const EmuEcu& initial, uint8_t ecuIdx) {
  const EmuEcu& ecu = v.ecu[ecuIdx];
  const struct {
    const char* key;
    const uint8_t* now;
    const uint8_t* initially;
    size_t n;
  } tables[] = {{"41", ecu.dataPid41, initial.dataPid41, 4},
                {"4F", ecu.dataPid4F, initial.dataPid4F, 4},
                {"50", ecu.dataPid50, initial.dataPid50, 4},
                {"70", ecu.dataPid70, initial.dataPid70, EMU_PID70_BYTES}};
  for (const auto& t : tables)
    if (memcmp(t.now, t.initially, t.n) != 0) out << "pid." << t.key << " = " << emu_Hex(t.now, t.n) << "\n";
  for (int pid = 0; pid < 256; ++pid) {
    if ((ecu.pidValueSet[pid >> 3] & (1u << (pid & 7))) == 0) continue;
    const EmuPidClass cls = emu_GetPidClass(static_cast<uint8_t>(pid));
    const size_t n = cls == EmuPidClass::Generic1 ? 1 : cls == EmuPidClass::Generic4 ? 4 : 2;
    // A PID that also moves keeps its bytes (the freeze frames send them) under pid.XX: its name
    // holds the motion.
    bool moves = false;
    for (uint8_t i = 0; i < ecu.noOfMotions && i < EMU_MAX_MOTIONS; ++i) moves = moves || ecu.motion[i].pid == pid;
    std::string value;
    if (const EmuVehicleItem* item = emu_FindVehicleItemByPid(static_cast<uint8_t>(pid));
        item != nullptr && !moves && emu_NamedValue(*item, ecu.pidValue[pid], n, &value)) {
      out << item->name << " = " << value << "\n";
      continue;
    }
    char key[8];
    snprintf(key, sizeof key, "%02X", pid);
    out << "pid." << key << " = " << emu_Hex(ecu.pidValue[pid], n) << "\n";
  }
  static constexpr const char* WAVES[] = {"ramp", "sine", "walk"};
  for (uint8_t i = 0; i < ecu.noOfMotions && i < EMU_MAX_MOTIONS; ++i) {
    const EmuMotion& m = ecu.motion[i];
    const EmuVehicleItem* item = emu_FindVehicleItemByPid(m.pid);
    std::string from, to;
    if (item == nullptr || !emu_ItemText(*item, m.low, &from) || !emu_ItemText(*item, m.high, &to)) continue;
    char period[32];  // the shortest text of a double that reads back the same, in any locale
    *std::to_chars(period, period + sizeof period - 1, m.periodMs / 1000.0).ptr = '\0';
    out << item->name << " = { from = " << from << ", to = " << to << ", wave = \"" << WAVES[static_cast<int>(m.wave)]
        << "\", period = " << period << " }\n";
  }
}

// ---------------------------------------------------------------------------------------------
// The table.

// Service 06 results and the request/answer table (vehicle_file_answers.h).
bool emu_ReadTests(const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault) {
  return emu_ReadTestResults(node, v.ecu[ecuIdx], fault);
}
void emu_WriteTests(std::ostream& out, const EmuVehicle& v, const EmuEcu&, uint8_t ecuIdx) {
  emu_WriteTestResults(out, v.ecu[ecuIdx]);
}
void emu_WriteAnswersOf(std::ostream& out, const EmuVehicle& v, const EmuEcu&, uint8_t ecuIdx) {
  emu_WriteAnswers(out, v, ecuIdx);
}
// The diagnostic server is a section of its own, written after the ECU's other keys and its
// faults (emu_WriteUds).
void emu_WriteNothing(std::ostream&, const EmuVehicle&, const EmuEcu&, uint8_t) {}

// 0 for none, then the digits of every code the car can be made to answer with.
constexpr auto NEGATIVE_RESPONSES = [] {
  std::array<uint8_t, 1 + EMU_NEGATIVE_CODE_COUNT> digits{};
  for (size_t i = 0; i < EMU_NEGATIVE_CODE_COUNT; ++i) digits[i + 1] = emu_NegativeCodeDigits(EMU_NEGATIVE_CODES[i].code);
  return digits;
}();

using K = EmuKeyKind;
using E = EmuEcu;
// clang-format off
constexpr EmuEcuKey ECU_KEYS[] = {
    {.name = "name",          .kind = K::EcuName, .place = emu_Value<&E::ecuName>()},
    {.name = "lamp",          .kind = K::Flag,    .place = emu_Value<&E::milState>()},
    {.name = "dtc.confirmed", .kind = K::Codes,   .place = emu_List<&E::confirmedDtc, &E::noOfDtcs>()},
    {.name = "dtc.pending",   .kind = K::Codes,   .place = emu_List<&E::pendingDtc, &E::noOfPendingDtcs>()},
    {.name = "dtc.permanent", .kind = K::Codes,   .place = emu_List<&E::permanentDtc, &E::noOfPermanentDtcs>()},
    {.name = "negative_response", .kind = K::Whole, .place = emu_Value<&E::negRespCode>(), .low = 0, .high = 99,
     .choices = NEGATIVE_RESPONSES.data(), .noOfChoices = NEGATIVE_RESPONSES.size()},
    {.name = "vin",           .kind = K::Text,    .place = emu_Value<&E::vin, EMU_VIN_FILL>(),
     .wrongSize = "a VIN has 17 characters"},
    {.name = "cal_ids",       .kind = K::Text,    .place = emu_List<&E::calId, &E::noOfCalIds>(), .shorter = true,
     .wrongSize = "expected a list of up to 3 calibration IDs"},
    {.name = "cvns",          .kind = K::Hex,     .place = emu_List<&E::cvn, &E::noOfCvns>(),
     .wrongSize = "expected a list of up to 3 verification numbers"},
    {.name = "ipt",           .kind = K::Whole,   .place = emu_List<&E::iptCounter, &E::noOfIptCounters>(),
     .low = 0, .high = 65535, .wrongSize = "expected a list of up to 20 counters"},
    {.name = "monitors",      .kind = K::Hex,     .place = emu_Value<&E::dataPid01, 1>()},  // PID 01 bytes B-D
    {.name = "supported",     .kind = K::Hex,     .place = emu_Value<&E::supPids>(), .shorter = true},
    {.name = "freeze_supported", .kind = K::Hex,  .place = emu_Value<&E::supPidsSid02>(), .shorter = true},
    {.name = "info_types",    .kind = K::Hex,     .place = emu_Value<&E::supInfoTypes>()},
    {.name = "address",       .kind = K::Address, .place = emu_Value<&E::address>()},
    {.name = "can_address",   .kind = K::Address, .place = emu_Value<&E::canAddress>()},
    {.name = "o2_sensors",    .kind = K::Hex,     .place = emu_Value<&E::dataPid13or1D>()},
    {.name = "pid",           .kind = K::Own,     .read = emu_ReadPids,    .write = emu_WritePids},
    {.name = "tests",         .kind = K::Own,     .read = emu_ReadTests,   .write = emu_WriteTests},
    {.name = "answers",       .kind = K::Own,     .read = emu_ReadAnswers, .write = emu_WriteAnswersOf},
    {.name = "broadcast",     .kind = K::Own,     .read = emu_ReadBroadcasts, .write = emu_WriteBroadcasts},
    {.name = "uds",           .kind = K::Own,     .read = emu_ReadUds,     .write = emu_WriteNothing},
};
// clang-format on

constexpr bool emu_KeysFitTheirPlaces() {
  for (const EmuEcuKey& key : ECU_KEYS) {
    if (key.place.width > MAX_WIDTH) return false;
    // An own key has its reader instead of a place. (Functions' addresses are no constants under
    // the sanitizers: a place is told by its width.)
    if ((key.kind == EmuKeyKind::Own) != (key.place.width == 0)) return false;
    if (key.kind == EmuKeyKind::Codes && (key.place.width != 2 || key.place.entries == 0)) return false;
    if (key.place.entries != 0 && key.kind != EmuKeyKind::Codes && key.wrongSize == nullptr) return false;
    if (key.kind == EmuKeyKind::Text && !key.shorter && key.wrongSize == nullptr) return false;
  }
  return true;
}
static_assert(emu_KeysFitTheirPlaces());

bool emu_InGroup(const EmuEcuKey& key, const std::string& group) {
  return strncmp(key.name, group.c_str(), group.size()) == 0 && key.name[group.size()] == '.';
}

}  // namespace

const EmuEcuKey* emu_EcuKeys(size_t* count) {
  *count = sizeof ECU_KEYS / sizeof ECU_KEYS[0];
  return ECU_KEYS;
}

const EmuEcuKey* emu_FindEcuKey(const std::string& name) {
  for (const EmuEcuKey& key : ECU_KEYS)
    if (name == key.name) return &key;
  return nullptr;
}

bool emu_IsEcuKeyGroup(const std::string& name) {
  for (const EmuEcuKey& key : ECU_KEYS)
    if (emu_InGroup(key, name)) return true;
  return false;
}

std::string emu_EcuKeyGroupExpected(const std::string& name) {
  std::vector<const char*> names;
  for (const EmuEcuKey& key : ECU_KEYS)
    if (emu_InGroup(key, name)) names.push_back(key.name);
  std::string text = "expected";
  for (size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? " " : i + 1 == names.size() ? " or " : ", ") + std::string(names[i]);
  return text;
}

bool emu_ReadEcuKey(const EmuEcuKey& key, const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault) {
  EmuEcu& ecu = v.ecu[ecuIdx];
  if (key.kind == EmuKeyKind::Own) return key.read(node, v, ecuIdx, fault);
  if (key.kind == EmuKeyKind::Codes) return emu_ReadCodes(key, node, ecu, fault);
  if (key.place.entries != 0) return emu_ReadList(key, node, ecu, fault);
  uint8_t bytes[MAX_WIDTH];
  if (!emu_ReadValue(key, node, bytes, fault)) return false;
  key.place.put(ecu, 0, bytes);
  return true;
}

void emu_WriteEcuKey(std::ostream& out, const EmuEcuKey& key, const EmuVehicle& v, const EmuEcu& initial,
                     uint8_t ecuIdx) {
  const EmuEcu& ecu = v.ecu[ecuIdx];
  if (key.kind == EmuKeyKind::Own) {
    key.write(out, v, initial, ecuIdx);
    return;
  }
  uint8_t bytes[MAX_WIDTH];
  out << key.name << " = ";
  if (key.place.entries == 0) {
    key.place.get(ecu, 0, bytes);
    out << emu_ValueText(key, bytes) << "\n";
    return;
  }
  out << "[";
  const uint8_t n = key.place.count(ecu);
  for (uint8_t i = 0; i < n && i < key.place.entries; ++i) {
    key.place.get(ecu, i, bytes);
    out << (i == 0 ? "" : ", ") << emu_ValueText(key, bytes);
  }
  out << "]\n";
}

bool emu_ReadWhole(const toml::node& n, int64_t low, int64_t high, int64_t* out, EmuFileFault* fault) {
  const auto value = n.value_exact<int64_t>();
  if (!value)
    return emu_Fail(fault, n, "expected a whole number from " + std::to_string(low) + " to " + std::to_string(high));
  if (*value < low || *value > high)
    return emu_Fail(fault, n, "value out of range: " + std::to_string(*value) + " (" + std::to_string(low) + " to " +
                                  std::to_string(high) + ")");
  *out = *value;
  return true;
}

bool emu_ReadFlag(const toml::node& n, bool* out, EmuFileFault* fault) {
  const auto value = n.value_exact<bool>();
  if (!value) return emu_Fail(fault, n, "expected true or false");
  *out = *value;
  return true;
}

uint8_t emu_PidRawBytes(uint8_t pid) {
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

void emu_SetPidBytes(EmuEcu& ecu, uint8_t pid, const uint8_t* data, size_t n) {
  switch (emu_GetPidClass(pid)) {
    case EmuPidClass::Pid41: memcpy(ecu.dataPid41, data, 4); break;
    case EmuPidClass::Pid4F: memcpy(ecu.dataPid4F, data, 4); break;
    case EmuPidClass::Pid50: memcpy(ecu.dataPid50, data, 4); break;
    case EmuPidClass::Pid13or1D: ecu.dataPid13or1D = data[0]; break;
    case EmuPidClass::Pid70: memcpy(ecu.dataPid70, data, EMU_PID70_BYTES); break;
    default:
      memset(ecu.pidValue[pid], 0, 4);
      memcpy(ecu.pidValue[pid], data, n);
      ecu.pidValueSet[pid >> 3] = static_cast<uint8_t>(ecu.pidValueSet[pid >> 3] | (1u << (pid & 7)));
      break;
  }
  emu_MarkPidSupported(ecu, pid);
}

void emu_MarkPidSupported(EmuEcu& ecu, uint8_t pid) {
  if (pid == 0) return;
  ecu.supPids[(pid - 1) / 8].fetch_or(static_cast<uint8_t>(0x80 >> ((pid - 1) % 8)));
  for (uint8_t range = 0x20; range < pid; range = static_cast<uint8_t>(range + 0x20)) {
    ecu.supPids[(range - 1) / 8].fetch_or(0x01);
  }
}

std::string emu_QuotedBytes(const uint8_t* bytes, size_t n, bool padded) {
  while (padded && n > 0 && bytes[n - 1] == 0) --n;
  std::string out = "\"";
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = bytes[i];
    char escaped[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      snprintf(escaped, sizeof escaped, "\\u%04X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}
