// OBD requests in the ELM327 v1.5 personality: finding the car (automatic search, bus
// initialisation), which ECUs a request reaches (functional or physical header, receive filter),
// and their answers as the adapter prints them: CAN frames with or without identifiers, PCI
// bytes and automatic formatting, J1850 / K-line messages with header and check bytes.
// With automatic formatting off the client frames its own requests (ISO 15765-2): single frames,
// a first frame that the addressed ECU answers with its flow control, then consecutive frames.
// With real timing, the car's answer delay, the gap between ECUs, the time-out after the last
// answer and the bus initialisations take the time they take on a real bus, and an answer that
// outgrows the transmit buffer at a slow serial rate ends in BUFFER FULL. Also the bus monitor:
// the messages ECUs send unasked come from a source the car may attach (none yet).
#include <stdio.h>
#include <string.h>

#include "adapter/line_faults.h"
#include "bus/hex.h"
#include "bus/iso_tp.h"
#include "bus/protocols.h"
#include "elm327/elm327_internal.h"
#include "elm327/elm327_port.h"
#include "module/module_port.h"
#include "module/obd_answer.h"
#include "vehicle/request_answer.h"
#include "vehicle/vehicle_faults.h"
#include "vehicle/vehicle.h"

namespace {

constexpr uint8_t CAN_FRAME_BYTES = EMU_ISOTP_FRAME_BYTES;
constexpr uint8_t CAN_FILL = 0x00;
constexpr uint8_t MAX_REQUEST_BYTES = 8;
constexpr uint32_t CAN_11BIT_FUNCTIONAL = 0x7DF;
constexpr uint8_t CAN_29BIT_FUNCTIONAL = 0xDB;   // 18 DB 33 F1
constexpr uint8_t CAN_29BIT_PHYSICAL = 0xDA;     // 18 DA xx F1; answers from 18 DA F1 xx
constexpr uint8_t FUNCTIONAL_TARGET = 0x33;      // ISO 15765-4, ISO 14230-4 and ISO 9141-2
constexpr uint8_t J1850_FUNCTIONAL_TARGET = 0x6A;

struct ElmRequest {
  uint8_t bytes[MAX_REQUEST_BYTES];
  uint8_t n;
  uint8_t count;  // the trailing digit: return after this many answers; 0 none
};

// Hex byte pairs (the line comes in upper case, without spaces), with an optional single digit
// behind them: the number of answers awaited.
bool emu_ElmParseRequest(const char* hex, ElmRequest* r) {
  size_t digits = strlen(hex);
  r->count = 0;
  if (digits % 2 == 1) {
    if (digits < 3) return false;
    const int count = emu_HexDigit(hex[digits - 1]);
    if (count <= 0) return false;
    r->count = static_cast<uint8_t>(count);
    --digits;
  }
  // Without automatic formatting the client's bytes are a whole frame, its PCI byte included.
  const bool wholeFrame = elm.s.longMessages != 0 || elm.s.canAutoFormat == 0;
  const size_t limit = wholeFrame ? MAX_REQUEST_BYTES : MAX_REQUEST_BYTES - 1;
  const EmuHexRead read = emu_ReadHexBytes(hex, digits, {"", false}, r->bytes, limit);
  if (read.error != EmuHexError::None || read.n == 0) return false;
  r->n = static_cast<uint8_t>(read.n);
  return true;
}

// The car talks this protocol: with its ignition off it talks none.
bool emu_ElmCarTalks(uint8_t protocol) {
  const uint8_t responding = vehicleProtocol;
  return (responding == 0 || responding == protocol) && emu_CarIgnitionOn();
}

// An error mark the faults put at the end of the answer's first line ("<DATA ERROR",
// "<RX ERROR"); -1 none.
int answerMark = -1;

// A CAN node at another bit rate hears only errors on the bus.
bool emu_ElmSameBitRate(uint8_t a, uint8_t b) { return emu_Protocol(a).bitRate == emu_Protocol(b).bitRate; }

void emu_ElmFail(const char* text) {
  emu_ElmLine(text);
  emu_ElmPrompt();
}

uint32_t emu_ElmTimeoutMs() { return elm.s.timeout * 4u; }

// How long the adapter waits after the last answer for more: the time-out, shortened by adaptive
// timing once it has seen how fast the car answers.
uint32_t emu_ElmWaitAfterLastMs() {
  const uint32_t timeout = emu_ElmTimeoutMs();
  const uint32_t seen = elm.learnedDelayMs;
  uint32_t adaptive = timeout;
  if (seen != 0 && elm.s.adaptiveTiming == 1) adaptive = seen * 2 + 20;
  if (seen != 0 && elm.s.adaptiveTiming == 2) adaptive = seen + 8;
  return adaptive < timeout ? adaptive : timeout;
}

// ---------------------------------------------------------------------------------------------
// Finding the car

// The 5-baud initialisation wakes the ECUs at its address: all of them at 33, one at its own
// address, none at any other. The fast one wakes them all.
bool emu_ElmInitAnswered(uint8_t p) {
  if (!emu_ElmCarTalks(p)) return false;
  const uint8_t address = elm.s.initAddress;
  if (emu_Protocol(p).kind != EmuBusKind::KLine5Baud || address == FUNCTIONAL_TARGET) return true;
  const uint8_t maxEcu = vehicle.maxEcu;
  for (uint8_t i = 0; i < maxEcu && i < EMU_MAX_ECUS; ++i)
    if (emu_VehicleEcuAddress(i, EmuEcuAddressing::Header) == address) return true;
  return false;
}

// The bus answers on protocol p: it is the one in use, and off CAN its key bytes are kept. The
// protocol table lists ISO 14230-4's key bytes with the 8F first; on the bus it comes second.
void emu_ElmConnected(uint8_t p) {
  elm.connected = p;
  const EmuProtocol& row = emu_Protocol(p);
  elm.keyBytes[0] = row.formatLength ? row.keyBytes[1] : row.keyBytes[0];
  elm.keyBytes[1] = row.formatLength ? row.keyBytes[0] : row.keyBytes[1];
}

// A protocol set by number: K-line protocols initialise the bus first and say so.
bool emu_ElmInitialiseFixed(uint8_t p) {
  if (emu_ProtocolIsKLine(p)) return emu_ElmInitialiseBus(p, "...");
  emu_ElmConnected(p);
  return true;
}

// The protocol tried first, then 1 to 9; the first one on which the car answers 0100 is kept.
bool emu_ElmSearchProtocols() {
  emu_ElmLine("SEARCHING...");
  const uint8_t first = elm.s.tryFirst != 0 ? elm.s.tryFirst : elm.searchFirst;
  uint8_t order[EMU_PROTOCOL_ROWS] = {first};
  uint8_t count = 1;
  for (uint8_t p = 1; p <= EMU_PROTOCOL_LAST; ++p)
    if (p != first) order[count++] = p;
  for (uint8_t i = 0; i < count; ++i) {
    const uint8_t p = order[i];
    const bool talks = emu_ProtocolIsKLine(p) ? emu_ElmInitAnswered(p) : emu_ElmCarTalks(p);
    const EmuBusTiming& t = emu_Protocol(p).timing;
    const uint32_t cost = talks ? t.initMs + t.answerMs : t.missMs;
    if (emu_ElmWait(cost)) {
      emu_ElmAnswerStopped();
      return false;
    }
    if (talks) {
      emu_ElmConnected(p);
      elm.searchFirst = p;
      return true;
    }
  }
  emu_ElmFail("UNABLE TO CONNECT");
  return false;
}

// Told to the window's panel while it lasts.
std::atomic<uint8_t> searching{0};
bool emu_ElmSearch() {
  searching = 1;
  const bool found = emu_ElmSearchProtocols();
  searching = 0;
  return found;
}

bool emu_ElmConnect() {
  if (elm.connected != 0) return true;
  if (elm.s.automatic != 0) return emu_ElmSearch();
  return emu_ElmInitialiseFixed(elm.s.protocol);
}

// ---------------------------------------------------------------------------------------------
// Addressing

uint32_t emu_ElmCanAnswerId(uint8_t protocol, uint8_t ecuIdx) {
  if (emu_ProtocolIs29Bit(protocol)) return 0x18DAF100u | emu_VehicleEcuAddress(ecuIdx, EmuEcuAddressing::Header);
  return 0x700u | emu_VehicleEcuAddress(ecuIdx, EmuEcuAddressing::Can11);
}

// ECUs the request reaches: all of them through the functional header (the default), one
// through its physical address, none through any other.
uint8_t emu_ElmAddressedEcus(uint8_t protocol, uint8_t ecus[EMU_MAX_ECUS]) {
  const uint8_t maxEcu = vehicle.maxEcu;
  uint8_t count = 0;
  if (elm.s.headerSet == 0) {
    for (uint8_t i = 0; i < maxEcu && i < EMU_MAX_ECUS; ++i) ecus[count++] = i;
    return count;
  }
  const uint32_t h = elm.s.header;
  const uint8_t kind = static_cast<uint8_t>(h >> 16), target = static_cast<uint8_t>(h >> 8);
  for (uint8_t i = 0; i < maxEcu && i < EMU_MAX_ECUS; ++i) {
    bool reached;
    if (emu_ProtocolIs29Bit(protocol)) {
      reached = (kind == CAN_29BIT_FUNCTIONAL && target == FUNCTIONAL_TARGET) ||
                (kind == CAN_29BIT_PHYSICAL && target == emu_VehicleEcuAddress(i, EmuEcuAddressing::Header));
    } else if (emu_ProtocolIsCan(protocol)) {
      // An ECU is asked at its answer identifier less 8 (7E0 for 7E8).
      const uint32_t id = h & 0x7FF;
      reached = id == CAN_11BIT_FUNCTIONAL || id + 8 == emu_ElmCanAnswerId(protocol, i);
    } else {
      reached = target == FUNCTIONAL_TARGET || target == J1850_FUNCTIONAL_TARGET ||
                target == emu_VehicleEcuAddress(i, EmuEcuAddressing::Header);
    }
    if (reached) ecus[count++] = i;
  }
  return count;
}

// Whether the header set asks every ECU at once (the functional address), as the default one does.
EmuUdsAddressing emu_ElmAddressing(uint8_t protocol) {
  if (elm.s.headerSet == 0) return EmuUdsAddressing::Functional;
  const uint32_t h = elm.s.header;
  const uint8_t target = static_cast<uint8_t>(h >> 8);
  bool functional;
  if (emu_ProtocolIs29Bit(protocol)) {
    functional = static_cast<uint8_t>(h >> 16) == CAN_29BIT_FUNCTIONAL;
  } else if (emu_ProtocolIsCan(protocol)) {
    functional = (h & 0x7FF) == CAN_11BIT_FUNCTIONAL;
  } else {
    // Off CAN the header's second byte is the target: 33 (6A on J1850) every ECU, else one.
    functional = target == FUNCTIONAL_TARGET || target == J1850_FUNCTIONAL_TARGET;
  }
  return functional ? EmuUdsAddressing::Functional : EmuUdsAddressing::Physical;
}

bool emu_ElmPassesFilter(uint8_t protocol, uint8_t ecuIdx) {
  if (elm.s.filterSet == 0 || !emu_ProtocolIsCan(protocol)) return true;
  const uint32_t id = emu_ElmCanAnswerId(protocol, ecuIdx);
  return (id & elm.s.filterMask) == (elm.s.filterValue & elm.s.filterMask);
}

// ---------------------------------------------------------------------------------------------
// One ECU's answer message(s)

// ---------------------------------------------------------------------------------------------
// Printing

// ATBD: the last message received stays in the adapter's buffer as it came.
void emu_ElmKeepMessage(const uint8_t* bytes, uint8_t n) {
  constexpr uint8_t ROOM = sizeof elm.lastMessage - 1;
  if (n > ROOM) n = ROOM;
  memset(elm.lastMessage, 0, sizeof elm.lastMessage);
  elm.lastMessage[0] = n;
  memcpy(elm.lastMessage + 1, bytes, n);
}

// The end of a line of the car's answer, the first one carrying the error mark the faults drew.
void emu_ElmMessageLineEnd() {
  if (answerMark >= 0) {
    emu_ElmPut(EMU_FAULT_ERROR_TEXTS[answerMark]);
    answerMark = -1;
  }
  emu_ElmLineEnd();
}

void emu_ElmPutCanId(uint8_t protocol, uint32_t id) {
  if (emu_ProtocolIs29Bit(protocol)) {
    for (int shift = 24; shift >= 0; shift -= 8) emu_ElmPutByte(static_cast<uint8_t>(id >> shift));
  } else {
    emu_ElmPutChar(emu_GetLowNibble(static_cast<uint8_t>((id >> 8) & 0x7)));
    emu_ElmPutChar(emu_GetHighNibble(static_cast<uint8_t>(id)));
    emu_ElmPutChar(emu_GetLowNibble(static_cast<uint8_t>(id)));
    if (elm.s.spaces != 0) emu_ElmPutChar(' ');
  }
  if (elm.s.showDlc != 0) {
    emu_ElmPutChar('0' + CAN_FRAME_BYTES);
    if (elm.s.spaces != 0) emu_ElmPutChar(' ');
  }
}

// A frame as it came from the bus: identifier (with headers), the PCI byte and all 8 bytes.
void emu_ElmPutRawFrame(uint8_t protocol, uint32_t id, const uint8_t frame[CAN_FRAME_BYTES]) {
  if (elm.s.headers != 0) emu_ElmPutCanId(protocol, id);
  for (uint8_t i = 0; i < CAN_FRAME_BYTES; ++i) emu_ElmPutByte(frame[i]);
  emu_ElmMessageLineEnd();
}

// The ISO 15765-2 frames of one message, each filled to 8 bytes. Without flow control the ECU
// stops after its first frame.
uint16_t emu_ElmCanFrames(const uint8_t* message, uint8_t length, uint8_t frames[][CAN_FRAME_BYTES],
                          uint16_t maxFrames) {
  uint16_t count = emu_IsoTpFrameCount(length);
  if (count > 1 && elm.s.canFlowControl == 0) count = 1;
  if (count > maxFrames) count = maxFrames;
  for (uint16_t i = 0; i < count; ++i) {
    memset(frames[i], CAN_FILL, CAN_FRAME_BYTES);
    (void)emu_IsoTpFrame(message, length, i, frames[i]);
  }
  return count;
}

void emu_ElmPutCanMessage(uint8_t protocol, uint8_t idx, const uint8_t* message, uint8_t length) {
  constexpr uint16_t MAX_FRAMES = emu_IsoTpFrameCount(EMU_ANSWER_MAX_BYTES);
  uint8_t frames[MAX_FRAMES][CAN_FRAME_BYTES];
  const uint16_t count = emu_ElmCanFrames(message, length, frames, MAX_FRAMES);
  const uint32_t id = emu_ElmCanAnswerId(protocol, idx);
  if (count > 0) emu_ElmKeepMessage(frames[count - 1], CAN_FRAME_BYTES);
  if (elm.s.headers != 0 || elm.s.canAutoFormat == 0) {
    for (uint16_t i = 0; i < count; ++i) emu_ElmPutRawFrame(protocol, id, frames[i]);
    return;
  }
  if (length <= EMU_ISOTP_SINGLE_MAX) {
    for (uint8_t i = 0; i < length; ++i) emu_ElmPutByte(message[i]);
    emu_ElmMessageLineEnd();
    return;
  }
  // Automatic formatting: the length in three digits, then each frame's data after its number.
  emu_ElmPutChar(emu_GetLowNibble(static_cast<uint8_t>(length >> 8)));
  emu_ElmPutChar(emu_GetHighNibble(length));
  emu_ElmPutChar(emu_GetLowNibble(length));
  if (elm.s.spaces != 0) emu_ElmPutChar(' ');
  emu_ElmMessageLineEnd();
  for (uint16_t i = 0; i < count; ++i) {
    emu_ElmPutChar(emu_GetLowNibble(static_cast<uint8_t>(i)));
    emu_ElmPutChar(':');
    if (elm.s.spaces != 0) emu_ElmPutChar(' ');
    for (uint8_t b = i == 0 ? 2 : 1; b < CAN_FRAME_BYTES; ++b) emu_ElmPutByte(frames[i][b]);
    emu_ElmMessageLineEnd();
  }
}

// A J1850 / K-line message: header bytes, data, check byte; shown whole with headers, its data
// alone without.
void emu_ElmPutHeaderedMessage(uint8_t protocol, const uint8_t header[3], const uint8_t* data, uint8_t n) {
  uint8_t message[3 + EMU_KLINE_LINE_BYTES + 1];
  if (n > EMU_KLINE_LINE_BYTES) n = EMU_KLINE_LINE_BYTES;  // never longer; kept to the buffer all the same
  memcpy(message, header, 3);
  memcpy(message + 3, data, n);
  const uint8_t total = static_cast<uint8_t>(3 + n);
  message[total] = emu_ProtocolCheckByte(protocol, message, total);
  // The line's faults corrupted the check byte: the adapter shows the bytes it got and marks the
  // line.
  if (answerMark == EMU_FAULT_DATA_ERROR_MARK) message[total] = static_cast<uint8_t>(~message[total]);
  emu_ElmKeepMessage(message, static_cast<uint8_t>(total + 1));
  const uint8_t from = elm.s.headers != 0 ? 0 : 3;
  const uint8_t to = elm.s.headers != 0 ? static_cast<uint8_t>(total + 1) : total;
  for (uint8_t i = from; i < to; ++i) emu_ElmPutByte(message[i]);
  emu_ElmMessageLineEnd();
}

// One message of J1850 or the K-line from an ECU.
void emu_ElmPutLineMessage(uint8_t protocol, uint8_t idx, const uint8_t* data, uint8_t n) {
  if (n > EMU_KLINE_LINE_BYTES) n = EMU_KLINE_LINE_BYTES;
  uint8_t header[3];
  emu_ProtocolAnswerHeader(protocol, emu_VehicleEcuAddress(idx, EmuEcuAddressing::Header), n, header);
  emu_ElmPutHeaderedMessage(protocol, header, data, n);
}

// ---------------------------------------------------------------------------------------------
// The answer

// The one-shot answers the operator keys arm (y, z) stand in for the car's.
bool emu_ElmOperatorAnswer(uint8_t protocol) {
  if (emu_ProtocolIsCan(protocol) && sendCanError.exchange(0) != 0) {
    emu_ElmFail("CAN ERROR");
    return true;
  }
  if (sendNoData.exchange(0) != 0) {
    emu_ElmFail("NO DATA");
    return true;
  }
  return false;
}

// On a protocol the car does not use, nothing answers; a CAN bus at another bit rate (or with no
// CAN node at all) reports errors instead.
bool emu_ElmBusFault(uint8_t protocol) {
  if (emu_ElmCarTalks(protocol)) return false;
  if (emu_ElmWait(emu_ElmTimeoutMs())) {
    emu_ElmAnswerStopped();
    return true;
  }
  // A car with its ignition off is silent on any bus.
  const uint8_t car = vehicleProtocol;
  const bool errors = emu_ProtocolIsCan(protocol) && !(emu_ProtocolIsCan(car) && emu_ElmSameBitRate(car, protocol)) &&
                      emu_CarIgnitionOn();
  emu_ElmFail(errors ? "CAN ERROR" : "NO DATA");
  return true;
}

// Prints one ECU's answer: each line a CAN message (framed) or a J1850 / K-line message. Returns
// the number of messages shown; `stopped` when the client interrupted the ECU's delay, `full`
// when a message did not fit the transmit buffer.
uint8_t emu_ElmPutEcuAnswer(uint8_t protocol, uint8_t idx, const EmuEcuAnswer& a, uint8_t allowed, bool* stopped,
                            bool* full) {
  uint8_t messages = 0;
  for (uint8_t line = 0; line < a.noOfLines && messages < allowed; ++line) {
    const uint8_t n = a.LineLength(line);
    if (n == 0) continue;
    // A response-pending answer is shown at once; the rest comes when the ECU is done.
    if (line > 0 && line == a.delayedLine && a.delayMs != 0 &&
        (emu_ElmPaceOutput() || emu_ElmWait(a.delayMs))) {
      *stopped = true;
      return messages;
    }
    // The bus brings the message at its bit rate (on CAN some 16 bits a data byte with the
    // frames' overhead, 10 on the K-line and J1850).
    const bool can = emu_ProtocolIsCan(protocol);
    emu_ElmWatchTransmit(static_cast<uint64_t>(n) * (can ? 16u : 10u) * 1000000u / emu_Protocol(protocol).bitRate);
    if (can) {
      emu_ElmPutCanMessage(protocol, idx, a.data + a.LineStart(line), n);
    } else {
      emu_ElmPutLineMessage(protocol, idx, a.data + a.LineStart(line), n);
    }
    if (emu_ElmTransmitOverflowed()) {
      *full = true;
      return messages;
    }
    ++messages;
  }
  return messages;
}

// A share of answers is replaced by one of the adapter's errors (faults.error_rate): alone on
// its line, or as a mark after the answer's first line. True when the answer was replaced.
bool emu_ElmFaultyAnswer() {
  const int error = emu_LineFaultsDrawError();
  if (error < 0) return false;
  if (error == EMU_FAULT_DATA_ERROR_MARK || error == EMU_FAULT_RX_ERROR_MARK) {
    answerMark = error;
    return false;
  }
  // "NO DATA" comes after the time-out, as the car's own silence does.
  if (error == EMU_FAULT_NO_DATA && emu_ElmWait(emu_ElmTimeoutMs())) {
    emu_ElmAnswerStopped();
    return true;
  }
  emu_ElmFail(EMU_FAULT_ERROR_TEXTS[error]);
  return true;
}

void emu_ElmAnswerCar(const uint8_t* request, uint8_t n, uint8_t count, uint8_t protocol) {
  const EmuBusTiming& t = emu_Protocol(protocol).timing;
  const bool can = emu_ProtocolIsCan(protocol);
  uint8_t ecus[EMU_MAX_ECUS];
  const uint8_t addressed = emu_ElmAddressedEcus(protocol, ecus);
  const EmuUdsAddressing addressing = emu_ElmAddressing(protocol);
  // After a frame received with an error the adapter shows no more.
  const uint8_t wanted = answerMark == EMU_FAULT_RX_ERROR_MARK ? 1 : count != 0 ? count : 0xFF;
  uint8_t shown = 0;
  bool waited = false;
  for (uint8_t k = 0; k < addressed && shown < wanted; ++k) {
    EmuEcuAnswer a;
    if (!emu_VehicleAnswerRequest(request, n, ecus[k], can, &a, addressing) || !emu_ElmPassesFilter(protocol, ecus[k])) continue;
    // An ECU slower than the time-out is not waited for; after a 78 (response pending) it is.
    const uint32_t busyMs = a.delayedLine == 0 ? a.delayMs : 0;
    if (busyMs > emu_ElmTimeoutMs()) continue;
    if (emu_ElmWait((waited ? t.gapMs : t.answerMs) + busyMs)) {
      emu_ElmAnswerStopped();
      return;
    }
    waited = true;
    bool stopped = false, full = false;
    shown = static_cast<uint8_t>(shown + emu_ElmPutEcuAnswer(protocol, ecus[k], a, static_cast<uint8_t>(wanted - shown),
                                                             &stopped, &full));
    if (full) {
      emu_ElmFail("BUFFER FULL");
      return;
    }
    if (stopped || emu_ElmPaceOutput()) {
      emu_ElmAnswerStopped();
      return;
    }
  }
  if (shown == 0) {
    if (emu_ElmWait(emu_ElmTimeoutMs())) {
      emu_ElmAnswerStopped();
      return;
    }
    emu_ElmFail("NO DATA");
    return;
  }
  elm.learnedDelayMs = static_cast<uint8_t>(t.answerMs);
  if (shown < wanted && emu_ElmWait(emu_ElmWaitAfterLastMs())) {
    emu_ElmAnswerStopped();
    return;
  }
  emu_ElmPrompt();
}

// ---------------------------------------------------------------------------------------------
// The client's own framing (automatic formatting off, on CAN)

// The message the client is sending in frames: the ECUs' requests are at most 255 bytes, a longer
// first frame is refused with an overflow. The header it was sent under: a consecutive frame under
// another one reaches no ECU that is waiting for it.
EmuIsoTpReceiver clientMessage;
uint32_t clientMessageHeader = 0;
uint8_t clientMessageHeaderSet = 0;

// No ECU answers (a consecutive frame that leaves the message unfinished, a frame out of turn):
// the adapter waits its time-out as for any silent request.
void emu_ElmNoAnswer() {
  if (emu_ElmWait(emu_ElmTimeoutMs())) {
    emu_ElmAnswerStopped();
    return;
  }
  emu_ElmFail("NO DATA");
}

// A first frame reaches the ECUs it is addressed to alone (a functional request must fit one
// frame): each that talks answers with its flow control, shown as it came. Theirs is "send all
// the rest, no gap"; "overflow" for a message longer than they take.
void emu_ElmFlowControlFromEcus(uint8_t protocol, EmuIsoTpFlow status) {
  uint8_t ecus[EMU_MAX_ECUS];
  const uint8_t addressed = emu_ElmAddressedEcus(protocol, ecus);
  bool shown = false;
  for (uint8_t k = 0; k < addressed && emu_ElmAddressing(protocol) == EmuUdsAddressing::Physical; ++k) {
    if (emu_CarEcuSilent(ecus[k]) || !emu_ElmPassesFilter(protocol, ecus[k])) continue;
    if (emu_ElmWait(emu_Protocol(protocol).timing.answerMs)) {
      emu_ElmAnswerStopped();
      return;
    }
    uint8_t frame[CAN_FRAME_BYTES];
    memset(frame, CAN_FILL, sizeof frame);
    (void)emu_IsoTpWriteFlowControl({status, 0, 0}, frame);
    emu_ElmKeepMessage(frame, CAN_FRAME_BYTES);
    emu_ElmPutRawFrame(protocol, emu_ElmCanAnswerId(protocol, ecus[k]), frame);
    shown = true;
  }
  if (!shown) {
    emu_ElmNoAnswer();
    return;
  }
  emu_ElmPrompt();
}

// Whether the request's bytes are a frame of the client's making: a single frame whose length
// fits the bytes behind it (two bytes are taken as the request itself, as automatic formatting
// would send them), a first, consecutive or flow control frame.
bool emu_ElmIsClientFrame(const ElmRequest& r) {
  const uint8_t type = r.bytes[0] >> 4, length = r.bytes[0] & 0x0F;
  if (type == 0) return r.n >= 3 && length >= 1 && length < r.n;
  return type >= 1 && type <= 3;
}

void emu_ElmClientFrame(const ElmRequest& r, uint8_t protocol) {
  const bool sameHeader = clientMessageHeaderSet == elm.s.headerSet && clientMessageHeader == elm.s.header;
  if (r.bytes[0] >> 4 == 2 && !sameHeader) clientMessage.underWay = false;
  clientMessage.capacity = UINT8_MAX;
  switch (emu_IsoTpReceive(&clientMessage, r.bytes, r.n)) {
    case EmuIsoTpResult::Complete:
      emu_ElmAnswerCar(clientMessage.message, static_cast<uint8_t>(clientMessage.length), r.count, protocol);
      return;
    case EmuIsoTpResult::Pending:
      if (r.bytes[0] >> 4 != 1) break;
      clientMessageHeader = elm.s.header;
      clientMessageHeaderSet = elm.s.headerSet;
      emu_ElmFlowControlFromEcus(protocol, EmuIsoTpFlow::ContinueToSend);
      return;
    case EmuIsoTpResult::Overflow:
      emu_ElmFlowControlFromEcus(protocol, EmuIsoTpFlow::Overflow);
      return;
    default:
      break;
  }
  emu_ElmNoAnswer();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The bus monitor

namespace {

constexpr int MONITOR_POLL_MS = 20;  // how often a silent bus is looked at again

bool (*broadcastSource)(uint8_t protocol, EmuElmBusMessage* message) = nullptr;

// ATMR: the message's receiver (the target byte of the header, the identifier's second byte);
// ATMT: its transmitter (the source byte, the identifier's last byte).
bool emu_ElmWatched(uint8_t protocol, const EmuElmBusMessage& m, EmuElmWatch watch, uint8_t address) {
  if (emu_ProtocolIsCan(protocol)) {
    if (elm.s.filterSet != 0 && (m.id & elm.s.filterMask) != (elm.s.filterValue & elm.s.filterMask)) return false;
  }
  switch (watch) {
    case EmuElmWatch::All: return true;
    case EmuElmWatch::Receiver: return static_cast<uint8_t>(m.id >> 8) == address;
    case EmuElmWatch::Transmitter: return static_cast<uint8_t>(m.id) == address;
  }
  return false;
}

// A message as the monitor prints it, in the answers' formats: on CAN the identifier with
// headers, all 8 bytes with headers or without automatic formatting, else the single frame's
// data; off CAN the header and check bytes with headers.
void emu_ElmPutBusMessage(uint8_t protocol, const EmuElmBusMessage& m) {
  const uint8_t n = m.n <= sizeof m.bytes ? m.n : sizeof m.bytes;
  if (!emu_ProtocolIsCan(protocol)) {
    const uint8_t header[3] = {static_cast<uint8_t>(m.id >> 16), static_cast<uint8_t>(m.id >> 8),
                               static_cast<uint8_t>(m.id)};
    emu_ElmPutHeaderedMessage(protocol, header, m.bytes, n);
    return;
  }
  emu_ElmKeepMessage(m.bytes, n);
  if (elm.s.headers != 0) emu_ElmPutCanId(protocol, m.id);
  uint8_t from = 0, to = n;
  if (elm.s.headers == 0 && elm.s.canAutoFormat != 0 && n > 0) {
    from = 1;
    const uint8_t length = m.bytes[0] & 0x0F;
    to = static_cast<uint8_t>(length + 1 < n ? length + 1 : n);
  }
  for (uint8_t i = from; i < to; ++i) emu_ElmPutByte(m.bytes[i]);
  emu_ElmMessageLineEnd();
}

}  // namespace

void emu_ElmSetBroadcastSource(bool (*next)(uint8_t protocol, EmuElmBusMessage* message)) { broadcastSource = next; }

void emu_ElmMonitor(EmuElmWatch watch, uint8_t address) {
  if (!emu_ElmConnect()) return;
  const uint8_t protocol = elm.connected;
  for (;;) {
    EmuElmBusMessage m;
    bool stop = false;
    while (!stop && broadcastSource != nullptr && broadcastSource(protocol, &m)) {
      if (emu_ElmWatched(protocol, m, watch, address)) emu_ElmPutBusMessage(protocol, m);
      // The line being printed is finished before the client's character is looked at.
      stop = emu_ElmPaceOutput();
    }
    if (stop || emu_ElmWaitForClient(MONITOR_POLL_MS)) break;
  }
  emu_ElmEndMonitor();
}

bool emu_ElmInitialiseBus(uint8_t p, const char* dots) {
  emu_ElmPut("BUS INIT: ");
  if (emu_ElmWait(emu_Protocol(p).timing.initMs)) {
    emu_ElmAnswerStopped();
    return false;
  }
  char outcome[16];
  const bool answered = emu_ElmInitAnswered(p);
  snprintf(outcome, sizeof outcome, "%s%s", dots, answered ? "OK" : "ERROR");
  if (!answered) {
    emu_ElmFail(outcome);
    return false;
  }
  emu_ElmLine(outcome);
  emu_ElmConnected(p);
  return true;
}

void emu_ElmRequest(const char* hex) {
  ElmRequest r;
  if (!emu_ElmParseRequest(hex, &r)) {
    emu_ElmFail("?");
    return;
  }
  if (!emu_ElmConnect()) return;
  const uint8_t protocol = elm.connected;
  if (emu_ElmOperatorAnswer(protocol) || emu_ElmBusFault(protocol)) return;
  if (elm.s.responses == 0) {
    emu_ElmPrompt();
    return;
  }
  if (emu_ElmFaultyAnswer()) return;
  if (emu_ProtocolIsCan(protocol) && elm.s.canAutoFormat == 0 && emu_ElmIsClientFrame(r)) {
    emu_ElmClientFrame(r, protocol);
  } else {
    emu_ElmAnswerCar(r.bytes, r.n, r.count, protocol);
  }
  answerMark = -1;
}

uint8_t emu_ElmSearching() { return searching.load(); }
