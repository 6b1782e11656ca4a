// Periodic CAN frames of an ECU in vehicle files: read into its table, written back the same way.
#include "vehicle/vehicle_file_broadcasts.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "bus/hex.h"
#include "vehicle/vehicle_items.h"

namespace {

constexpr uint32_t MAX_ID11 = 0x7FF;
constexpr uint32_t MAX_ID29 = 0x1FFFFFFF;

bool emu_Fail(EmuFileFault* fault, const toml::node& node, const std::string& what) {
  fault->node = &node;
  fault->what = what;
  return false;
}

// "7E9" (11 bits) or "18FEF100" (29 bits): the number of digits says which.
bool emu_ReadId(const toml::node& node, EmuBroadcast* b, EmuFileFault* fault) {
  const char* const expected = "expected an identifier of 3 hex digits (11 bits, up to 7FF) or 8 (29 bits)";
  if (!node.is_string()) return emu_Fail(fault, node, expected);
  const std::string& text = node.as_string()->get();
  if (text.size() != 3 && text.size() != 8) return emu_Fail(fault, node, expected);
  uint32_t id = 0;
  for (char c : text) {
    const int d = emu_HexDigit(c);
    if (d < 0) return emu_Fail(fault, node, expected);
    id = id << 4 | static_cast<uint32_t>(d);
  }
  b->extended = text.size() == 8 ? 1 : 0;
  if (id > (b->extended != 0 ? MAX_ID29 : MAX_ID11)) return emu_Fail(fault, node, expected);
  b->id = id;
  return true;
}

bool emu_ReadBroadcast(const toml::table& t, const toml::node& node, EmuBroadcast* b, EmuFileFault* fault) {
  bool haveId = false, havePeriod = false, haveData = false;
  for (auto&& [key, value] : t) {
    const std::string k(key.str());
    if (k == "id") {
      if (!emu_ReadId(value, b, fault)) return false;
      haveId = true;
    } else if (k == "period") {
      const auto ms = value.value_exact<int64_t>();
      if (!ms || *ms < EMU_BROADCAST_MIN_MS || *ms > EMU_BROADCAST_MAX_MS)
        return emu_Fail(fault, value, "expected a period from " + std::to_string(EMU_BROADCAST_MIN_MS) + " to " +
                                          std::to_string(EMU_BROADCAST_MAX_MS) + " ms");
      b->periodMs = static_cast<uint16_t>(*ms);
      havePeriod = true;
    } else if (k == "data") {
      if (!value.is_string()) return emu_Fail(fault, value, "expected the data as hex bytes in quotes");
      const std::string& text = value.as_string()->get();
      const EmuHexRead read = emu_ReadHexBytes(text.data(), text.size(), {" ", true}, b->data, sizeof b->data);
      if (read.error == EmuHexError::NotHex) return emu_Fail(fault, value, "not a hex byte: '" + std::string(1, text[read.at]) + "'");
      if (read.error == EmuHexError::OddDigits) return emu_Fail(fault, value, "an odd number of hex digits");
      if (read.error != EmuHexError::None || read.n == 0) return emu_Fail(fault, value, "expected 1 to 8 bytes");
      b->dlc = static_cast<uint8_t>(read.n);
      haveData = true;
    } else if (k == "value") {
      const EmuVehicleItem* item = value.is_string() ? emu_FindVehicleItem(value.as_string()->get().c_str()) : nullptr;
      if (item == nullptr) return emu_Fail(fault, value, "expected the name of a value such as \"speed\" or \"rpm\"");
      b->livePid = item->pid;
      b->dlc = item->bytes;
    } else {
      return emu_Fail(fault, value, "unknown key '" + k + "' (id, period, data, value)");
    }
  }
  if (!haveId || !havePeriod) return emu_Fail(fault, node, "a broadcast needs its id and period");
  if (haveData == (b->livePid != 0)) return emu_Fail(fault, node, "give either data or value");
  return true;
}

}  // namespace

bool emu_ReadBroadcasts(const toml::node& node, EmuVehicle& v, uint8_t ecuIdx, EmuFileFault* fault) {
  const char* const expected = "expected a list of { id = \"..\", period = MS, data = \"..\" }";
  const toml::array* list = node.as_array();
  if (list == nullptr) return emu_Fail(fault, node, expected);
  if (list->size() > EMU_MAX_BROADCASTS)
    return emu_Fail(fault, node, "more than " + std::to_string(EMU_MAX_BROADCASTS) + " broadcasts");
  EmuBroadcast read[EMU_MAX_BROADCASTS] = {};
  uint8_t n = 0;
  for (const toml::node& item : *list) {
    const toml::table* t = item.as_table();
    if (t == nullptr) return emu_Fail(fault, item, expected);
    if (!emu_ReadBroadcast(*t, item, &read[n], fault)) return false;
    ++n;
  }
  EmuEcu& ecu = v.ecu[ecuIdx];
  ecu.noOfBroadcasts = n;
  memcpy(ecu.broadcast, read, sizeof read);
  return true;
}

void emu_WriteBroadcasts(std::ostream& out, const EmuVehicle& v, const EmuEcu&, uint8_t ecuIdx) {
  const EmuEcu& ecu = v.ecu[ecuIdx];
  if (ecu.noOfBroadcasts == 0) return;
  out << "broadcast = [";
  for (uint8_t i = 0; i < ecu.noOfBroadcasts && i < EMU_MAX_BROADCASTS; ++i) {
    const EmuBroadcast& b = ecu.broadcast[i];
    char id[16];
    snprintf(id, sizeof id, b.extended != 0 ? "%08X" : "%03X", static_cast<unsigned>(b.id));
    out << "\n  { id = \"" << id << "\", period = " << b.periodMs;
    const EmuVehicleItem* item = b.livePid != 0 ? emu_FindVehicleItemByPid(b.livePid) : nullptr;
    if (item != nullptr) {
      out << ", value = \"" << item->name << "\" },";
    } else {
      out << ", data = \"" << emu_HexText(b.data, b.dlc) << "\" },";
    }
  }
  out << "\n]\n";
}
