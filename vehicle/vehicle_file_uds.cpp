// An ECU's diagnostic server in vehicle files (vehicle_file_uds.h). Each key of a section is a
// row of what it takes and where it goes; the lists are read whole into a copy first, so that a
// mistake leaves the ECU as it was.
#include "vehicle/vehicle_file_uds.h"

#include <string.h>

#include <sstream>
#include <string>

#include "bus/hex.h"
#include "vehicle/vehicle_items.h"

namespace {

bool emu_Fail(EmuFileFault* fault, const toml::node& node, const std::string& what) {
  fault->node = &node;
  fault->what = what;
  return false;
}

bool emu_Whole(const toml::node& n, int64_t low, int64_t high, int64_t* out, EmuFileFault* fault) {
  const auto value = n.value_exact<int64_t>();
  if (!value || *value < low || *value > high)
    return emu_Fail(fault, n, "expected a whole number from " + std::to_string(low) + " to " + std::to_string(high));
  *out = *value;
  return true;
}

bool emu_Flag(const toml::node& n, uint8_t* out, EmuFileFault* fault) {
  const auto value = n.value_exact<bool>();
  if (!value) return emu_Fail(fault, n, "expected true or false");
  *out = *value ? 1 : 0;
  return true;
}

// Hex bytes in quotes, from `least` to `most` of them.
bool emu_Bytes(const toml::node& n, size_t least, size_t most, uint8_t* bytes, size_t* count, EmuFileFault* fault) {
  const std::string expected = least == most ? std::to_string(least) : std::to_string(least) + " to " + std::to_string(most);
  if (!n.is_string()) return emu_Fail(fault, n, "expected " + expected + " hex bytes in quotes");
  std::string what;
  bool wildcard = false;
  if (!emu_ParseHexRequest(n.as_string()->get(), false, bytes, most, count, &wildcard, &what)) return emu_Fail(fault, n, what);
  if (*count < least) return emu_Fail(fault, n, "expected " + expected + " hex bytes");
  return true;
}

bool emu_Id(const toml::node& n, uint16_t* id, EmuFileFault* fault) {
  uint8_t b[2];
  size_t count = 0;
  if (!emu_Bytes(n, 2, 2, b, &count, fault)) return false;
  *id = static_cast<uint16_t>(b[0] << 8 | b[1]);
  return true;
}

// A number of 1 to 4 bytes written as hex ("1234").
bool emu_HexNumber(const toml::node& n, uint32_t* value, size_t* bytes, EmuFileFault* fault) {
  uint8_t b[4];
  if (!emu_Bytes(n, 1, 4, b, bytes, fault)) return false;
  *value = 0;
  for (size_t i = 0; i < *bytes; ++i) *value = *value << 8 | b[i];
  return true;
}

template <typename T>
bool emu_Choice(const toml::node& n, const char* const* names, size_t count, T* out, EmuFileFault* fault) {
  std::string list;
  for (size_t i = 0; i < count; ++i) {
    if (n.is_string() && n.as_string()->get() == names[i]) {
      *out = static_cast<T>(i);
      return true;
    }
    list += (i == 0 ? "\"" : i + 1 == count ? " or \"" : ", \"") + std::string(names[i]) + "\"";
  }
  return emu_Fail(fault, n, "expected " + list);
}

constexpr const char* SEED_RULES[] = {"fixed", "counter", "random"};
constexpr const char* KEY_RULES[] = {"xor", "add", "table"};

std::string emu_Unknown(const std::string& key, const char* known) { return "unknown key '" + key + "' (" + known + ")"; }

bool emu_ReadDid(const toml::table& t, const toml::node& node, EmuUdsDid* d, EmuFileFault* fault) {
  *d = EmuUdsDid{};
  bool haveId = false, haveData = false;
  for (auto&& [key, value] : t) {
    const std::string k(key.str());
    int64_t n = 0;
    size_t count = 0;
    if (k == "id") {
      if (!emu_Id(value, &d->id, fault)) return false;
      haveId = true;
    } else if (k == "bytes" || k == "item" || k == "vin") {
      if (haveData) return emu_Fail(fault, value, "give one of bytes, item or vin");
      haveData = true;
      if (k == "bytes") {
        if (!emu_Bytes(value, 1, EMU_UDS_MAX_DID_BYTES, d->data, &count, fault)) return false;
        d->kind = EmuUdsDidKind::Bytes;
        d->length = static_cast<uint8_t>(count);
      } else if (k == "item") {
        const EmuVehicleItem* item = value.is_string() ? emu_FindVehicleItem(value.as_string()->get().c_str()) : nullptr;
        if (item == nullptr) return emu_Fail(fault, value, "expected the name of a value of the car, such as \"rpm\"");
        d->kind = EmuUdsDidKind::Item;
        d->pid = item->pid;
        d->length = item->bytes;
      } else {
        uint8_t on = 0;
        if (!emu_Flag(value, &on, fault)) return false;
        if (on == 0) return emu_Fail(fault, value, "vin = true, or give bytes or item");
        d->kind = EmuUdsDidKind::Vin;
        d->length = EMU_VIN_BYTES - EMU_VIN_FILL;
      }
    } else if (k == "writable") {
      if (!emu_Flag(value, &d->writable, fault)) return false;
    } else if (k == "write_session") {
      if (!emu_Whole(value, 0, 3, &n, fault)) return false;
      d->writeSession = static_cast<uint8_t>(n);
    } else if (k == "write_level" || k == "read_level") {
      if (!emu_Whole(value, 0, 0x3F, &n, fault)) return false;
      (k == "write_level" ? d->writeLevel : d->readLevel) = static_cast<uint8_t>(n);
    } else if (k == "delay") {
      if (!emu_Whole(value, 0, 60000, &n, fault)) return false;
      d->delayMs = static_cast<uint16_t>(n);
    } else {
      return emu_Fail(fault, value, emu_Unknown(k, "id, bytes, item, vin, writable, write_session, write_level, read_level, delay"));
    }
  }
  if (!haveId) return emu_Fail(fault, node, "a DID needs its id");
  if (!haveData) return emu_Fail(fault, node, "a DID needs bytes, item or vin");
  return true;
}

bool emu_ReadLevel(const toml::table& t, const toml::node& node, EmuUdsLevel* l, EmuFileFault* fault) {
  *l = EmuUdsLevel{};
  l->seedBytes = 2;
  l->maxAttempts = 3;
  l->delayMs = 10000;
  bool haveLevel = false;
  size_t seedBytes = 0;
  for (auto&& [key, value] : t) {
    const std::string k(key.str());
    int64_t n = 0;
    size_t count = 0;
    if (k == "level") {
      if (!emu_Whole(value, 1, 0x3F, &n, fault)) return false;
      l->level = static_cast<uint8_t>(n);
      haveLevel = true;
    } else if (k == "seed") {
      if (!emu_Choice(value, SEED_RULES, 3, &l->seedRule, fault)) return false;
    } else if (k == "seed_value") {
      if (!emu_HexNumber(value, &l->seed, &seedBytes, fault)) return false;
      l->seedBytes = static_cast<uint8_t>(seedBytes);
    } else if (k == "key") {
      if (!emu_Choice(value, KEY_RULES, 3, &l->keyRule, fault)) return false;
    } else if (k == "constant") {
      if (!emu_HexNumber(value, &l->constant, &count, fault)) return false;
    } else if (k == "pairs") {
      const toml::array* list = value.as_array();
      if (list == nullptr || list->size() > EMU_UDS_MAX_KEY_PAIRS)
        return emu_Fail(fault, value, "expected a list of up to 4 \"SEED:KEY\" pairs");
      l->noOfPairs = 0;
      for (const toml::node& item : *list) {
        const std::string text = item.is_string() ? item.as_string()->get() : "";
        const size_t colon = text.find(':');
        uint8_t b[4];
        std::string what;
        bool wildcard = false;
        size_t s = 0, k2 = 0;
        uint32_t seed = 0, keyValue = 0;
        if (colon == std::string::npos || !emu_ParseHexRequest(text.substr(0, colon), false, b, 4, &s, &wildcard, &what) || s == 0)
          return emu_Fail(fault, item, "expected \"SEED:KEY\" in hex, such as \"5678:9ABC\"");
        for (size_t i = 0; i < s; ++i) seed = seed << 8 | b[i];
        if (!emu_ParseHexRequest(text.substr(colon + 1), false, b, 4, &k2, &wildcard, &what) || k2 == 0)
          return emu_Fail(fault, item, "expected \"SEED:KEY\" in hex, such as \"5678:9ABC\"");
        for (size_t i = 0; i < k2; ++i) keyValue = keyValue << 8 | b[i];
        l->pairSeed[l->noOfPairs] = seed;
        l->pairKey[l->noOfPairs++] = keyValue;
      }
    } else if (k == "attempts") {
      if (!emu_Whole(value, 1, 15, &n, fault)) return false;
      l->maxAttempts = static_cast<uint8_t>(n);
    } else if (k == "delay") {
      if (!emu_Whole(value, 0, 600000, &n, fault)) return false;
      l->delayMs = static_cast<uint32_t>(n);
    } else {
      return emu_Fail(fault, value, emu_Unknown(k, "level, seed, seed_value, key, constant, pairs, attempts, delay"));
    }
  }
  if (!haveLevel) return emu_Fail(fault, node, "a security level needs its level");
  if (l->keyRule == EmuUdsKeyRule::Table && l->noOfPairs == 0) return emu_Fail(fault, node, "key = \"table\" needs its pairs");
  return true;
}

bool emu_ReadRoutine(const toml::table& t, const toml::node& node, EmuUdsRoutine* r, EmuFileFault* fault) {
  *r = EmuUdsRoutine{};
  bool haveId = false;
  for (auto&& [key, value] : t) {
    const std::string k(key.str());
    int64_t n = 0;
    size_t count = 0;
    if (k == "id") {
      if (!emu_Id(value, &r->id, fault)) return false;
      haveId = true;
    } else if (k == "run") {
      if (!emu_Whole(value, 0, 600000, &n, fault)) return false;
      r->runMs = static_cast<uint32_t>(n);
    } else if (k == "session") {
      if (!emu_Whole(value, 0, 3, &n, fault)) return false;
      r->session = static_cast<uint8_t>(n);
    } else if (k == "level") {
      if (!emu_Whole(value, 0, 0x3F, &n, fault)) return false;
      r->level = static_cast<uint8_t>(n);
    } else if (k == "result") {
      if (!emu_Bytes(value, 0, EMU_UDS_MAX_RESULT_BYTES, r->result, &count, fault)) return false;
      r->resultLength = static_cast<uint8_t>(count);
    } else {
      return emu_Fail(fault, value, emu_Unknown(k, "id, run, session, level, result"));
    }
  }
  if (!haveId) return emu_Fail(fault, node, "a routine needs its id");
  return true;
}

// A list of tables into `rows`, each by `read`; no two with the same `same` value.
template <typename Row, typename Key>
bool emu_ReadList(const toml::node& node, const char* what, uint8_t max, Row* rows, uint8_t* count,
                  bool (*read)(const toml::table&, const toml::node&, Row*, EmuFileFault*), Key (*same)(const Row&),
                  EmuFileFault* fault) {
  const toml::array* list = node.as_array();
  if (list == nullptr) return emu_Fail(fault, node, std::string("expected a list of ") + what + " tables");
  if (list->size() > max) return emu_Fail(fault, node, "more than " + std::to_string(max) + " " + what + " entries");
  uint8_t n = 0;
  for (const toml::node& item : *list) {
    const toml::table* t = item.as_table();
    if (t == nullptr) return emu_Fail(fault, item, std::string("expected a ") + what + " table");
    if (!read(*t, item, &rows[n], fault)) return false;
    for (uint8_t i = 0; i < n; ++i)
      if (same(rows[i]) == same(rows[n])) return emu_Fail(fault, item, std::string("a second ") + what + " of the same id");
    ++n;
  }
  *count = n;
  return true;
}

uint16_t emu_DidId(const EmuUdsDid& d) { return d.id; }
uint16_t emu_LevelId(const EmuUdsLevel& l) { return l.level; }
uint16_t emu_RoutineId(const EmuUdsRoutine& r) { return r.id; }

std::string emu_Hex16(uint16_t id) {
  const uint8_t b[2] = {static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
  return "\"" + emu_HexText(b, 2).erase(2, 1) + "\"";
}

std::string emu_HexOfBytes(uint32_t value, uint8_t bytes) {
  uint8_t b[4];
  for (uint8_t i = 0; i < bytes && i < 4; ++i) b[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
  std::string text = emu_HexText(b, bytes);
  std::string packed;
  for (char c : text)
    if (c != ' ') packed += c;
  return packed;
}

uint8_t emu_BytesOf(uint32_t value) { return value > 0xFFFFFF ? 4 : value > 0xFFFF ? 3 : value > 0xFF ? 2 : 1; }

void emu_WriteSection(std::ostream& out, const EmuUdsConfig& c, int number) {
  out << "\n[ecu." << number << ".uds]\n";
  out << "enabled = " << (c.enabled != 0 ? "true" : "false") << "\n";
  out << "p2 = " << c.p2Ms << "\np2_star = " << c.p2StarMs << "\ns3 = " << c.s3Ms << "\n";
  for (uint8_t i = 0; i < c.noOfDids && i < EMU_UDS_MAX_DIDS; ++i) {
    const EmuUdsDid& d = c.did[i];
    out << "\n[[ecu." << number << ".uds.did]]\nid = " << emu_Hex16(d.id) << "\n";
    switch (d.kind) {
      case EmuUdsDidKind::Bytes: out << "bytes = \"" << emu_HexText(d.data, d.length) << "\"\n"; break;
      case EmuUdsDidKind::Vin: out << "vin = true\n"; break;
      case EmuUdsDidKind::Item: {
        const EmuVehicleItem* item = emu_FindVehicleItemByPid(d.pid);
        out << "item = \"" << (item != nullptr ? item->name : "") << "\"\n";
        break;
      }
    }
    out << "writable = " << (d.writable != 0 ? "true" : "false") << "\n";
    out << "write_session = " << int{d.writeSession} << "\nwrite_level = " << int{d.writeLevel} << "\nread_level = "
        << int{d.readLevel} << "\ndelay = " << d.delayMs << "\n";
  }
  for (uint8_t i = 0; i < c.noOfLevels && i < EMU_UDS_MAX_LEVELS; ++i) {
    const EmuUdsLevel& l = c.level[i];
    out << "\n[[ecu." << number << ".uds.security]]\nlevel = " << int{l.level} << "\n";
    out << "seed = \"" << SEED_RULES[static_cast<int>(l.seedRule)] << "\"\nseed_value = \"" << emu_HexOfBytes(l.seed, l.seedBytes)
        << "\"\nkey = \"" << KEY_RULES[static_cast<int>(l.keyRule)] << "\"\n";
    if (l.keyRule == EmuUdsKeyRule::Table) {
      out << "pairs = [";
      for (uint8_t p = 0; p < l.noOfPairs && p < EMU_UDS_MAX_KEY_PAIRS; ++p)
        out << (p == 0 ? "\"" : ", \"") << emu_HexOfBytes(l.pairSeed[p], emu_BytesOf(l.pairSeed[p])) << ":"
            << emu_HexOfBytes(l.pairKey[p], emu_BytesOf(l.pairKey[p])) << "\"";
      out << "]\n";
    } else {
      out << "constant = \"" << emu_HexOfBytes(l.constant, l.seedBytes) << "\"\n";
    }
    out << "attempts = " << int{l.maxAttempts} << "\ndelay = " << l.delayMs << "\n";
  }
  for (uint8_t i = 0; i < c.noOfRoutines && i < EMU_UDS_MAX_ROUTINES; ++i) {
    const EmuUdsRoutine& r = c.routine[i];
    out << "\n[[ecu." << number << ".uds.routine]]\nid = " << emu_Hex16(r.id) << "\nrun = " << r.runMs
        << "\nsession = " << int{r.session} << "\nlevel = " << int{r.level} << "\nresult = \""
        << emu_HexText(r.result, r.resultLength) << "\"\n";
  }
}

}  // namespace

bool emu_ReadUds(const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault) {
  const toml::table* t = node.as_table();
  if (t == nullptr) return emu_Fail(fault, node, "expected the table [ecu.N.uds]");
  EmuUdsConfig c = v.ecu[ecuIdx].uds;
  for (auto&& [key, value] : *t) {
    const std::string k(key.str());
    int64_t n = 0;
    if (k == "enabled") {
      if (!emu_Flag(value, &c.enabled, fault)) return false;
    } else if (k == "p2" || k == "p2_star") {
      if (!emu_Whole(value, 0, 65535, &n, fault)) return false;
      (k == "p2" ? c.p2Ms : c.p2StarMs) = static_cast<uint16_t>(n);
    } else if (k == "s3") {
      if (!emu_Whole(value, 100, 600000, &n, fault)) return false;
      c.s3Ms = static_cast<uint32_t>(n);
    } else if (k == "did") {
      if (!emu_ReadList(value, "did", EMU_UDS_MAX_DIDS, c.did, &c.noOfDids, emu_ReadDid, emu_DidId, fault)) return false;
    } else if (k == "security") {
      if (!emu_ReadList(value, "security", EMU_UDS_MAX_LEVELS, c.level, &c.noOfLevels, emu_ReadLevel, emu_LevelId, fault))
        return false;
    } else if (k == "routine") {
      if (!emu_ReadList(value, "routine", EMU_UDS_MAX_ROUTINES, c.routine, &c.noOfRoutines, emu_ReadRoutine, emu_RoutineId,
                        fault))
        return false;
    } else {
      return emu_Fail(fault, value, emu_Unknown(k, "enabled, p2, p2_star, s3, did, security, routine"));
    }
  }
  v.ecu[ecuIdx].uds = c;
  return true;
}

void emu_WriteUds(std::ostream& out, const EmuEcu& ecu, const EmuEcu& initial, int number) {
  std::ostringstream mine, theirs;
  emu_WriteSection(mine, ecu.uds, number);
  emu_WriteSection(theirs, initial.uds, number);
  if (mine.str() != theirs.str()) out << mine.str();
}
