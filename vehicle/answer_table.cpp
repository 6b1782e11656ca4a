// The request/answer table: what an ECU answers to requests the vehicle has no model of, as a
// user gave (or captured) it. Off CAN an answer longer than one message's 7 data bytes goes out
// as several messages of 7, as J1850 and the K-line carry them.
#include <string.h>

#include <memory>

#include "bus/negative_codes.h"
#include "vehicle/uds_server.h"
#include "vehicle/vehicle.h"

namespace {

bool emu_EntryMatches(const EmuTableEntry& e, const uint8_t* request, uint8_t n) {
  if (e.wildcard != 0 ? n < e.requestLength : n != e.requestLength) return false;
  return memcmp(e.request, request, e.requestLength) == 0;
}

// The exact entry first; else the wildcard entry with the longest prefix (the first of equals).
const EmuTableEntry* emu_FindEntry(const EmuAnswerTable& t, uint8_t ecuIdx, const uint8_t* request, uint8_t n,
                                   EmuTableMatch match = EmuTableMatch::Any) {
  const EmuTableEntry* best = nullptr;
  for (uint16_t i = 0; i < t.noOfEntries && i < EMU_MAX_TABLE_ENTRIES; ++i) {
    const EmuTableEntry& e = t.entry[i];
    if (e.ecuIdx != ecuIdx || !emu_EntryMatches(e, request, n)) continue;
    if ((match == EmuTableMatch::Exact && e.wildcard != 0) || (match == EmuTableMatch::Wildcard && e.wildcard == 0)) continue;
    if (e.wildcard == 0) return &e;
    if (best == nullptr || e.requestLength > best->requestLength) best = &e;
  }
  return best;
}

void emu_PutMessage(const EmuAnswerTable& t, const EmuTableMessage& m, uint8_t service, bool can,
                    EmuEcuAnswer* out) {
  out->NewLine();
  if (m.negative != 0) {
    out->Put(EMU_NEGATIVE_RESPONSE);
    out->Put(service);
    out->Put(m.negative);
    return;
  }
  for (uint8_t i = 0; i < m.length && m.at + i < EMU_TABLE_POOL_BYTES; ++i) {
    if (!can && i > 0 && i % EMU_KLINE_LINE_BYTES == 0) out->NewLine();
    out->Put(t.pool[m.at + i]);
  }
}

bool emu_HasMessage(const EmuTableMessage& m) { return m.length != 0 || m.negative != 0; }

// Off CAN (ISO 14230 on the K-line) the server answers the services a K-line ECU serves there;
// the rest (communication control, DTC setting, clearing by 14) is refused as unsupported.
constexpr uint8_t KLINE_SERVER_SERVICES[] = {0x10, 0x11, 0x19, 0x22, 0x27, 0x2E, 0x31, 0x3E};

bool emu_KLineServerServes(uint8_t sid) {
  for (uint8_t s : KLINE_SERVER_SERVICES)
    if (s == sid) return true;
  return false;
}

// A K-line message carries 7 data bytes: a longer answer (the VIN by 22 F190, several DIDs at
// once, a long list of codes) is refused as too long, as such an ECU does.
void emu_KLineFitAnswer(uint8_t sid, EmuEcuAnswer* out) {
  for (uint8_t line = 0; line < out->noOfLines; ++line) {
    if (out->LineLength(line) <= EMU_KLINE_LINE_BYTES) continue;
    out->Clear();
    out->NewLine();
    out->Put(EMU_NEGATIVE_RESPONSE);
    out->Put(sid);
    out->Put(EMU_UDS_RESPONSE_TOO_LONG);
    return;
  }
}

}  // namespace

bool emu_TableAnswer(const uint8_t* request, uint8_t n, uint8_t ecuIdx, bool can, EmuEcuAnswer* out,
                     EmuTableMatch match) {
  out->Clear();
  if (n == 0) return false;
  emu_VehicleLock();
  const EmuAnswerTable& t = vehicle.table;
  const EmuTableEntry* e = emu_FindEntry(t, ecuIdx, request, n, match);
  if (e != nullptr && emu_HasMessage(e->answer)) {
    emu_PutMessage(t, e->answer, request[0], can, out);
    if (emu_HasMessage(e->then)) {
      out->delayedLine = out->noOfLines;
      emu_PutMessage(t, e->then, request[0], can, out);
    }
    out->delayMs = e->delayMs;
  }
  emu_VehicleUnlock();
  return out->length > 0;
}

bool emu_TableKnows(const uint8_t* request, uint8_t n) {
  emu_VehicleLock();
  bool known = false;
  for (uint8_t idx = 0; idx < EMU_MAX_ECUS && !known; ++idx) {
    known = emu_FindEntry(vehicle.table, idx, request, n) != nullptr ||
            (n > 0 && request[0] >= 0x10 && vehicle.ecu[idx].uds.enabled != 0);
  }
  emu_VehicleUnlock();
  return known;
}

void emu_TablePack(EmuVehicle& v, int droppedEcu) {
  auto kept = std::make_unique<EmuAnswerTable>();
  kept->noOfEntries = 0;
  kept->poolUsed = 0;
  const EmuAnswerTable& t = v.table;
  for (uint16_t i = 0; i < t.noOfEntries && i < EMU_MAX_TABLE_ENTRIES; ++i) {
    const EmuTableEntry& e = t.entry[i];
    if (e.ecuIdx == droppedEcu) continue;
    EmuTableEntry& k = kept->entry[kept->noOfEntries++];
    k = e;
    for (EmuTableMessage* m : {&k.answer, &k.then}) {
      memcpy(kept->pool + kept->poolUsed, t.pool + m->at, m->length);
      m->at = static_cast<uint16_t>(kept->poolUsed);
      kept->poolUsed += m->length;
    }
  }
  v.table.noOfEntries = kept->noOfEntries;
  v.table.poolUsed = kept->poolUsed;
  memcpy(v.table.entry, kept->entry, kept->noOfEntries * sizeof kept->entry[0]);
  memcpy(v.table.pool, kept->pool, kept->poolUsed);
}

bool emu_TableAdd(EmuVehicle& v, const EmuTableEntry& entry, const EmuTableAnswerBytes& answer,
                  const EmuTableAnswerBytes& then, const char** error) {
  EmuAnswerTable& t = v.table;
  uint16_t slot = 0;
  while (slot < t.noOfEntries &&
         !(t.entry[slot].ecuIdx == entry.ecuIdx && t.entry[slot].wildcard == entry.wildcard &&
           t.entry[slot].requestLength == entry.requestLength &&
           memcmp(t.entry[slot].request, entry.request, entry.requestLength) == 0)) {
    ++slot;
  }
  if (slot == EMU_MAX_TABLE_ENTRIES) {
    *error = "more than 256 answers in the vehicle";
    return false;
  }
  const uint32_t needed = static_cast<uint32_t>(answer.length) + then.length;
  if (t.poolUsed + needed > EMU_TABLE_POOL_BYTES) {
    // The bytes of replaced entries are given back first (a replaced one's own, too).
    if (slot < t.noOfEntries) t.entry[slot].answer.length = t.entry[slot].then.length = 0;
    emu_TablePack(v, -1);
    if (t.poolUsed + needed > EMU_TABLE_POOL_BYTES) {
      *error = "more than 16384 answer bytes in the vehicle";
      return false;
    }
  }
  EmuTableEntry& e = t.entry[slot];
  e = entry;
  const EmuTableAnswerBytes* parts[2] = {&answer, &then};
  EmuTableMessage* messages[2] = {&e.answer, &e.then};
  for (int i = 0; i < 2; ++i) {
    messages[i]->at = static_cast<uint16_t>(t.poolUsed);
    messages[i]->length = parts[i]->length;
    messages[i]->negative = parts[i]->negative;
    if (parts[i]->length > 0) memcpy(t.pool + t.poolUsed, parts[i]->data, parts[i]->length);
    t.poolUsed += parts[i]->length;
  }
  if (slot == t.noOfEntries) ++t.noOfEntries;
  return true;
}

bool emu_VehicleTableOrServerAnswer(const uint8_t* request, uint8_t n, uint8_t ecuIdx, bool can, EmuEcuAnswer* out,
                                    EmuUdsAddressing addressing) {
  // A captured answer overrides the server; the server comes before a table's catch-alls, and
  // refuses what neither serves.
  if (emu_TableAnswer(request, n, ecuIdx, can, out, EmuTableMatch::Exact)) return true;
  const bool served = can || emu_KLineServerServes(request[0]);
  if (served && emu_UdsAnswer(request, n, ecuIdx, out, addressing)) {
    if (!can) emu_KLineFitAnswer(request[0], out);
    return out->length > 0;
  }
  if (emu_TableAnswer(request, n, ecuIdx, can, out, EmuTableMatch::Wildcard)) return true;
  return emu_UdsRefusal(request, n, ecuIdx, out, addressing);
}
