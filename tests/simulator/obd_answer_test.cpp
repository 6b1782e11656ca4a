// OBD answers as the module prints them, compared character for character with answers worked
// out by hand: every protocol's header and framing, multi-frame vehicle information, trouble code
// lines, which ECUs answer and in which order, the "?" and "NO DATA" cases, the longest answer,
// and the firmware's own receive parser reading every answer of the default vehicle.
#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "firmware/link/qim.h"
#include "firmware/mcu.h"
#include "module/module.h"
#include "module/obd_answer.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"
#include "tests/simulator/uds_ecu.h"
#include "tests/simulator/usart_side.h"

namespace {

enum class Format { Plain, Ath1, Of1, Both };

// The lines of an answer, each ended by CR, then the empty line and the prompt.
std::string Lines(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\r";
  return text + "\r>";
}

std::vector<std::string> SplitLines(const std::string& answer) {
  std::vector<std::string> lines;
  std::istringstream in(answer);
  for (std::string line; std::getline(in, line, '\r');) lines.push_back(line);
  return lines;  // the last one is the prompt
}

class ObdAnswer : public ::testing::Test {
 protected:
  void SetUp() override {
    UsartSideInit();
    padixMode = EmuMode::Emulator;
    emu_QimInitState();
    emu_VehicleInit();
  }
  void TearDown() override {
    padixMode = EmuMode::Emulator;
    emu_QimInitState();
    emu_VehicleInit();
    UsartSideExit();
  }

  static void Use(uint8_t protocol, Format format) {
    emu_QimSetProtocol(protocol);
    ath1Enabled = format == Format::Ath1 || format == Format::Both;
    atof1Enabled = format == Format::Of1 || format == Format::Both;
  }

  // The whole answer, however long (the firmware's receive ring holds only 255 bytes).
  static std::string Answer(uint8_t service, uint8_t pid = 0, uint8_t frame = 0) {
    char out[EMU_OBD_ANSWER_BUF_SIZE];
    return emu_BuildObdAnswer(service, pid, frame, out) == 0 ? "NO DATA\r>" : std::string(out);
  }

  // A request line answered through the link, as the firmware receives it.
  static std::string Ask(const char* line) {
    emu_SendResponse(line);
    return FirmwareReceived();
  }
};

TEST_F(ObdAnswer, TheThreeExamples) {
  Use(6, Format::Plain);
  EXPECT_EQ(Ask("010D"), "410D0100000000\r\r>");
  Use(6, Format::Ath1);
  EXPECT_EQ(Ask("010D"), "7E8 03 41 0D 01 00 00 00 00\r\r>");
  Use(3, Format::Ath1);
  EXPECT_EQ(Ask("010D"), "48 6B 10 41 0D 01 12\r\r>");
}

TEST_F(ObdAnswer, HeadersOfEveryProtocol) {
  struct Case {
    uint8_t protocol;
    Format format;
    const char* answer;
  };
  const Case cases[] = {
      {6, Format::Of1, ":0C01\r000007E803410D0100000000\r\r>"},
      {8, Format::Ath1, "7E8 03 41 0D 01 00 00 00 00\r\r>"},
      {7, Format::Of1, ":0C01\r18DAF1E803410D0100000000\r\r>"},
      {9, Format::Ath1, "18 DA F1 E8 03 41 0D 01 00 00 00 00\r\r>"},
      {9, Format::Plain, "410D0100000000\r\r>"},
      {1, Format::Of1, ":0701\r416B10410D010B\r\r>"},
      {2, Format::Of1, ":0701\r486B10410D0112\r\r>"},
      {3, Format::Plain, "410D01\r\r>"},
      {4, Format::Of1, ":0701\r83F110410D01D3\r\r>"},  // format byte 80 + 3 data bytes
      {5, Format::Ath1, "83 F1 10 41 0D 01 D3\r\r>"},
      {0, Format::Of1, ":0701\r000010410D015F\r\r>"},
      // Both formats at once (the firmware never sets both): pairs throughout, the ':' kept
      // with the first byte of the summary.
      {6, Format::Both, ":0C 01\r00 00 07 E8 03 41 0D 01 00 00 00 00\r\r>"},
      {3, Format::Both, ":07 01\r48 6B 10 41 0D 01 12\r\r>"},
  };
  for (const Case& c : cases) {
    Use(c.protocol, c.format);
    EXPECT_EQ(Ask("010D"), c.answer) << "protocol " << int{c.protocol} << " format " << int(c.format);
  }

  // The ISO 14230-4 format byte carries each line's own length.
  Use(4, Format::Of1);
  EXPECT_EQ(Ask("0100"), ":1402\r86F1104100FFFFFFF7BC\r86F1184100B780000108\r\r>");
}

TEST_F(ObdAnswer, VehicleIdentificationOverSeveralFrames) {
  Use(6, Format::Ath1);
  EXPECT_EQ(Answer(9, 0x02), Lines({"7E8 10 14 49 02 01 31 32 33",  //
                                    "7E8 21 34 35 36 37 38 39 30",  //
                                    "7E8 22 58 59 5A 41 42 43 44",  //
                                    "7E9 10 14 49 02 01 41 42 43",  //
                                    "7E9 21 44 45 46 47 48 4A 4B",  //
                                    "7E9 22 4C 4D 4E 50 52 53 54"}));
  // Without headers the first frame still starts with its length byte.
  Use(6, Format::Plain);
  emu_VehicleSetNoOfEcus(1);
  EXPECT_EQ(Answer(9, 0x02), Lines({"14490201313233", "34353637383930", "58595A41424344"}));

  // Non-CAN: five numbered messages of four bytes, the first with the three zero bytes.
  Use(3, Format::Of1);
  emu_VehicleSetNoOfEcus(2);
  EXPECT_EQ(Answer(9, 0x02), Lines({":6E0A",                   //
                                    "486B104902010000003140",  //
                                    "486B1049020232333435DE",  //
                                    "486B1049020336373839EF",  //
                                    "486B104902043058595A4D",  //
                                    "486B10490205414243441D",  //
                                    "486B184902010000004158",  //
                                    "486B184902024243444526",  //
                                    "486B184902034647484A38",  //
                                    "486B184902044B4C4D4E4C",  //
                                    "486B184902055052535464"}));
}

TEST_F(ObdAnswer, CalibrationIdsVerificationNumbersAndEcuNames) {
  // Two 16-character ids (zero bytes included): length byte 23, six frames, the last filled.
  Use(6, Format::Of1);
  emu_QimSetEcuFilter(0xE9);
  EXPECT_EQ(Answer(9, 0x04), Lines({":4806",                     //
                                    "000007E91023490402504458",  //
                                    "000007E921312D3132333435",  //
                                    "000007E922362D4142000050",  //
                                    "000007E9234458322D363534",  //
                                    "000007E9243332312D430000",  //
                                    "000007E92500000000000000"}));
  Use(7, Format::Of1);
  EXPECT_EQ(SplitLines(Answer(9, 0x04))[1], "18DAF1E91023490402504458");

  Use(4, Format::Ath1);
  emu_QimSetEcuFilter(0x18);
  EXPECT_EQ(Answer(9, 0x04), Lines({"87 F1 18 49 04 01 50 44 58 31 FB",  //
                                    "87 F1 18 49 04 02 2D 31 32 33 A2",  //
                                    "87 F1 18 49 04 03 34 35 36 2D AC",  //
                                    "87 F1 18 49 04 04 41 42 00 00 64",  //
                                    "87 F1 18 49 04 05 50 44 58 32 00",  //
                                    "87 F1 18 49 04 06 2D 36 35 34 AF",  //
                                    "87 F1 18 49 04 07 33 32 31 2D A7",  //
                                    "87 F1 18 49 04 08 43 00 00 00 28"}));

  // One verification number fits a single frame; three need a first and two consecutive ones.
  Use(6, Format::Ath1);
  emu_QimSetEcuFilter(0);
  EXPECT_EQ(Answer(9, 0x06), Lines({"7E8 07 49 06 01 16 E0 62 BE",  //
                                    "7E9 10 0F 49 06 03 AB CD EF",  //
                                    "7E9 21 12 35 AD 12 67 02 02",  //
                                    "7E9 22 03 04 00 00 00 00 00"}));
  Use(2, Format::Of1);
  EXPECT_EQ(Answer(9, 0x06), Lines({":2C04",                   //
                                    "486B1049060116E062BE29",  //
                                    "486B18490601ABCDEF1294",  //
                                    "486B1849060235AD126777",  //
                                    "486B184906030202030428"}));

  Use(6, Format::Ath1);
  EXPECT_EQ(Answer(9, 0x0A), Lines({"7E8 10 17 49 0A 01 45 43 4D",  //
                                    "7E8 21 00 2D 45 6E 67 69 6E",  //
                                    "7E8 22 65 43 6F 6E 74 72 6F",  //
                                    "7E8 23 6C 00 00 00 00 00 00",  //
                                    "7E9 10 17 49 0A 01 54 43 4D",  //
                                    "7E9 21 00 2D 54 72 61 6E 73",  //
                                    "7E9 22 6D 69 73 43 74 72 6C",  //
                                    "7E9 23 00 00 00 00 00 00 00"}));
  Use(5, Format::Of1);
  emu_QimSetEcuFilter(0x11);  // ECU 2
  EXPECT_EQ(Answer(9, 0x0A), Lines({":3705",                   //
                                    "87F111490A014245434DF4",  //
                                    "87F111490A022D422B43BB",  //
                                    "87F111490A036861726781",  //
                                    "87F111490A04657243746E",  //
                                    "87F111490A05726C0000BF"}));
  emu_QimSetEcuFilter(0x15);  // ECU 6 has no name to give
  EXPECT_EQ(Answer(9, 0x0A), "NO DATA\r>");
}

TEST_F(ObdAnswer, PerformanceTrackingCounters) {
  // Twenty counters: 43 message bytes (length 2B), seven frames, a counter split across two.
  Use(6, Format::Of1);
  emu_VehicleSetNoOfEcus(1);
  EXPECT_EQ(Answer(9, 0x08), Lines({":5407",                     //
                                    "000007E8102B49081401C910",  //
                                    "000007E82130033C01C9035A",  //
                                    "000007E82201C9040101C902",  //
                                    "000007E8233101C90C6201C9",  //
                                    "000007E82400000000000000",  //
                                    "000007E8250D05E501C905BA",  //
                                    "000007E82601C90000000000"}));
  Use(1, Format::Plain);
  EXPECT_EQ(Answer(9, 0x0B), Lines({"490B0101C91030", "490B02033C01C9", "490B03035A01C9", "490B04040101C9",
                                    "490B05023101C9", "490B060C6201C9", "490B0700000000", "490B080000000D",
                                    "490B0905E501C9", "490B0A05BA01C9"}));
}

TEST_F(ObdAnswer, TroubleCodes) {
  // Three codes on CAN with headers: a first frame and one consecutive frame filled after the
  // last code; ECU 1's single code is a single frame.
  Use(6, Format::Ath1);
  emu_VehicleSetNoOfDtcs(3);
  EXPECT_EQ(Answer(3), Lines({"7E8 10 08 43 03 01 00 01 01",  //
                              "7E8 21 01 02 00 00 00 00 00",  //
                              "7E9 04 43 01 02 00 00 00 00"}));
  Use(6, Format::Plain);
  emu_VehicleSetNoOfDtcs(16);
  emu_VehicleSetNoOfEcus(1);
  EXPECT_EQ(Answer(3),
            Lines({"22431001000101", "01020103010401", "05010601070108", "0109010A010B01", "0C010D010E010F"}));
  EXPECT_EQ(Answer(7), Lines({"47010230000000"}));
  EXPECT_EQ(Answer(0x0A), Lines({"4A010230000000"}));

  // Non-CAN: three codes a message, empty slots as 0000.
  Use(3, Format::Of1);
  emu_VehicleSetNoOfEcus(2);
  emu_VehicleSetNoOfDtcs(4);
  EXPECT_EQ(Answer(3), Lines({":2103", "486B10430100010101020C", "486B10430103000000000A",
                              "486B184302000000000010"}));
  emu_VehicleSetNoOfDtcs(0);
  emu_QimSetEcuFilter(0x10);
  EXPECT_EQ(Answer(3), Lines({":0B01", "486B104300000000000006"}));
  EXPECT_EQ(Answer(0x0A), "NO DATA\r>");  // permanent codes are a CAN matter
}

TEST_F(ObdAnswer, ClearingCodes) {
  Use(6, Format::Ath1);
  emu_VehicleSetNoOfDtcs(2);
  EXPECT_EQ(Answer(4), Lines({"7E8 01 44 00 00 00 00 00 00", "7E9 01 44 00 00 00 00 00 00"}));
  EXPECT_EQ(Answer(0x0A), Lines({"7E8 06 4A 02 01 00 01 01 00", "7E9 04 4A 01 02 00 00 00 00"}));
  EXPECT_EQ(Answer(3), Lines({"7E8 02 43 00 00 00 00 00 00", "7E9 02 43 00 00 00 00 00 00"}));
  EXPECT_EQ(Answer(1, 0x01), Lines({"7E8 06 41 01 00 07 FF FF 00", "7E9 06 41 01 00 01 FF 00 00"}));

  // Only the ECU that is asked clears; an armed negative response clears nothing.
  emu_VehicleInit();
  Use(3, Format::Of1);
  emu_QimSetEcuFilter(0x18);
  emu_VehicleSetObdNegRespCode(22);
  EXPECT_EQ(Answer(4), Lines({":0701", "486B187F042270"}));
  EXPECT_EQ(vehicle.ecu[1].noOfDtcs, 1);
  emu_QimSetEcuFilter(0);
  EXPECT_EQ(Answer(4), Lines({":0C02", "486B104407", "486B187F042270"}));
  EXPECT_EQ(vehicle.ecu[0].noOfDtcs, 0);
  EXPECT_EQ(vehicle.ecu[0].noOfPermanentDtcs, 1);  // no copy on non-CAN
  EXPECT_EQ(vehicle.ecu[1].noOfDtcs, 1);
}

TEST_F(ObdAnswer, InfoTypeSupportAndMessageCounts) {
  // On CAN the message-count types are masked out of the support map.
  Use(6, Format::Plain);
  EXPECT_EQ(Answer(9, 0x00), Lines({"49005560000000", "49005440000000"}));
  EXPECT_EQ(Answer(9, 0x03), Lines({"49030100000000", "49030100000000"}));
  EXPECT_EQ(Answer(9, 0x07), Lines({"49070100000000"}));  // ECU 1 does not support 07

  Use(3, Format::Ath1);
  EXPECT_EQ(Answer(9, 0x00), Lines({"48 6B 10 49 00 01 FF E0 00 00 EC", "48 6B 18 49 00 01 FC C0 00 00 D1"}));
  Use(3, Format::Of1);
  EXPECT_EQ(Answer(9, 0x03), Lines({":0E02", "486B1049030413", "486B184903081F"}));
  Use(3, Format::Plain);
  EXPECT_EQ(Answer(9, 0x01), Lines({"490105", "490105"}));
  EXPECT_EQ(Answer(9, 0x05), Lines({"490501", "490503"}));
  EXPECT_EQ(Answer(9, 0x07), Lines({"490714"}));
  EXPECT_EQ(Answer(9, 0x09), Lines({"490905", "490905"}));

  emu_VehicleSetObdNegRespCode(21);
  EXPECT_EQ(Answer(9, 0x06), Lines({"7F0921", "7F0921"}));
  EXPECT_EQ(Answer(9, 0x02).substr(0, 15), "49020100000031\r");
}

TEST_F(ObdAnswer, BoostPressurePid70) {
  Use(6, Format::Plain);
  EXPECT_EQ(Answer(1, 0x70), Lines({"0C41703F100111", "00A00AA1090F00"}));
  EXPECT_EQ(Answer(2, 0x70, 0), Lines({"0D4270003F1001", "1100A00AA1090F"}));
  // Frame 1: ECU 0 reads row 1 (no PID 70), ECU 1 row 2 (PID 70 supported).
  Use(6, Format::Ath1);
  EXPECT_EQ(Answer(2, 0x70, 1), Lines({"7E9 10 0D 42 70 01 3F 10 01", "7E9 21 11 00 A0 0A A1 09 0F"}));

  Use(3, Format::Of1);
  EXPECT_EQ(Answer(1, 0x70), Lines({":1602", "486B1041703F10011100D5", "486B104170A00AA1090FD7"}));
  EXPECT_EQ(Answer(2, 0x70, 0),
            Lines({":1F03", "486B104270003F100111D6", "486B1042700000A00AA1C0", "486B10427000090F8D"}));
  Use(1, Format::Ath1);
  EXPECT_EQ(SplitLines(Answer(1, 0x70))[0], "41 6B 10 41 70 3F 10 01 11 00 CE");
}

TEST_F(ObdAnswer, WhichEcusAnswerAndInWhichOrder) {
  Use(6, Format::Ath1);
  EXPECT_EQ(Answer(1, 0x00), Lines({"7E8 06 41 00 FF FF FF F7 00", "7E9 06 41 00 B7 80 00 01 00"}));
  emu_VehicleSetNoOfEcus(8);
  const std::vector<std::string> lines = SplitLines(Answer(1, 0x00));
  ASSERT_EQ(lines.size(), 10u);
  const char* const maps[8] = {"FF FF FF F7", "B7 80 00 01", "77 80 00 01", "F7 80 00 01",
                               "F7 80 00 01", "F7 80 00 01", "F0 00 00 00", "80 00 00 00"};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(lines[i], std::string("7E") + "89ABCDEF"[i] + " 06 41 00 " + maps[i] + " 00");
  }
  // Only the ECUs that support a PID answer it.
  EXPECT_EQ(Answer(1, 0x0D), Lines({"7E8 03 41 0D 01 00 00 00 00"}));
  const std::string pid01 = Answer(1, 0x01);  // ECU 2 lacks PID 01
  EXPECT_EQ(pid01.size(), 7 * 28 + 2u);
  EXPECT_EQ(pid01.find("7EA"), std::string::npos);
  const std::vector<std::string> pid06 = SplitLines(Answer(1, 0x06));  // ECUs 0 to 5
  ASSERT_EQ(pid06.size(), 6u + 2);
  EXPECT_EQ(pid06[5], "7ED 03 41 06 40 00 00 00 00");
  emu_VehicleSetNoOfEcus(2);
  EXPECT_EQ(Answer(2, 0x09), Lines({"7E9 04 42 09 00 10 00 00 00"}));  // a PID only ECU 1 has

  // The filter picks one ECU by address; an unknown address picks the first.
  emu_QimSetEcuFilter(0xE9);
  EXPECT_EQ(Answer(1, 0x00), Lines({"7E9 06 41 00 B7 80 00 01 00"}));
  EXPECT_EQ(Answer(1, 0x0D), "NO DATA\r>");
  emu_QimSetEcuFilter(0x33);
  EXPECT_EQ(Answer(1, 0x00), Lines({"7E8 06 41 00 FF FF FF F7 00"}));
  emu_QimSetEcuFilter(0xED);  // an address beyond the ECUs that answer unfiltered
  EXPECT_EQ(Answer(1, 0x00), Lines({"7ED 06 41 00 F7 80 00 01 00"}));

  Use(4, Format::Ath1);
  emu_QimSetEcuFilter(0x18);
  EXPECT_EQ(Answer(2, 0x09), Lines({"84 F1 18 42 09 00 10 E8"}));
}

// Faults on cue in the module's own personality: silent ECUs and a car with its ignition off,
// a 78 before the answer, the battery at rest, and the adapter's errors drawn from a seed.
TEST_F(ObdAnswer, FaultsOfTheCarAndErrorsInTheModulesFormat) {
  auto set = [](const char* name, const char* value) {
    std::string error;
    EXPECT_EQ(emu_SetVehicleValue(name, value, &error), 0) << error;
  };
  Use(6, Format::Ath1);
  set("ecu.1.silent", "true");
  EXPECT_EQ(Ask("0100"), Lines({"7E9 06 41 00 B7 80 00 01 00"}));
  EXPECT_EQ(Ask("010D"), "NO DATA\r>");
  set("ecu.1.silent", "false");
  set("ecu.1.response_pending", "100");
  EXPECT_EQ(Ask("010D"), Lines({"7E8 03 7F 01 78 00 00 00 00", "7E8 03 41 0D 01 00 00 00 00"}));
  set("ecu.1.response_pending", "0");
  set("ignition", "false");
  EXPECT_EQ(Ask("0100"), "NO DATA\r>");
  EXPECT_EQ(Ask("AT!10"), "12.4V\r>");
  set("ignition", "true");

  set("faults.error_rate", "1");
  set("faults.errors", "BUS BUSY");
  EXPECT_EQ(Ask("010D"), "BUS BUSY\r>");
  EXPECT_EQ(Ask("ATI"), "Korvan QIM1 v1.7\r>") << "commands keep their answers";
  set("faults.errors", "<DATA ERROR");
  EXPECT_EQ(Ask("0100"), Lines({"7E8 06 41 00 FF FF FF F7 00<DATA ERROR", "7E9 06 41 00 B7 80 00 01 00"}));
  set("faults.errors", "<RX ERROR");
  EXPECT_EQ(Ask("0100"), Lines({"7E8 06 41 00 FF FF FF F7 00<RX ERROR"}));
  // The same seed draws the same answers.
  set("faults.error_rate", "0.5");
  set("faults.errors", "NO DATA, STOPPED");
  auto draws = [&] {
    std::string all;
    for (int i = 0; i < 8; ++i) all += Ask("010D");
    return all;
  };
  set("faults.seed", "11");
  const std::string first = draws();
  EXPECT_NE(first.find("STOPPED\r>"), std::string::npos) << first;
  EXPECT_NE(first.find("41 0D"), std::string::npos) << first;
  set("faults.seed", "11");
  EXPECT_EQ(draws(), first);
}

// The request/answer tables in the module's own format: framed as the vehicle's answers, for the
// ECUs the request reaches; requests that no table has still get "?".
TEST_F(ObdAnswer, TableEntriesAndTestResultsInTheModulesFormat) {
  std::string error;
  ASSERT_EQ(emu_SetVehicleValue("ecu.1.answers",
                                "[{ request = \"22 F1 90\", answer = \"62 F1 90 31 32 33 34 35 36\" },"
                                " { request = \"10 03\", negative = \"78\", then = \"50 03\" }]",
                                &error), 0) << error;
  ASSERT_EQ(emu_SetVehicleValue("ecu.2.answers", "[{ request = \"21 01\", answer = \"61 01 0A\" }]", &error), 0)
      << error;
  Use(6, Format::Plain);
  EXPECT_EQ(Ask("22F190"), Lines({"0962F190313233", "34353600000000"}));
  EXPECT_EQ(Ask("22 f1 90"), Lines({"0962F190313233", "34353600000000"}));
  EXPECT_EQ(Ask("1003"), Lines({"7F107800000000", "50030000000000"}));
  EXPECT_EQ(Ask("0600"), Lines({"4600C800000100"}));
  EXPECT_EQ(Ask("22F191"), "?\r>");
  EXPECT_EQ(Ask("22F19"), "?\r>");
  Use(6, Format::Ath1);
  EXPECT_EQ(Ask("2101"), Lines({"7E9 03 61 01 0A 00 00 00 00"}));
  emu_QimSetEcuFilter(0xE8);
  EXPECT_EQ(Ask("2101"), "NO DATA\r>");
  emu_QimSetEcuFilter(0);
  Use(3, Format::Ath1);
  EXPECT_EQ(Ask("2101"), Lines({"48 6B 18 61 01 0A 37"}));
  EXPECT_EQ(Ask("22F190"), Lines({"48 6B 10 62 F1 90 31 32 33 34 70", "48 6B 10 35 36 2E"}));
}

// The handheld's module reaches an ECU's diagnostic server as the ELM327 does: at the ECU its
// filter names, the server's answers; at every ECU at once, only what may be asked so.
TEST_F(ObdAnswer, DiagnosticServerInTheModulesFormat) {
  Use(6, Format::Plain);
  EXPECT_EQ(Ask("1003"), "?\r>");  // no server yet: a request nothing knows
  uds_test::PutEngineServer(0);
  emu_QimSetEcuFilter(0xE8);
  EXPECT_EQ(Ask("1003"), Lines({"5003003201F400"}));
  EXPECT_EQ(Ask("2701"), Lines({"67011234000000"}));
  EXPECT_EQ(Ask("2702EDCB"), Lines({"67020000000000"}));
  EXPECT_EQ(Ask("2E010007"), Lines({"6E010000000000"}));
  EXPECT_EQ(Ask("220100"), Lines({"62010007000000"}));
  EXPECT_EQ(Ask("23001000"), Lines({"7F231100000000"}));
  Use(6, Format::Ath1);
  EXPECT_EQ(Ask("220300"), Lines({"7E8 03 7F 22 78 00 00 00 00", "7E8 04 62 03 00 42 00 00 00"}));
  emu_QimSetEcuFilter(0);
  EXPECT_EQ(Ask("3E00"), Lines({"7E8 02 7E 00 00 00 00 00 00"}));
  EXPECT_EQ(Ask("2701"), "NO DATA\r>");
  EXPECT_EQ(Ask("23001000"), "NO DATA\r>");
}

TEST_F(ObdAnswer, RejectedAndUnansweredRequests) {
  Use(6, Format::Plain);
  for (const char* line : {"0161", "016F", "0171", "0181", "01FF", "0261", "090C", "09FF", "05", "06",
                           "08", "0B", "00", "0", "0x01", "0FFFFFFFFFFFFFFFFFF"}) {
    EXPECT_EQ(Ask(line), "?\r>") << line;
  }
  for (const char* line : {"0180", "01A0", "01E0"}) EXPECT_EQ(Ask(line), "NO DATA\r>") << line;
  emu_QimSetEcuFilter(0xE9);
  EXPECT_EQ(Ask("0908"), "NO DATA\r>");  // not supported by ECU 1

  // Spaces, small letters, short lines and trailing rubbish.
  emu_QimSetEcuFilter(0);
  EXPECT_EQ(Ask("010d"), "410D0100000000\r\r>");
  EXPECT_EQ(Ask("01 0D"), "410D0100000000\r\r>");
  EXPECT_EQ(Ask("01\t0d xyz"), "410D0100000000\r\r>");
  EXPECT_EQ(Ask("020d00"), "420D0001000000\r\r>");
  const std::string pid00 = "4100FFFFFFF700\r4100B780000100\r\r>";
  EXPECT_EQ(Ask("01"), pid00);    // PID missing: 00
  EXPECT_EQ(Ask("010"), pid00);   // a single digit is the value
  EXPECT_EQ(Ask("01G5"), pid00);  // no digit where the PID should be
  EXPECT_EQ(Ask("03FFFF"), "43010100000000\r43010200000000\r\r>");

  // A vehicle on another protocol does not answer, however good the request.
  emu_VehicleSetProtocol(6);
  emu_QimSetProtocol(3);
  EXPECT_EQ(Ask("0100"), "NO DATA\r>");
  EXPECT_EQ(Ask("03"), "NO DATA\r>");
  EXPECT_EQ(Ask("0161"), "?\r>");
  emu_QimSetProtocol(6);
  EXPECT_EQ(Ask("010D"), "410D0100000000\r\r>");

  // The operator's one-shot replacement applies to OBD answers as to any other.
  sendNoData = 1;
  EXPECT_EQ(Ask("010D"), "NO DATA>");
  EXPECT_EQ(Ask("010D"), "410D0100000000\r\r>");
}

TEST_F(ObdAnswer, SimulatorModeVehicleSettlesOnIso14230) {
  padixMode = EmuMode::Simulator;
  EXPECT_EQ(Ask("0161"), "?\r>");  // a rejected request settles nothing
  EXPECT_EQ(atpProtocol, 0);
  EXPECT_EQ(Ask("010D"), "410D01\r\r>");
  EXPECT_EQ(atpProtocol, 4);
  EXPECT_EQ(vehicleProtocol, 4);
  EXPECT_EQ(ecuAddr[1], 0x18);
  atof1Enabled = 1;
  EXPECT_EQ(Ask("010D"), ":0701\r83F110410D01D3\r\r>");

  // Once the vehicle has a protocol, a module set to another gets no answer.
  emu_QimSetProtocol(6);
  EXPECT_EQ(Ask("010D"), "NO DATA\r>");
}

// Eight ECUs with three calibration ids each on a non-CAN protocol, headers on and spaced: the
// longest answer there is, far beyond 1,024 characters, complete and intact.
TEST_F(ObdAnswer, LongestAnswerIsCompleteAndStaysInItsBuffer) {
  for (EmuEcu& ecu : vehicle.ecu) {
    ecu.noOfCalIds = EMU_MAX_CAL_IDS;
    ecu.supInfoTypes[0] = 0xFF;
  }
  emu_VehicleSetNoOfEcus(8);
  Use(4, Format::Both);
  const std::string answer = Answer(9, 0x04);
  EXPECT_GT(answer.size(), 3000u);
  EXPECT_LT(answer.size(), EMU_OBD_ANSWER_BUF_SIZE);
  ASSERT_EQ(answer.substr(answer.size() - 2), "\r>");
  const std::vector<std::string> lines = SplitLines(answer);
  ASSERT_EQ(lines.size(), 1u + 96 + 2);
  EXPECT_EQ(lines[0], ":20 60");  // 96 lines of 11 bytes: 1056 mod 256
  const uint8_t addr[8] = {0x10, 0x18, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
  for (size_t i = 1; i <= 96; ++i) {
    const std::string& line = lines[i];
    ASSERT_EQ(line.size(), 11u * 3 - 1) << i;
    unsigned sum = 0;
    for (size_t at = 0; at < 30; at += 3) sum += std::stoul(line.substr(at, 2), nullptr, 16);
    EXPECT_EQ(std::stoul(line.substr(30, 2), nullptr, 16), sum % 256) << line;
    EXPECT_EQ(std::stoul(line.substr(6, 2), nullptr, 16), addr[(i - 1) / 12]) << line;
    EXPECT_EQ(std::stoul(line.substr(15, 2), nullptr, 16), (i - 1) % 12 + 1) << line;
  }
  EXPECT_EQ(lines[96], "87 F1 16 49 04 0C 56 57 58 34 20");
  EXPECT_EQ(lines[97], "");

  // The longest CAN answer the same way: 8 frames of 12 bytes for each ECU.
  Use(7, Format::Both);
  const std::vector<std::string> canLines = SplitLines(Answer(9, 0x04));
  ASSERT_EQ(canLines.size(), 1u + 64 + 2);
  EXPECT_EQ(canLines[0], ":00 40");
  EXPECT_EQ(canLines[64], "18 DA F1 EF 27 57 58 34 00 00 00 00");
  EXPECT_EQ(canLines[57], "18 DA F1 EF 10 33 49 04 03 4D 4E 4F");
}

// The firmware's receive parser reads every answer the default vehicle gives, in every protocol,
// in the format the firmware sets (ATOF1): one frame per line (at most its 16), each from the
// ECU named in the line, ECU by ECU in order.
TEST_F(ObdAnswer, FirmwareParserReadsEveryAnswer) {
  std::vector<std::vector<uint8_t>> requests;  // service, PID, frame
  for (unsigned pid = 0; pid <= 0xE0; ++pid) {
    if (pid > 0x60 && pid != 0x70 && pid % 0x20 != 0) continue;
    requests.push_back({1, static_cast<uint8_t>(pid), 0});
    requests.push_back({2, static_cast<uint8_t>(pid), 1});
  }
  for (uint8_t type = 0; type <= 0x0B; ++type) requests.push_back({9, type, 0});
  for (uint8_t service : {3, 7, 0x0A, 4}) requests.push_back({service, 0, 0});

  size_t answersRead = 0;
  for (uint8_t protocol = 1; protocol <= 9; ++protocol) {
    emu_VehicleInit();
    Use(protocol, Format::Of1);
    const bool can = protocol >= 6;
    qimProtocol = static_cast<uint8_t>(protocol | (can ? 0x20 : (protocol >= 3 ? 0x10 : 0)));
    for (const auto& r : requests) {
      const std::string answer = Answer(r[0], r[1], r[2]);
      SCOPED_TRACE("protocol " + std::to_string(protocol) + " request " + std::to_string(r[0]) + "/" +
                   std::to_string(r[1]));
      if (answer == "NO DATA\r>") continue;
      const std::vector<std::string> lines = SplitLines(answer);
      ASSERT_GE(lines.size(), 4u);
      ASSERT_EQ(lines[0][0], ':');
      const size_t frames = lines.size() - 3;
      EXPECT_EQ(std::stoul(lines[0].substr(3, 2), nullptr, 16), frames % 256);

      QIM_InitState();
      qimProtocol = static_cast<uint8_t>(protocol | (can ? 0x20 : (protocol >= 3 ? 0x10 : 0)));
      QIM_InitRx(QIM_EXP_OBD);
      qim.qimDataStartIdx = can ? 4 : 3;
      uint8_t code = QIM_RESP_NONE;
      for (char c : answer) code = QIM_ProcessRxData(static_cast<uint8_t>(c));
      ASSERT_EQ(code, QIM_RESP_OBD_DATA);
      ++answersRead;
      const size_t kept = frames < QIM_MAX_FRAMES ? frames : QIM_MAX_FRAMES;
      ASSERT_EQ(size_t{qim.qimNoOfFrames}, kept);

      int lastEcu = -1;
      for (uint8_t f = 0; f < kept; ++f) {
        const uint8_t addr = QIM_GetEcuAddr(f);
        EXPECT_EQ(addr, std::stoul(lines[f + 1].substr(can ? 6 : 4, 2), nullptr, 16)) << lines[f + 1];
        const int ecu = emu_QimGetEcuIdx(addr);
        EXPECT_EQ(ecuAddr[ecu], addr);
        EXPECT_GE(ecu, lastEcu);
        lastEcu = ecu;
      }
    }
  }
  EXPECT_GT(answersRead, 9u * 100);
}

// The operator's keys change the vehicle while the module answers: answers stay well formed.
TEST_F(ObdAnswer, SettersWhileAnswering) {
  Use(6, Format::Of1);
  std::atomic<bool> stop{false};
  std::thread keys([&] {
    for (unsigned i = 0; !stop; ++i) {
      emu_VehicleSetNoOfEcus(static_cast<uint8_t>(i % 8 + 1));
      emu_VehicleSetNoOfDtcs(static_cast<uint8_t>(i % 17));
      emu_VehicleSetMilState(static_cast<uint8_t>(i & 1));
      emu_VehicleSetNoOfPid1DCylinderBanks(static_cast<uint8_t>(i % 4 + 1));
      emu_VehicleSetObdNegRespCode(22);
      emu_VehicleToggleDataJitter();
    }
  });
  for (int round = 0; round < 300; ++round) {
    for (uint8_t service : {1, 3, 4, 9}) {
      const std::string answer = Answer(service, service == 9 ? 0x02 : 0x0C);
      ASSERT_EQ(answer.substr(answer.size() - 2), "\r>");
      if (answer == "NO DATA\r>") continue;
      for (const std::string& line : SplitLines(answer)) {
        ASSERT_TRUE(line.empty() || line[0] == ':' || line == ">" || line.size() == 24u) << line;
      }
    }
  }
  stop = true;
  keys.join();
}

}  // namespace
