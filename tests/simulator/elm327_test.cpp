// The ELM327 v1.5 personality byte for byte, in-process: the adapter serves one end of a real
// pseudo-terminal, the test plays the client on the other end. Covers reading the line (echo,
// spaces, case and control characters, repeating, over-long lines, interruption), the AT commands
// and the defaults their resets restore, finding the car (search, a protocol the car does not
// use) and the answers on CAN, the K-line and J1850 in every format, from the default car
// (elm_adapter.h). The commands real clients also send are in elm327_client_commands_test.cpp.
#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

#include "tests/simulator/elm_adapter.h"

namespace {

using namespace elm_test;

const std::string PROTOCOL_NAMES[10] = {
    "AUTO",
    "SAE J1850 PWM",
    "SAE J1850 VPWM",
    "ISO 9141-2",
    "ISO 14230-4 (KWP 5BAUD)",
    "ISO 14230-4 (KWP FAST)",
    "ISO 15765-4 (CAN 11/500)",
    "ISO 15765-4 (CAN 29/500)",
    "ISO 15765-4 (CAN 11/250)",
    "ISO 15765-4 (CAN 29/250)",
};

using ElmLine = ElmAdapter;
using ElmCommands = ElmAdapter;
using ElmSearch = ElmAdapter;
using ElmAnswers = ElmAdapter;

// ---------------------------------------------------------------------------------------------
// Reading the line

TEST_F(ElmLine, SpacesCaseAndControlCharactersAreIgnoredAndEchoed) {
  for (const std::string line : {"ATRV", "at rv", "AT RV", "a\tT r\x01v"}) {
    EXPECT_EQ(Ask(line), line + "\r" + Lines({"12.6V"})) << line;
  }
  EXPECT_EQ(Ask("ATSP6"), "ATSP6\r" + Lines({"OK"}));
  for (const std::string line : {"010C", "01 0c", " 0 1\t0 C "}) {
    EXPECT_EQ(Ask(line), line + "\r" + Lines({ECU0_RPM})) << line;
  }
  // CR LF line ends: the line feed is echoed like every character and belongs to no line.
  EXPECT_EQ(Send("ATI\r\nat i\r\n"), "ATI\r" + Lines({IDENTITY}) + "\nat i\r" + Lines({IDENTITY}) + "\n");
}

TEST_F(ElmLine, EmptyLineRepeatsTheLastCommand) {
  EXPECT_EQ(Ask(""), "\r>");  // nothing to repeat yet: only a new prompt
  ASSERT_EQ(Ask("ATSP6"), "ATSP6\r" + Lines({"OK"}));
  ASSERT_EQ(Ask("0104"), "0104\r" + Lines({"41 04 01 ", "41 04 10 "}));
  EXPECT_EQ(Ask(""), "\r" + Lines({"41 04 01 ", "41 04 10 "}));
  EXPECT_EQ(Ask("  "), "  \r" + Lines({"41 04 01 ", "41 04 10 "}));  // spaces only: still empty
  EXPECT_EQ(Ask("010C"), "010C\r" + Lines({ECU0_RPM}));
  EXPECT_EQ(Ask(""), "\r" + Lines({ECU0_RPM}));
}

TEST_F(ElmLine, LineOfMoreThan128CharactersIsRefused) {
  const std::string longest = "ATFC" + std::string(124, '1');  // 128 characters
  EXPECT_EQ(Ask(longest), longest + "\r" + Lines({"OK"}));
  const std::string tooLong = longest + "1";
  EXPECT_EQ(Ask(tooLong), tooLong + "\r" + Lines({"?"}));
  // Spaces are not kept, so they do not count.
  const std::string spaced = std::string(200, ' ') + "ATI";
  EXPECT_EQ(Ask(spaced), spaced + "\r" + Lines({IDENTITY}));
  // The refused line left nothing behind and is not what an empty line repeats.
  EXPECT_EQ(Ask(""), "\r" + Lines({IDENTITY}));
}

TEST_F(ElmLine, CharacterArrivingDuringARequestStopsIt) {
  ASSERT_EQ(Ask("ATSP6"), "ATSP6\r" + Lines({"OK"}));
  // The interrupting character is neither echoed nor kept.
  EXPECT_EQ(Send("0100\rX"), "0100\r" + Lines({"STOPPED"}));
  Quiet();
  EXPECT_EQ(Send("0100\rATE1\r"), Lines({"STOPPED"}));  // ATE1 was not executed: no echo
  EXPECT_EQ(Ask("0100"), Lines({ECU0_PID00, ECU1_PID00}));
  // A second carriage return is a character like any other; a line feed after the carriage
  // return is no interruption.
  EXPECT_EQ(Send("0100\r\r"), Lines({"STOPPED"}));
  EXPECT_EQ(Send("010C\r\n"), Lines({ECU0_RPM}));
  EXPECT_EQ(Send("010C\r \n"), Lines({ECU0_RPM}));
  // AT commands do not wait: lines sent together are answered one after the other.
  EXPECT_EQ(Send("ATI\rATRV\r"), Lines({IDENTITY}) + Lines({"12.6V"}));
  // A search is stopped too; the next request searches again.
  ExpectOk("ATSP0");
  EXPECT_EQ(Send("010C\r0"), "SEARCHING...\r" + Lines({"STOPPED"}));
  EXPECT_EQ(emu_ElmConnectedProtocol(), 0);
  EXPECT_EQ(Ask("010C"), "SEARCHING...\r" + Lines({ECU0_RPM}));
}

// A line whose client leaves while the adapter waits for the car: the port says so at its next
// look, as the serial port does once its client has closed the terminal or the connection.
bool clientLeaves = false;
int LeavingClientWait(int) {
  clientLeaves = true;
  return 0;
}
int TakeLeaving() { return std::exchange(clientLeaves, false) ? 1 : 0; }
const EmuElmPort LEAVING_CLIENT = {AdapterRead, AdapterWrite, LeavingClientWait, TakeLeaving};

TEST_F(ElmLine, AClientThatLeavesDuringARequestIsToldNothingMoreAndTheNextStartsClean) {
  Quiet();
  emu_ElmSetPort(&LEAVING_CLIENT);
  emu_ElmSetRealTiming(true, 115200);
  // What was written before the wait went out; nothing after it, not even "STOPPED".
  EXPECT_EQ(Ask("0100"), "SEARCHING...\r");
  EXPECT_EQ(emu_ElmConnectedProtocol(), 0);
  emu_ElmSetRealTiming(false, 0);
  EXPECT_EQ(Ask("ATI"), Lines({IDENTITY})) << "the settings stay: echo off";
  EXPECT_EQ(Ask("0100"), "SEARCHING...\r" + Lines({ECU0_PID00, ECU1_PID00}));
}

// ---------------------------------------------------------------------------------------------
// AT commands

TEST_F(ElmCommands, IdentityAndBatteryVoltage) {
  EXPECT_EQ(Ask("ATZ"), "ATZ\r\r\r" + Lines({IDENTITY}));
  EXPECT_EQ(Ask("ATWS"), "ATWS\r\r\r" + Lines({IDENTITY}));
  Quiet();
  EXPECT_EQ(Ask("ATZ"), "\r\r" + Lines({IDENTITY}));
  Quiet();
  EXPECT_EQ(Ask("ATI"), Lines({IDENTITY}));
  EXPECT_EQ(Ask("AT@1"), Lines({"OBDII to RS232 Interpreter"}));
  EXPECT_EQ(Ask("ATRV"), Lines({"12.6V"}));
  vehicle.batteryDeciVolts = 95;
  EXPECT_EQ(Ask("ATRV"), Lines({"9.5V"}));
  vehicle.batteryDeciVolts = 140;
  EXPECT_EQ(Ask("ATRV"), Lines({"14.0V"}));
}

TEST_F(ElmCommands, EchoAndLineFeeds) {
  EXPECT_EQ(Ask("ATE0"), "ATE0\r" + Lines({"OK"}));  // still echoed: echo ends after it
  EXPECT_EQ(Ask("ATI"), Lines({IDENTITY}));
  EXPECT_EQ(Ask("ATL1"), "OK\r\n\r\n>");
  EXPECT_EQ(Ask("ATI"), IDENTITY + "\r\n\r\n>");
  EXPECT_EQ(Ask("ATE1"), "OK\r\n\r\n>");
  EXPECT_EQ(Ask("ATI"), "ATI\r\n" + IDENTITY + "\r\n\r\n>");
  EXPECT_EQ(Ask("ATSP6"), "ATSP6\r\nOK\r\n\r\n>");
  EXPECT_EQ(Ask("0100"), "0100\r\n" + ECU0_PID00 + "\r\n" + ECU1_PID00 + "\r\n\r\n>");
  EXPECT_EQ(Ask("ATL0"), "ATL0\r\nOK\r\r>");
}

TEST_F(ElmCommands, SettingsAnswerOkAndMalformedLinesAreRefused) {
  Quiet();
  for (const char* command :
       {"ATL0", "ATS0", "ATS1", "ATH1", "ATH0", "ATM0", "ATM1", "ATR0", "ATR1", "ATCAF0", "ATCAF1", "ATCFC0",
        "ATCFC1", "ATAL", "ATNL", "ATAT0", "ATAT1", "ATAT2", "ATST 32", "ATST ff", "ATKW0", "ATKW1", "ATIB10",
        "ATIB96", "ATV0", "ATV1", "ATD1", "ATD0", "ATPC", "ATCRA 7E8", "ATCRA 18DAF110", "ATCRA 7EX", "ATCRA",
        "ATSH 7DF", "ATSH 686AF1", "ATCP 18", "ATFC SH 7E0", "ATFC SD 300000", "ATFC SM 1", "ATSP A6", "ATTP 3",
        "ATTP A0", "ATSP 6"}) {
    ExpectOk(command);
  }
  for (const char* line :
       {"ATX", "ATS", "ATH", "ATE2", "ATAT3", "ATST 1", "ATST 123", "ATIB 12", "ATKW2", "ATSP B", "ATSP A",
        "ATSP 10", "ATTP AA", "ATSH 7E", "ATSH 7E0F", "ATCRA 7E", "ATCRA 7G8", "ATCP 1", "ATZ1", "ATI1", "A",
        // Requests: bad hex, odd digits without a count, a count of 0, more than 7 bytes.
        "01G0", "0", "010", "010C0", "01 0C X", "0100000000000000"}) {
    EXPECT_EQ(Ask(line), Lines({"?"})) << line;
  }
  // ATAL lets a request of 8 bytes through (nothing answers it); ATNL refuses it again.
  ExpectOk("ATAL");
  EXPECT_EQ(Ask("0100000000000000"), Lines({"NO DATA"}));
  ExpectOk("ATNL");
  EXPECT_EQ(Ask("0100000000000000"), Lines({"?"}));
}

TEST_F(ElmCommands, ResetsRestoreTheDefaults) {
  struct Reset {
    const char* command;
    std::string answer;  // with echo off when it comes
  };
  ASSERT_EQ(Ask("ATSP6"), "ATSP6\r" + Lines({"OK"}));  // the stored protocol survives resets
  for (const Reset& reset : {Reset{"ATZ", "\r\r" + Lines({IDENTITY})}, Reset{"ATWS", "\r\r" + Lines({IDENTITY})},
                             Reset{"ATD", Lines({"OK"})}}) {
    SCOPED_TRACE(reset.command);
    for (const char* setting : {"ATL1", "ATS0", "ATH1", "ATCAF0", "ATD1", "ATCFC0", "ATSH 7E1", "ATCRA 7E8",
                                "ATR0", "ATAL", "ATE0"}) {
      Ask(setting);
    }
    EXPECT_EQ(Ask(reset.command), reset.answer);
    // Echo on, line feeds off, spaces on, headers off, CAN formatting on, all ECUs addressed, no
    // receive filter, answers awaited.
    EXPECT_EQ(Ask("0100"), "0100\r" + Lines({ECU0_PID00, ECU1_PID00}));
    // Flow control on: the whole VIN. Long requests refused again.
    EXPECT_EQ(Ask("09021"),
              "09021\r" + Lines({"014 ", "0: 49 02 01 31 32 33 ", "1: 34 35 36 37 38 39 30 ",
                                 "2: 58 59 5A 41 42 43 44 "}));
    EXPECT_EQ(Ask("0100000000000000"), "0100000000000000\r" + Lines({"?"}));
    // No data length digit behind the identifier.
    ASSERT_EQ(Ask("ATH1"), "ATH1\r" + Lines({"OK"}));
    EXPECT_EQ(Ask("010C"), "010C\r" + Lines({"7E8 04 41 0C 01 10 00 00 00 "}));
  }
}

TEST_F(ElmCommands, DescribeProtocolBeforeAndAfterASearchAndWhenSet) {
  Quiet();
  EXPECT_EQ(Ask("ATDP"), Lines({"AUTO"}));
  EXPECT_EQ(Ask("ATDPN"), Lines({"A0"}));
  EXPECT_EQ(Ask("0100"), "SEARCHING...\r" + Lines({ECU0_PID00, ECU1_PID00}));
  EXPECT_EQ(Ask("ATDP"), Lines({"AUTO, ISO 15765-4 (CAN 11/500)"}));
  EXPECT_EQ(Ask("ATDPN"), Lines({"A6"}));
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("ATDP"), Lines({"ISO 15765-4 (CAN 11/500)"}));
  EXPECT_EQ(Ask("ATDPN"), Lines({"6"}));
  ExpectOk("ATSP A6");
  EXPECT_EQ(Ask("ATDP"), Lines({"AUTO, ISO 15765-4 (CAN 11/500)"}));
  EXPECT_EQ(Ask("ATDPN"), Lines({"A6"}));
  for (int p = 1; p <= 9; ++p) {
    const std::string digit(1, static_cast<char>('0' + p));
    ExpectOk("ATSP" + digit);
    EXPECT_EQ(Ask("ATDP"), Lines({PROTOCOL_NAMES[p]})) << p;
    EXPECT_EQ(Ask("ATDPN"), Lines({digit}));
  }
  // ATTP tries a protocol until the next reset; ATSP's choice is what a reset returns to.
  ExpectOk("ATSP A3");
  ExpectOk("ATTP 5");
  EXPECT_EQ(Ask("ATDPN"), Lines({"5"}));
  ASSERT_EQ(Ask("ATZ"), "\r\r" + Lines({IDENTITY}));
  Quiet();
  EXPECT_EQ(Ask("ATDPN"), Lines({"A3"}));
  EXPECT_EQ(Ask("ATDP"), Lines({"AUTO, ISO 9141-2"}));
  // Nor does the protocol ATTP Ah tries first outlast a reset: the search starts at the stored
  // one. A protocol a search finds is stored.
  ExpectOk("ATSP A6");
  ExpectOk("ATTP A5");
  ASSERT_EQ(Ask("ATZ"), "\r\r" + Lines({IDENTITY}));
  Quiet();
  EXPECT_EQ(Ask("0100").substr(0, 13), "SEARCHING...\r");
  EXPECT_EQ(emu_ElmConnectedProtocol(), 6);
  ExpectOk("ATTP A5");
  EXPECT_EQ(Ask("0100").substr(0, 13), "SEARCHING...\r");
  EXPECT_EQ(emu_ElmConnectedProtocol(), 5);
  ASSERT_EQ(Ask("ATZ"), "\r\r" + Lines({IDENTITY}));
  Quiet();
  EXPECT_EQ(Ask("0100").substr(0, 13), "SEARCHING...\r");
  EXPECT_EQ(emu_ElmConnectedProtocol(), 5);
}

// ---------------------------------------------------------------------------------------------
// Finding the car

TEST_F(ElmSearch, SearchFindsTheProtocolTheCarTalks) {
  Quiet();
  // A car that answers on any protocol is found on CAN 11/500, tried first.
  EXPECT_EQ(Ask("010C"), "SEARCHING...\r" + Lines({ECU0_RPM}));
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));  // found: no second search
  EXPECT_EQ(emu_ElmConnectedProtocol(), 6);
  EXPECT_EQ(emu_ElmIsCanProtocolInUse(), 1);
  // ATPC closes the protocol: the next request searches again.
  ExpectOk("ATPC");
  EXPECT_EQ(Ask("010C"), "SEARCHING...\r" + Lines({ECU0_RPM}));
  // ATSP A h: the protocol h is tried first.
  ExpectOk("ATSP A3");
  EXPECT_EQ(Ask("010C"), "SEARCHING...\r" + Lines({ECU0_RPM}));
  EXPECT_EQ(Ask("ATDPN"), Lines({"A3"}));
  EXPECT_EQ(emu_ElmIsCanProtocolInUse(), 0);
  // A car on one protocol is found on it, wherever it comes in the order: every protocol is
  // tried, so the search never ends unable to connect.
  for (uint8_t p = 1; p <= 9; ++p) {
    emu_VehicleSetProtocol(p);
    ExpectOk("ATPC");
    EXPECT_EQ(Ask("010C"), "SEARCHING...\r" + Lines({ECU0_RPM})) << int{p};
    EXPECT_EQ(Ask("ATDPN"), Lines({"A" + std::to_string(p)}));
  }
}

TEST_F(ElmSearch, ProtocolSetByNumber) {
  Quiet();
  // K-line: the bus is initialised before the first request, and again after ATPC.
  for (const char* set : {"ATSP3", "ATSP4", "ATSP5"}) {
    SCOPED_TRACE(set);
    ExpectOk(set);
    EXPECT_EQ(Ask("010C"), "BUS INIT: ...OK\r" + Lines({ECU0_RPM}));
    EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));
    ExpectOk("ATPC");
    EXPECT_EQ(Ask("010C"), "BUS INIT: ...OK\r" + Lines({ECU0_RPM}));
  }
  // A car on CAN does not answer the K-line initialisation, however often it is tried.
  emu_VehicleSetProtocol(6);
  ExpectOk("ATSP4");
  EXPECT_EQ(Ask("010C"), "BUS INIT: ...ERROR\r\r>");
  EXPECT_EQ(Ask("010C"), "BUS INIT: ...ERROR\r\r>");
  EXPECT_EQ(emu_ElmConnectedProtocol(), 0);
  // CAN set by number, not searched: no "SEARCHING...".
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));
  // A protocol the car does not use: silence on a CAN bus of the same bit rate and on J1850,
  // errors on a CAN bus of another bit rate or with no CAN node at all.
  struct Case {
    uint8_t car;
    const char* set;
    const char* answer;
  };
  for (const Case& c : {Case{6, "ATSP7", "NO DATA"}, Case{8, "ATSP9", "NO DATA"}, Case{6, "ATSP8", "CAN ERROR"},
                        Case{9, "ATSP7", "CAN ERROR"}, Case{3, "ATSP6", "CAN ERROR"}, Case{6, "ATSP1", "NO DATA"},
                        Case{6, "ATSP2", "NO DATA"}}) {
    emu_VehicleSetProtocol(c.car);
    ExpectOk(c.set);
    EXPECT_EQ(Ask("010C"), Lines({c.answer})) << c.set << " with the car on " << int{c.car};
  }
  emu_VehicleSetProtocol(9);
  ExpectOk("ATSP9");
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));
}

// ---------------------------------------------------------------------------------------------
// Answers

TEST_F(ElmAnswers, CanSingleFramesInEveryFormat) {
  Quiet();
  ExpectOk("ATSP6");
  // Several ECUs: one line each. A count digit returns after that many answers.
  EXPECT_EQ(Ask("0100"), Lines({ECU0_PID00, ECU1_PID00}));
  EXPECT_EQ(Ask("01001"), Lines({ECU0_PID00}));
  EXPECT_EQ(Ask("01002"), Lines({ECU0_PID00, ECU1_PID00}));
  // Headers off: the data bytes only, no fill bytes.
  ExpectOk("ATS0");
  EXPECT_EQ(Ask("010C"), Lines({"410C0110"}));
  ExpectOk("ATH1");
  EXPECT_EQ(Ask("010C"), Lines({"7E804410C0110000000"}));
  ExpectOk("ATS1");
  // Headers on: identifier, then the frame's 8 bytes, length byte and fill bytes included.
  EXPECT_EQ(Ask("010C"), Lines({"7E8 04 41 0C 01 10 00 00 00 "}));
  EXPECT_EQ(Ask("0100"), Lines({"7E8 06 " + ECU0_PID00 + "00 ", "7E9 06 " + ECU1_PID00 + "00 "}));
  ExpectOk("ATD1");
  EXPECT_EQ(Ask("010C"), Lines({"7E8 8 04 41 0C 01 10 00 00 00 "}));
  ExpectOk("ATD0");
  ExpectOk("ATH0");
  ExpectOk("ATCAF0");
  EXPECT_EQ(Ask("010C"), Lines({"04 41 0C 01 10 00 00 00 "}));
  ExpectOk("ATCAF1");
  // 29-bit identifiers: 18 DA F1 and the ECU's address.
  ExpectOk("ATSP7");
  EXPECT_EQ(Ask("0100"), Lines({ECU0_PID00, ECU1_PID00}));
  ExpectOk("ATH1");
  EXPECT_EQ(Ask("0100"),
            Lines({"18 DA F1 10 06 " + ECU0_PID00 + "00 ", "18 DA F1 18 06 " + ECU1_PID00 + "00 "}));
  ExpectOk("ATS0");
  EXPECT_EQ(Ask("010C"), Lines({"18DAF11004410C0110000000"}));
}

TEST_F(ElmAnswers, CanMultiFrameMessages) {
  Quiet();
  ExpectOk("ATSP6");
  const std::vector<std::string> vin0 = {"014 ", "0: 49 02 01 31 32 33 ", "1: 34 35 36 37 38 39 30 ",
                                         "2: 58 59 5A 41 42 43 44 "};
  const std::vector<std::string> vin1 = {"014 ", "0: 49 02 01 41 42 43 ", "1: 44 45 46 47 48 4A 4B ",
                                         "2: 4C 4D 4E 50 52 53 54 "};
  EXPECT_EQ(Ask("0902"), Lines({vin0[0], vin0[1], vin0[2], vin0[3], vin1[0], vin1[1], vin1[2], vin1[3]}));
  EXPECT_EQ(Ask("09021"), Lines({vin0[0], vin0[1], vin0[2], vin0[3]}));
  ExpectOk("ATS0");
  EXPECT_EQ(Ask("09021"), Lines({"014", "0:490201313233", "1:34353637383930", "2:58595A41424344"}));
  ExpectOk("ATS1");
  // Frames as they came: headers on, or automatic formatting off.
  const std::vector<std::string> frames = {"10 14 49 02 01 31 32 33 ", "21 34 35 36 37 38 39 30 ",
                                           "22 58 59 5A 41 42 43 44 "};
  ExpectOk("ATCAF0");
  EXPECT_EQ(Ask("09021"), Lines({frames[0], frames[1], frames[2]}));
  ExpectOk("ATCAF1");
  ExpectOk("ATH1");
  EXPECT_EQ(Ask("09021"), Lines({"7E8 " + frames[0], "7E8 " + frames[1], "7E8 " + frames[2]}));
  // Without flow control the ECU sends its first frame only.
  ExpectOk("ATCFC0");
  EXPECT_EQ(Ask("0902"), Lines({"7E8 " + frames[0], "7E9 10 14 49 02 01 41 42 43 "}));
  ExpectOk("ATH0");
  EXPECT_EQ(Ask("09021"), Lines({vin0[0], vin0[1]}));
  ExpectOk("ATCFC1");
  ExpectOk("ATH1");
  ExpectOk("ATSP7");
  EXPECT_EQ(Ask("09021"),
            Lines({"18 DA F1 10 " + frames[0], "18 DA F1 10 " + frames[1], "18 DA F1 10 " + frames[2]}));
}

TEST_F(ElmAnswers, RequestHeaderAndReceiveFilterChooseTheEcus) {
  Quiet();
  ExpectOk("ATSP6");
  ExpectOk("ATH1");
  const std::string ecu0 = "7E8 06 " + ECU0_PID00 + "00 ";
  const std::string ecu1 = "7E9 06 " + ECU1_PID00 + "00 ";
  ExpectOk("ATSH 7E0");
  EXPECT_EQ(Ask("0100"), Lines({ecu0}));
  ExpectOk("ATSH 7E1");
  EXPECT_EQ(Ask("0100"), Lines({ecu1}));
  ExpectOk("ATSH 7E2");  // no third ECU
  EXPECT_EQ(Ask("0100"), Lines({"NO DATA"}));
  ExpectOk("ATSH 7DF");
  EXPECT_EQ(Ask("0100"), Lines({ecu0, ecu1}));
  ExpectOk("ATCRA 7E9");
  EXPECT_EQ(Ask("0100"), Lines({ecu1}));
  ExpectOk("ATCRA 7EX");
  EXPECT_EQ(Ask("0100"), Lines({ecu0, ecu1}));
  ExpectOk("ATCRA 7E9");
  ExpectOk("ATCRA");  // no filter
  EXPECT_EQ(Ask("0100"), Lines({ecu0, ecu1}));

  // 29-bit: physical 18 DA xx F1, functional 18 DB 33 F1.
  ExpectOk("ATSP7");
  const std::string ecu0Long = "18 DA F1 10 06 " + ECU0_PID00 + "00 ";
  const std::string ecu1Long = "18 DA F1 18 06 " + ECU1_PID00 + "00 ";
  ExpectOk("ATSH DA10F1");
  EXPECT_EQ(Ask("0100"), Lines({ecu0Long}));
  ExpectOk("ATSH DA18F1");
  EXPECT_EQ(Ask("0100"), Lines({ecu1Long}));
  ExpectOk("ATSH DB33F1");
  EXPECT_EQ(Ask("0100"), Lines({ecu0Long, ecu1Long}));
  ExpectOk("ATCRA 18DAF118");
  EXPECT_EQ(Ask("0100"), Lines({ecu1Long}));
  ExpectOk("ATCRA");

  // K-line and J1850: the target byte of the 3-byte header is the ECU's address.
  ExpectOk("ATSP3");
  ExpectOk("ATSH 6810F1");
  EXPECT_EQ(Ask("0104"), "BUS INIT: ...OK\r" + Lines({"48 6B 10 41 04 01 09 "}));
  ExpectOk("ATSH 6818F1");
  EXPECT_EQ(Ask("0104"), Lines({"48 6B 18 41 04 10 20 "}));
  ExpectOk("ATSH 686AF1");
  EXPECT_EQ(Ask("0104"), Lines({"48 6B 10 41 04 01 09 ", "48 6B 18 41 04 10 20 "}));
  ExpectOk("ATSP2");
  ExpectOk("ATSH 6C18F1");
  EXPECT_EQ(Ask("0104"), Lines({J1850Line({0x48, 0x6B, 0x18, 0x41, 0x04, 0x10})}));
}

TEST_F(ElmAnswers, KLineAndJ1850MessagesWithHeaderAndCheckByte) {
  Quiet();
  struct Case {
    const char* set;
    std::string busInit;
    std::string withHeaders;
  };
  const std::string sumChecked9141 = "48 6B 10 41 0C 01 10 21 ";
  const std::string sumChecked14230 = "84 F1 10 41 0C 01 10 E3 ";  // format byte 80 + 4 data bytes
  for (const Case& c : {Case{"ATSP1", "", J1850Line({0x41, 0x6B, 0x10, 0x41, 0x0C, 0x01, 0x10})},
                        Case{"ATSP2", "", J1850Line({0x48, 0x6B, 0x10, 0x41, 0x0C, 0x01, 0x10})},
                        Case{"ATSP3", "BUS INIT: ...OK\r", sumChecked9141},
                        Case{"ATSP4", "BUS INIT: ...OK\r", sumChecked14230},
                        Case{"ATSP5", "BUS INIT: ...OK\r", sumChecked14230}}) {
    SCOPED_TRACE(c.set);
    ExpectOk(c.set);
    EXPECT_EQ(Ask("010C"), c.busInit + Lines({ECU0_RPM}));
    ExpectOk("ATH1");
    EXPECT_EQ(Ask("010C"), Lines({c.withHeaders}));
    ExpectOk("ATH0");
  }
  ExpectOk("ATSP3");
  ExpectOk("ATS0");
  ExpectOk("ATH1");
  EXPECT_EQ(Ask("010C"), "BUS INIT: ...OK\r" + Lines({"486B10410C011021"}));
  ExpectOk("ATS1");
  ExpectOk("ATH0");
  // A message of several lines: the VIN, four characters a line after three zero bytes.
  ExpectOk("ATSH 6810F1");
  EXPECT_EQ(Ask("0902"), Lines({"49 02 01 00 00 00 31 ", "49 02 02 32 33 34 35 ", "49 02 03 36 37 38 39 ",
                                "49 02 04 30 58 59 5A ", "49 02 05 41 42 43 44 "}));
}

TEST_F(ElmAnswers, NoDataNegativeResponsesAndOperatorFailures) {
  Quiet();
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("011D"), Lines({"NO DATA"}));  // no ECU has PID 1D
  // A negative response is shown as data.
  emu_VehicleSetObdNegRespCode(22);
  EXPECT_EQ(Ask("04"), Lines({"7F 04 22 ", "7F 04 22 "}));
  ExpectOk("ATH1");
  EXPECT_EQ(Ask("04"), Lines({"7E8 03 7F 04 22 00 00 00 00 ", "7E9 03 7F 04 22 00 00 00 00 "}));
  ExpectOk("ATH0");
  // The operator's one-shot failures replace the next OBD answer only; AT commands keep theirs.
  sendNoData = 1;
  EXPECT_EQ(Ask("ATI"), Lines({IDENTITY}));
  EXPECT_EQ(Ask("010C"), Lines({"NO DATA"}));
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));
  sendCanError = 1;
  EXPECT_EQ(Ask("010C"), Lines({"CAN ERROR"}));
  EXPECT_EQ(Ask("010C"), Lines({ECU0_RPM}));
  // There is no CAN error on the K-line.
  ExpectOk("ATSP3");
  sendCanError = 1;
  EXPECT_EQ(Ask("010C"), "BUS INIT: ...OK\r" + Lines({ECU0_RPM}));
}

// ---------------------------------------------------------------------------------------------
// The README's list of what is not emulated, made from the command table.

// "`ATM0`/`ATM1`" for a row of a 0/1 digit, "`ATSR hh`", "`ATFC...`"; a refused command by its
// letters alone ("`ATPP`").
std::string ShownCommand(const EmuElmCommandRow& row) {
  const std::string name = std::string("AT") + row.name;
  const std::string argument = row.effect == EmuElmEffect::Refused ? "" : row.argument;
  const size_t slash = argument.find('/');
  if (slash == std::string::npos) return "`" + name + argument + "`";
  std::string shown;
  for (size_t from = 0; from <= argument.size();) {
    size_t to = argument.find('/', from);
    if (to == std::string::npos) to = argument.size();
    shown += (shown.empty() ? "`" : "/`") + name + argument.substr(from, to - from) + "`";
    from = to + 1;
  }
  return shown;
}

std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
    text += items[i];
  }
  return text;
}

// The paragraph as the README must have it.
std::string NotEmulatedParagraph() {
  EmuElmCommandRow rows[128];
  const size_t n = emu_ElmCommandRows(rows, std::size(rows));
  EXPECT_LE(n, std::size(rows));
  std::vector<std::string> refused, noEffect;
  for (size_t i = 0; i < n && i < std::size(rows); ++i) {
    if (rows[i].effect == EmuElmEffect::Refused) refused.push_back(ShownCommand(rows[i]));
    if (rows[i].effect == EmuElmEffect::NoEffect) noEffect.push_back(ShownCommand(rows[i]));
  }
  return "**What the ELM327 v1.5 does not do.** These commands of the chip are answered `?`, as it "
         "answers a command it does not know: " + Listed(refused) + ". These are answered `OK` and change "
         "nothing: " + Listed(noEffect) + ".";
}

// The README's paragraph, its lines joined by spaces.
std::string ReadmeParagraph(const std::string& opening) {
  std::ifstream in(std::string(PADIX_SOURCE_DIR) + "/README.md");
  std::string line, paragraph;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!inside && line.rfind(opening, 0) == 0) inside = true;
    if (!inside) continue;
    if (line.empty()) break;
    paragraph += (paragraph.empty() ? "" : " ") + line;
  }
  return paragraph;
}

TEST(ElmCommandTable, TheReadmeListsWhatIsNotEmulatedAsTheTableSays) {
  const std::string wanted = NotEmulatedParagraph();
  // A refused command is answered as an unknown one; one without effect is accepted.
  EXPECT_NE(wanted.find("`ATPP`"), std::string::npos);
  EXPECT_EQ(wanted.find("`ATMA`"), std::string::npos);
  EXPECT_EQ(ReadmeParagraph("**What the ELM327 v1.5 does not do.**"), wanted)
      << "README.md's paragraph must read (wrapped as you like):\n" << wanted;
}

}  // namespace
