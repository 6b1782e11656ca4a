// An ECU's diagnostic server: the sessions, security access, data identifiers, trouble codes
// with their status bits, routines, communication control and DTC setting a workshop tester uses
// past the OBD services. Off on every ECU until a vehicle file or the tests turn it on; an ECU
// with it off answers exactly as before. What an ECU serves (its DIDs, security levels, routines,
// timings) is part of its plain data (EmuEcuData::uds) and so loaded and saved with the car;
// what changes by requests and time (the session, the lock, attempts, running routines) is the
// server's own, per ECU, and starts over at program start and whenever the car is put in anew.
// Time comes from the monotonic clock and is looked at on the next request: no thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

constexpr uint8_t EMU_UDS_MAX_DIDS = 16;        // per ECU
constexpr uint8_t EMU_UDS_MAX_DID_BYTES = 32;   // data bytes of one DID
constexpr uint8_t EMU_UDS_MAX_LEVELS = 3;       // security levels per ECU
constexpr uint8_t EMU_UDS_MAX_SEED_BYTES = 4;
constexpr uint8_t EMU_UDS_MAX_KEY_PAIRS = 4;    // seed/key pairs of a table key rule
constexpr uint8_t EMU_UDS_MAX_ROUTINES = 4;     // per ECU
constexpr uint8_t EMU_UDS_MAX_RESULT_BYTES = 8; // a routine's result bytes

constexpr uint8_t EMU_UDS_SESSION_DEFAULT = 0x01;
constexpr uint8_t EMU_UDS_SESSION_PROGRAMMING = 0x02;
constexpr uint8_t EMU_UDS_SESSION_EXTENDED = 0x03;

// Where a DID's data comes from.
enum class EmuUdsDidKind : uint8_t {
  Bytes,  // its own bytes (a write replaces them)
  Item,   // the car's live service 01 value of a PID (a write sets the PID's value)
  Vin,    // the car's VIN, 17 characters (a write changes it)
};

struct EmuUdsDid {
  uint16_t id;
  EmuUdsDidKind kind;
  uint8_t pid;       // Item: the service 01 PID
  uint8_t length;    // Bytes and Item: data bytes (a write must bring this many)
  uint8_t data[EMU_UDS_MAX_DID_BYTES];
  uint8_t writable;
  uint8_t readLevel;     // security level a read needs (0: none); else 33
  uint8_t writeLevel;    // security level a write needs (0: none); else 33
  uint8_t writeSession;  // session a write needs (0: any); else 22
  uint16_t delayMs;      // a slow read: 78 first, then the answer
};

enum class EmuUdsSeedRule : uint8_t { Fixed, Counter, Random };
enum class EmuUdsKeyRule : uint8_t { Xor, Add, Table };

// One security level: 27 (2 level - 1) asks its seed, 27 (2 level) sends the key.
struct EmuUdsLevel {
  uint8_t level;      // 1..0x3F
  uint8_t seedBytes;  // 1..4
  EmuUdsSeedRule seedRule;
  uint32_t seed;      // Fixed: the seed; Counter: its first value; Random: the generator's start
  EmuUdsKeyRule keyRule;
  uint32_t constant;  // Xor, Add: key = seed ^ constant, seed + constant (to the seed's bytes)
  uint8_t noOfPairs;  // Table: the key of each listed seed; a seed not listed has no key
  uint32_t pairSeed[EMU_UDS_MAX_KEY_PAIRS];
  uint32_t pairKey[EMU_UDS_MAX_KEY_PAIRS];
  uint8_t maxAttempts;  // wrong keys before 36; 1..15
  uint32_t delayMs;     // after 36, seeds are refused with 37 this long
};

struct EmuUdsRoutine {
  uint16_t id;
  uint32_t runMs;       // how long it runs after a start; 0: done at once
  uint8_t session;      // session it needs (0: any but the default); else 22
  uint8_t level;        // security level it needs (0: none); else 33
  uint8_t resultLength;
  uint8_t result[EMU_UDS_MAX_RESULT_BYTES];  // sent with 31 03 once finished
};

struct EmuUdsConfig {
  uint8_t enabled;
  uint16_t p2Ms;       // in the session answer
  uint16_t p2StarMs;   // in the session answer, in steps of 10 ms
  uint32_t s3Ms;       // a non-default session falls back after this long without a request
  uint8_t noOfDids;
  EmuUdsDid did[EMU_UDS_MAX_DIDS];
  uint8_t noOfLevels;
  EmuUdsLevel level[EMU_UDS_MAX_LEVELS];
  uint8_t noOfRoutines;
  EmuUdsRoutine routine[EMU_UDS_MAX_ROUTINES];
};

// An ECU's server as a loaded file starts it: off, the usual timings (P2 50 ms, P2* 5000 ms,
// S3 5000 ms), nothing served.
void emu_UdsDefaultConfig(EmuUdsConfig* c);

struct EmuEcuAnswer;

// How a request reached the ECU: at its own address, or at the address every ECU hears (7DF).
// A functional request gets answers only from the services that allow it, and no negative answer
// saying the service, sub-function or data is not there.
enum class EmuUdsAddressing : uint8_t { Physical, Functional };

// ECU ecuIdx's server's answer to one request (service byte first), as one message: a positive
// answer, 7F SID NRC, or a 78 line and the answer after it (delayMs, delayedLine). True when the
// server took the request: `out` may then be empty (an answer suppressed by bit 7 of the
// sub-function). False when the server is off, or the service is not one it serves (a wildcard
// table entry may then answer; emu_UdsRefusal gives what it answers otherwise). Takes the
// vehicle's lock.
bool emu_UdsAnswer(const uint8_t* request, uint8_t n, uint8_t ecuIdx, EmuEcuAnswer* out,
                   EmuUdsAddressing addressing = EmuUdsAddressing::Physical);
// 7F SID 11 for a diagnostic service (10 and above) an ECU with its server on does not serve;
// false (nothing) for the OBD services, the server off, or a functional request.
bool emu_UdsRefusal(const uint8_t* request, uint8_t n, uint8_t ecuIdx, EmuEcuAnswer* out,
                    EmuUdsAddressing addressing = EmuUdsAddressing::Physical);

// The state a tester reads off the addressed ECU (the traffic log, the operator's menu).
struct EmuUdsStatus {
  uint8_t session;
  uint8_t unlockedLevel;  // 0: locked
};
EmuUdsStatus emu_UdsStatus(uint8_t ecuIdx);
// The ECU whose server a tester last asked; -1 none since the start or the car put in anew.
int emu_UdsLastAddressedEcu();
// The ECU's state as a line, the ECU by what a tester asks it at on the car's protocol:
// "ECU 7E0: extended, level 1 unlocked", "ECU 18DA10F1: default, locked", "ECU 10: ...".
void emu_UdsStatusText(uint8_t ecuIdx, char* text, size_t size);
// Called after a request that changed an ECU's session or lock (outside the vehicle's lock, on
// the thread that served it); a session that timed out is seen changed at its next request.
extern std::atomic<void (*)(uint8_t ecuIdx)> emu_udsStateChanged;

// Every ECU's server back to the default session, locked, no attempts counted, no routine
// running (program start, a car put in anew).
void emu_UdsReset();

// The clock the server reads (ms, monotonic); tests may put another in its place.
extern uint64_t (*emu_udsClock)();
