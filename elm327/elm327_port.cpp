// The ELM327 v1.5 personality's port side: the state block, the serial port and its real timing,
// the input read from the port and not taken yet, the answer text waiting to be written, and the
// busy time of an OBD request, which the client's next character interrupts with "STOPPED" and
// the client's leaving ends without a word.
#include "elm327/elm327_port.h"

#include <string.h>
#include <time.h>

#include "adapter/line_faults.h"
#include "bus/hex.h"

// Zeroed before any initialiser of the program runs: the line reader powers the adapter up from
// one of its own.
constinit EmuElm elm{};

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';

const EmuElmPort* port = nullptr;
bool realTiming = false;
uint32_t lineBaud = 9600;
uint32_t byteTimeUs = 1042;  // 10 bits a byte at 9600 baud

// Input read from the port and not taken yet. During an OBD request, what arrives is only looked
// at (does it interrupt?) and stays here.
struct ElmInput {
  uint8_t bytes[4096];
  size_t head, tail;

  size_t Waiting() const { return tail - head; }
  void Compact() {
    if (head == 0) return;
    memmove(bytes, bytes + head, tail - head);
    tail -= head;
    head = 0;
  }
};
ElmInput input;

// Answer text waiting to be written, and how much of the written text is not paced yet.
struct ElmOutput {
  char text[8192];
  size_t length;
  size_t unpaced;
};
ElmOutput output;

// BUFFER FULL: while a message comes from the bus (real timing), the adapter's transmit buffer
// takes what the serial line has not carried yet, up to its room; what does not fit is lost.
constexpr size_t TRANSMIT_BUFFER = 512;  // bytes, as on the chip
struct ElmTransmit {
  bool watched;
  bool full;
  size_t room;
};
ElmTransmit transmit;

// The client whose line is being answered has left: nothing more is written until the next
// client's first character is taken, and the request under way for the one that left ends.
bool clientLeft = false;

void emu_ElmDropClient() {
  input.head = input.tail = 0;
  output.length = output.unpaced = 0;
  elm.length = 0;
  elm.overflow = 0;
  clientLeft = true;
  emu_LineFaultsNewClient();
}

// The port's word that its client left (or another took its place). Everything read before it
// was the last client's; the next client's input only comes after it.
void emu_ElmTakeHangUp() {
  if (port != nullptr && port->takeHangUp != nullptr && port->takeHangUp() != 0) emu_ElmDropClient();
}

// Reads what the port has into the input, as far as there is room. A client may leave before or
// during the reads: what was read up to then is dropped with it.
void emu_ElmFill() {
  if (port == nullptr) return;
  emu_ElmTakeHangUp();
  input.Compact();
  while (input.tail < sizeof input.bytes) {
    const int n = port->read(input.bytes + input.tail, static_cast<int>(sizeof input.bytes - input.tail));
    if (n <= 0) break;
    input.tail += static_cast<size_t>(n);
  }
  emu_ElmTakeHangUp();
}

bool emu_ElmInputInterrupts() {
  for (size_t i = input.head; i < input.tail; ++i)
    if (!emu_ElmIgnored(input.bytes[i])) return true;
  return false;
}

uint64_t emu_ElmNowUs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_nsec) / 1000u;
}

}  // namespace

void emu_ElmSetPort(const EmuElmPort* p) { port = p; }

void emu_ElmSetRealTiming(bool on, uint32_t baudrate) {
  realTiming = on;
  if (baudrate != 0) lineBaud = baudrate;
  byteTimeUs = 10u * 1000000u / lineBaud;
}

bool emu_ElmRealTiming() { return realTiming; }

// ---------------------------------------------------------------------------------------------
// Reading

bool emu_ElmNextInput(uint8_t* c) {
  if (input.head == input.tail) emu_ElmFill();
  if (input.head == input.tail) return false;
  *c = input.bytes[input.head++];
  clientLeft = false;  // a client is there (again): its line is answered
  return true;
}

void emu_ElmForgetLine() {
  elm.length = 0;
  elm.line[0] = '\0';
  elm.overflow = 0;
}

void emu_ElmDropTraffic() {
  input.head = input.tail = 0;
  output.length = output.unpaced = 0;
}

// ---------------------------------------------------------------------------------------------
// Writing

// With real timing, text goes out when its last byte would have crossed the line: the bytes not
// paced yet take their time first (the client and the traffic log see it arrive then).
void emu_ElmFlush() {
  if (output.length == 0) return;
  if (realTiming && output.unpaced != 0) {
    const uint64_t us = static_cast<uint64_t>(output.unpaced) * byteTimeUs;
    const timespec pause = {static_cast<time_t>(us / 1000000u), static_cast<long>(us % 1000000u) * 1000L};
    nanosleep(&pause, nullptr);
  }
  output.unpaced = 0;
  if (port != nullptr) emu_LineFaultsWrite(port->write, output.text, output.length);
  output.length = 0;
}

void emu_ElmPutChar(char c) {
  if (clientLeft) return;  // for nobody; the next client must not read it
  if (transmit.watched) {
    if (transmit.room == 0) {
      transmit.full = true;
      return;
    }
    --transmit.room;
  }
  if (output.length == sizeof output.text) {
    // A full buffer is written at once; unpaced text it held counts as written.
    emu_ElmFlush();
  }
  output.text[output.length++] = c;
  ++output.unpaced;
}

void emu_ElmPut(const char* text) {
  while (*text != '\0') emu_ElmPutChar(*text++);
}

void emu_ElmPutByte(uint8_t byte) {
  emu_ElmPutChar(emu_GetHighNibble(byte));
  emu_ElmPutChar(emu_GetLowNibble(byte));
  if (elm.s.spaces != 0) emu_ElmPutChar(' ');
}

void emu_ElmLineEnd() {
  emu_ElmPutChar(CR);
  if (elm.s.lineFeeds != 0) emu_ElmPutChar(LF);
}

void emu_ElmLine(const char* text) {
  emu_ElmPut(text);
  emu_ElmLineEnd();
}

void emu_ElmPrompt() {
  emu_ElmLineEnd();
  emu_ElmPutChar('>');
}

// ---------------------------------------------------------------------------------------------
// Busy

bool emu_ElmInterrupted() {
  emu_ElmFill();
  return clientLeft || emu_ElmInputInterrupts();
}

namespace {

// Waits ms milliseconds or until the client interrupts; what is written waits with it unless
// `flushFirst`.
bool emu_ElmWaitWhile(uint32_t ms, bool flushFirst) {
  if (!realTiming || ms == 0) return emu_ElmInterrupted();
  if (flushFirst) emu_ElmFlush();
  const uint64_t end = emu_ElmNowUs() + ms * 1000u;
  for (;;) {
    if (emu_ElmInterrupted()) return true;
    const uint64_t now = emu_ElmNowUs();
    if (now >= end) return false;
    const int leftMs = static_cast<int>((end - now + 999) / 1000);
    if (port != nullptr) {
      (void)port->waitForInput(leftMs);
    } else {
      const timespec pause = {0, static_cast<long>(leftMs) * 1000000L};
      nanosleep(&pause, nullptr);
    }
  }
}

}  // namespace

bool emu_ElmWait(uint32_t ms) { return emu_ElmWaitWhile(ms, true); }

// The answer's lines cross the line while the client may interrupt; they reach it when their last
// byte would have.
bool emu_ElmPaceOutput() {
  const uint64_t us = static_cast<uint64_t>(output.unpaced) * byteTimeUs;
  output.unpaced = 0;
  if (!realTiming) return emu_ElmInterrupted();
  const bool interrupted = emu_ElmWaitWhile(static_cast<uint32_t>((us + 999) / 1000), false);
  emu_ElmFlush();
  return interrupted;
}

void emu_ElmAnswerStopped() {
  // A client that left is told nothing; what is in the input now is the next client's.
  if (clientLeft) return;
  // What the client sent while the request was under way is not executed.
  input.head = input.tail = 0;
  emu_ElmForgetLine();
  emu_ElmLine("STOPPED");
  emu_ElmPrompt();
}

bool emu_ElmWaitForClient(int ms) {
  emu_ElmFlush();
  if (port == nullptr || emu_ElmInterrupted()) return true;
  (void)port->waitForInput(ms);
  return emu_ElmInterrupted();
}

void emu_ElmEndMonitor() {
  if (clientLeft) return;
  input.head = input.tail = 0;
  emu_ElmForgetLine();
  emu_ElmPrompt();
}

// ---------------------------------------------------------------------------------------------
// The baud rate switch

namespace {

// The line at baudrate: 1 changed (real timing follows it), 0 a line without a rate, -1 refused.
int emu_ElmSetLineBaud(uint32_t baudrate) {
  emu_ElmFlush();
  const int changed = port != nullptr && port->setBaud != nullptr ? port->setBaud(baudrate) : 0;
  if (changed == 1) emu_ElmSetRealTiming(realTiming, baudrate);
  return changed;
}

// The client's answer to the identity at the new rate: its first character that counts, within
// waitMs. Only a carriage return accepts; it is taken from the input.
bool emu_ElmClientAccepts(uint32_t waitMs) {
  const uint64_t end = emu_ElmNowUs() + static_cast<uint64_t>(waitMs) * 1000u;
  for (;;) {
    emu_ElmFill();
    while (input.head < input.tail && input.bytes[input.head] != CR && emu_ElmIgnored(input.bytes[input.head]))
      ++input.head;
    if (clientLeft) return false;
    if (input.head < input.tail) return input.bytes[input.head++] == CR;
    const uint64_t now = emu_ElmNowUs();
    // The port's wait ends at the time-out when nothing came.
    if (now >= end || port == nullptr || port->waitForInput(static_cast<int>((end - now + 999) / 1000)) == 0)
      return false;
  }
}

}  // namespace

void emu_ElmSwitchBaud(uint32_t baudrate, const char* identity, uint32_t waitMs) {
  const uint32_t old = lineBaud;
  emu_ElmLine("OK");
  // A rate the device refuses leaves the line as it was: the client does not hear the identity
  // at the rate it expects and gives up, as with a chip whose line cannot carry that rate.
  (void)emu_ElmSetLineBaud(baudrate);
  emu_ElmLine(identity);
  emu_ElmFlush();
  if (!emu_ElmClientAccepts(waitMs)) {
    // Garbage at the new rate is no part of a command; back at the old rate the client starts over.
    input.head = input.tail = 0;
    (void)emu_ElmSetLineBaud(old);
  }
  emu_ElmPrompt();
}

// ---------------------------------------------------------------------------------------------
// The transmit buffer

void emu_ElmWatchTransmit(uint64_t busUs) {
  if (!realTiming) return;
  transmit.watched = true;
  transmit.full = false;
  transmit.room = TRANSMIT_BUFFER + static_cast<size_t>(busUs / byteTimeUs);
}

bool emu_ElmTransmitOverflowed() {
  const bool full = transmit.full;
  transmit = {};
  if (!full) return false;
  // What fits ends with the last whole line in it.
  while (output.length > 0 && output.text[output.length - 1] != CR && output.text[output.length - 1] != LF)
    --output.length;
  if (output.unpaced > output.length) output.unpaced = output.length;
  return true;
}
