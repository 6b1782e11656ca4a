// An ECU's diagnostic server (uds_server.h): which services it serves in which session, and the
// session, security and routine state each ECU keeps between requests. Trouble codes are in
// uds_dtcs.cpp, the data identifiers in uds_dids.cpp.
#include "vehicle/uds_server.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "bus/negative_codes.h"
#include "bus/protocols.h"
#include "vehicle/uds_internal.h"
#include "vehicle/vehicle_state.h"

namespace {

uint64_t emu_UdsMonotonicMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u;
}

EmuUdsState states[EMU_MAX_ECUS];
int lastAddressed = -1;

// What a tester sees change: the session (the first request's default counted as such) and the
// level unlocked.
EmuUdsStatus emu_UdsSeen(const EmuUdsState& s) {
  return {s.session != 0 ? s.session : EMU_UDS_SESSION_DEFAULT, s.unlockedLevel};
}

constexpr uint8_t SUPPRESS_ANSWER = 0x80;  // bit 7 of a sub-function: no positive answer

// Sessions as bits of a mask: bit (session).
constexpr uint8_t IN_DEFAULT = 1 << EMU_UDS_SESSION_DEFAULT;
constexpr uint8_t IN_PROGRAMMING = 1 << EMU_UDS_SESSION_PROGRAMMING;
constexpr uint8_t IN_EXTENDED = 1 << EMU_UDS_SESSION_EXTENDED;
constexpr uint8_t IN_ANY = IN_DEFAULT | IN_PROGRAMMING | IN_EXTENDED;
constexpr uint8_t IN_NON_DEFAULT = IN_PROGRAMMING | IN_EXTENDED;

using EmuUdsHandler = void (*)(EmuUdsRequest& r);

struct EmuUdsService {
  uint8_t sid;
  uint8_t sessions;     // where it is served; elsewhere 7F
  bool functional;      // answered when asked at the functional address
  bool subFunction;     // its second byte is a sub-function (bit 7 suppresses the answer)
  uint8_t minLength;    // shorter: 13
  EmuUdsHandler handler;
};

// Sub-functions not served in every session the service is: elsewhere 7E.
struct EmuUdsSubFunction {
  uint8_t sid;
  uint8_t sub;
  uint8_t sessions;
};

// clang-format off
constexpr EmuUdsSubFunction SUB_FUNCTION_SESSIONS[] = {
    {0x11, 0x02, IN_NON_DEFAULT},  // key off-on reset
    {0x11, 0x03, IN_NON_DEFAULT},  // soft reset
};
// clang-format on

void emu_UdsToDefault(EmuUdsState& s) {
  s.session = EMU_UDS_SESSION_DEFAULT;
  s.unlockedLevel = 0;
  s.seedLevel = 0;
  s.commControl = 0;
  s.dtcSettingOff = 0;
}

// ---------------------------------------------------------------------------------------------
// 10, 3E, 11

void emu_UdsSession(EmuUdsRequest& r) {
  const uint8_t session = r.sub;
  if (session < EMU_UDS_SESSION_DEFAULT || session > EMU_UDS_SESSION_EXTENDED) return emu_UdsNegative(r, EMU_UDS_SUB_FUNCTION_NOT_SUPPORTED);
  if (r.n != 2) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  // Any change of session locks the ECU again, as does a stay in the default one.
  if (session != r.state.session || session == EMU_UDS_SESSION_DEFAULT) {
    emu_UdsToDefault(r.state);
    r.state.session = session;
  }
  emu_UdsPositive(r);
  r.out->Put(session);
  r.out->Put16(r.config.p2Ms);
  r.out->Put16(static_cast<uint16_t>(r.config.p2StarMs / 10));
}

void emu_UdsTesterPresent(EmuUdsRequest& r) {
  if (r.sub != 0x00) return emu_UdsNegative(r, EMU_UDS_SUB_FUNCTION_NOT_SUPPORTED);
  if (r.n != 2) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  emu_UdsPositive(r);
  r.out->Put(0x00);
}

void emu_UdsEcuReset(EmuUdsRequest& r) {
  if (r.sub < 0x01 || r.sub > 0x03) return emu_UdsNegative(r, EMU_UDS_SUB_FUNCTION_NOT_SUPPORTED);
  if (r.n != 2) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  emu_UdsToDefault(r.state);
  for (uint8_t i = 0; i < EMU_UDS_MAX_ROUTINES; ++i) r.state.routineStartedMs[i] = 0;
  // The ECU starts counting wrong keys anew, but a level locked out stays so until its delay has
  // passed: a reset is no way around the delay.
  for (EmuUdsLevelState& ls : r.state.level)
    if (ls.lockedUntilMs == 0) ls.attempts = 0;
  emu_UdsPositive(r);
  r.out->Put(r.sub);
}

// ---------------------------------------------------------------------------------------------
// 27 security access

uint32_t emu_UdsMask(uint8_t bytes) { return bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1; }

uint32_t emu_UdsNextSeed(const EmuUdsLevel& l, EmuUdsLevelState& s) {
  const uint32_t mask = emu_UdsMask(l.seedBytes);
  uint32_t seed = l.seed;
  switch (l.seedRule) {
    case EmuUdsSeedRule::Fixed: break;
    case EmuUdsSeedRule::Counter: seed = l.seed + s.seedsGiven; break;
    case EmuUdsSeedRule::Random: {
      // xorshift32 from the level's start value: the same seeds in every run.
      if (s.seedsGiven == 0 || s.random == 0) s.random = l.seed != 0 ? l.seed : 0x2545F491u;
      s.random ^= s.random << 13;
      s.random ^= s.random >> 17;
      s.random ^= s.random << 5;
      seed = s.random;
      break;
    }
  }
  ++s.seedsGiven;
  seed &= mask;
  return seed != 0 ? seed : 1;  // a zero seed says "unlocked"
}

// The key of a seed by the level's rule; false when the rule has none (a table without it).
bool emu_UdsKey(const EmuUdsLevel& l, uint32_t seed, uint32_t* key) {
  const uint32_t mask = emu_UdsMask(l.seedBytes);
  switch (l.keyRule) {
    case EmuUdsKeyRule::Xor: *key = (seed ^ l.constant) & mask; return true;
    case EmuUdsKeyRule::Add: *key = (seed + l.constant) & mask; return true;
    case EmuUdsKeyRule::Table:
      for (uint8_t i = 0; i < l.noOfPairs && i < EMU_UDS_MAX_KEY_PAIRS; ++i) {
        if ((l.pairSeed[i] & mask) == seed) {
          *key = l.pairKey[i] & mask;
          return true;
        }
      }
      return false;
  }
  return false;
}

int emu_UdsLevelIndex(const EmuUdsConfig& c, uint8_t level) {
  for (uint8_t i = 0; i < c.noOfLevels && i < EMU_UDS_MAX_LEVELS; ++i)
    if (c.level[i].level == level) return i;
  return -1;
}

void emu_UdsSecurity(EmuUdsRequest& r) {
  const bool askSeed = (r.sub & 1) != 0;
  const uint8_t level = static_cast<uint8_t>((r.sub + 1) / 2);
  const int li = r.sub == 0 ? -1 : emu_UdsLevelIndex(r.config, level);
  if (li < 0) return emu_UdsNegative(r, EMU_UDS_SUB_FUNCTION_NOT_SUPPORTED);
  const EmuUdsLevel& l = r.config.level[li];
  EmuUdsLevelState& ls = r.state.level[li];
  if (askSeed) {
    if (r.n != 2) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
    if (ls.lockedUntilMs != 0 && r.nowMs < ls.lockedUntilMs) return emu_UdsNegative(r, EMU_UDS_DELAY_NOT_EXPIRED);
    if (ls.lockedUntilMs != 0) {
      ls.lockedUntilMs = 0;
      ls.attempts = 0;
    }
    uint32_t seed = 0;
    if (r.state.unlockedLevel != level) {
      seed = emu_UdsNextSeed(l, ls);
      r.state.seedLevel = level;
      r.state.seed = seed;
    }
    emu_UdsPositive(r);
    r.out->Put(r.sub);
    for (int b = l.seedBytes - 1; b >= 0; --b) r.out->Put(static_cast<uint8_t>(seed >> (8 * b)));
    return;
  }
  if (r.state.seedLevel != level) return emu_UdsNegative(r, EMU_UDS_SEQUENCE_ERROR);
  if (r.n != 2 + l.seedBytes) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  uint32_t sent = 0;
  for (uint8_t b = 0; b < l.seedBytes; ++b) sent = sent << 8 | r.bytes[2 + b];
  uint32_t key = 0;
  r.state.seedLevel = 0;  // a seed serves one key
  if (!emu_UdsKey(l, r.state.seed, &key) || key != sent) {
    if (++ls.attempts >= (l.maxAttempts != 0 ? l.maxAttempts : 1)) {
      ls.lockedUntilMs = r.nowMs + l.delayMs;
      if (ls.lockedUntilMs == 0) ls.lockedUntilMs = 1;
      return emu_UdsNegative(r, EMU_UDS_EXCEEDED_ATTEMPTS);
    }
    return emu_UdsNegative(r, EMU_UDS_INVALID_KEY);
  }
  ls.attempts = 0;
  r.state.unlockedLevel = level;
  emu_UdsPositive(r);
  r.out->Put(r.sub);
}

// ---------------------------------------------------------------------------------------------
// 31 routines

void emu_UdsRoutine(EmuUdsRequest& r) {
  if (r.sub < 0x01 || r.sub > 0x03) return emu_UdsNegative(r, EMU_UDS_SUB_FUNCTION_NOT_SUPPORTED);
  if (r.n < 4) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  const uint16_t id = static_cast<uint16_t>(r.bytes[2] << 8 | r.bytes[3]);
  int ri = -1;
  for (uint8_t i = 0; i < r.config.noOfRoutines && i < EMU_UDS_MAX_ROUTINES; ++i)
    if (r.config.routine[i].id == id) ri = i;
  if (ri < 0) return emu_UdsNegative(r, EMU_UDS_OUT_OF_RANGE);
  const EmuUdsRoutine& rt = r.config.routine[ri];
  if (rt.session != 0 && rt.session != r.state.session) return emu_UdsNegative(r, EMU_UDS_CONDITIONS_NOT_CORRECT);
  if (rt.level != 0 && r.state.unlockedLevel != rt.level) return emu_UdsNegative(r, EMU_UDS_SECURITY_DENIED);
  uint64_t& started = r.state.routineStartedMs[ri];
  uint8_t& stopped = r.state.routineStopped[ri];
  const bool everStarted = started != 0;
  const bool running = everStarted && stopped == 0 && r.nowMs - started < rt.runMs;
  switch (r.sub) {
    case 0x01:
      if (running) return emu_UdsNegative(r, EMU_UDS_SEQUENCE_ERROR);
      started = r.nowMs != 0 ? r.nowMs : 1;
      stopped = 0;
      break;
    case 0x02:
      if (!running) return emu_UdsNegative(r, EMU_UDS_SEQUENCE_ERROR);
      stopped = 1;
      break;
    default:
      if (!everStarted) return emu_UdsNegative(r, EMU_UDS_SEQUENCE_ERROR);
      break;
  }
  emu_UdsPositive(r);
  r.out->Put(r.sub);
  r.out->Put16(id);
  if (r.sub == 0x03) {
    // Routine status: 01 still running, 02 finished (its results follow), 03 stopped.
    if (running) {
      r.out->Put(0x01);
    } else if (stopped != 0) {
      r.out->Put(0x03);
    } else {
      r.out->Put(0x02);
      for (uint8_t i = 0; i < rt.resultLength && i < EMU_UDS_MAX_RESULT_BYTES; ++i) r.out->Put(rt.result[i]);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// 28, 85

void emu_UdsCommunication(EmuUdsRequest& r) {
  if (r.sub > 0x03) return emu_UdsNegative(r, EMU_UDS_SUB_FUNCTION_NOT_SUPPORTED);
  if (r.n != 3) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  if (r.bytes[2] < 0x01 || r.bytes[2] > 0x03) return emu_UdsNegative(r, EMU_UDS_OUT_OF_RANGE);
  r.state.commControl = r.sub;
  emu_UdsPositive(r);
  r.out->Put(r.sub);
}

void emu_UdsDtcSetting(EmuUdsRequest& r) {
  if (r.sub < 0x01 || r.sub > 0x02) return emu_UdsNegative(r, EMU_UDS_SUB_FUNCTION_NOT_SUPPORTED);
  r.state.dtcSettingOff = r.sub == 0x02;
  emu_UdsPositive(r);
  r.out->Put(r.sub);
}

// clang-format off
constexpr EmuUdsService SERVICES[] = {
    {0x10, IN_ANY,         true,  true,  2, emu_UdsSession},
    {0x11, IN_ANY,         true,  true,  2, emu_UdsEcuReset},
    {0x14, IN_ANY,         true,  false, 4, emu_UdsClearCodes},
    {0x19, IN_ANY,         true,  true,  2, emu_UdsReadCodes},
    {0x22, IN_ANY,         true,  false, 3, emu_UdsReadDids},
    {0x27, IN_NON_DEFAULT, false, true,  2, emu_UdsSecurity},
    {0x28, IN_EXTENDED,    true,  true,  3, emu_UdsCommunication},
    {0x2E, IN_ANY,         false, false, 4, emu_UdsWriteDid},
    {0x31, IN_NON_DEFAULT, false, true,  4, emu_UdsRoutine},
    {0x3E, IN_ANY,         true,  true,  2, emu_UdsTesterPresent},
    {0x85, IN_EXTENDED,    true,  true,  2, emu_UdsDtcSetting},
};
// clang-format on

const EmuUdsService* emu_UdsFindService(uint8_t sid) {
  for (const EmuUdsService& s : SERVICES)
    if (s.sid == sid) return &s;
  return nullptr;
}

// Codes a functional request never gets: the others ECUs may serve what this one does not.
bool emu_UdsQuietOnFunctional(uint8_t code) {
  return code == EMU_UDS_SERVICE_NOT_SUPPORTED || code == EMU_UDS_SUB_FUNCTION_NOT_SUPPORTED ||
         code == EMU_UDS_OUT_OF_RANGE || code == EMU_UDS_SUB_FUNCTION_NOT_IN_SESSION ||
         code == EMU_UDS_SERVICE_NOT_IN_SESSION;
}

void emu_UdsServe(EmuUdsRequest& r, const EmuUdsService& s) {
  if (r.n < 2 && s.subFunction) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  if ((s.sessions & (1 << r.state.session)) == 0) return emu_UdsNegative(r, EMU_UDS_SERVICE_NOT_IN_SESSION);
  if (s.subFunction) {
    r.suppress = (r.bytes[1] & SUPPRESS_ANSWER) != 0 && s.sid != 0x27;
    r.sub = s.sid == 0x27 ? r.bytes[1] : static_cast<uint8_t>(r.bytes[1] & ~SUPPRESS_ANSWER);
    for (const EmuUdsSubFunction& f : SUB_FUNCTION_SESSIONS) {
      if (f.sid == s.sid && f.sub == r.sub && (f.sessions & (1 << r.state.session)) == 0)
        return emu_UdsNegative(r, EMU_UDS_SUB_FUNCTION_NOT_IN_SESSION);
    }
  }
  if (r.n < s.minLength) return emu_UdsNegative(r, EMU_UDS_WRONG_LENGTH);
  s.handler(r);
}

}  // namespace

uint64_t (*emu_udsClock)() = emu_UdsMonotonicMs;
std::atomic<void (*)(uint8_t ecuIdx)> emu_udsStateChanged{nullptr};

void emu_UdsNegative(EmuUdsRequest& r, uint8_t code) {
  r.out->Clear();
  r.negative = code;
  r.out->NewLine();
  r.out->Put(EMU_NEGATIVE_RESPONSE);
  r.out->Put(r.bytes[0]);
  r.out->Put(code);
}

void emu_UdsPositive(EmuUdsRequest& r) {
  r.out->Clear();
  r.out->NewLine();
  r.out->Put(static_cast<uint8_t>(r.bytes[0] + 0x40));
}

void emu_UdsDefaultConfig(EmuUdsConfig* c) {
  memset(c, 0, sizeof *c);
  c->p2Ms = 50;
  c->p2StarMs = 5000;
  c->s3Ms = 5000;
}

bool emu_UdsAnswer(const uint8_t* request, uint8_t n, uint8_t ecuIdx, EmuEcuAnswer* out, EmuUdsAddressing addressing) {
  out->Clear();
  if (n == 0 || ecuIdx >= EMU_MAX_ECUS) return false;
  const EmuUdsService* s = emu_UdsFindService(request[0]);
  if (s == nullptr) return false;
  emu_VehicleLock();
  EmuEcu& ecu = vehicle.ecu[ecuIdx];
  if (ecu.uds.enabled == 0) {
    emu_VehicleUnlock();
    return false;
  }
  const bool functional = addressing == EmuUdsAddressing::Functional;
  if (functional && !s->functional) {
    emu_VehicleUnlock();
    return true;  // taken, and left unanswered: only physical requests reach it
  }
  EmuUdsState& state = states[ecuIdx];
  const EmuUdsStatus before = emu_UdsSeen(state);
  lastAddressed = ecuIdx;
  const uint64_t now = emu_udsClock();
  // S3: a non-default session left without a request falls back, locked.
  if (state.session != EMU_UDS_SESSION_DEFAULT && now - state.lastRequestMs >= ecu.uds.s3Ms) emu_UdsToDefault(state);
  if (state.session == 0) emu_UdsToDefault(state);
  state.lastRequestMs = now;
  EmuUdsRequest r{request, n, 0, ecuIdx, ecu, ecu.uds, state, out, now, false, 0};
  emu_UdsServe(r, *s);
  const EmuUdsStatus after = emu_UdsSeen(state);
  emu_VehicleUnlock();
  void (*changed)(uint8_t) = emu_udsStateChanged.load();
  if (changed != nullptr && (after.session != before.session || after.unlockedLevel != before.unlockedLevel)) {
    changed(ecuIdx);
  }
  if (r.negative == 0 && r.suppress) out->Clear();
  if (r.negative != 0 && functional && emu_UdsQuietOnFunctional(r.negative)) out->Clear();
  return true;
}

bool emu_UdsRefusal(const uint8_t* request, uint8_t n, uint8_t ecuIdx, EmuEcuAnswer* out, EmuUdsAddressing addressing) {
  out->Clear();
  if (n == 0 || ecuIdx >= EMU_MAX_ECUS || request[0] < 0x10 || addressing == EmuUdsAddressing::Functional) return false;
  emu_VehicleLock();
  const bool on = vehicle.ecu[ecuIdx].uds.enabled != 0;
  emu_VehicleUnlock();
  if (!on) return false;
  out->NewLine();
  out->Put(EMU_NEGATIVE_RESPONSE);
  out->Put(request[0]);
  out->Put(EMU_UDS_SERVICE_NOT_SUPPORTED);
  return true;
}

EmuUdsStatus emu_UdsStatus(uint8_t ecuIdx) {
  emu_VehicleLock();
  const EmuUdsState& s = states[ecuIdx % EMU_MAX_ECUS];
  const EmuUdsStatus status = emu_UdsSeen(s);
  emu_VehicleUnlock();
  return status;
}

int emu_UdsLastAddressedEcu() {
  emu_VehicleLock();
  const int ecu = lastAddressed;
  emu_VehicleUnlock();
  return ecu;
}

void emu_UdsStatusText(uint8_t ecuIdx, char* text, size_t size) {
  static const char* const SESSION_NAMES[] = {"default", "default", "programming", "extended"};
  const EmuUdsStatus status = emu_UdsStatus(ecuIdx);
  const uint8_t protocol = vehicleProtocol;
  const uint8_t header = emu_VehicleEcuAddress(ecuIdx, EmuEcuAddressing::Header);
  char ecu[16];
  if (emu_ProtocolIs29Bit(protocol)) {
    snprintf(ecu, sizeof ecu, "18DA%02XF1", header);
  } else if (protocol == 0 || emu_ProtocolIsCan(protocol)) {
    // Asked at its answer identifier less 8 (7E0 for 7E8).
    snprintf(ecu, sizeof ecu, "%03X", (0x700u | emu_VehicleEcuAddress(ecuIdx, EmuEcuAddressing::Can11)) - 8u);
  } else {
    snprintf(ecu, sizeof ecu, "%02X", header);
  }
  const char* session = SESSION_NAMES[status.session <= EMU_UDS_SESSION_EXTENDED ? status.session : 0];
  if (status.unlockedLevel == 0) {
    snprintf(text, size, "ECU %s: %s, locked", ecu, session);
  } else {
    snprintf(text, size, "ECU %s: %s, level %u unlocked", ecu, session, status.unlockedLevel);
  }
}

void emu_UdsReset() {
  emu_VehicleLock();
  for (EmuUdsState& s : states) s = EmuUdsState{};
  lastAddressed = -1;
  emu_VehicleUnlock();
}
