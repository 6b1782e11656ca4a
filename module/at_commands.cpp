// AT command interpreter of the simulated module, in its three personalities (the module's own,
// ELM327 v1.1, ELM327 v1.3a), and the dispatch of a command line to it or to the OBD answering.
// Settings the module only reports (echo, line feeds, baud rates, CAN filters) change nothing.
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include "bus/hex.h"
#include "bus/protocols.h"
#include "controller/controller.h"
#include "module/module.h"
#include "module/obd_answer.h"

namespace {

// "ATP" with automatic set: no protocol name yet ("ATDP" says "NOT CONNECTED").
const char* const AUTOMATIC_TEXT = "AUTO";

// Identification after "ATZ", by personality.
const char* const IDENTIFICATION[3] = {"Korvan QIM1 v1.7 Sim", "ELM327 v1.1 Sim", "ELM327 v1.3a Sim"};

// "ATSB" digit 0..6: the baud rate the module would switch to.
const char* const BAUD_RATE_TEXT[7] = {"9600", "19200", "38400", "57600", "115200", "125000", "250000"};

// "ATV" lines 2 to 10; line 1 carries the flags.
struct StatusLine {
  const char* can;
  const char* other;
};
const StatusLine STATUS_LINES[9] = {
    {"  HEADER: C0 33 F1", "  HEADER: 00 00 00"},
    {"  WAKEUP: C1 33 F1 3E", "  WAKEUP: 00 00 00 00"},
    {"CA1 CC1", "CA1 CC1"},
    {"CAN-BAUD: 015A0003", "CAN-BAUD: 00000000"},
    {"CAN-TXID: 000007DF", "CAN-TXID: 00000000"},
    {"CAN-RXID: 000007E8", "CAN-RXID: 00000000"},
    {"CAN-MASK: 000007F8", "CAN-MASK: 00000000"},
    {"CAN-FLOW: 00000700", "CAN-FLOW: 00000000"},
    {"FLOWDATA: 30 00 0A 00", "FLOWDATA: 00 00 00 00"},
};

// The ELM327 v1.5 personality has its own interpreter (elm327.h) for the serial client; whoever
// reaches this one meanwhile (the handheld's firmware) talks to the module's own personality.
uint8_t emu_Personality() {
  const uint8_t personality = diagController;
  return personality <= EMU_DIAG_ELM327_V13A ? personality : EMU_DIAG_QIM;
}

bool emu_IsElm327() { return emu_Personality() != EMU_DIAG_QIM; }

// White space the module skips between the bytes of a request.
constexpr char SPACES[] = " \t\n\v\f\r";
bool emu_IsSpace(char c) { return c != '\0' && strchr(SPACES, c) != nullptr; }

char emu_ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char emu_ToLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// ---------------------------------------------------------------------------------------------
// Answers. `arg` points at the characters after the command letters; it is null when those
// letters were written in mixed case, which makes a numeric argument count as missing.

void emu_AtSetBaudRate(const char* arg) {
  uint32_t digit;
  if (arg != nullptr && emu_ReadHexNumber(arg, 1, &digit) == 1 && digit <= 6) {
    char answer[32];
    snprintf(answer, sizeof answer, "%s\rOK", BAUD_RATE_TEXT[digit]);
    emu_QimSendText(answer);
  } else {
    emu_QimSendResponseOk();
  }
}

void emu_AtReset(const char*) {
  // Right after "ATSB" the reset belongs to the baud switch and keeps the answer format.
  if (lastAtCmdIsAtsb == 0) {
    atof1Enabled = 0;
    ath1Enabled = 0;
    ate1Enabled = 1;
    atl1Enabled = 1;
  }
  while (UCSR0B != 0 && UBRR0 != emu_BaudrateToUBRR0(19200)) {
    pthread_testcancel();
    sched_yield();
  }
  emu_QimSendText(IDENTIFICATION[emu_Personality()]);
}

void emu_AtOf1(const char*) {
  atof1Enabled = 1;
  emu_QimSendResponseOk();
}
void emu_AtH1(const char*) {
  ath1Enabled = 1;
  emu_QimSendResponseOk();
}
void emu_AtE0(const char*) {
  ate1Enabled = 0;
  emu_QimSendResponseOk();
}
void emu_AtL0(const char*) {
  atl1Enabled = 0;
  emu_QimSendResponseOk();
}
void emu_AtOk(const char*) { emu_QimSendResponseOk(); }

void emu_AtFirmwareDate(const char*) { emu_QimSendText("V08-01-2017"); }

void emu_AtHostVersion(const char*) {
  emu_QimSendText(emu_GetPadixMode() == EmuMode::Simulator ? "PaSim V2.81" : "Padix V2.81");
}

void emu_AtVoltage(const char*) { emu_QimSendResponseVoltage(); }
void emu_AtProtocolNumber(const char*) { emu_QimSendResponseProtocol(); }

void emu_AtKeyBytes(const char*) {
  const EmuProtocol& p = emu_Protocol(atpProtocol);
  emu_QimSendText(emu_HexText(p.keyBytes, sizeof p.keyBytes).c_str());
}

void emu_AtSetEcuFilter(const char* arg) {
  uint32_t addr;
  if (arg != nullptr && emu_ReadHexNumber(arg, 2, &addr) > 0) emu_QimSetEcuFilter(static_cast<uint8_t>(addr));
  emu_QimSendResponseOk();
}

// "ATP" sets and shows the protocol; protocol numbers A to F do not exist and are refused.
void emu_AtProtocol(const char* arg) {
  uint32_t digit;
  if (arg == nullptr || emu_ReadHexNumber(arg, 1, &digit) == 0) {
    emu_QimSendResponseProtocolText(atpProtocol, 0);
  } else if (digit > EMU_PROTOCOL_LAST) {
    emu_QimSendResponseError();
  } else {
    emu_QimSetProtocol(static_cast<uint8_t>(digit));
    emu_QimSendResponseProtocolText(static_cast<uint8_t>(digit), 0);
  }
}

void emu_AtDescribeProtocol(const char*) { emu_QimSendResponseProtocolText(atpProtocol, 1); }

void emu_AtStatus(const char*) {
  char block[256];
  size_t used = static_cast<size_t>(snprintf(block, sizeof block,
                                             "E%u L%u H%u M0 OF%u KW1 SW19 SF00 SB03 (57600)\r",
                                             unsigned{ate1Enabled}, unsigned{atl1Enabled},
                                             unsigned{ath1Enabled}, unsigned{atof1Enabled}));
  const bool can = emu_QimIsCanProtocol() != 0;
  for (const StatusLine& line : STATUS_LINES) {
    used += static_cast<size_t>(
        snprintf(block + used, sizeof block - used, "%s\r", can ? line.can : line.other));
  }
  snprintf(block + used, sizeof block - used, "%c", emu_GetPrompt());
  emu_SendDataBuf(block);
}

void emu_AtElmIdentify(const char*) { emu_QimSendText("ELM327 v1.1"); }
void emu_StIdentify(const char*) { emu_QimSendText("ELM327 v1.3a"); }

// ELM327 protocol selection: a bare prompt as its answer, and nothing at all without a number.
void emu_AtSetProtocol(const char* arg) {
  uint32_t digit;
  if (arg == nullptr || emu_ReadHexNumber(arg, 1, &digit) == 0) return;
  if (digit != 0) emu_QimSetProtocol(static_cast<uint8_t>(digit));
  emu_QimSendResponsePrompt();
}

void emu_AtDeviceDescription(const char*) {
  atof1Enabled = 0;
  ath1Enabled = 0;
  emu_QimSendText("PADIXSIM.NET");
}

void emu_AtOwnIdentify(const char*) { emu_QimSendText("Korvan QIM1 v1.7"); }

// ---------------------------------------------------------------------------------------------
// Command table: a line is compared with the rows in this order, without regard to case; the
// first row whose personality matches wins.

enum class Match : uint8_t { Exact, Prefix };

constexpr uint8_t FOR_QIM = 1u << EMU_DIAG_QIM;
constexpr uint8_t FOR_ELM_V11 = 1u << EMU_DIAG_ELM327_V11;
constexpr uint8_t FOR_ELM_V13A = 1u << EMU_DIAG_ELM327_V13A;
constexpr uint8_t FOR_ELM = FOR_ELM_V11 | FOR_ELM_V13A;
constexpr uint8_t FOR_ALL = FOR_QIM | FOR_ELM;

struct AtCommand {
  const char* command;  // upper case
  Match match;
  uint8_t personalities;
  void (*answer)(const char* arg);
};

// clang-format off
constexpr AtCommand AT_COMMANDS[] = {
    {"ATSB",  Match::Prefix, FOR_ALL,      emu_AtSetBaudRate},
    {"ATZ",   Match::Exact,  FOR_ALL,      emu_AtReset},
    {"ATOF1", Match::Exact,  FOR_ALL,      emu_AtOf1},
    {"ATH1",  Match::Exact,  FOR_ALL,      emu_AtH1},
    {"ATE0",  Match::Exact,  FOR_ALL,      emu_AtE0},
    {"ATL0",  Match::Exact,  FOR_ALL,      emu_AtL0},
    {"ATKW1", Match::Exact,  FOR_ALL,      emu_AtOk},
    {"ATKW2", Match::Exact,  FOR_ALL,      emu_AtOk},
    {"ATCF",  Match::Prefix, FOR_ALL,      emu_AtOk},
    {"ATCM",  Match::Prefix, FOR_ALL,      emu_AtOk},
    {"AT!00", Match::Exact,  FOR_ALL,      emu_AtFirmwareDate},
    {"AT!01", Match::Exact,  FOR_ALL,      emu_AtHostVersion},
    {"AT!10", Match::Exact,  FOR_ALL,      emu_AtVoltage},
    {"ATN",   Match::Exact,  FOR_ALL,      emu_AtProtocolNumber},
    {"ATK",   Match::Exact,  FOR_ALL,      emu_AtKeyBytes},
    {"ATSF",  Match::Prefix, FOR_ALL,      emu_AtSetEcuFilter},
    {"ATP",   Match::Prefix, FOR_ALL,      emu_AtProtocol},
    {"ATDP",  Match::Exact,  FOR_ALL,      emu_AtDescribeProtocol},
    {"ATV",   Match::Exact,  FOR_ALL,      emu_AtStatus},
    {"ATI",   Match::Exact,  FOR_ELM,      emu_AtElmIdentify},
    {"STI",   Match::Exact,  FOR_ELM_V13A, emu_StIdentify},
    {"ATRV",  Match::Exact,  FOR_ELM,      emu_AtVoltage},
    {"ATDPN", Match::Exact,  FOR_ELM,      emu_AtProtocolNumber},
    {"ATSP",  Match::Prefix, FOR_ELM,      emu_AtSetProtocol},
    {"AT@1",  Match::Exact,  FOR_ELM,      emu_AtDeviceDescription},
    {"ATI",   Match::Exact,  FOR_QIM,      emu_AtOwnIdentify},
};
// clang-format on

constexpr bool emu_IsUpperCaseCommand(const char* text) {
  for (; *text != '\0'; ++text)
    if (*text >= 'a' && *text <= 'z') return false;
  return true;
}
constexpr bool emu_AllCommandsUpperCase() {
  for (const AtCommand& row : AT_COMMANDS)
    if (!emu_IsUpperCaseCommand(row.command)) return false;
  return true;
}
static_assert(emu_AllCommandsUpperCase(), "command texts are compared as upper case");

bool emu_Matches(const AtCommand& row, const char* line) {
  if (row.match == Match::Exact) return strcasecmp(line, row.command) == 0;
  return strncasecmp(line, row.command, strlen(row.command)) == 0;
}

// The argument after the command letters, when these are written all in capitals or all in
// small letters ("ATSP6", "atsp6"); null for mixed case ("AtSp6").
const char* emu_ArgumentOf(const AtCommand& row, const char* line) {
  const size_t length = strlen(row.command);
  bool upper = true, lower = true;
  for (size_t i = 0; i < length; ++i) {
    upper = upper && line[i] == emu_ToUpper(row.command[i]);
    lower = lower && line[i] == emu_ToLower(row.command[i]);
  }
  return (upper || lower) ? line + length : nullptr;
}

}  // namespace

void emu_QimSendATCmdResponse(const char* line) {
  const uint8_t personality = static_cast<uint8_t>(1u << emu_Personality());
  for (const AtCommand& row : AT_COMMANDS) {
    if ((row.personalities & personality) == 0 || !emu_Matches(row, line)) continue;
    row.answer(emu_ArgumentOf(row, line));
    lastAtCmdIsAtsb = (row.answer == emu_AtSetBaudRate) ? 1 : 0;
    return;
  }
  lastAtCmdIsAtsb = 0;
  emu_QimSendResponseError();
}

void emu_SendResponse(const char* line) {
  const char first = emu_ToUpper(line[0]);
  const char second = first != '\0' ? emu_ToUpper(line[1]) : '\0';
  if ((first == 'A' || first == 'S') && second == 'T') {
    emu_QimSendATCmdResponse(line);
    return;
  }
  // The whole line as request bytes, for the ECUs' tables: hex pairs, white space allowed
  // between them.
  uint8_t request[EMU_TABLE_MAX_REQUEST];
  const EmuHexRead read = emu_ReadHexBytes(line, strlen(line), {SPACES, false}, request, sizeof request);
  const uint8_t n = read.error == EmuHexError::None ? static_cast<uint8_t>(read.n) : 0;
  if (line[0] != '0' && (n == 0 || !emu_TableKnows(request, n))) {
    emu_QimSendResponseError();
    return;
  }
  // Service, PID and frame number: two hex digits each, white space allowed between them.
  uint8_t values[3] = {0, 0, 0};
  const char* p = line;
  for (uint8_t& value : values) {
    while (emu_IsSpace(*p)) ++p;
    uint32_t v;
    const size_t digits = emu_ReadHexNumber(p, 2, &v);
    if (digits == 0) break;
    value = static_cast<uint8_t>(v);
    p += digits;
  }
  emu_QimSendObdResponse(values[0], values[1], values[2], n > 0 ? request : nullptr, n);
}

void emu_QimSendResponseVoltage() {
  char answer[16];
  // With the ignition off the module reads the battery at rest.
  const unsigned resting = emu_CarSupplyDeciVolts();
  if (!emu_CarIgnitionOn()) {
    snprintf(answer, sizeof answer, "%u.%uV", resting / 10, resting % 10);
  } else {
    snprintf(answer, sizeof answer, "13.%uV", static_cast<unsigned>(time(nullptr) % 8));
  }
  emu_QimSendText(answer);
}

// "A0" (ELM327, automatic), "06" (ELM327), "F6" (the module's own personality).
void emu_QimSendResponseProtocol() {
  const uint8_t protocol = atpProtocol;
  const char kind = emu_IsElm327() ? (protocol == 0 ? 'A' : '0') : 'F';
  const char answer[3] = {kind, static_cast<char>('0' + protocol), '\0'};
  emu_QimSendText(answer);
}

void emu_QimSendResponseProtocolText(uint8_t protocol, uint8_t withoutNumber) {
  if (protocol > EMU_PROTOCOL_LAST) {
    emu_QimSendResponseError();
    return;
  }
  const char* name = emu_Protocol(protocol).moduleName;
  if (withoutNumber != 0) {
    emu_QimSendText(name);
  } else if (protocol == EMU_PROTOCOL_AUTOMATIC) {
    emu_QimSendText(AUTOMATIC_TEXT);
  } else {
    char text[48];  // the longest name and "n = "; emu_QimSendText's answer holds it and the prompt
    snprintf(text, sizeof text, "%u = %s", unsigned{protocol}, name);
    emu_QimSendText(text);
  }
}
