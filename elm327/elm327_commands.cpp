// The ELM327 v1.5 personality's AT commands: identity, the settings with their defaults after
// ATZ / ATWS / ATD, the protocol choice (ATSP, ATTP, ATPC) and its description (ATDP, ATDPN),
// request headers and receive filters (ATSH, ATCP, ATCRA). One row per command; a row names the
// command letters and the form of the argument that follows them.
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
    case Arg::Any: return true;
  }
  return false;
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

// ATCRA without an argument accepts every answer again; an X stands for any digit.
bool emu_ElmSetReceiveFilter(const char* a) {
  elm.s.filterSet = a[0] != '\0' ? 1 : 0;
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

struct ElmCommand {
  const char* name;  // after "AT", upper case
  Arg arg;
  uint8_t EmuElmSettings::*flag;  // set to the argument's digit, answered "OK"; or
  bool (*run)(const char* arg);   // does what the command says and answers
};

// clang-format off
constexpr ElmCommand ELM_COMMANDS[] = {
    {"Z",   Arg::None,     nullptr,                        emu_ElmReset},
    {"WS",  Arg::None,     nullptr,                        emu_ElmReset},
    {"D",   Arg::None,     nullptr,                        emu_ElmSetDefaults},
    {"I",   Arg::None,     nullptr,                        emu_ElmIdentify},
    {"@1",  Arg::None,     nullptr,                        emu_ElmDescribeDevice},
    {"RV",  Arg::None,     nullptr,                        emu_ElmVoltage},
    {"E",   Arg::Bit,      &EmuElmSettings::echo,          nullptr},
    {"L",   Arg::Bit,      &EmuElmSettings::lineFeeds,     nullptr},
    {"S",   Arg::Bit,      &EmuElmSettings::spaces,        nullptr},
    {"H",   Arg::Bit,      &EmuElmSettings::headers,       nullptr},
    {"M",   Arg::Bit,      &EmuElmSettings::memory,        nullptr},
    {"R",   Arg::Bit,      &EmuElmSettings::responses,     nullptr},
    {"CAF", Arg::Bit,      &EmuElmSettings::canAutoFormat, nullptr},
    {"CFC", Arg::Bit,      &EmuElmSettings::canFlowControl, nullptr},
    {"D",   Arg::Bit,      &EmuElmSettings::showDlc,       nullptr},
    {"AT",  Arg::Level,    &EmuElmSettings::adaptiveTiming, nullptr},
    {"ST",  Arg::Hex2,     nullptr,                        emu_ElmSetTimeout},
    {"AL",  Arg::None,     nullptr,                        emu_ElmAllowLong},
    {"NL",  Arg::None,     nullptr,                        emu_ElmNormalLength},
    {"KW",  Arg::Bit,      nullptr,                        emu_ElmIgnore},
    {"IB",  Arg::IsoBaud,  nullptr,                        emu_ElmIgnore},
    {"V",   Arg::Bit,      nullptr,                        emu_ElmIgnore},
    {"SP",  Arg::Protocol, nullptr,                        emu_ElmSetProtocol},
    {"TP",  Arg::Protocol, nullptr,                        emu_ElmTryProtocol},
    {"PC",  Arg::None,     nullptr,                        emu_ElmCloseProtocol},
    {"DP",  Arg::None,     nullptr,                        emu_ElmDescribeProtocol},
    {"DPN", Arg::None,     nullptr,                        emu_ElmDescribeProtocolNumber},
    {"SH",  Arg::Header,   nullptr,                        emu_ElmSetHeader},
    {"CP",  Arg::Hex2,     nullptr,                        emu_ElmSetPriority},
    {"CRA", Arg::Filter,   nullptr,                        emu_ElmSetReceiveFilter},
    {"CF",  Arg::Filter,   nullptr,                        emu_ElmIgnore},
    {"CM",  Arg::Filter,   nullptr,                        emu_ElmIgnore},
    {"FC",  Arg::Any,      nullptr,                        emu_ElmIgnore},
    {"AR",  Arg::None,     nullptr,                        emu_ElmIgnore},
    {"SR",  Arg::Hex2,     nullptr,                        emu_ElmIgnore},
    {"SW",  Arg::Hex2,     nullptr,                        emu_ElmIgnore},
    {"WM",  Arg::Any,      nullptr,                        emu_ElmIgnore},
};
// clang-format on

constexpr bool emu_ElmCommandsValid() {
  for (const ElmCommand& c : ELM_COMMANDS) {
    // (Each row has a flag or a runner, not both: functions' addresses are no constants under the
    // sanitizers, so that is not checked here.)
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
  s.filterValue = 0;
  s.filterMask = 0;
  s.protocol = elm.savedProtocol;
  s.automatic = elm.savedAutomatic;
  s.tryFirst = 0;
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
