// OBD request answering: which ECUs answer, and the layout of their lines as the module prints
// them. CAN answers are ISO 15765-2 frames of 7 data bytes (single, first, consecutive; the last
// filled with 00); non-CAN answers are one message a line, with a checksum when headers are on.
// Not emulated: bus timing, flow control and arbitration between ECUs (they answer in index order).
#include "module/obd_answer.h"

#include <stdio.h>
#include <string.h>

#include "adapter/line_faults.h"
#include "bus/hex.h"
#include "bus/iso_tp.h"
#include "bus/protocols.h"
#include "controller/controller.h"
#include "module/module_port.h"

namespace {

constexpr uint8_t CAN_FRAME_DATA_BYTES = 7;  // after the frame control byte, filled with 00
constexpr char CR = '\r';

// Writes text into a fixed buffer and never past it: what does not fit is dropped, the text
// stays terminated. Reserve keeps room for an ending that must always be there.
class TextWriter {
 public:
  TextWriter(char* buf, size_t size) : buf_(buf), size_(size), limit_(size - 1) { buf_[0] = '\0'; }

  void Put(char c) {
    if (length_ >= limit_) return;
    buf_[length_++] = c;
    buf_[length_] = '\0';
  }
  void PutText(const char* text) {
    while (*text != '\0') Put(*text++);
  }
  void PutHex(uint8_t byte) {
    Put(emu_GetHighNibble(byte));
    Put(emu_GetLowNibble(byte));
  }
  void Reserve(size_t chars) { limit_ = size_ - 1 - chars; }
  void Release() { limit_ = size_ - 1; }
  size_t Length() const { return length_; }

 private:
  char* buf_;
  size_t size_;
  size_t limit_;
  size_t length_ = 0;
};

// How lines look in the protocol set and the answer format chosen with ATH1 / ATOF1.
struct Framing {
  uint8_t protocol;
  bool can;
  bool id29;     // 18 DA F1 xx identifiers
  bool headers;  // identifiers / header bytes shown (ATH1 or ATOF1)
  bool of1;      // summary line, 11-bit identifiers written out to 8 digits
  bool spaced;   // ATH1: a space after every byte
};

Framing emu_CurrentFraming() {
  Framing f;
  f.protocol = atpProtocol;
  f.can = emu_ProtocolIsCan(f.protocol);
  f.id29 = emu_ProtocolIs29Bit(f.protocol);
  f.of1 = atof1Enabled != 0;
  f.spaced = ath1Enabled != 0;
  f.headers = f.of1 || f.spaced;
  return f;
}

struct Totals {
  size_t lines = 0;
  size_t bytes = 0;  // header, data and checksum bytes of every line, for the summary
};

// ---------------------------------------------------------------------------------------------
// CAN: the message is cut into frames; each line is the identifier and frame control byte (with
// headers) and 7 data bytes.

void emu_PutCanLine(TextWriter& w, const Framing& f, uint8_t addr, const uint8_t* frame, uint8_t n,
                    Totals& totals) {
  uint8_t headerBytes = 0;
  if (f.headers) {
    if (f.id29) {
      for (uint8_t b : {0x18, 0xDA, 0xF1}) w.PutHex(b);  // 18 DA F1 xx
    } else {
      w.PutText(f.of1 ? "000007" : "7");  // 000007xx, or 7xx
    }
    w.PutHex(addr);
    w.PutHex(frame[0]);
    headerBytes = f.id29 || f.of1 ? 5 : 2;  // "7E8" and the frame control byte count as 2
  }
  for (uint8_t i = 1; i <= CAN_FRAME_DATA_BYTES; ++i) w.PutHex(i < n ? frame[i] : 0x00);
  w.Put(CR);
  ++totals.lines;
  totals.bytes += headerBytes + CAN_FRAME_DATA_BYTES;
}

void emu_PutCanMessage(TextWriter& w, const Framing& f, uint8_t addr, const uint8_t* message, uint8_t length,
                       Totals& totals) {
  const uint16_t frames = emu_IsoTpFrameCount(length);
  for (uint16_t i = 0; i < frames; ++i) {
    uint8_t frame[EMU_ISOTP_FRAME_BYTES];
    const uint8_t n = emu_IsoTpFrame(message, length, i, frame);
    emu_PutCanLine(w, f, addr, frame, n, totals);
  }
}

// Each line of the answer is a message of its own.
void emu_PutCanLines(TextWriter& w, const Framing& f, uint8_t addr, const EmuEcuAnswer& answer,
                     Totals& totals) {
  for (uint8_t line = 0; line < answer.noOfLines; ++line) {
    emu_PutCanMessage(w, f, addr, answer.data + answer.LineStart(line), answer.LineLength(line), totals);
  }
}

// ---------------------------------------------------------------------------------------------
// Other protocols: one message a line; with headers three header bytes before it and the byte
// sum after it.

void emu_PutKLineLines(TextWriter& w, const Framing& f, uint8_t addr, const EmuEcuAnswer& answer,
                       Totals& totals) {
  for (uint8_t line = 0; line < answer.noOfLines; ++line) {
    const uint8_t* data = answer.data + answer.LineStart(line);
    const uint8_t n = answer.LineLength(line);
    if (n == 0) continue;
    uint8_t sum = 0;
    if (f.headers) {
      uint8_t header[3];
      emu_ProtocolAnswerHeader(f.protocol, addr, n, header);
      for (uint8_t b : header) {
        w.PutHex(b);
        sum = static_cast<uint8_t>(sum + b);
      }
    }
    for (uint8_t i = 0; i < n; ++i) {
      w.PutHex(data[i]);
      sum = static_cast<uint8_t>(sum + data[i]);
    }
    if (f.headers) w.PutHex(sum);
    w.Put(CR);
    ++totals.lines;
    totals.bytes += n + (f.headers ? 3 + 1 : 0);
  }
}

// ---------------------------------------------------------------------------------------------

}  // namespace

namespace {

// "ATH1": a space after every byte, none before a CR. A line that starts with an 11-bit
// identifier ("7E8") keeps its three characters together; the summary line keeps its ':' with
// the first byte.
void emu_SpaceAnswer(const char* raw, TextWriter& out, bool elevenBitIds) {
  out.Reserve(1);  // the prompt
  for (const char* p = raw; *p != '\0' && *p != '>';) {
    const char* end = strchr(p, CR);
    if (end == nullptr) end = p + strlen(p);
    const size_t n = static_cast<size_t>(end - p);
    size_t i = 0;
    if (n > 0 && p[0] == ':') {
      out.Put(':');
      i = 1;
    } else if (elevenBitIds && n >= 3) {
      for (; i < 3; ++i) out.Put(p[i]);
      if (i < n) out.Put(' ');
    }
    while (i < n) {
      out.Put(p[i]);
      if (i + 1 < n) out.Put(p[i + 1]);
      i += 2;
      if (i < n) out.Put(' ');
    }
    if (*end == '\0') break;
    out.Put(CR);
    p = end + 1;
  }
  out.Release();
  out.Put('>');
}

}  // namespace

namespace {

// An error mark the faults drew, at the end of the answer's first line: after it the rest of
// the answer ("<DATA ERROR"), or only the answer's end ("<RX ERROR"). False for other errors.
bool emu_MarkAnswer(int error, char (&answer)[EMU_OBD_ANSWER_BUF_SIZE]) {
  if (error != EMU_FAULT_DATA_ERROR_MARK && error != EMU_FAULT_RX_ERROR_MARK) return false;
  char* lineEnd = strchr(answer, CR);
  if (lineEnd == nullptr) return false;
  const char* mark = EMU_FAULT_ERROR_TEXTS[error];
  const size_t markLength = strlen(mark);
  const char* rest = error == EMU_FAULT_RX_ERROR_MARK ? "\r\r>" : lineEnd;
  const size_t restLength = strlen(rest) + 1;
  const size_t at = static_cast<size_t>(lineEnd - answer);
  if (at + markLength + restLength > sizeof answer) return false;
  memmove(answer + at + markLength, rest, restLength);
  memcpy(answer + at, mark, markLength);
  return true;
}

// Service 06 is asked with its MID (or TID) written out; "06" alone is no request.
bool emu_VehicleKnows(uint8_t service, uint8_t pid, const uint8_t* request, uint8_t n) {
  return emu_RequestIsKnown(service, pid) && (service != 0x06 || request == nullptr || n >= 2);
}

}  // namespace

size_t emu_BuildObdAnswer(uint8_t service, uint8_t pid, uint8_t frame, char (&out)[EMU_OBD_ANSWER_BUF_SIZE],
                          const uint8_t* request, uint8_t n) {
  const bool vehicleKnows = emu_VehicleKnows(service, pid, request, n);
  const Framing f = emu_CurrentFraming();
  char raw[EMU_OBD_RAW_BUF_SIZE];
  TextWriter w(raw, sizeof raw);
  out[0] = '\0';

  // The summary line comes first but counts what follows: keep its place.
  constexpr size_t SUMMARY_CHARS = 6;  // ':', bytes, lines, CR
  if (f.of1) {
    for (size_t i = 0; i < SUMMARY_CHARS; ++i) w.Put(' ');
  }
  w.Reserve(2);  // the empty last line and the prompt

  uint8_t order[EMU_MAX_ECUS];
  uint8_t count = 0;
  if (ecuFilter != 0) {
    order[count++] = emu_QimGetEcuIdx(ecuFilter);
  } else {
    const uint8_t maxEcu = vehicle.maxEcu;
    while (count < maxEcu && count < EMU_MAX_ECUS) {
      order[count] = count;
      ++count;
    }
  }

  Totals totals;
  EmuEcuAnswer answer;
  for (uint8_t k = 0; k < count; ++k) {
    const uint8_t idx = order[k];
    answer.Clear();
    if (emu_CarEcuSilent(idx)) continue;
    if (vehicleKnows && emu_EcuAnswers(service, pid, frame, idx, f.can)) {
      emu_InitFrameData(service, pid, frame, idx, f.can, &answer);
      // Codes are cleared only by an ECU that accepted the request.
      if (service == 0x04 && answer.length > 0 && answer.data[0] == 0x44) emu_VehicleClearCodes(idx, f.can);
    }
    // What the vehicle does not answer itself, its table or its diagnostic server may; the
    // module's filter naming one ECU asks it at its own address.
    const EmuUdsAddressing addressing = ecuFilter != 0 ? EmuUdsAddressing::Physical : EmuUdsAddressing::Functional;
    if (answer.length == 0 && request != nullptr &&
        !emu_VehicleTableOrServerAnswer(request, n, idx, f.can, &answer, addressing)) {
      continue;
    }
    emu_CarApplyEcuFaults(idx, service, &answer);
    if (f.can) {
      emu_PutCanLines(w, f, ecuAddr[idx], answer, totals);
    } else {
      emu_PutKLineLines(w, f, ecuAddr[idx], answer, totals);
    }
  }
  if (totals.lines == 0) return 0;

  if (f.of1) {
    TextWriter summary(raw, SUMMARY_CHARS + 1);
    summary.Put(':');
    summary.PutHex(static_cast<uint8_t>(totals.bytes));
    summary.PutHex(static_cast<uint8_t>(totals.lines));
    raw[SUMMARY_CHARS - 1] = CR;  // summary wrote its terminator here
  }
  w.Release();
  w.Put(CR);
  w.Put('>');

  if (f.spaced) {
    TextWriter spaced(out, sizeof out);
    emu_SpaceAnswer(raw, spaced, f.can && !f.id29 && !f.of1);
  } else {
    memcpy(out, raw, w.Length() + 1);
  }
  return totals.lines;
}

void emu_SendObdResponse(uint8_t service, uint8_t pid, uint8_t frame, const uint8_t* request, uint8_t n) {
  char answer[EMU_OBD_ANSWER_BUF_SIZE];
  const bool answered = emu_BuildObdAnswer(service, pid, frame, answer, request, n) != 0;
  const int error = emu_LineFaultsDrawError();
  if (error >= 0 && !(answered && emu_MarkAnswer(error, answer))) {
    char alone[32];
    snprintf(alone, sizeof alone, "%s\r>", EMU_FAULT_ERROR_TEXTS[error]);
    emu_SendDataBuf(alone);
    return;
  }
  if (!answered) {
    emu_QimSendResponseNoData();
    return;
  }
  emu_SendDataBuf(answer);
}

void emu_QimSendObdResponse(uint8_t service, uint8_t pid, uint8_t frame, const uint8_t* request, uint8_t n) {
  if (!emu_VehicleKnows(service, pid, request, n) &&
      (request == nullptr || !emu_TableKnows(request, n))) {
    emu_QimSendResponseError();
    return;
  }
  const uint8_t responding = vehicleProtocol;
  if (responding != 0 && responding != atpProtocol) {
    emu_QimSendResponseNoData();  // the vehicle does not talk this protocol
    return;
  }
  if (responding == 0 && atpProtocol == 0 && emu_GetPadixMode() == EmuMode::Simulator) {
    emu_VehicleSetProtocol(4);
    emu_QimSetProtocol(4);
  }
  emu_SendObdResponse(service, pid, frame, request, n);
}
