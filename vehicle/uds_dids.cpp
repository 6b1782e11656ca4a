// Data identifiers of an ECU's diagnostic server: 22 reads one or several, 2E writes one. A DID
// is its own bytes, the car's live value of a service 01 PID, or the car's VIN, so a write
// changes the running car (and is saved with it).
#include <string.h>

#include "vehicle/uds_internal.h"
#include "vehicle/vehicle.h"

namespace {

constexpr uint8_t VIN_CHARS = EMU_VIN_BYTES - EMU_VIN_FILL;

EmuUdsDid* emu_UdsFindDid(EmuUdsConfig& c, uint16_t id) {
  for (uint8_t i = 0; i < c.noOfDids && i < EMU_UDS_MAX_DIDS; ++i)
    if (c.did[i].id == id) return &c.did[i];
  return nullptr;
}

uint8_t emu_UdsDidLength(const EmuUdsDid& d) { return d.kind == EmuUdsDidKind::Vin ? VIN_CHARS : d.length; }

// The DID's data as it stands now.
void emu_UdsPutDid(const EmuUdsRequest& r, const EmuUdsDid& d) {
  switch (d.kind) {
    case EmuUdsDidKind::Bytes:
      for (uint8_t i = 0; i < d.length && i < EMU_UDS_MAX_DID_BYTES; ++i) r.out->Put(d.data[i]);
      return;
    case EmuUdsDidKind::Vin:
      for (uint8_t i = 0; i < VIN_CHARS; ++i) r.out->Put(r.ecu.vin[EMU_VIN_FILL + i]);
      return;
    case EmuUdsDidKind::Item: {
      // The service 01 answer "41 PID data", as the car gives it now.
      EmuEcuAnswer live;
      emu_InitFrameDataHeld(0x01, d.pid, 0, r.ecuIdx, true, &live);
      for (uint8_t i = 0; i < d.length; ++i) r.out->Put(2 + i < live.length ? live.data[2 + i] : 0x00);
      return;
    }
  }
}

}  // namespace

void emu_UdsReadDids(EmuUdsRequest& r) {
  if ((r.n - 1) % 2 != 0) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  // A DID the ECU does not have is left out; only when it has none of them is the answer 31.
  uint16_t length = 1;
  uint16_t delayMs = 0;
  bool any = false;
  for (uint8_t i = 1; i + 1 < r.n; i += 2) {
    const EmuUdsDid* d = emu_UdsFindDid(r.config, static_cast<uint16_t>(r.bytes[i] << 8 | r.bytes[i + 1]));
    if (d == nullptr) continue;
    if (d->readLevel != 0 && r.state.unlockedLevel != d->readLevel) return emu_UdsNegative(r, EMU_UDS_SECURITY_DENIED);
    any = true;
    length = static_cast<uint16_t>(length + 2 + emu_UdsDidLength(*d));
    if (d->delayMs > delayMs) delayMs = d->delayMs;
  }
  if (!any) return emu_UdsNegative(r, EMU_UDS_OUT_OF_RANGE);
  if (length > EMU_TABLE_MAX_MESSAGE) return emu_UdsNegative(r, EMU_UDS_RESPONSE_TOO_LONG);
  if (delayMs != 0) {
    emu_UdsNegative(r, EMU_RESPONSE_PENDING);
    r.negative = 0;  // a pending answer, not a refusal
    r.out->delayedLine = r.out->noOfLines;
    r.out->delayMs = delayMs;
    r.out->NewLine();
  } else {
    emu_UdsPositive(r);
  }
  if (delayMs != 0) r.out->Put(0x62);
  for (uint8_t i = 1; i + 1 < r.n; i += 2) {
    const EmuUdsDid* d = emu_UdsFindDid(r.config, static_cast<uint16_t>(r.bytes[i] << 8 | r.bytes[i + 1]));
    if (d == nullptr) continue;
    r.out->Put16(d->id);
    emu_UdsPutDid(r, *d);
  }
}

void emu_UdsWriteDid(EmuUdsRequest& r) {
  EmuUdsDid* d = emu_UdsFindDid(r.config, static_cast<uint16_t>(r.bytes[1] << 8 | r.bytes[2]));
  if (d == nullptr || d->writable == 0) return emu_UdsNegative(r, EMU_UDS_OUT_OF_RANGE);
  if (d->writeSession != 0 && r.state.session != d->writeSession) return emu_UdsNegative(r, EMU_UDS_CONDITIONS_NOT_CORRECT);
  if (d->writeLevel != 0 && r.state.unlockedLevel != d->writeLevel) return emu_UdsNegative(r, EMU_UDS_SECURITY_DENIED);
  const uint8_t length = emu_UdsDidLength(*d);
  if (r.n != 3 + length) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  const uint8_t* data = r.bytes + 3;
  switch (d->kind) {
    case EmuUdsDidKind::Bytes: memcpy(d->data, data, length); break;
    case EmuUdsDidKind::Vin: memcpy(r.ecu.vin + EMU_VIN_FILL, data, VIN_CHARS); break;
    case EmuUdsDidKind::Item:
      // The PID now sends these bytes as its own value.
      memset(r.ecu.pidValue[d->pid], 0, sizeof r.ecu.pidValue[d->pid]);
      memcpy(r.ecu.pidValue[d->pid], data, length > 4 ? 4 : length);
      r.ecu.pidValueSet[d->pid / 8] = static_cast<uint8_t>(r.ecu.pidValueSet[d->pid / 8] | 1 << (d->pid % 8));
      break;
  }
  emu_UdsPositive(r);
  r.out->Put16(d->id);
}
