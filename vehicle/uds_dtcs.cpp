// Trouble codes through an ECU's diagnostic server: 19 reports the ECU's confirmed, pending and
// permanent codes (the OBD lists services 03, 07 and 0A read) as 3-byte DTCs with status bits,
// and its freeze frame as a snapshot; 14 clears as service 04 does.
#include "vehicle/uds_internal.h"
#include "vehicle/vehicle.h"

namespace {

// Status bits.
constexpr uint8_t TEST_FAILED = 0x01;
constexpr uint8_t FAILED_THIS_CYCLE = 0x02;
constexpr uint8_t PENDING = 0x04;
constexpr uint8_t CONFIRMED = 0x08;
constexpr uint8_t FAILED_SINCE_CLEAR = 0x20;
constexpr uint8_t WARNING_LAMP = 0x80;
constexpr uint8_t AVAILABILITY_MASK = 0xFF;  // every bit is reported
constexpr uint8_t FAILURE_TYPE = 0x00;       // the third byte: no failure type
constexpr uint8_t DTC_FORMAT_ISO14229 = 0x01;
constexpr uint8_t SNAPSHOT_RECORD = 0x01;
constexpr uint8_t OCCURRENCE_RECORD = 0x01;
constexpr uint8_t ALL_RECORDS = 0xFF;
constexpr uint8_t MAX_SNAPSHOT_PIDS = 24;  // DIDs F4xx of the freeze frame in one snapshot

struct EmuUdsDtc {
  uint16_t code;
  uint8_t status;
};
constexpr uint8_t MAX_CODES = 3 * EMU_MAX_DTCS;

// The ECU's codes, each once, with the bits of the lists it is on.
uint8_t emu_UdsCollect(const EmuEcu& ecu, EmuUdsDtc (&codes)[MAX_CODES]) {
  struct List {
    const uint16_t* codes;
    uint8_t count;
    uint8_t status;
  };
  const uint8_t lamp = ecu.milState != 0 ? WARNING_LAMP : 0;
  const List lists[] = {
      {ecu.confirmedDtc, emu_AtMost16(ecu.noOfDtcs), static_cast<uint8_t>(TEST_FAILED | FAILED_THIS_CYCLE | CONFIRMED | FAILED_SINCE_CLEAR | lamp)},
      {ecu.pendingDtc, emu_AtMost16(ecu.noOfPendingDtcs), static_cast<uint8_t>(TEST_FAILED | FAILED_THIS_CYCLE | PENDING | FAILED_SINCE_CLEAR)},
      {ecu.permanentDtc, emu_AtMost16(ecu.noOfPermanentDtcs), CONFIRMED},
  };
  uint8_t n = 0;
  for (const List& l : lists) {
    for (uint8_t i = 0; i < l.count; ++i) {
      uint8_t k = 0;
      while (k < n && codes[k].code != l.codes[i]) ++k;
      if (k == n) codes[n++] = {l.codes[i], 0};
      codes[k].status = static_cast<uint8_t>(codes[k].status | l.status);
    }
  }
  return n;
}

void emu_UdsPutDtc(EmuEcuAnswer* out, const EmuUdsDtc& d) {
  out->Put16(d.code);
  out->Put(FAILURE_TYPE);
  out->Put(d.status);
}

// The code a 3-byte DTC of the request names among the ECU's; null when it has none such.
const EmuUdsDtc* emu_UdsFindDtc(const EmuUdsDtc* codes, uint8_t n, const uint8_t* dtc) {
  if (dtc[2] != FAILURE_TYPE) return nullptr;
  for (uint8_t i = 0; i < n; ++i)
    if (codes[i].code == (dtc[0] << 8 | dtc[1])) return &codes[i];
  return nullptr;
}

// 19 04: the freeze frame (service 02 frame 0) as DIDs F4xx, when the code stored it.
void emu_UdsSnapshot(EmuUdsRequest& r, const EmuUdsDtc& d) {
  EmuEcuAnswer pid02;
  emu_InitFrameDataHeld(0x02, 0x02, 0, r.ecuIdx, true, &pid02);  // 42 02 00 code
  const bool stored = pid02.length >= 5 && (pid02.data[3] << 8 | pid02.data[4]) == d.code;
  if (!stored) return;
  uint8_t pids[MAX_SNAPSHOT_PIDS];
  uint8_t count = 0;
  const EmuEcu& frameEcu = vehicle.ecu[r.ecuIdx];  // the freeze-frame map row of frame 0
  for (uint16_t pid = 0x03; pid <= 0xFF && count < MAX_SNAPSHOT_PIDS; ++pid) {
    const uint8_t p = static_cast<uint8_t>(pid);
    if (p % 0x20 == 0) continue;  // the support maps
    if ((frameEcu.supPidsSid02[emu_PidByte(p)] & emu_PidMask(p)) != 0) pids[count++] = p;
  }
  r.out->Put(SNAPSHOT_RECORD);
  r.out->Put(count);
  for (uint8_t i = 0; i < count; ++i) {
    EmuEcuAnswer one;
    emu_InitFrameDataHeld(0x02, pids[i], 0, r.ecuIdx, true, &one);  // 42 PID 00 data
    r.out->Put(0xF4);
    r.out->Put(pids[i]);
    for (uint8_t b = 3; b < one.length; ++b) r.out->Put(one.data[b]);
  }
}

}  // namespace

void emu_UdsReadCodes(EmuUdsRequest& r) {
  EmuUdsDtc codes[MAX_CODES];
  const uint8_t n = emu_UdsCollect(r.ecu, codes);
  switch (r.sub) {
    case 0x01:
    case 0x02: {
      if (r.n != 3) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
      const uint8_t mask = r.bytes[2];
      uint16_t matching = 0;
      for (uint8_t i = 0; i < n; ++i) matching = static_cast<uint16_t>(matching + ((codes[i].status & mask) != 0));
      emu_UdsPositive(r);
      r.out->Put(r.sub);
      r.out->Put(AVAILABILITY_MASK);
      if (r.sub == 0x01) {
        r.out->Put(DTC_FORMAT_ISO14229);
        r.out->Put16(matching);
        return;
      }
      for (uint8_t i = 0; i < n; ++i)
        if ((codes[i].status & mask) != 0) emu_UdsPutDtc(r.out, codes[i]);
      return;
    }
    case 0x0A:
      if (r.n != 2) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
      emu_UdsPositive(r);
      r.out->Put(r.sub);
      r.out->Put(AVAILABILITY_MASK);
      for (uint8_t i = 0; i < n; ++i) emu_UdsPutDtc(r.out, codes[i]);
      return;
    case 0x04:
    case 0x06: {
      if (r.n != 6) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
      const EmuUdsDtc* d = emu_UdsFindDtc(codes, n, r.bytes + 2);
      const uint8_t record = r.bytes[5];
      const uint8_t own = r.sub == 0x04 ? SNAPSHOT_RECORD : OCCURRENCE_RECORD;
      if (d == nullptr || (record != own && record != ALL_RECORDS)) return emu_UdsNegative(r, EMU_UDS_OUT_OF_RANGE);
      emu_UdsPositive(r);
      r.out->Put(r.sub);
      emu_UdsPutDtc(r.out, *d);
      if (r.sub == 0x04) {
        emu_UdsSnapshot(r, *d);
      } else {
        r.out->Put(OCCURRENCE_RECORD);
        r.out->Put((d->status & TEST_FAILED) != 0 ? 0x01 : 0x00);  // times it occurred
      }
      return;
    }
    default:
      return emu_UdsNegative(r, EMU_UDS_SUB_FUNCTION_NOT_SUPPORTED);
  }
}

void emu_UdsClearCodes(EmuUdsRequest& r) {
  if (r.n != 4) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  const uint32_t group = static_cast<uint32_t>(r.bytes[1] << 16 | r.bytes[2] << 8 | r.bytes[3]);
  if (group != 0xFFFFFF) {
    // One code as a group: the ECU's lists clear together, as service 04 clears them.
    EmuUdsDtc codes[MAX_CODES];
    if (emu_UdsFindDtc(codes, emu_UdsCollect(r.ecu, codes), r.bytes + 1) == nullptr) return emu_UdsNegative(r, EMU_UDS_OUT_OF_RANGE);
  }
  if (r.ecu.negRespCode != 0) return emu_UdsNegative(r, emu_NegativeCodeByte(r.ecu.negRespCode));
  // A UDS tester talks CAN: the confirmed codes become the permanent ones.
  emu_VehicleClearCodesHeld(r.ecuIdx, true);
  emu_UdsPositive(r);
}
