// The car's answer to one request's bytes, whichever adapter asks: the OBD services the vehicle
// builds itself, the request/answer table behind them, the ECU's faults on top.
#include "vehicle/request_answer.h"

#include "vehicle/vehicle_faults.h"

namespace {

// Service 01 with several PIDs (CAN only): one message with each supported PID and its data.
bool emu_MultiPidAnswer(const uint8_t* request, uint8_t n, uint8_t idx, EmuEcuAnswer* out) {
  out->Clear();
  out->NewLine();
  out->Put(0x41);
  bool any = false;
  for (uint8_t i = 1; i < n; ++i) {
    const uint8_t pid = request[i];
    if (!emu_RequestIsKnown(0x01, pid) || !emu_EcuAnswers(0x01, pid, 0, idx, true)) continue;
    EmuEcuAnswer one;
    emu_InitFrameData(0x01, pid, 0, idx, true, &one);
    for (uint8_t b = 1; b < one.length; ++b) out->Put(one.data[b]);
    any = true;
  }
  return any;
}

// The request forms the vehicle answers: 01 PID, 02 PID [frame], 03, 04, 06 MID, 07, 0A, 09 type.
bool emu_RequestFits(uint8_t service, uint8_t n) {
  switch (service) {
    case 0x01:
    case 0x06:
    case 0x09: return n == 2;
    case 0x02: return n == 2 || n == 3;
    case 0x03:
    case 0x04:
    case 0x07:
    case 0x0A: return n == 1;
    default: return false;
  }
}

bool emu_VehicleOwnAnswer(const uint8_t* request, uint8_t n, uint8_t idx, bool can, EmuEcuAnswer* out) {
  const uint8_t service = request[0];
  if (service == 0x01 && n > 2 && n <= 1 + EMU_REQUEST_MAX_MULTI_PIDS) {
    return can && emu_MultiPidAnswer(request, n, idx, out);
  }
  if (!emu_RequestFits(service, n)) return false;
  const uint8_t pid = n > 1 ? request[1] : 0;
  const uint8_t frame = service == 0x02 && n > 2 ? request[2] : 0;
  if (!emu_RequestIsKnown(service, pid) || !emu_EcuAnswers(service, pid, frame, idx, can)) return false;
  out->Clear();
  emu_InitFrameData(service, pid, frame, idx, can, out);
  // Codes are cleared only by an ECU that accepted the request.
  if (service == 0x04 && out->length > 0 && out->data[0] == 0x44) emu_VehicleClearCodes(idx, can);
  return out->length > 0;
}

}  // namespace

bool emu_EcuAnswers(uint8_t service, uint8_t pid, uint8_t frame, uint8_t ecuIdx, bool can) {
  switch (service) {
    case 0x01:
    case 0x02:
      return emu_VehicleSupportsPid(service, pid, frame, ecuIdx);
    case 0x09:
      return emu_VehicleSupportsInfoType(pid, ecuIdx);
    case 0x0A:
      return can;  // permanent codes exist on CAN only
    case 0x06:
      return emu_VehicleSupportsTest(pid, ecuIdx, can);
    default:
      return true;
  }
}

bool emu_RequestIsKnown(uint8_t service, uint8_t pid) {
  switch (service) {
    case 0x01:
    case 0x02:
      return pid <= 0x60 || pid == 0x70 || pid == 0x80 || pid == 0xA0 || pid == 0xC0 || pid == 0xE0;
    case 0x09:
      return pid <= 0x0B;
    case 0x03:
    case 0x04:
    case 0x06:
    case 0x07:
    case 0x0A:
      return true;
    default:
      return false;
  }
}

bool emu_VehicleAnswerRequest(const uint8_t* request, uint8_t n, uint8_t ecuIdx, bool can, EmuEcuAnswer* out,
                              EmuUdsAddressing addressing) {
  if (n == 0 || emu_CarEcuSilent(ecuIdx)) return false;
  if (!emu_VehicleOwnAnswer(request, n, ecuIdx, can, out) &&
      !emu_VehicleTableOrServerAnswer(request, n, ecuIdx, can, out, addressing)) {
    return false;
  }
  emu_CarApplyEcuFaults(ecuIdx, request[0], out);
  return true;
}
