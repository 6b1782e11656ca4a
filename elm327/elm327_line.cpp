// The ELM327 v1.5 personality's line: reading the client's characters (echo, spaces, control
// characters and case ignored, an empty line repeats the last one, a line over 128 characters is
// refused) and handing each line to the command table or the OBD answers. Writing, the port and
// the busy time of an OBD request are the port side's (elm327_port.h).
#include <string.h>

#include "elm327/elm327_internal.h"
#include "elm327/elm327_port.h"
#include "adapter/line_faults.h"
#include "bus/protocols.h"

namespace {

constexpr char CR = '\r';

void emu_ElmRemember(const char* line) {
  memcpy(elm.last, line, strlen(line) + 1);
}

void emu_ElmExecute(const char* line) {
  if (line[0] == 'A' && line[1] == 'T') {
    if (!emu_ElmCommand(line + 2)) {
      emu_ElmLine("?");
      emu_ElmPrompt();
    }
    return;
  }
  emu_ElmRequest(line);
}

// A carriage return ends the line: the line is answered, or the last one again when it is
// empty.
void emu_ElmEndOfLine() {
  emu_LineFaultsAnswerBegins(emu_ElmFlush);
  if (elm.overflow != 0) {
    emu_ElmLine("?");
    emu_ElmPrompt();
  } else if (elm.length == 0) {
    if (elm.last[0] != '\0') {
      char again[EMU_ELM_LINE_MAX + 1];
      memcpy(again, elm.last, sizeof again);
      emu_ElmExecute(again);
    } else {
      emu_ElmPutChar('>');
    }
  } else {
    emu_ElmRemember(elm.line);
    emu_ElmExecute(elm.line);
  }
  emu_ElmForgetLine();
  if (emu_LineFaultsAnswerEnds()) emu_ElmHangUpClient();
}

void emu_ElmTakeByte(uint8_t c) {
  emu_LineFaultsInput();
  if (elm.s.echo != 0) {
    if (c == CR) {
      emu_ElmLineEnd();
    } else {
      emu_ElmPutChar(static_cast<char>(c));
    }
  }
  if (c == CR) {
    emu_ElmEndOfLine();
    return;
  }
  if (emu_ElmIgnored(c)) return;
  if (elm.length >= EMU_ELM_LINE_MAX) {
    elm.overflow = 1;
    return;
  }
  elm.line[elm.length++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
  elm.line[elm.length] = '\0';
}

// The adapter is powered up with the program: the command line finds it ready.
[[maybe_unused]] const bool elmPoweredUp = (emu_ElmInit(), true);

}  // namespace

void emu_ElmInit() {
  elm.savedProtocol = 0;
  elm.savedAutomatic = 1;
  elm.searchFirst = 6;
  memset(elm.keyBytes, 0, sizeof elm.keyBytes);
  memset(elm.lastMessage, 0, sizeof elm.lastMessage);
  emu_ElmDefaults();
  emu_ElmForgetLine();
  elm.last[0] = '\0';
  emu_ElmDropTraffic();
  emu_LineFaultsRestart();
}

void emu_ElmServeInput() {
  if (emu_LineFaultsDropDue()) emu_ElmHangUpClient();
  uint8_t c;
  while (emu_ElmNextInput(&c)) emu_ElmTakeByte(c);
  emu_ElmFlush();
}

void emu_ElmClientLeft() {
  emu_ElmDropTraffic();
  emu_ElmForgetLine();
  emu_LineFaultsNewClient();
}

void emu_ElmHangUpClient() {
  emu_ElmFlush();
  emu_LineFaultsDrop();
  emu_ElmClientLeft();
}

uint8_t emu_ElmConnectedProtocol() { return elm.connected.load(); }
uint8_t emu_ElmIsCanProtocolInUse() { return emu_ProtocolIsCan(elm.connected.load()) ? 1 : 0; }
