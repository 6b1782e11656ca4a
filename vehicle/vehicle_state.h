// The simulated vehicle's tables: up to eight ECUs with their supported PIDs, data values, trouble
// codes, MIL, monitor data, vehicle information, request/answer table and diagnostic server; the
// lock that guards them; and the answer one ECU puts together from them. Below the rest of the
// car, which reads and changes the tables under the lock.
#pragma once

#include <stdint.h>

#include <atomic>

#include "vehicle/uds_server.h"
#include "vehicle/vehicle_faults.h"

constexpr uint8_t EMU_MAX_ECUS = 8;
static_assert(EMU_FAULT_ECUS == EMU_MAX_ECUS);
constexpr uint8_t EMU_MAX_CONFIRMED_DTCS = 16;  // codes taken from the command line
constexpr uint8_t EMU_MAX_DTCS = 16;            // entries of each trouble code list
constexpr uint8_t EMU_SUP_PID_BYTES = 32;       // PIDs 01..FF, eight to a byte
constexpr uint8_t EMU_PID70_BYTES = 10;
constexpr uint8_t EMU_VIN_BYTES = 20;  // three zero bytes, then the 17 characters
constexpr uint8_t EMU_VIN_FILL = 3;
constexpr uint8_t EMU_MAX_CAL_IDS = 3;
constexpr uint8_t EMU_CAL_ID_CHARS = 16;
constexpr uint8_t EMU_MAX_CVNS = 3;
constexpr uint8_t EMU_CVN_BYTES = 4;
constexpr uint8_t EMU_MAX_IPT_COUNTERS = 20;
constexpr uint8_t EMU_ECU_NAME_BYTES = 20;

// A service 01 value that moves by itself (vehicle files): a waveform between two raw values, or
// a recorded trace (EmuTracePoint).
enum class EmuWave : uint8_t { Ramp, Sine, Walk };
struct EmuMotion {
  uint8_t pid;
  EmuWave wave;
  uint8_t bytes;      // the PID's data bytes, 1..4
  uint32_t low, high; // raw values, as sent
  uint32_t periodMs;
  uint32_t walk;      // where a random walk stands
};
constexpr uint8_t EMU_MAX_MOTIONS = 16;  // per ECU

// A frame the ECU sends by itself on its CAN bus every period (a vehicle file's "broadcast"):
// data bytes as given, or the current bytes of a service 01 value (speed, rpm, ...), so that it
// follows the running car.
struct EmuBroadcast {
  uint32_t id;
  uint8_t extended;   // a 29-bit identifier
  uint16_t periodMs;  // EMU_BROADCAST_MIN_MS..EMU_BROADCAST_MAX_MS
  uint8_t livePid;    // 0: `data` as given; else the PID whose value is sent (its data bytes)
  uint8_t dlc;
  uint8_t data[8];
};
constexpr uint8_t EMU_MAX_BROADCASTS = 4;         // per ECU
constexpr uint16_t EMU_BROADCAST_MIN_MS = 10;     // a hundred frames a second, as busy as a car's
constexpr uint16_t EMU_BROADCAST_MAX_MS = 60000;

// One recorded value: from this time (ms after the recording's start) on, the ECU sends it for the
// PID until the next point of the same PID.
struct EmuTracePoint {
  uint32_t timeMs;
  uint8_t ecuIdx;
  uint8_t pid;
  uint8_t bytes;
  uint8_t value[4];
};
constexpr uint32_t EMU_MAX_TRACE_POINTS = 8192;

// One on-board monitoring test result (service 06), as the CAN answer carries it after 46 and
// its monitor ID: test ID, unit and scaling ID, then the value and its limits, two bytes each.
struct EmuTestResult {
  uint8_t mid;    // monitor ID, never a range one (00, 20, ... E0)
  uint8_t tid;    // test ID
  uint8_t uasid;  // unit and scaling ID
  uint16_t value, min, max;
};
constexpr uint8_t EMU_MAX_TEST_RESULTS = 64;   // per ECU
constexpr uint8_t EMU_MAX_TESTS_PER_MID = 25;  // 46, the MID and 25 tests of 8 bytes: 202 bytes

// The request/answer table: answers the vehicle gives to requests it does not answer itself
// (manufacturer data identifiers, sessions, enhanced codes), per ECU. A request matches when its
// bytes equal the entry's, or, for a wildcard entry, when it starts with them. An answer is data
// bytes or a negative response (7F, the request's service, the code); after a 78 (response
// pending) the ECU sends its "then" answer once it is done.
constexpr uint8_t EMU_TABLE_MAX_REQUEST = 8;      // the longest request a tester sends
constexpr uint8_t EMU_TABLE_MAX_MESSAGE = 200;    // data bytes of one answer
constexpr uint16_t EMU_MAX_TABLE_ENTRIES = 256;   // in the whole vehicle
constexpr uint32_t EMU_TABLE_POOL_BYTES = 16384;  // answer bytes of the whole vehicle
struct EmuTableMessage {
  uint16_t at;      // in the pool
  uint8_t length;   // data bytes; 0 with a code for a negative response, 0 without for none
  uint8_t negative; // negative response code, 0 for a positive answer
};
struct EmuTableEntry {
  uint8_t ecuIdx;
  uint8_t requestLength;
  uint8_t wildcard;  // the request's bytes are a prefix (written with a trailing '*')
  uint8_t request[EMU_TABLE_MAX_REQUEST];
  uint16_t delayMs;  // how long the ECU takes before its last answer
  EmuTableMessage answer, then;
};
struct EmuAnswerTable {
  uint16_t noOfEntries;
  uint32_t poolUsed;
  EmuTableEntry entry[EMU_MAX_TABLE_ENTRIES];  // in the order given
  uint8_t pool[EMU_TABLE_POOL_BYTES];
};

// One ECU, in two parts. Its plain data changes at program start (command line), on the module
// thread (clearing codes) or, under the vehicle's lock (emu_VehicleLock), when a vehicle file is
// loaded or a value set; it is copied as a whole.
struct EmuEcuData {
  uint8_t supPidsSid02[EMU_SUP_PID_BYTES];  // service 02 row; used by (frame + ECU) mod 8
  uint16_t confirmedDtc[EMU_MAX_DTCS];
  uint16_t pendingDtc[EMU_MAX_DTCS];
  uint16_t permanentDtc[EMU_MAX_DTCS];
  uint8_t dataPid01[4];  // byte 0 unused: PID 01 byte A is made from the MIL and DTC count
  uint8_t dataPid41[4];
  uint8_t dataPid4F[4];
  uint8_t dataPid50[4];
  uint8_t dataPid70[EMU_PID70_BYTES];
  uint8_t genericData1;
  uint8_t genericData2[2];
  uint8_t genericData4[4];
  uint8_t supInfoTypes[4];
  uint8_t vin[EMU_VIN_BYTES];
  uint8_t noOfCalIds;
  uint8_t calId[EMU_MAX_CAL_IDS][EMU_CAL_ID_CHARS];
  uint8_t noOfCvns;
  uint8_t cvn[EMU_MAX_CVNS][EMU_CVN_BYTES];
  uint8_t noOfIptCounters;
  uint16_t iptCounter[EMU_MAX_IPT_COUNTERS];
  uint8_t ecuName[EMU_ECU_NAME_BYTES];  // padded with zero bytes, which are sent too
  uint16_t iptJitter;                   // module thread only; never reset while running
  // Service 01/02 values of the one-, two- and four-byte PIDs that were given one of their own
  // (bytes as sent); the others send genericData1/2/4.
  uint8_t pidValue[256][4];
  uint8_t pidValueSet[32];  // bit (pid mod 8) of byte pid / 8
  uint8_t noOfMotions;
  EmuMotion motion[EMU_MAX_MOTIONS];
  uint8_t noOfTestResults;
  EmuTestResult testResult[EMU_MAX_TEST_RESULTS];  // in the order given
  EmuUdsConfig uds;  // its diagnostic server (uds_server.h), off by default
  uint8_t noOfBroadcasts;
  EmuBroadcast broadcast[EMU_MAX_BROADCASTS];  // in the order given
};

// Its shared bytes: written by the operator's key thread while the module thread answers (or read
// by the module without the lock), each a byte of its own, stored atomically. Copied one by one
// (emu_VehicleAssign's table).
struct EmuEcuShared {
  std::atomic<uint8_t> supPids[EMU_SUP_PID_BYTES];  // service 01 (bank configurations)
  std::atomic<uint8_t> milState;
  std::atomic<uint8_t> noOfDtcs;           // 0..16
  std::atomic<uint8_t> noOfPendingDtcs;    // 0..16
  std::atomic<uint8_t> noOfPermanentDtcs;  // 0..16
  std::atomic<uint8_t> dtcsCleared;        // pending codes go out as 0000
  std::atomic<uint8_t> negRespCode;        // service 04 and 09/06, 0 = none
  std::atomic<uint8_t> dataPid13or1D;      // O2 sensor locations
  // Its address on J1850, the K-line and 29-bit CAN (10, 18, 11, ...), and the low byte of its
  // 11-bit CAN identifier (E8 for 7E8) (emu_VehicleEcuAddress). Read by testers without the lock.
  std::atomic<uint8_t> address;
  std::atomic<uint8_t> canAddress;
};

struct EmuEcu : EmuEcuData, EmuEcuShared {
  EmuEcuData& Data() { return *this; }
  const EmuEcuData& Data() const { return *this; }
};

// A recorded drive replayed by the vehicle: service 01 values of several ECUs over time.
struct EmuTrace {
  uint32_t noOfPoints;
  uint8_t loop;          // from the start again after the last point; else the last values hold
  uint32_t durationMs;   // the last point's time
  uint64_t startedMs;    // when the replay began (monotonic clock)
  char path[256];        // the trace file, as the vehicle file names it ("" for none)
  EmuTracePoint points[EMU_MAX_TRACE_POINTS];  // ordered by time
};

struct EmuVehicle {
  EmuEcu ecu[EMU_MAX_ECUS];
  std::atomic<uint8_t> maxEcu;               // ECUs that answer, 1..8
  std::atomic<uint8_t> batteryDeciVolts;     // what an adapter reads on its supply pin (12.6 V)
  std::atomic<uint8_t> dataJitterIsEnabled;  // service 01 values replaced by a running counter
  std::atomic<uint32_t> dataJitter;
  uint8_t noOfCmdLineDtcs;  // codes given on the command line so far
  EmuTrace trace;
  EmuAnswerTable table;
  EmuFaults faults;  // the car's and the line's faults on cue (vehicle_faults.h)
};
extern EmuVehicle vehicle;

// The protocol the car answers on: 1..9, or 0 when it answers on whichever the tester sets. It is
// not one of the car's tables, so emu_VehicleInit keeps it: a vehicle file sets it (0 when the
// file names none), a set value only when it is the protocol, and a tester's automatic search
// may settle a car left on 0.
extern std::atomic<uint8_t> vehicleProtocol;
// How a tester tells the ECUs apart: by the source byte of J1850 and K-line headers and of
// 29-bit CAN identifiers (10, 18, 11, ... 16 by default), or by the low byte of the 11-bit CAN
// identifier (E8..EF by default). A vehicle file may name others; no two ECUs share one.
enum class EmuEcuAddressing : uint8_t { Header, Can11 };
uint8_t emu_VehicleEcuAddress(uint8_t ecuIdx, EmuEcuAddressing by);  // ecuIdx taken modulo 8
// The first ECU of vehicle v with this address; -1 when none has it.
int emu_VehicleEcuIndex(const EmuVehicle& v, uint8_t addr, EmuEcuAddressing by);

// The vehicle's lock: held while an answer's data is taken from the tables, and while a vehicle
// file or a set value changes them. Never held together with another lock.
void emu_VehicleLock();
void emu_VehicleUnlock();

// Bit of PID n (1..255) in a supported-PID map: byte (n-1)/8, bit 7-((n-1) mod 8).
constexpr uint8_t emu_PidByte(uint8_t pid) { return static_cast<uint8_t>((pid - 1) / 8); }
constexpr uint8_t emu_PidMask(uint8_t pid) { return static_cast<uint8_t>(0x80 >> ((pid - 1) % 8)); }
// A count of trouble codes as an ECU's lists hold them.
constexpr uint8_t emu_AtMost16(uint8_t n) { return n > EMU_MAX_DTCS ? EMU_MAX_DTCS : n; }

// ---------------------------------------------------------------------------------------------
// Answer data of one ECU, before framing. On CAN it is the whole message (service byte first),
// which the framing cuts into ISO 15765-2 frames; on the other protocols it is the message
// lines, each one OBD message of its own.

constexpr uint8_t EMU_KLINE_LINE_BYTES = 7;  // the longest non-CAN message this vehicle sends
// The longest answer of one ECU: a table entry's 78 (three bytes) and its "then" answer, or
// service 06's 25 test results of one monitor after 46 and the MID.
constexpr uint8_t EMU_ANSWER_MAX_BYTES = 3 + EMU_TABLE_MAX_MESSAGE;
constexpr uint8_t EMU_CAN_MAX_MESSAGE = EMU_ANSWER_MAX_BYTES;
// Off CAN a table answer goes out as messages of 7 bytes; service 06 sends at most this many
// messages for one test ID.
constexpr uint8_t EMU_ANSWER_MAX_LINES =
    1 + (EMU_TABLE_MAX_MESSAGE + EMU_KLINE_LINE_BYTES - 1) / EMU_KLINE_LINE_BYTES;
static_assert(2 + 8 * EMU_MAX_TESTS_PER_MID <= EMU_ANSWER_MAX_BYTES);
static_assert(3 + EMU_MAX_CAL_IDS * EMU_CAL_ID_CHARS <= EMU_CAN_MAX_MESSAGE);
// A table answer after a 78, in messages of 7 bytes, fits in the lines.
static_assert(EMU_ANSWER_MAX_LINES * EMU_KLINE_LINE_BYTES >= EMU_TABLE_MAX_MESSAGE + 3);
static_assert(3 + 2 * EMU_MAX_IPT_COUNTERS <= EMU_CAN_MAX_MESSAGE);
static_assert(2 + 2 * EMU_MAX_DTCS <= EMU_CAN_MAX_MESSAGE);
static_assert(3 + EMU_ECU_NAME_BYTES <= EMU_CAN_MAX_MESSAGE);
// Non-CAN line counts: 4 per calibration id, one per two IPT counters, 3 codes a line.
static_assert(4 * EMU_MAX_CAL_IDS <= EMU_ANSWER_MAX_LINES);
static_assert((EMU_MAX_IPT_COUNTERS + 1) / 2 <= EMU_ANSWER_MAX_LINES);
static_assert((EMU_MAX_DTCS + 2) / 3 <= EMU_ANSWER_MAX_LINES);

// On CAN each line is one message (ISO 15765-2 frames it); off CAN one message of its own.
struct EmuEcuAnswer {
  uint8_t noOfLines;
  uint8_t lineEnd[EMU_ANSWER_MAX_LINES];  // offset in data after each line's last byte
  uint8_t length;
  uint8_t data[EMU_ANSWER_MAX_BYTES];
  // The ECU takes this long before line delayedLine (0: before its answer); only adapters with
  // real timing wait for it.
  uint16_t delayMs;
  uint8_t delayedLine;

  void Clear() {
    noOfLines = 0;
    length = 0;
    delayMs = 0;
    delayedLine = 0;
  }
  // Starts a new line (message); bytes put before the first call belong to line 0.
  void NewLine();
  // Appends to the current line; a byte that does not fit is dropped (never happens with the
  // vehicle's limits, see the static_asserts above).
  void Put(uint8_t byte);
  void Put16(uint16_t value) {  // high byte first
    Put(static_cast<uint8_t>(value >> 8));
    Put(static_cast<uint8_t>(value));
  }
  uint8_t LineStart(uint8_t line) const { return line == 0 ? 0 : lineEnd[line - 1]; }
  uint8_t LineLength(uint8_t line) const { return static_cast<uint8_t>(lineEnd[line] - LineStart(line)); }
};
