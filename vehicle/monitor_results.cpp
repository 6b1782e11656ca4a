// Service 06, on-board monitoring test results. On CAN a tester asks per monitor ID (06 MID) and
// the ECU answers 46 MID, then per test of that monitor TID, unit and scaling ID, value, minimum
// and maximum (two bytes each), several frames when long. On J1850 and the K-line the older form
// asks per test ID (06 TID): each result with that TID goes out as a message of its own,
// 46 TID CID VV VV LL LL, the component ID being the monitor ID with bit 7 telling whether the
// limit is the maximum (set) or the minimum (clear): one message with the maximum, and one with
// the minimum when it is not 0. Monitor IDs from 80 on (misfire) exist on CAN only, and so do
// results whose TID is a range ID (00, 20, ... E0).
// The range IDs (00, 20, ... E0) answer four bytes of support bits chained as service 01's.
#include <string.h>

#include "vehicle/monitor_results.h"

namespace {

constexpr uint8_t NON_CAN_MAX_MID = 0x7F;
constexpr uint8_t LIMIT_IS_MAXIMUM = 0x80;
constexpr uint8_t NON_CAN_MESSAGE_BYTES = 7;  // 46 TID CID VV VV LL LL

// The engine ECU's results as at program start: oxygen sensors (01, 02, 05), catalyst (21), EGR
// (31) and misfire counts (A1 all cylinders, A2-A5 cylinders 1-4, this drive and the average).
// clang-format off
constexpr EmuTestResult DEFAULT_RESULTS[] = {
    {0x01, 0x01, 0x0A, 0x0E66, 0x0CCD, 0x1000},  // rich to lean threshold, 0.122 mV a bit
    {0x01, 0x02, 0x0A, 0x0F5C, 0x0E00, 0x1100},  // lean to rich threshold
    {0x01, 0x05, 0x10, 0x0046, 0x0000, 0x0096},  // switch time, ms
    {0x02, 0x07, 0x0A, 0x0733, 0x0000, 0x0CCD},  // downstream sensor minimum voltage
    {0x05, 0x81, 0x10, 0x0118, 0x0000, 0x03E8},  // heater on time, ms
    {0x21, 0x80, 0x01, 0x0062, 0x0000, 0x0090},  // catalyst oxygen storage index
    {0x31, 0x80, 0x96, 0x0A8C, 0x0000, 0x0FA0},  // EGR flow
    {0xA1, 0x0B, 0x24, 0x0000, 0x0000, 0xFFFF},  // misfires, average of the last ten drives
    {0xA1, 0x0C, 0x24, 0x0002, 0x0000, 0xFFFF},  // misfires, this drive
    {0xA2, 0x0B, 0x24, 0x0000, 0x0000, 0xFFFF},
    {0xA2, 0x0C, 0x24, 0x0002, 0x0000, 0xFFFF},
    {0xA3, 0x0B, 0x24, 0x0000, 0x0000, 0xFFFF},
    {0xA3, 0x0C, 0x24, 0x0000, 0x0000, 0xFFFF},
    {0xA4, 0x0B, 0x24, 0x0000, 0x0000, 0xFFFF},
    {0xA4, 0x0C, 0x24, 0x0000, 0x0000, 0xFFFF},
    {0xA5, 0x0B, 0x24, 0x0000, 0x0000, 0xFFFF},
    {0xA5, 0x0C, 0x24, 0x0000, 0x0000, 0xFFFF},
};
// clang-format on
static_assert(sizeof DEFAULT_RESULTS / sizeof DEFAULT_RESULTS[0] <= EMU_MAX_TEST_RESULTS);

bool emu_IsRangeId(uint8_t id) { return id % 0x20 == 0; }

// The ID a result is asked by: its MID on CAN, its TID off CAN (where only MIDs up to 7F count,
// and TIDs that are range IDs cannot be asked).
bool emu_ResultCounts(const EmuTestResult& r, bool can) {
  return can || (r.mid <= NON_CAN_MAX_MID && !emu_IsRangeId(r.tid));
}
uint8_t emu_IdOf(const EmuTestResult& r, bool can) { return can ? r.mid : r.tid; }

void emu_PutSupportBits(const EmuEcu& ecu, uint8_t range, bool can, EmuEcuAnswer* out) {
  uint8_t bits[4] = {0, 0, 0, 0};
  for (uint8_t i = 0; i < ecu.noOfTestResults && i < EMU_MAX_TEST_RESULTS; ++i) {
    const EmuTestResult& r = ecu.testResult[i];
    if (!emu_ResultCounts(r, can)) continue;
    const unsigned id = emu_IdOf(r, can);
    if (id > range + 0x20u) {
      bits[3] |= 0x01;  // the next range is asked too
    } else if (id > range && !emu_IsRangeId(static_cast<uint8_t>(id))) {
      const unsigned bit = id - range - 1;
      bits[bit / 8] = static_cast<uint8_t>(bits[bit / 8] | (0x80 >> (bit % 8)));
    }
  }
  out->NewLine();
  out->Put(0x46);
  out->Put(range);
  for (uint8_t b : bits) out->Put(b);
}

// One message a result and limit, as many whole ones as an answer holds (the rest are not sent).
void emu_PutNonCanResult(const EmuTestResult& r, bool maximum, EmuEcuAnswer* out) {
  if (out->noOfLines >= EMU_ANSWER_MAX_LINES || out->length + NON_CAN_MESSAGE_BYTES > EMU_ANSWER_MAX_BYTES) return;
  out->NewLine();
  out->Put(0x46);
  out->Put(r.tid);
  out->Put(static_cast<uint8_t>(r.mid | (maximum ? LIMIT_IS_MAXIMUM : 0)));
  out->Put16(r.value);
  out->Put16(maximum ? r.max : r.min);
}

}  // namespace

void emu_SetDefaultTestResults(EmuEcuData& ecu, uint8_t ecuIdx) {
  ecu.noOfTestResults = 0;
  if (ecuIdx != 0) return;
  for (const EmuTestResult& r : DEFAULT_RESULTS) ecu.testResult[ecu.noOfTestResults++] = r;
}

bool emu_VehicleSupportsTest(uint8_t id, uint8_t ecuIdx, bool can) {
  emu_VehicleLock();
  const EmuEcu& ecu = vehicle.ecu[ecuIdx];
  bool supported = false;
  for (uint8_t i = 0; i < ecu.noOfTestResults && i < EMU_MAX_TEST_RESULTS && !supported; ++i) {
    const EmuTestResult& r = ecu.testResult[i];
    if (!emu_ResultCounts(r, can)) continue;
    supported = emu_IsRangeId(id) ? emu_IdOf(r, can) > id : emu_IdOf(r, can) == id;
  }
  emu_VehicleUnlock();
  return supported;
}

void emu_InitFrameDataSid06(uint8_t id, uint8_t ecuIdx, bool can, EmuEcuAnswer* out) {
  const EmuEcu& ecu = vehicle.ecu[ecuIdx];
  if (emu_IsRangeId(id)) {
    emu_PutSupportBits(ecu, id, can, out);
    return;
  }
  const uint8_t n = ecu.noOfTestResults <= EMU_MAX_TEST_RESULTS ? ecu.noOfTestResults : EMU_MAX_TEST_RESULTS;
  if (can) {
    out->NewLine();
    out->Put(0x46);
    out->Put(id);
    for (uint8_t i = 0; i < n; ++i) {
      const EmuTestResult& r = ecu.testResult[i];
      if (r.mid != id) continue;
      out->Put(r.tid);
      out->Put(r.uasid);
      out->Put16(r.value);
      out->Put16(r.min);
      out->Put16(r.max);
    }
    return;
  }
  for (uint8_t i = 0; i < n; ++i) {
    const EmuTestResult& r = ecu.testResult[i];
    if (r.tid != id || !emu_ResultCounts(r, false)) continue;
    emu_PutNonCanResult(r, true, out);
    if (r.min != 0) emu_PutNonCanResult(r, false, out);
  }
}
