// The ELM327 v1.5 personality's AT commands: identity, the settings with their defaults after
// ATZ / ATWS / ATD, the protocol choice (ATSP, ATTP, ATPC) and its description (ATDP, ATDPN),
// request headers and receive filters (ATSH, ATCP, ATCRA, ATCF, ATCM, ATAR), the K-line's
// initialisations (ATIIA, ATSI, ATFI, ATKW), the bus monitor and the message buffer (ATMA, ATMR,
// ATMT, ATBD) and the baud rate switch (ATBRD, ATBRT). One row per command; a row names the
// command letters, the form of the argument that follows them, and whether the command does
// here what it does on the chip, is accepted without effect, or is refused as unknown (the
// README's list of what is not emulated is held to these rows).
#include <stdio.h>
#include <string.h>

#include "bus/hex.h"
#include "bus/protocols.h"
#include "elm327/elm327_internal.h"
#include "elm327/elm327_port.h"
#include "vehicle/vehicle.h"

namespace {

const char* const IDENTITY = "ELM327 v1.5";
const char* const DEVICE_DESCRIPTION = "OBDII to RS232 Interpreter";

constexpr uint8_t DEFAULT_TIMEOUT = 0x32;  // x 4 ms = 200 ms
constexpr uint8_t DEFAULT_CAN_PRIORITY = 0x18;

// The line reader hands commands over in upper case: a hex digit is 0-9 or A-F.
bool emu_ElmAllHex(const char* text, size_t n) {
  uint32_t value;
  return strlen(text) == n && emu_ReadHexNumber(text, n, &value) == n;
}

// An argument checked to be all hex (at most eight digits).
uint32_t emu_ElmHexValue(const char* text) {
  uint32_t v = 0;
  (void)emu_ReadHexNumber(text, strlen(text), &v);
  return v;
}

// What may follow the command letters.
enum class Arg : uint8_t {
  None,      // nothing
  Bit,       // 0 or 1
  Level,     // 0, 1 or 2
  Hex2,      // two hex digits
  Protocol,  // h or Ah
  Header,    // three or six hex digits
  Filter,    // nothing, three or eight hex digits or X
  IsoBaud,   // 10 or 96
  CanId,     // three or eight hex digits
  Any,       // anything (commands whose settings change nothing here)
};

bool emu_ElmArgFits(Arg kind, const char* a) {
  const size_t n = strlen(a);
  switch (kind) {
    case Arg::None: return n == 0;
    case Arg::Bit: return n == 1 && (a[0] == '0' || a[0] == '1');
    case Arg::Level: return n == 1 && a[0] >= '0' && a[0] <= '2';
    case Arg::Hex2: return emu_ElmAllHex(a, 2);
    case Arg::Protocol: return (n == 1 && emu_HexDigit(a[0]) >= 0) || (n == 2 && a[0] == 'A' && emu_HexDigit(a[1]) >= 0);
    case Arg::Header: return emu_ElmAllHex(a, 3) || emu_ElmAllHex(a, 6);
    case Arg::Filter:
      if (n != 0 && n != 3 && n != 8) return false;
      for (size_t i = 0; i < n; ++i)
        if (emu_HexDigit(a[i]) < 0 && a[i] != 'X') return false;
      return true;
    case Arg::IsoBaud: return strcmp(a, "10") == 0 || strcmp(a, "96") == 0;
    case Arg::CanId: return emu_ElmAllHex(a, 3) || emu_ElmAllHex(a, 8);
    case Arg::Any: return true;
  }
  return false;
}

uint8_t emu_ElmShownProtocol();

// How the command list shows an argument.
const char* emu_ElmArgForm(Arg kind) {
  switch (kind) {
    case Arg::None: return "";
    case Arg::Bit: return "0/1";
    case Arg::Level: return "0/1/2";
    case Arg::Hex2: return " hh";
    case Arg::Protocol: return " h";
    case Arg::Header: return " hhh";
    case Arg::Filter: return " hhh";
    case Arg::IsoBaud: return "10/96";
    case Arg::CanId: return " hhh";
    case Arg::Any: return "...";
  }
  return "";
}

void emu_ElmOk() {
  emu_ElmLine("OK");
  emu_ElmPrompt();
}

void emu_ElmAnswer(const char* text) {
  emu_ElmLine(text);
  emu_ElmPrompt();
}

// ---------------------------------------------------------------------------------------------
// Commands with more to do than setting a flag. Each returns false when its argument is refused.

bool emu_ElmReset(const char*) {
  emu_ElmDefaults();
  emu_ElmLineEnd();
  emu_ElmLineEnd();
  emu_ElmAnswer(IDENTITY);
  return true;
}

bool emu_ElmSetDefaults(const char*) {
  emu_ElmDefaults();
  emu_ElmOk();
  return true;
}

bool emu_ElmIdentify(const char*) {
  emu_ElmAnswer(IDENTITY);
  return true;
}

bool emu_ElmDescribeDevice(const char*) {
  emu_ElmAnswer(DEVICE_DESCRIPTION);
  return true;
}

bool emu_ElmVoltage(const char*) {
  char text[16];
  const unsigned deciVolts = emu_CarSupplyDeciVolts();
  snprintf(text, sizeof text, "%u.%uV", deciVolts / 10, deciVolts % 10);
  emu_ElmAnswer(text);
  return true;
}

bool emu_ElmSetTimeout(const char* a) {
  elm.s.timeout = static_cast<uint8_t>(emu_ElmHexValue(a));
  emu_ElmOk();
  return true;
}

bool emu_ElmSetPriority(const char* a) {
  elm.s.canPriority = static_cast<uint8_t>(emu_ElmHexValue(a) & 0x1F);
  emu_ElmOk();
  return true;
}

bool emu_ElmSetHeader(const char* a) {
  elm.s.header = emu_ElmHexValue(a);
  elm.s.headerSet = 1;
  emu_ElmOk();
  return true;
}

// ATCRA without an argument accepts every answer again; an X stands for any digit. It sets the
// identifier and the mask at once.
bool emu_ElmSetReceiveFilter(const char* a) {
  elm.s.filterSet = a[0] != '\0' ? 1 : 0;
  elm.s.maskSet = elm.s.filterSet;
  elm.s.filterValue = 0;
  elm.s.filterMask = 0;
  for (const char* p = a; *p != '\0'; ++p) {
    elm.s.filterValue <<= 4;
    elm.s.filterMask <<= 4;
    if (*p != 'X') {
      elm.s.filterValue |= static_cast<uint32_t>(emu_HexDigit(*p));
      elm.s.filterMask |= 0x0F;
    }
  }
  emu_ElmOk();
  return true;
}

// ATCF: the identifier answers must have in the bits of the mask; until ATCM gives one, every bit
// of an identifier of that length.
bool emu_ElmSetFilterId(const char* a) {
  elm.s.filterValue = emu_ElmHexValue(a);
  if (elm.s.maskSet == 0) elm.s.filterMask = strlen(a) == 3 ? 0x7FFu : 0x1FFFFFFFu;
  elm.s.filterSet = 1;
  emu_ElmOk();
  return true;
}

// ATCM: the bits of the identifier compared with ATCF's (none set yet: compared with zeros).
bool emu_ElmSetFilterMask(const char* a) {
  elm.s.filterMask = emu_ElmHexValue(a);
  elm.s.maskSet = 1;
  elm.s.filterSet = 1;
  emu_ElmOk();
  return true;
}

// ATAR: the answers to the adapter's own requests are received again, whatever the filters said.
bool emu_ElmAutomaticReceive(const char*) {
  elm.s.filterSet = 0;
  elm.s.maskSet = 0;
  elm.s.filterValue = 0;
  elm.s.filterMask = 0;
  emu_ElmOk();
  return true;
}

// ---------------------------------------------------------------------------------------------
// The K-line's initialisations.

bool emu_ElmSetInitAddress(const char* a) {
  elm.s.initAddress = static_cast<uint8_t>(emu_ElmHexValue(a));
  emu_ElmOk();
  return true;
}

// ATSI and ATFI initialise the bus of the protocol set (or in use) when it is theirs.
bool emu_ElmInitialiseNow(EmuBusKind kind, const char* dots) {
  const uint8_t p = emu_ElmShownProtocol();
  if (emu_Protocol(p).kind != kind) return false;
  if (emu_ElmInitialiseBus(p, dots)) emu_ElmPrompt();
  return true;
}
bool emu_ElmSlowInit(const char*) { return emu_ElmInitialiseNow(EmuBusKind::KLine5Baud, "..."); }
bool emu_ElmFastInit(const char*) { return emu_ElmInitialiseNow(EmuBusKind::KLineFast, ""); }

bool emu_ElmShowKeyBytes(const char*) {
  if (!emu_ProtocolIsKLine(emu_ElmShownProtocol())) return false;
  char text[16];
  snprintf(text, sizeof text, "1:%02X 2:%02X", elm.keyBytes[0], elm.keyBytes[1]);
  emu_ElmAnswer(text);
  return true;
}

// ---------------------------------------------------------------------------------------------
// The bus monitor and the message buffer.

bool emu_ElmMonitorAll(const char*) {
  emu_ElmMonitor(EmuElmWatch::All, 0);
  return true;
}
bool emu_ElmMonitorReceiver(const char* a) {
  emu_ElmMonitor(EmuElmWatch::Receiver, static_cast<uint8_t>(emu_ElmHexValue(a)));
  return true;
}
bool emu_ElmMonitorTransmitter(const char* a) {
  emu_ElmMonitor(EmuElmWatch::Transmitter, static_cast<uint8_t>(emu_ElmHexValue(a)));
  return true;
}

bool emu_ElmDumpBuffer(const char*) {
  for (uint8_t byte : elm.lastMessage) {
    emu_ElmPutByte(byte);
    emu_ElmLineEnd();
  }
  emu_ElmPrompt();
  return true;
}

// ---------------------------------------------------------------------------------------------
// The baud rate switch: 4 MHz divided by the argument, 00 refused.

constexpr uint32_t BAUD_CLOCK = 4000000;
constexpr uint8_t DEFAULT_BAUD_TIMEOUT = 0x0F;  // x 5 ms = 75 ms
constexpr uint8_t DEFAULT_INIT_ADDRESS = 0x33;

bool emu_ElmSetBaudTimeout(const char* a) {
  elm.s.baudTimeout = static_cast<uint8_t>(emu_ElmHexValue(a));
  emu_ElmOk();
  return true;
}

bool emu_ElmTryBaud(const char* a) {
  const uint32_t divisor = emu_ElmHexValue(a);
  if (divisor == 0) return false;
  emu_ElmSwitchBaud(BAUD_CLOCK / divisor, IDENTITY, elm.s.baudTimeout * 5u);
  return true;
}

// A command of the chip that is not emulated: answered as one it does not know.
bool emu_ElmRefuse(const char*) { return false; }

// ATSP / ATTP: h alone fixes the protocol (0: automatic); Ah searches, trying h first. Either
// closes the protocol in use. ATSP is what ATZ returns to; ATTP only tries.
bool emu_ElmChooseProtocol(const char* a, bool save) {
  const bool automatic = a[1] != '\0';  // "Ah"; a lone "A" is protocol 10, which does not exist
  const int h = emu_HexDigit(automatic ? a[1] : a[0]);
  if (h < 0 || h > EMU_PROTOCOL_LAST) return false;
  elm.s.protocol = static_cast<uint8_t>(h);
  elm.s.automatic = (automatic || h == 0) ? 1 : 0;
  elm.s.tryFirst = 0;
  if (automatic && h != 0) {
    if (save) {
      elm.searchFirst = static_cast<uint8_t>(h);
    } else {
      elm.s.tryFirst = static_cast<uint8_t>(h);
    }
  }
  if (save) {
    elm.savedProtocol = elm.s.protocol;
    elm.savedAutomatic = elm.s.automatic;
  }
  elm.connected = 0;
  emu_ElmOk();
  return true;
}
bool emu_ElmSetProtocol(const char* a) { return emu_ElmChooseProtocol(a, true); }
bool emu_ElmTryProtocol(const char* a) { return emu_ElmChooseProtocol(a, false); }

bool emu_ElmCloseProtocol(const char*) {
  elm.connected = 0;
  emu_ElmOk();
  return true;
}

// The protocol in use, or before a connection the one set (or tried first).
uint8_t emu_ElmShownProtocol() {
  const uint8_t connected = elm.connected;
  return connected != 0 ? connected : elm.s.protocol;
}

bool emu_ElmDescribeProtocol(const char*) {
  const uint8_t p = emu_ElmShownProtocol();
  char text[48];
  const char* name = emu_Protocol(p).elmName;
  if (elm.s.automatic == 0) {
    snprintf(text, sizeof text, "%s", name);
  } else if (p == EMU_PROTOCOL_AUTOMATIC) {
    snprintf(text, sizeof text, "%s", name);  // "AUTO"
  } else {
    snprintf(text, sizeof text, "AUTO, %s", name);
  }
  emu_ElmAnswer(text);
  return true;
}

bool emu_ElmDescribeProtocolNumber(const char*) {
  char text[4];
  snprintf(text, sizeof text, "%s%X", elm.s.automatic != 0 ? "A" : "", emu_ElmShownProtocol());
  emu_ElmAnswer(text);
  return true;
}

bool emu_ElmAllowLong(const char*) {
  elm.s.longMessages = 1;
  emu_ElmOk();
  return true;
}

bool emu_ElmNormalLength(const char*) {
  elm.s.longMessages = 0;
  emu_ElmOk();
  return true;
}

bool emu_ElmIgnore(const char*) {
  emu_ElmOk();
  return true;
}

// ---------------------------------------------------------------------------------------------

using E = EmuElmEffect;

struct ElmCommand {
  const char* name;  // after "AT", upper case
  Arg arg;
  E effect;
  uint8_t EmuElmSettings::*flag;  // set to the argument's digit, answered "OK"; or
  bool (*run)(const char* arg);   // does what the command says and answers
};

// clang-format off
constexpr ElmCommand ELM_COMMANDS[] = {
    {"Z",   Arg::None,     E::Real,     nullptr,                        emu_ElmReset},
    {"WS",  Arg::None,     E::Real,     nullptr,                        emu_ElmReset},
    {"D",   Arg::None,     E::Real,     nullptr,                        emu_ElmSetDefaults},
    {"I",   Arg::None,     E::Real,     nullptr,                        emu_ElmIdentify},
    {"@1",  Arg::None,     E::Real,     nullptr,                        emu_ElmDescribeDevice},
    {"RV",  Arg::None,     E::Real,     nullptr,                        emu_ElmVoltage},
    {"E",   Arg::Bit,      E::Real,     &EmuElmSettings::echo,          nullptr},
    {"L",   Arg::Bit,      E::Real,     &EmuElmSettings::lineFeeds,     nullptr},
    {"S",   Arg::Bit,      E::Real,     &EmuElmSettings::spaces,        nullptr},
    {"H",   Arg::Bit,      E::Real,     &EmuElmSettings::headers,       nullptr},
    {"M",   Arg::Bit,      E::NoEffect, &EmuElmSettings::memory,        nullptr},
    {"R",   Arg::Bit,      E::Real,     &EmuElmSettings::responses,     nullptr},
    {"CAF", Arg::Bit,      E::Real,     &EmuElmSettings::canAutoFormat, nullptr},
    {"CFC", Arg::Bit,      E::Real,     &EmuElmSettings::canFlowControl, nullptr},
    {"D",   Arg::Bit,      E::Real,     &EmuElmSettings::showDlc,       nullptr},
    {"AT",  Arg::Level,    E::Real,     &EmuElmSettings::adaptiveTiming, nullptr},
    {"ST",  Arg::Hex2,     E::Real,     nullptr,                        emu_ElmSetTimeout},
    {"AL",  Arg::None,     E::Real,     nullptr,                        emu_ElmAllowLong},
    {"NL",  Arg::None,     E::Real,     nullptr,                        emu_ElmNormalLength},
    {"KW",  Arg::None,     E::Real,     nullptr,                        emu_ElmShowKeyBytes},
    // The car's key bytes are always right: checking them or not changes nothing here.
    {"KW",  Arg::Bit,      E::Real,     &EmuElmSettings::keyWordCheck,  nullptr},
    {"IIA", Arg::Hex2,     E::Real,     nullptr,                        emu_ElmSetInitAddress},
    {"SI",  Arg::None,     E::Real,     nullptr,                        emu_ElmSlowInit},
    {"FI",  Arg::None,     E::Real,     nullptr,                        emu_ElmFastInit},
    {"IB",  Arg::IsoBaud,  E::NoEffect, nullptr,                        emu_ElmIgnore},
    {"V",   Arg::Bit,      E::NoEffect, nullptr,                        emu_ElmIgnore},
    {"SP",  Arg::Protocol, E::Real,     nullptr,                        emu_ElmSetProtocol},
    {"TP",  Arg::Protocol, E::Real,     nullptr,                        emu_ElmTryProtocol},
    {"PC",  Arg::None,     E::Real,     nullptr,                        emu_ElmCloseProtocol},
    {"DP",  Arg::None,     E::Real,     nullptr,                        emu_ElmDescribeProtocol},
    {"DPN", Arg::None,     E::Real,     nullptr,                        emu_ElmDescribeProtocolNumber},
    {"SH",  Arg::Header,   E::Real,     nullptr,                        emu_ElmSetHeader},
    {"CP",  Arg::Hex2,     E::Real,     nullptr,                        emu_ElmSetPriority},
    {"CRA", Arg::Filter,   E::Real,     nullptr,                        emu_ElmSetReceiveFilter},
    {"CF",  Arg::CanId,    E::Real,     nullptr,                        emu_ElmSetFilterId},
    {"CM",  Arg::CanId,    E::Real,     nullptr,                        emu_ElmSetFilterMask},
    {"AR",  Arg::None,     E::Real,     nullptr,                        emu_ElmAutomaticReceive},
    {"MA",  Arg::None,     E::Real,     nullptr,                        emu_ElmMonitorAll},
    {"MR",  Arg::Hex2,     E::Real,     nullptr,                        emu_ElmMonitorReceiver},
    {"MT",  Arg::Hex2,     E::Real,     nullptr,                        emu_ElmMonitorTransmitter},
    {"BD",  Arg::None,     E::Real,     nullptr,                        emu_ElmDumpBuffer},
    {"BRT", Arg::Hex2,     E::Real,     nullptr,                        emu_ElmSetBaudTimeout},
    {"BRD", Arg::Hex2,     E::Real,     nullptr,                        emu_ElmTryBaud},
    {"FC",  Arg::Any,      E::NoEffect, nullptr,                        emu_ElmIgnore},
    {"SR",  Arg::Hex2,     E::NoEffect, nullptr,                        emu_ElmIgnore},
    {"SW",  Arg::Hex2,     E::NoEffect, nullptr,                        emu_ElmIgnore},
    {"WM",  Arg::Any,      E::NoEffect, nullptr,                        emu_ElmIgnore},
    // The chip's commands that are not emulated, answered "?" as unknown ones are.
    {"PPS", Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"PP",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"LP",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"CSM", Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"CS",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"CEA", Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"DM1", Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"FE",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"JE",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"PB",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"SS",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"TA",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"CV",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"IGN", Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"RD",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
    {"SD",  Arg::Any,      E::Refused,  nullptr,                        emu_ElmRefuse},
};
// clang-format on

constexpr bool emu_ElmCommandsValid() {
  for (const ElmCommand& c : ELM_COMMANDS) {
    // (Each row has a flag or a runner, not both, and a refused row runs emu_ElmRefuse:
    // functions' addresses are no constants under the sanitizers, so that is not checked here.)
    for (const char* p = c.name; *p != '\0'; ++p)
      if (*p >= 'a' && *p <= 'z') return false;  // lines are compared in upper case
  }
  return true;
}
static_assert(emu_ElmCommandsValid());

}  // namespace

void emu_ElmDefaults() {
  EmuElmSettings& s = elm.s;
  s.echo = 1;
  s.lineFeeds = 0;
  s.spaces = 1;
  s.headers = 0;
  s.canAutoFormat = 1;
  s.canFlowControl = 1;
  s.showDlc = 0;
  s.responses = 1;
  s.memory = 1;
  s.longMessages = 0;
  s.adaptiveTiming = 1;
  s.timeout = DEFAULT_TIMEOUT;
  s.canPriority = DEFAULT_CAN_PRIORITY;
  s.headerSet = 0;
  s.header = 0;
  s.filterSet = 0;
  s.maskSet = 0;
  s.filterValue = 0;
  s.filterMask = 0;
  s.protocol = elm.savedProtocol;
  s.automatic = elm.savedAutomatic;
  s.tryFirst = 0;
  s.initAddress = DEFAULT_INIT_ADDRESS;
  s.keyWordCheck = 1;
  s.baudTimeout = DEFAULT_BAUD_TIMEOUT;
  elm.connected = 0;
  elm.learnedDelayMs = 0;
}

bool emu_ElmCommand(const char* command) {
  for (const ElmCommand& c : ELM_COMMANDS) {
    const size_t n = strlen(c.name);
    if (strncmp(command, c.name, n) != 0 || !emu_ElmArgFits(c.arg, command + n)) continue;
    const char* arg = command + n;
    if (c.run != nullptr) return c.run(arg);
    elm.s.*c.flag = static_cast<uint8_t>(arg[0] - '0');
    emu_ElmOk();
    return true;
  }
  return false;
}

size_t emu_ElmCommandRows(EmuElmCommandRow* rows, size_t max) {
  size_t n = 0;
  for (const ElmCommand& c : ELM_COMMANDS) {
    if (n < max) rows[n] = {c.name, emu_ElmArgForm(c.arg), c.effect};
    ++n;
  }
  return n;
}
