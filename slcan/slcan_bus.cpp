// The car's ECUs on CAN, each with its own ISO 15765-2 link: a receiver for the tester's
// requests and a sender for its answers. Time-outs are checked when the next frame comes: a
// flow control later than N_Bs finds its transfer dropped, a consecutive frame later than N_Cr
// finds no message under way. Answers go out at once (no answer delay without real timing).
#include "slcan/slcan_bus.h"

#include <string.h>

#include "bus/iso_tp.h"
#include "bus/protocols.h"
#include "vehicle/request_answer.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_faults.h"

namespace {

constexpr uint32_t ID11_FUNCTIONAL = 0x7DF;
constexpr uint32_t ID29_FUNCTIONAL = 0x18DB33F1;
constexpr uint32_t ID29_PHYSICAL = 0x18DA00F1;  // the ECU's address in bits 15-8
constexpr uint32_t ID29_ANSWER = 0x18DAF100;    // the ECU's address in bits 7-0
constexpr uint8_t STMIN_LONGEST_MS = 0x7F;      // an ST value that means nothing counts as this
constexpr uint8_t AUTOMATIC_CAR_TIMING = 6;     // a car on automatic takes the time of CAN 11/500

// One ECU's side of ISO 15765-2.
struct EcuLink {
  EmuIsoTpReceiver rx;
  uint64_t lastRxUs;
  bool extended;  // the request came with a 29-bit identifier: so does the answer
  // The answer being sent: its messages (lines) one after the other.
  EmuEcuAnswer answer;
  uint8_t nextLine;
  const uint8_t* message;
  uint8_t messageLength;
  uint16_t frameCount;
  uint16_t nextFrame;
  bool awaitingFlowControl;
  uint64_t flowControlSinceUs;
  uint8_t blockLeft;  // consecutive frames before the next flow control; 0: all
  uint8_t stMin;
};

struct CanBus {
  const EmuCanBusHooks* hooks;
  bool realTiming;
  uint32_t bitRate;  // of the frame the tester sent last
  EcuLink ecus[EMU_MAX_ECUS];
};
CanBus bus;

uint32_t emu_StMinUs(uint8_t st) {
  if (st <= STMIN_LONGEST_MS) return st * 1000u;
  if (st >= 0xF1 && st <= 0xF9) return (st - 0xF0) * 100u;
  return STMIN_LONGEST_MS * 1000u;
}

uint32_t emu_EcuRequestId(uint8_t idx, bool extended) {
  if (extended) return ID29_PHYSICAL | static_cast<uint32_t>(emu_VehicleEcuAddress(idx, EmuEcuAddressing::Header)) << 8;
  return (0x700u | emu_VehicleEcuAddress(idx, EmuEcuAddressing::Can11)) - 8;
}

uint32_t emu_EcuAnswerId(uint8_t idx, bool extended) {
  if (extended) return ID29_ANSWER | emu_VehicleEcuAddress(idx, EmuEcuAddressing::Header);
  return 0x700u | emu_VehicleEcuAddress(idx, EmuEcuAddressing::Can11);
}

void emu_EcuSendFrame(uint8_t idx, const uint8_t* bytes, uint8_t n) {
  EmuCanFrame f{};
  f.extended = bus.ecus[idx].extended;
  f.id = emu_EcuAnswerId(idx, f.extended);
  f.dlc = EMU_ISOTP_FRAME_BYTES;
  memset(f.data, EMU_CAN_FILL, sizeof f.data);
  memcpy(f.data, bytes, n);
  if (bus.realTiming) bus.hooks->pauseUs(emu_CanFrameUs(f.extended, bus.bitRate));
  bus.hooks->frameOut(f);
}

void emu_EcuStopSending(EcuLink& e) {
  e.awaitingFlowControl = false;
  e.frameCount = 0;
  e.nextFrame = 0;
  e.nextLine = e.answer.noOfLines;
}

void emu_EcuSendMessages(uint8_t idx);

// Consecutive frames up to the end of the block or of the message, paced by the separation
// time; then the next flow control is awaited, or the next message starts.
void emu_EcuSendBlock(uint8_t idx) {
  EcuLink& e = bus.ecus[idx];
  bool first = true;
  while (e.nextFrame < e.frameCount) {
    if (!first && e.stMin != 0) bus.hooks->pauseUs(emu_StMinUs(e.stMin));
    first = false;
    uint8_t frame[EMU_ISOTP_FRAME_BYTES];
    const uint8_t n = emu_IsoTpFrame(e.message, e.messageLength, e.nextFrame++, frame);
    // A frame lost on the bus: the ECU goes on, the tester finds the next one out of turn.
    if (!emu_CarTakeCanCue(EmuCanCue::LostFrame)) emu_EcuSendFrame(idx, frame, n);
    if (e.nextFrame < e.frameCount && e.blockLeft != 0 && --e.blockLeft == 0) {
      e.awaitingFlowControl = true;
      e.flowControlSinceUs = bus.hooks->nowUs();
      return;
    }
  }
  e.frameCount = 0;
  emu_EcuSendMessages(idx);
}

// The answer's next messages: single frames go out one after the other; a first frame waits
// for the tester's flow control.
void emu_EcuSendMessages(uint8_t idx) {
  EcuLink& e = bus.ecus[idx];
  while (e.nextLine < e.answer.noOfLines) {
    const uint8_t line = e.nextLine++;
    const uint8_t n = e.answer.LineLength(line);
    if (n == 0) continue;
    if (bus.realTiming) {
      // The car's answer time before the first message; the ECU's own delay before its line
      // (its answer, or the one after a response pending).
      const EmuBusTiming& t = emu_Protocol(vehicleProtocol != 0 ? vehicleProtocol.load() : AUTOMATIC_CAR_TIMING).timing;
      uint32_t ms = line == 0 ? t.answerMs : 0;
      if (line == e.answer.delayedLine) ms += e.answer.delayMs;
      if (ms != 0) bus.hooks->pauseUs(ms * 1000u);
    }
    e.message = e.answer.data + e.answer.LineStart(line);
    e.messageLength = n;
    e.frameCount = emu_IsoTpFrameCount(n);
    e.nextFrame = 1;
    uint8_t frame[EMU_ISOTP_FRAME_BYTES];
    const uint8_t bytes = emu_IsoTpFrame(e.message, n, 0, frame);
    emu_EcuSendFrame(idx, frame, bytes);
    if (e.frameCount > 1) {
      e.awaitingFlowControl = true;
      e.flowControlSinceUs = bus.hooks->nowUs();
      return;
    }
  }
  e.frameCount = 0;
}

// A whole request: the ECU's answer replaces whatever it was still sending.
void emu_EcuAnswer(uint8_t idx, const uint8_t* request, size_t n, EmuUdsAddressing addressing) {
  EcuLink& e = bus.ecus[idx];
  emu_EcuStopSending(e);
  if (n == 0 || n > EMU_SLCAN_REQUEST_MAX) return;
  EmuEcuAnswer a;
  if (!emu_VehicleAnswerRequest(request, static_cast<uint8_t>(n), idx, true, &a, addressing)) return;
  e.answer = a;
  e.nextLine = 0;
  emu_EcuSendMessages(idx);
}

void emu_EcuTakeFlowControl(uint8_t idx, const EmuIsoTpFlowControl& fc) {
  EcuLink& e = bus.ecus[idx];
  if (!e.awaitingFlowControl) return;
  if (bus.hooks->nowUs() - e.flowControlSinceUs > EMU_ISOTP_TIMEOUT_US) {
    emu_EcuStopSending(e);  // N_Bs ran out: the transfer was dropped before this came
    return;
  }
  switch (fc.status) {
    case EmuIsoTpFlow::Wait:
      e.flowControlSinceUs = bus.hooks->nowUs();
      return;
    case EmuIsoTpFlow::Overflow:
      emu_EcuStopSending(e);
      return;
    case EmuIsoTpFlow::ContinueToSend:
      e.awaitingFlowControl = false;
      e.blockLeft = fc.blockSize;
      e.stMin = fc.stMin;
      emu_EcuSendBlock(idx);
      return;
  }
}

// A frame to this ECU's physical identifier.
void emu_EcuTakePhysical(uint8_t idx, const EmuCanFrame& f) {
  EcuLink& e = bus.ecus[idx];
  EmuIsoTpFlowControl fc;
  if (f.dlc > 0 && (f.data[0] >> 4) == 3) {  // flow control, for the ECU's sending side
    if (emu_IsoTpReadFlowControl(f.data, f.dlc, &fc)) emu_EcuTakeFlowControl(idx, fc);
    return;
  }
  const uint64_t now = bus.hooks->nowUs();
  if (e.rx.underWay && now - e.lastRxUs > EMU_ISOTP_TIMEOUT_US) e.rx.underWay = false;  // N_Cr ran out
  e.lastRxUs = now;
  e.extended = f.extended;
  const EmuIsoTpResult r = emu_IsoTpReceive(&e.rx, f.data, f.dlc);
  uint8_t frame[EMU_ISOTP_FRAME_BYTES];
  if (r == EmuIsoTpResult::Complete) {
    if (emu_CarTakeCanCue(EmuCanCue::SilentRequest)) {
      emu_EcuStopSending(e);
      return;
    }
    emu_EcuAnswer(idx, e.rx.message, e.rx.length, EmuUdsAddressing::Physical);
  } else if (r == EmuIsoTpResult::Pending && e.rx.received == EMU_ISOTP_FIRST_BYTES) {
    emu_EcuSendFrame(idx, frame, emu_IsoTpWriteFlowControl({EmuIsoTpFlow::ContinueToSend, 0, 0}, frame));
  } else if (r == EmuIsoTpResult::Overflow) {
    emu_EcuSendFrame(idx, frame, emu_IsoTpWriteFlowControl({EmuIsoTpFlow::Overflow, 0, 0}, frame));
  }
}

// A functional request reaches every ECU, as a single frame only.
void emu_BusTakeFunctional(const EmuCanFrame& f) {
  if (f.dlc < 2 || (f.data[0] >> 4) != 0) return;
  const uint8_t n = f.data[0] & 0x0F;
  if (n == 0 || n > EMU_ISOTP_SINGLE_MAX || n + 1 > f.dlc) return;
  if (emu_CarTakeCanCue(EmuCanCue::SilentRequest)) return;
  for (uint8_t i = 0; i < vehicle.maxEcu && i < EMU_MAX_ECUS; ++i) {
    bus.ecus[i].extended = f.extended;
    emu_EcuAnswer(i, f.data + 1, n, EmuUdsAddressing::Functional);
  }
}

// The car's CAN nodes at this bit rate and identifier length: a car on a CAN protocol is on its
// own; a car left to the tester's choice (protocol 0) on any of the OBD CAN rates and lengths.
bool emu_CarOnBus(uint32_t bitRate, bool* eleven, bool* twentyNine) {
  const uint8_t p = vehicleProtocol;
  *eleven = *twentyNine = false;
  if (p == EMU_PROTOCOL_AUTOMATIC) {
    for (uint8_t q = 1; q <= EMU_PROTOCOL_LAST; ++q) {
      const EmuProtocol& row = emu_Protocol(q);
      if (row.kind != EmuBusKind::Can || row.bitRate != bitRate) continue;
      (row.canIdBits == 29 ? *twentyNine : *eleven) = true;
    }
  } else if (emu_ProtocolIsCan(p) && emu_Protocol(p).bitRate == bitRate) {
    (emu_ProtocolIs29Bit(p) ? *twentyNine : *eleven) = true;
  }
  return *eleven || *twentyNine;
}

}  // namespace

void emu_CanBusInit(const EmuCanBusHooks* hooks) {
  bus.hooks = hooks;
  for (EcuLink& e : bus.ecus) {
    e.rx.underWay = false;
    e.rx.capacity = EMU_SLCAN_REQUEST_MAX;
    e.answer.Clear();
    emu_EcuStopSending(e);
  }
}

void emu_CanBusSetRealTiming(bool on) { bus.realTiming = on; }

uint32_t emu_CanFrameUs(bool extended, uint32_t bitRate) {
  const uint32_t bits = extended ? 150 : 125;
  return bitRate != 0 ? static_cast<uint32_t>(bits * 1000000ull / bitRate) : 0;
}

bool emu_CanBusCarAt(uint32_t bitRate) {
  bool eleven, twentyNine;
  return emu_CarIgnitionOn() && emu_CarOnBus(bitRate, &eleven, &twentyNine);
}

bool emu_CanBusSend(const EmuCanFrame& f, uint32_t bitRate) {
  bool eleven, twentyNine;
  bus.bitRate = bitRate;
  if (bus.realTiming) bus.hooks->pauseUs(emu_CanFrameUs(f.extended, bitRate));
  // Powered ECUs acknowledge every frame at their rate, whoever it is for.
  if (!emu_CarIgnitionOn() || !emu_CarOnBus(bitRate, &eleven, &twentyNine)) return false;
  if (f.remote || (f.extended ? !twentyNine : !eleven)) return true;
  if (f.id == (f.extended ? ID29_FUNCTIONAL : ID11_FUNCTIONAL)) {
    emu_BusTakeFunctional(f);
    return true;
  }
  for (uint8_t i = 0; i < vehicle.maxEcu && i < EMU_MAX_ECUS; ++i) {
    if (f.id == emu_EcuRequestId(i, f.extended)) emu_EcuTakePhysical(i, f);
  }
  return true;
}
