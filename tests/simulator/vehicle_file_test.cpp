// Vehicle files: a car saved and loaded back answers every request of every service alike, on
// CAN and the other buses, headers off and on; the examples load, save back unchanged and say
// what their comments say; a mistake names its file, line and column and changes nothing; "set"
// changes one value; a recorded trace moves its values at their times. A save writes values by
// their names, the ECUs the car has and names without padding, and never leaves a cut file.
// (Timelines: timeline_test.cpp.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "line/serial_port.h"
#include "vehicle/file_reader.h"
#include "module/module.h"
#include "module/obd_answer.h"
#include "vehicle/toml_guard.h"
#include "vehicle/request_answer.h"
#include "vehicle/vehicle.h"
#include "vehicle/timeline.h"
#include "vehicle/vehicle_file.h"
#include "tests/support/fifo_reader.h"
#include "vehicle/vehicle_items.h"
#include "tests/support/wait_for.h"
#include "tests/simulator/vehicle_file_fixture.h"

namespace {

using namespace vehicle_file_fixture;

TEST_F(VehicleFile, TheDefaultCarSavedAndLoadedAnswersEveryRequestAlike) {
  const std::string saved = Save();
  const auto defaults = Transcript([] {
    emu_VehicleInit();
    emu_VehicleSetNoOfEcus(EMU_MAX_ECUS);
  });
  ExpectSameAnswers(defaults, Transcript(Loading(saved)), "saved default car");
  // The example is the default car written out, with comments.
  ExpectSameAnswers(defaults, Transcript(Loading(Example("default.toml"))), "default.toml");
  // So is an empty file.
  ExpectSameAnswers(defaults, Transcript(Loading(Write("empty.toml", ""))), "empty file");
}

TEST_F(VehicleFile, ACarChangedByOperatorKeysAndSetValuesSavesAndLoadsAlike) {
  // Codes counted up and down, four banks of oxygen sensors (bank PIDs send two bytes), a
  // negative response on every ECU, a value of its own, a VIN that ends in a zero byte.
  const auto change = [] {
    emu_VehicleInit();
    emu_VehicleSetNoOfEcus(EMU_MAX_ECUS);
    emu_VehicleSetNoOfDtcs(5);
    emu_VehicleSetNoOfPendingDtcs(0);
    emu_VehicleSetNoOfPid1DCylinderBanks(4);
    emu_VehicleSetObdNegRespCode(21);
    ASSERT_EQ(Set("ecu.2.vin", "\"1234567890ABCDEF\\u0000\""), "");
    ASSERT_EQ(Set("ecu.3.speed", "88"), "");
    ASSERT_EQ(Set("ecu.8.pid.4F", "01 02 03 04"), "");
  };
  change();
  const std::string saved = Save();
  ExpectSameAnswers(Transcript(change), Transcript(Loading(saved)), "changed car");
}

TEST_F(VehicleFile, ExamplesLoadAndSaveBackUnchanged) {
  for (const char* name : {"default.toml", "petrol_can.toml", "diesel_kwp.toml", "can29.toml", "refusing_ecu.toml",
                           "drive.toml", "largest.toml", "manufacturer_requests.toml"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(Load(Example(name)), "");
    // Saved elsewhere, a file still finds its trace.
    const std::string first = Save("first.toml");
    ASSERT_EQ(Load(first), "");
    EXPECT_EQ(FirstDifference(Text(first), Text(Save("second.toml"))), "");
  }
  // The examples whose values stand still answer alike once saved and loaded.
  for (const char* name : {"diesel_kwp.toml", "can29.toml", "refusing_ecu.toml"}) {
    ASSERT_EQ(Load(Example(name)), "");
    const std::string saved = Save();
    ExpectSameAnswers(Transcript(Loading(Example(name))), Transcript(Loading(saved)), name);
  }
}

TEST_F(VehicleFile, ThePetrolExampleSendsWhatItsFileSays) {
  ASSERT_EQ(Load(Example("petrol_can.toml")), "");
  EXPECT_EQ(vehicleProtocol, 6);
  EXPECT_EQ(vehicle.maxEcu, 2);
  EXPECT_EQ(vehicle.batteryDeciVolts, 142);
  // The engine idles: each value as its PID's bytes (value = raw x scale + offset).
  const struct {
    uint8_t pid;
    const char* data;
  } engine[] = {
      {0x0C, "410C0C30"}, {0x0D, "410D00"},   {0x05, "410580"},     {0x0F, "410F48"},   {0x10, "41100136"},
      {0x11, "411127"},   {0x04, "41043F"},   {0x2F, "412FA0"},     {0x0B, "410B21"},   {0x0E, "410E94"},
      {0x06, "410681"},   {0x07, "41077D"},   {0x33, "413365"},     {0x46, "41463D"},   {0x42, "41423778"},
      {0x1F, "411F02F2"}, {0x5C, "415C84"},   {0x03, "41030200"},   {0x13, "411303"},   {0x14, "41145A80"},
      {0x01, "410100076500"},  // lamp off, no codes, then the monitors
  };
  for (const auto& e : engine) EXPECT_EQ(Data(1, e.pid, 0), e.data) << Hex(e.pid);
  // It answers the PIDs it was given and PID 01, no others.
  EXPECT_EQ(Data(1, 0x00, 0), "4100BE3FB803");
  EXPECT_FALSE(emu_VehicleSupportsPid(1, 0x12, 0, 0));
  EXPECT_EQ(Data(3, 0, 0), "4300");
  EXPECT_EQ(Data(9, 0x02, 0), "490201" "50445843414E3131453530303030303432");

  // The transmission reports a drive: speed and engine speed between their limits, moving.
  auto rpm = [] { return std::stoul(Data(1, 0x0C, 1).substr(4), nullptr, 16) / 4.0; };
  const double first = rpm();
  EXPECT_GE(first, 800);
  EXPECT_LE(first, 2900);
  EXPECT_LE(std::stoul(Data(1, 0x0D, 1).substr(4), nullptr, 16), 100u);
  EXPECT_TRUE(WaitFor([&] { return rpm() != first; })) << "the engine speed stands at " << first;
}

TEST_F(VehicleFile, TheDieselExampleHasItsCodesInFreezeFramesAndTheRefusingEcuSaysNo) {
  ASSERT_EQ(Load(Example("diesel_kwp.toml")), "");
  EXPECT_EQ(vehicleProtocol, 5);
  const bool can = false;
  EXPECT_EQ(Data(1, 0x01, 0, can), "4101820F6B40");  // lamp on, two codes
  EXPECT_EQ(Data(3, 0, 0, can), "430401200200" "00");
  EXPECT_EQ(Data(7, 0, 0, can), "47038000000000");
  // Frame k holds the k-th code, and the file's map (frame 1 from the next ECU's row).
  EXPECT_EQ(Data(2, 0x02, 0, can, 0), "4202000401");
  EXPECT_EQ(Data(2, 0x02, 0, can, 1), "4202012002");
  EXPECT_EQ(Data(2, 0x00, 0, can, 0), "42000058390001");
  EXPECT_EQ(Data(2, 0x00, 0, can, 1), "42000158390001");
  EXPECT_EQ(Data(2, 0x0C, 0, can, 1), "420C010CD0");  // 820 rpm
  EXPECT_EQ(Data(2, 0x23, 0, can, 0), "422300" "0AF0");  // 28000 kPa

  ASSERT_EQ(Load(Example("refusing_ecu.toml")), "");
  EXPECT_EQ(Data(9, 0x06, 1), "7F0922");
  char answer[EMU_OBD_ANSWER_BUF_SIZE];
  ath1Enabled = 1;
  ASSERT_EQ(emu_BuildObdAnswer(4, 0, 0, answer), 2u);
  EXPECT_EQ(std::string(answer), "7E8 01 44 00 00 00 00 00 00\r7E9 03 7F 04 22 00 00 00 00\r\r>");
  EXPECT_EQ(Data(3, 0, 0), "4300") << "the engine cleared its codes";
  EXPECT_EQ(Data(3, 0, 1), "43010700") << "the refusing ECU kept its code";
}

TEST_F(VehicleFile, AMistakeNamesFileLineAndColumnAndChangesNothing) {
  // A car that differs from the default in several places, with a protocol of its own.
  ASSERT_EQ(Set("ecus", "3"), "");
  ASSERT_EQ(Set("ecu.1.rpm", "1234"), "");
  ASSERT_EQ(Set("protocol", "3"), "");
  const auto before = Transcript([] {}, false);
  const std::string trace = (dir_ / "bad.csv").string();
  const struct {
    const char* vehicle;
    std::string error;  // after "FILE:"
  } cases[] = {
      {"protocol = 6\n[ecu.1]\nrpmm = 780\n", "3:1: unknown key 'rpmm'"},
      {"[ecu.1]\ncoolant = 300\n", "2:11: value out of range for coolant"},
      {"ecus = 9\n", "1:8: value out of range: 9 (1 to 8)"},
      {"[ecu.2]\ndtc.confirmed = [\"P0301\", \"P0G00\"]\n",
       "2:27: bad code 'P0G00' (a letter P, C, B or U, a digit 0-3, three hex digits)"},
      {"[ecu.1]\nrpm = 800\n[ecu.9]\nrpm = 900\n", "3:6: too many ECUs: 9 (8 at most)"},
      {"[ecu.1]\nvin = \"TOO-SHORT\"\n", "2:7: a VIN has 17 characters"},
      {"[ecu.1]\nspeed = { from = 0, wave = \"ramp\" }\n", "2:9: a moving value needs from and to"},
      {"trace = \"missing.csv\"\n", "1:9: cannot read the trace " + (dir_ / "missing.csv").string()},
      {"[ecu.1]\ncoolant = 88 \u00B0C\n", "2:14: unexpected '\u00B0': text belongs in quotes"},
  };
  for (const auto& c : cases) {
    const std::string path = Write("bad.toml", c.vehicle);
    EXPECT_EQ(Load(path), path + ":" + c.error);
  }
  // Mistakes in the trace name the trace file.
  const struct {
    const char* rows;
    const char* error;
  } rows[] = {
      {"time,ecu,item,value\n0,1,rpm,800\n0.5,9,rpm,900\n", "3:5: bad ECU '9' (1 to 8)"},
      {"0,1,rpm,800\n1,1,rpm\n", "2:1: expected time,ecu,item,value"},
      {"0,1,rpm,99999\n", "1:9: bad value '99999' for rpm"},
      {"-1,1,rpm,800\n", "1:1: bad time '-1'"},
      {"0,1,pid.0C,0C\n", "1:12: bad bytes '0C' for pid.0C"},  // PID 0C has two bytes
      {"0,1,pid.41,00 07 FF FF\n", "1:5: not a PID a trace can replay: 'pid.41'"},
      {"0,1,rmp,800\n", "1:5: unknown item 'rmp'"},
  };
  const std::string vehicle = Write("bad.toml", "ecus = 1\ntrace = \"bad.csv\"\n");
  for (const auto& r : rows) {
    Write("bad.csv", r.rows);
    EXPECT_EQ(Load(vehicle), trace + ":" + r.error);
  }
  // Not TOML at all, a file that is not there, a folder.
  const std::string syntax = Write("syntax.toml", "ecus = 2\nprotocol = = 6\n");
  const std::string error = Load(syntax);
  EXPECT_EQ(error.rfind(syntax + ":2:", 0), 0u) << error;
  const std::string none = (dir_ / "none.toml").string();
  EXPECT_EQ(Load(none), none + ": cannot read the file: No such file or directory");
  EXPECT_EQ(Load(dir_.string()), dir_.string() + ": cannot read the file: Is a directory");

  ExpectSameAnswers(before, Transcript([] {}, false), "after the failed loads");
  EXPECT_EQ(vehicleProtocol, 3);
}

TEST_F(VehicleFile, SetChangesOneValueAndRefusesBadOnesWithoutChangingAnything) {
  emu_VehicleSetNoOfEcus(EMU_MAX_ECUS);
  const auto before = Transcript([] {}, false);
  ASSERT_EQ(Set("ecu.1.rpm", "2500"), "");
  EXPECT_EQ(Data(1, 0x0C, 0), "410C2710");
  // Only the engine speed answers changed (service 01, and the freeze frames that hold it).
  const std::set<std::string> changed = Differences(before, Transcript([] {}, false));
  ASSERT_FALSE(changed.empty());
  for (const std::string& label : changed) EXPECT_NE(label.find(" 0C "), std::string::npos) << label;
  for (const Link& link : kLinks)
    EXPECT_EQ(changed.count(std::to_string(link.protocol) + (link.headers ? "H " : "  ") + "01 0C 00"), 1u);

  const auto after = Transcript([] {}, false);
  const struct {
    const char* name;
    const char* value;
    const char* error;
  } bad[] = {
      {"ecu.1.rpm", "20000", "set ecu.1.rpm: value out of range for rpm"},
      {"ecu.1.rpm", "fast", "set ecu.1.rpm: expected a number"},
      {"ecu.1.rpmm", "800", "set ecu.1.rpmm: unknown key 'rpmm'"},
      {"ecu.9.rpm", "800", "set ecu.9.rpm: too many ECUs: 9 (8 at most)"},
      {"ecus", "0", "set ecus: value out of range: 0 (1 to 8)"},
      {"ecu.1.dtc.confirmed", "P0301,P0G00",
       "set ecu.1.dtc.confirmed: bad code 'P0G00' (a letter P, C, B or U, a digit 0-3, three hex digits)"},
      {"ecu.1.negative_response", "23",
       "set ecu.1.negative_response: value out of range: 23 (0, 10, 11, 12, 21, 22 or 78)"},
  };
  for (const auto& b : bad) EXPECT_EQ(Set(b.name, b.value), b.error);
  EXPECT_TRUE(Differences(after, Transcript([] {}, false)).empty()) << "a refused value changed the car";

  // Codes as a list separated by commas; a moving value in its braces.
  ASSERT_EQ(Set("ecu.1.dtc.confirmed", "P0301,P0420"), "");
  EXPECT_EQ(Data(3, 0, 0), "430203010420");
  ASSERT_EQ(Set("ecu.2.speed", "{ from = 10, to = 20, wave = \"walk\", period = 1 }"), "");
  const unsigned speed = std::stoul(Data(1, 0x0D, 1).substr(4), nullptr, 16);
  EXPECT_GE(speed, 10u);
  EXPECT_LE(speed, 20u);
}

// Trouble codes as people type them, after "set" and in the file alike: one code, bare or
// quoted; several with spaces after the commas, with or without brackets and quotes; "" or
// none for no codes.
TEST_F(VehicleFile, CodeListsAreReadAsTyped) {
  const struct {
    const char* value;
    const char* answer;  // service 03 of the first ECU
  } typed[] = {
      {"P0301", "43010301"},
      {"\"P0301\"", "43010301"},
      {"'C0301'", "43014301"},
      {"P0301, P0420", "430203010420"},
      {"P0301 ,  p0420", "430203010420"},
      {"[P0301, P0420]", "430203010420"},
      {"\"P0301\", \"P0420\"", "430203010420"},
      {"[\"P0301\", \"P0420\"]", "430203010420"},
      {"P0301,P0420", "430203010420"},
      {"[P0301]", "43010301"},
      {"none", "4300"},
      {"NONE", "4300"},
      {"\"\"", "4300"},
      {"[]", "4300"},
  };
  for (const auto& t : typed) {
    ASSERT_EQ(Set("ecu.1.dtc.confirmed", "U0100"), "");
    EXPECT_EQ(Set("ecu.1.dtc.confirmed", t.value), "") << t.value;
    EXPECT_EQ(Data(3, 0, 0), t.answer) << t.value;
  }
  const std::string seventeen = "P0301" + [] {
    std::string more;
    for (int i = 0; i < 16; ++i) more += ", P0420";
    return more;
  }();
  const struct {
    const char* value;
    std::string error;
  } refused[] = {
      {"301", "expected codes such as \"P0301\" or [\"P0301\", \"P0420\"]"},
      {"X0301", "bad code 'X0301' (a letter P, C, B or U, a digit 0-3, three hex digits)"},
      {"P0301, none", "bad code 'none' (a letter P, C, B or U, a digit 0-3, three hex digits)"},
      {"[\"P0301\", \"\"]", "bad code '' (a letter P, C, B or U, a digit 0-3, three hex digits)"},
      {",,", "bad code '' (a letter P, C, B or U, a digit 0-3, three hex digits)"},
      {"\",\"", "bad code ',' (a letter P, C, B or U, a digit 0-3, three hex digits)"},
      {seventeen.c_str(), "more than 16 codes"},
  };
  ASSERT_EQ(Set("ecu.1.dtc.confirmed", "U0100"), "");
  for (const auto& r : refused) EXPECT_EQ(Set("ecu.1.dtc.confirmed", r.value), "set ecu.1.dtc.confirmed: " + r.error);
  EXPECT_EQ(Data(3, 0, 0), "4301C100") << "a refused list changed the codes";

  ASSERT_EQ(Load(Write("codes.toml", "[ecu.1]\ndtc.confirmed = \"P0301\"\ndtc.pending = \"P0301, P0420\"\n"
                                     "dtc.permanent = \"none\"\n")),
            "");
  EXPECT_EQ(Data(3, 0, 0), "43010301");
  EXPECT_EQ(Data(7, 0, 0), "470203010420");
  EXPECT_EQ(Data(0x0A, 0, 0), "4A00");
}

// Letters beyond ASCII are read wherever TOML allows them (the parser's white-space test misreads
// some of them: Latin-1, Cyrillic), in plain and multi-line strings, in comments and in "set".
// ECUs answer from the addresses their file gives them, on CAN and off it; two ECUs at one address
// could not be told apart and are refused.
TEST_F(VehicleFile, EcusAnswerFromTheAddressesTheFileGives) {
  ASSERT_EQ(Load(Write("addresses.toml", "[ecu.1]\naddress = \"28\"\ncan_address = \"F0\"\n")), "");
  auto ask = [](uint8_t protocol) {
    emu_QimSetProtocol(protocol);
    ath1Enabled = 1;
    char answer[EMU_OBD_ANSWER_BUF_SIZE];
    emu_BuildObdAnswer(1, 0x0D, 0, answer);
    return std::string(answer);
  };
  EXPECT_EQ(ask(3), "48 6B 28 41 0D 01 2A\r\r>");
  EXPECT_EQ(ask(6), "7F0 03 41 0D 01 00 00 00 00\r\r>");
  EXPECT_EQ(emu_QimGetEcuIdx(0xF0), 0);
  const std::string saved = Save();
  EXPECT_NE(Text(saved).find("address = \"28\"\ncan_address = \"F0\""), std::string::npos);

  const std::string twice = Write("twice.toml", "[ecu.1]\ncan_address = \"F0\"\n[ecu.2]\ncan_address = \"F0\"\n");
  EXPECT_EQ(Load(twice), twice + ":4:15: ECUs 1 and 2 have the same address");
  EXPECT_EQ(emu_VehicleEcuAddress(0, EmuEcuAddressing::Can11), 0xF0) << "the car stays as it was";
  EXPECT_NE(Load(Write("zero.toml", "[ecu.3]\naddress = \"00\"\n")), "");
}

// A car put in whole while the module is connected is answered from its addresses at once, and
// the module's filter picks the ECU that now has the filtered address for the operator's setters.
TEST_F(VehicleFile, TheModuleFollowsTheAddressesOfACarPutInWhile) {
  emu_QimSetEcuFilter(0xF0);
  emu_VehicleSetNoOfDtcs(3);
  EXPECT_EQ(vehicle.ecu[0].noOfDtcs, 3) << "no ECU has F0 yet: the setters act on ECU 1";
  ASSERT_EQ(Load(Write("moved.toml", "[ecu.2]\ncan_address = \"F0\"\ndtc.confirmed = []\n")), "");
  ath1Enabled = 1;
  char answer[EMU_OBD_ANSWER_BUF_SIZE];
  emu_BuildObdAnswer(1, 0x00, 0, answer);
  EXPECT_EQ(std::string(answer), "7F0 06 41 00 B7 80 00 01 00\r\r>") << "the filter asks ECU 2 at its new address";
  emu_VehicleSetNoOfDtcs(5);
  EXPECT_EQ(vehicle.ecu[1].noOfDtcs, 5);
  EXPECT_EQ(vehicle.ecu[0].noOfDtcs, 1) << "the loaded car's ECU 1 keeps its code";
  ASSERT_EQ(Set("ecu.2.can_address", "\"E9\""), "");
  emu_VehicleSetNoOfDtcs(7);
  EXPECT_EQ(vehicle.ecu[0].noOfDtcs, 7) << "F0 is gone with the set: the setters act on ECU 1 again";
  EXPECT_EQ(vehicle.ecu[1].noOfDtcs, 5);
}

TEST_F(VehicleFile, TextBeyondAsciiIsReadInQuotesAndComments) {
  // A comment, a multi-line string after a line-ending backslash, a literal string.
  const std::string path = Write("utf8.toml",
                                 "# K\u00FChlmittel in \u00B0C\n"
                                 "[ecu.1]\n"
                                 "name = \"\"\"\\\n   \u00C4\u00D6\u00DC-\u0416\"\"\"\n"
                                 "cal_ids = ['Gr\u00F6\u00DFe-1']\n");
  ASSERT_EQ(Load(path), "");
  EXPECT_EQ(Data(9, 0x0A, 0), "490A01" "C384C396C39C2DD096" "0000000000000000000000");
  EXPECT_EQ(Data(9, 0x04, 0), "490401" "4772C3B6C39F652D31" "00000000000000");
  ASSERT_EQ(Set("ecu.2.name", "Motorsteuerger\u00E4t"), "");
  EXPECT_EQ(Data(9, 0x0A, 1), "490A01" "4D6F746F72737465756572676572C3A474" "000000");
  EXPECT_EQ(Set("ecu.2.n\u00E4me", "1"), "set ecu.2.n\u00E4me: unexpected '\u00E4': text belongs in quotes");
}

TEST_F(VehicleFile, ATraceChangesItsValuesAtTheRecordedTimes) {
  // The engine speed of a trace as the ECU sends it now.
  auto rpm = [] { return std::stoul(Data(1, 0x0C, 0).substr(4), nullptr, 16) / 4; };
  // Held: 1000 rpm, from 0.3 s on 3000 rpm for good. The first answer comes well before 0.3 s
  // unless the machine stalls; then it may already be the second value.
  Write("two.csv", "time,ecu,item,value\n0,1,rpm,1000\n0.3,1,rpm,3000\n");
  const std::string held = Write("held.toml", "trace = \"two.csv\"\ntrace_loop = false\n");
  const auto loaded = std::chrono::steady_clock::now();
  ASSERT_EQ(Load(held), "");
  const unsigned first = rpm();
  if (std::chrono::steady_clock::now() - loaded < std::chrono::milliseconds(200)) {
    EXPECT_EQ(first, 1000u);
  }
  EXPECT_TRUE(WaitFor([&] { return rpm() == 3000; }));
  // Still there a whole second later: the last value holds.
  EXPECT_FALSE(WaitFor([&] { return rpm() != 3000; }, 1000));

  // Looped: 1000, 3000 from 0.3 s, 1000 again from 0.6 s, and over again.
  Write("three.csv", "0,1,rpm,1000\n0.3,1,rpm,3000\n0.6,1,rpm,1000\n");
  ASSERT_EQ(Load(Write("looped.toml", "trace = \"three.csv\"\n")), "");
  for (unsigned wanted : {3000u, 1000u, 3000u, 1000u})
    EXPECT_TRUE(WaitFor([&] { return rpm() == wanted; })) << wanted;
}

// The parser follows table headers and dotted keys by recursion: a file nested a hundred thousand
// deep (300 KB) overflowed its stack. Tables, keys, lists and inline tables nest to the limit
// together and no deeper; the file is refused where it passes it, before the parser reads it.
TEST_F(VehicleFile, NestingBeyondTheLimitIsRefusedWhereItPassesIt) {
  ASSERT_EQ(Set("ecus", "3"), "");
  const std::string tooDeep = "nested more than " + std::to_string(EMU_TOML_MAX_DEPTH) + " levels deep";
  const size_t limit = EMU_TOML_MAX_DEPTH;
  // Each error after "FILE:": the line and column where the limit is passed ("" for an error of
  // the vehicle file's own, past the guard).
  const struct {
    std::string vehicle;
    std::string error;
  } cases[] = {
      {"[" + Dotted(150000) + "]\n", "1:" + std::to_string(2 * limit + 1) + ": " + tooDeep},
      {Dotted(150000) + " = 1\n", "1:" + std::to_string(2 * limit) + ": " + tooDeep},
      {"[" + Dotted(limit + 1) + "]\n", "1:" + std::to_string(2 * limit + 1) + ": " + tooDeep},
      {"[[" + Dotted(limit) + "]]\n", "1:" + std::to_string(2 * limit) + ": " + tooDeep},  // an array: a level more
      {Dotted(limit + 1) + " = 1\n", "1:" + std::to_string(2 * limit) + ": " + tooDeep},
      // A header's levels and a key's below it add up; a later header starts again.
      {"[" + Dotted(limit / 2) + "]\n" + Dotted(limit / 2 + 1) + " = 1\n", "2:" + std::to_string(limit) + ": " + tooDeep},
      {"# " + Dotted(limit) + "\n[ " + Dotted(limit / 2) + " ]\n[" + Dotted(limit) + "]\nb.c = 1\n",
       "4:1: " + tooDeep},
      // Lists and inline tables count too, nested in each other.
      {"a = " + std::string(limit, '[') + std::string(limit, ']') + "\n", "1:" + std::to_string(limit + 4) + ": " + tooDeep},
      {"a = [{ b = [{ c." + Dotted(limit - 6) + " = 1 }] }]\n", "1:" + std::to_string(2 * limit + 2) + ": " + tooDeep},
      // At the limit, the guard lets the file through to the vehicle file's own checks.
      {"[" + Dotted(limit) + "]\n", "1:2: unknown key 'a'"},
      {Dotted(limit) + " = 1\n", "1:1: unknown key 'a'"},
      {"a = [{ b = [{ c." + Dotted(limit - 7) + " = 1 }] }]\n", "1:1: unknown key 'a'"},
      // Dots in quotes and in values are no levels.
      {"\"" + Dotted(3 * limit) + "\" = [" + std::string(limit, '1') + ".5, 2.5, \"x." + Dotted(limit) + "\"]\n",
       "1:1: unknown key '" + Dotted(3 * limit) + "'"},
      {"'" + Dotted(3 * limit) + "'.b = { c = 1.5 }\n", "1:1: unknown key '" + Dotted(3 * limit) + "'"},
  };
  for (const auto& c : cases) {
    const std::string path = Write("deep.toml", c.vehicle);
    const std::string error = Load(path);
    EXPECT_EQ(error.substr(0, 300), (path + ":" + c.error).substr(0, 300)) << c.vehicle.substr(0, 80);
  }
  EXPECT_EQ(vehicle.maxEcu.load(), 3) << "a refused file changed the car";
  // A name typed to "set" goes through the same guard.
  const std::string name = Dotted(limit + 1);
  EXPECT_EQ(Set(name.c_str(), "1"), "set " + name + ": " + tooDeep);
  EXPECT_EQ(Set("ecu.1.rpm", ("{ from = 1, to = " + std::string(limit, '[') + " }").c_str()),
            "set ecu.1.rpm: expected a number");
}

// Only a regular file is read, and only up to the limit of its kind: /dev/zero filled the memory
// until the program was killed, and a FIFO without a writer kept it waiting for good. The trace
// a vehicle file (or "set trace") names is read the same way.
TEST_F(VehicleFile, OnlyARegularFileWithinItsLimitIsRead) {
  ASSERT_EQ(Set("ecus", "3"), "");
  const std::string notRegular = ": cannot read the file: not a regular file";
  EXPECT_EQ(Load("/dev/zero"), "/dev/zero" + notRegular);
  EXPECT_EQ(Load("/dev/null"), "/dev/null" + notRegular);
  EXPECT_EQ(Set("trace", "/dev/zero"), "set trace: cannot read the trace /dev/zero: not a regular file");
  const std::string car = Write("car.toml", "trace = \"/dev/zero\"\n");
  EXPECT_EQ(Load(car), car + ":1:9: cannot read the trace /dev/zero: not a regular file");

  const std::string fifo = (dir_ / "fifo").string();
  MakeFifo(fifo);
  std::string error;
  EXPECT_TRUE(ReturnsWithoutAWriter(fifo, [&] { error = Load(fifo); })) << "a load waited on a FIFO";
  EXPECT_EQ(error, fifo + notRegular);
  const std::string traced = Write("traced.toml", "trace = \"fifo\"\n");
  EXPECT_TRUE(ReturnsWithoutAWriter(fifo, [&] { error = Load(traced); })) << "a trace waited on a FIFO";
  EXPECT_EQ(error, traced + ":1:9: cannot read the trace " + fifo + ": not a regular file");
  EXPECT_TRUE(ReturnsWithoutAWriter(fifo, [&] { error = Set("trace", fifo.c_str()); }));
  EXPECT_EQ(error, "set trace: cannot read the trace " + fifo + ": not a regular file");

  // At its limit a vehicle file loads (a long comment); a byte more is refused.
  const size_t limit = EMU_VEHICLE_FILE_KIND.maxBytes;
  const std::string largest = Write("largest.toml", "ecus = 2\n#" + std::string(limit - 11, 'x') + "\n");
  ASSERT_EQ(fs::file_size(largest), limit);
  EXPECT_EQ(Load(largest), "");
  EXPECT_EQ(vehicle.maxEcu.load(), 2);
  ASSERT_EQ(Set("ecus", "3"), "");
  std::ofstream(largest, std::ios::app) << "#";
  EXPECT_EQ(Load(largest), largest + ": cannot read the file: larger than " + std::to_string(limit) +
                               " bytes, the limit for a vehicle file");
  // A trace one byte over its limit (a file with a hole: nothing is written).
  const std::string hole = (dir_ / "hole.csv").string();
  std::ofstream(hole).close();
  fs::resize_file(hole, EMU_TRACE_KIND.maxBytes + 1);
  EXPECT_EQ(Set("trace", hole.c_str()), "set trace: cannot read the trace " + hole + ": larger than " +
                                            std::to_string(EMU_TRACE_KIND.maxBytes) + " bytes, the limit for a trace");
  EXPECT_EQ(vehicle.maxEcu.load(), 3) << "a refused file changed the car";
}

// What a loaded car holds, for the ECUs that answer: the values of their own, the support map,
// the name and the values that move.
std::string CarState() {
  std::string state = "ecus " + std::to_string(vehicle.maxEcu) + "\n";
  for (uint8_t i = 0; i < vehicle.maxEcu; ++i) {
    const EmuEcu& ecu = vehicle.ecu[i];
    state += "ecu " + std::to_string(i + 1) + " name ";
    for (uint8_t c : ecu.ecuName) state += Hex(c);
    state += "\n supported ";
    for (const auto& b : ecu.supPids) state += Hex(b);
    for (unsigned pid = 0; pid < 256; ++pid) {
      if ((ecu.pidValueSet[pid >> 3] & (1u << (pid & 7))) == 0) continue;
      state += "\n pid " + Hex(pid) + " ";
      for (uint8_t b : ecu.pidValue[pid]) state += Hex(b);
    }
    for (uint8_t m = 0; m < ecu.noOfMotions; ++m) {
      const EmuMotion& motion = ecu.motion[m];
      state += "\n motion " + Hex(motion.pid) + " " + std::to_string(motion.low) + " " + std::to_string(motion.high) +
               " " + std::to_string(static_cast<int>(motion.wave)) + " " + std::to_string(motion.periodMs);
    }
    state += "\n";
  }
  return state;
}

TEST_F(VehicleFile, SaveWritesValuesByNameOnlyTheEcusTheCarHasAndNamesWithoutPadding) {
  // The default car: two ECUs, the names as "ACRO-Name" (the acronym's padding is the layout's).
  std::string text = Text(Save());
  EXPECT_NE(text.find("\necus = 2\n"), std::string::npos);
  EXPECT_EQ(Count(text, "[ecu."), 2u) << text;
  EXPECT_NE(text.find("\nname = \"ECM-EngineControl\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nname = \"TCM-TransmisCtrl\"\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("\\u0000"), std::string::npos) << text;
  ASSERT_EQ(Load(Save()), "");
  EXPECT_EQ(Data(9, 0x0A, 1), "490A01" "54434D00" "2D5472616E736D69734374726C" "000000");

  // The petrol example gives its values by name, and gets them back so; it loads to the same car.
  ASSERT_EQ(Load(Example("petrol_can.toml")), "");
  const std::string example = CarState();
  text = Text(Save());
  for (const char* named : {"\nrpm = 780\n", "\ncoolant = 88\n", "\nmaf = 3.1\n", "\nspeed = 0\n"})
    EXPECT_NE(text.find(named), std::string::npos) << named << " in\n" << text;
  EXPECT_EQ(text.find("\npid.0C"), std::string::npos) << text;
  EXPECT_EQ(text.find("\npid.05"), std::string::npos) << text;
  EXPECT_EQ(Count(text, "[ecu."), 2u) << text;
  ASSERT_EQ(Load(Save()), "");
  EXPECT_EQ(CarState(), example);

  // An ECU beyond those that answer is written when it is not the built-in one: raising "ecus"
  // after loading gives the same car.
  ASSERT_EQ(Set("ecu.5.rpm", "1000"), "");
  text = Text(Save());
  EXPECT_EQ(Count(text, "[ecu."), 3u) << text;
  EXPECT_NE(text.find("[ecu.5]"), std::string::npos);
  ASSERT_EQ(Load(Save()), "");
  emu_VehicleSetNoOfEcus(5);
  EXPECT_EQ(Data(1, 0x0C, 4), "410C0FA0");

  // A name is laid out as the handheld reads it where it fits; one that does not stays as given.
  ASSERT_EQ(Set("ecu.1.name", "\"ABS-Brakes\""), "");
  EXPECT_EQ(Data(9, 0x0A, 0), "490A01" "41425300" "2D4272616B6573" "000000000000000000");
  ASSERT_EQ(Set("ecu.2.name", "\"TCM-TransmissionCtrl\""), "");
  EXPECT_EQ(Data(9, 0x0A, 1), "490A01" "54434D2D5472616E736D697373696F6E4374726C");
  ASSERT_EQ(Set("ecu.3.name", "\"EC\\u0000\\u0000-Odd\""), "");
  text = Text(Save());
  EXPECT_NE(text.find("\nname = \"ABS-Brakes\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nname = \"TCM-TransmissionCtrl\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nname = \"EC-Odd\"\n"), std::string::npos) << text;
}

// Every raw value of every named PID is written by name and loads back to the same bytes: values
// between the item's round numbers (a throttle of 1/255), its ends, and two-byte values.
TEST_F(VehicleFile, EveryNamedValueLoadsBackToTheSameBytes) {
  int count = 0;
  const EmuVehicleItem* items = emu_VehicleItems(&count);
  for (const uint32_t raw : {0u, 1u, 2u, 3u, 0x7Fu, 0x80u, 0x81u, 0xAAu, 0xFEu, 0xFFu, 0x100u, 0x0C31u, 0x3039u,
                             0x7FFFu, 0x8001u, 0xFFFEu, 0xFFFFu}) {
    SCOPED_TRACE(raw);
    emu_VehicleInit();
    std::vector<std::pair<uint8_t, std::string>> given;
    for (int i = 0; i < count; ++i) {
      const EmuVehicleItem& item = items[i];
      if (raw >> (8 * item.bytes) != 0) continue;
      const std::string bytes = "\"" + (item.bytes == 1 ? Hex(raw) : Hex(raw >> 8) + " " + Hex(raw)) + "\"";
      ASSERT_EQ(Set(("ecu.1.pid." + Hex(item.pid)).c_str(), bytes.c_str()), "");
      given.emplace_back(item.pid, Data(1, item.pid, 0));
    }
    const std::string text = Text(Save());
    EXPECT_EQ(text.find("\npid."), std::string::npos) << text;
    ASSERT_EQ(Load(Save()), "");
    for (const auto& [pid, data] : given) EXPECT_EQ(Data(1, pid, 0), data) << emu_FindVehicleItemByPid(pid)->name;
  }
}

// Bytes a name cannot give keep their raw form: a fuel trim of four banks (two bytes, where the
// item has one), and the bytes of a moving value (sent in freeze frames; the name holds the motion).
TEST_F(VehicleFile, BytesANameCannotHoldAreSavedRaw) {
  ASSERT_EQ(Load(Write("moving.toml", "[ecu.1]\npid.0C = \"0C 30\"\n"
                                      "rpm = { from = 800, to = 900.25, wave = \"ramp\", period = 10 }\n")),
            "");
  emu_VehicleSetNoOfPid1DCylinderBanks(4);
  ASSERT_EQ(Set("ecu.1.pid.06", "80 7F"), "");
  ASSERT_EQ(Set("ecu.1.pid.07", "\"81\""), "");
  const std::string before = CarState(), trims = Data(1, 0x06, 0) + Data(1, 0x07, 0);
  const std::string text = Text(Save());
  EXPECT_NE(text.find("\npid.06 = \"80 7F\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nlong_fuel_trim_1 = 0.8\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\npid.0C = \"0C 30\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nrpm = { from = 800, to = 900.25, wave = \"ramp\", period = 10 }\n"), std::string::npos)
      << text;
  ASSERT_EQ(Load(Save()), "");
  EXPECT_EQ(CarState(), before);
  EXPECT_EQ(Data(2, 0x0C, 0), "420C000C30");
  EXPECT_EQ(Data(1, 0x06, 0) + Data(1, 0x07, 0), trims);
}

// A save in a child process, with a file size limit of `limit` bytes (0: none): whether it
// failed, with its error, or "still waiting" when it had not ended after ten seconds.
std::string SaveInChild(const std::string& path, rlim_t limit) {
  int said[2];
  if (pipe(said) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(said[0]);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit size = {limit, limit};
    if (limit != 0 && setrlimit(RLIMIT_FSIZE, &size) != 0) _exit(3);
    std::string error;
    const int result = emu_SaveVehicleFile(path.c_str(), &error);
    if (write(said[1], error.data(), error.size()) < 0) _exit(4);
    _exit(result == -1 ? 0 : 1);
  }
  close(said[1]);
  int status = 0;
  const bool ended = child > 0 && WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 10000);
  if (child > 0 && !ended) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  std::string error;
  char buffer[512];
  for (ssize_t n; ended && (n = read(said[0], buffer, sizeof buffer)) > 0;) error.append(buffer, static_cast<size_t>(n));
  close(said[0]);
  if (!ended) return "still waiting";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "saved, or ended otherwise: " + std::to_string(status);
  return error;
}

// A save that cannot be written whole leaves the old file byte for byte and no other file beside
// it; the disk fills up with a file size limit.
TEST_F(VehicleFile, ASaveThatFailsLeavesTheOldFileAsItWas) {
  const std::string old = "ecus = 3\n# saved yesterday\n";
  const std::string path = Write("car.toml", old);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  EXPECT_EQ(SaveInChild(path, 512), "cannot write " + path + ": File too large");
  EXPECT_EQ(Text(path), old);
  std::vector<std::string> files;
  for (const auto& f : fs::directory_iterator(dir_)) files.push_back(f.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{"car.toml"});

  // With room, the file is replaced and keeps its permissions; a new file gets 0644 less the umask.
  Save("car.toml");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Load(path), "");
  const mode_t mask = umask(022);
  umask(mask);
  ASSERT_EQ(stat(Save("new.toml").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u & ~mask);
}

// A FIFO is no vehicle file: the save says so at once instead of waiting for a reader (the
// command reader would stop). A folder is refused too.
TEST_F(VehicleFile, ASaveRefusesWhatIsNotARegularFile) {
  const std::string fifo = (dir_ / "car.fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(SaveInChild(fifo, 0), "cannot write " + fifo + ": it is a FIFO, not a regular file");
  std::string error;
  EXPECT_EQ(emu_SaveVehicleFile(dir_.c_str(), &error), -1);
  EXPECT_EQ(error, "cannot write " + dir_.string() + ": it is a folder, not a regular file");
}

}  // namespace

namespace {

using namespace vehicle_file_fixture;

// Faults on cue: every name loads from a file, is set alike, and is saved back only where it
// differs from the default; drop_now is an act, never saved; bad values are refused by name.
TEST_F(VehicleFile, FaultsLoadSetAndSaveBackOnlyWhereTheyDiffer) {
  EXPECT_EQ(Text(Save()).find("faults"), std::string::npos) << "a car without faults is saved as before";
  EXPECT_EQ(Text(Save()).find("ignition"), std::string::npos);
  const std::string file = Write("faults.toml",
                                 "ignition = false\nresting_battery = 11.7\n"
                                 "[ecu.1]\nsilent = true\nanswer_delay = 250\n"
                                 "[ecu.2]\nresponse_pending = 1500\n"
                                 "[faults]\nchunk = 3\nchunk_pause = 20\nstall = 40\ngarbage_before = 2\n"
                                 "garbage_inside = 5\ndrop_after = 9\ndrop_at = 3000\ndrop_now = false\n"
                                 "error_rate = 0.25\nerrors = [\"CAN ERROR\", \"<rx error\"]\nseed = 42\n");
  ASSERT_EQ(Load(file), "");
  const EmuFaults f = emu_FaultsNow();
  EXPECT_EQ(f.ignition, 0);
  EXPECT_EQ(f.restingDeciVolts, 117);
  EXPECT_EQ(f.ecu[0].silent, 1);
  EXPECT_EQ(f.ecu[0].answerDelayMs, 250u);
  EXPECT_EQ(f.ecu[1].responsePendingMs, 1500u);
  EXPECT_EQ(f.chunk, 3);
  EXPECT_EQ(f.chunkPauseMs, 20u);
  EXPECT_EQ(f.stallMs, 40u);
  EXPECT_EQ(f.garbageBefore, 2);
  EXPECT_EQ(f.garbageInside, 5);
  EXPECT_EQ(f.dropAfter, 9u);
  EXPECT_EQ(f.dropAtMs, 3000u);
  EXPECT_EQ(f.errorRate, 0.25);
  ASSERT_EQ(f.noOfErrors, 2);
  EXPECT_STREQ(EMU_FAULT_ERROR_TEXTS[f.errors[0]], "CAN ERROR");
  EXPECT_STREQ(EMU_FAULT_ERROR_TEXTS[f.errors[1]], "<RX ERROR");
  EXPECT_EQ(f.seed, 42u);

  const std::string saved = Text(Save());
  for (const char* line : {"\nignition = false\n", "\nresting_battery = 11.7\n", "\nsilent = true\n",
                           "\nanswer_delay = 250\n", "\nresponse_pending = 1500\n", "\n[faults]\nchunk = 3\n",
                           "\nchunk_pause = 20\n", "\nstall = 40\n", "\ngarbage_before = 2\n", "\ngarbage_inside = 5\n",
                           "\ndrop_after = 9\n", "\ndrop_at = 3000\n", "\nerror_rate = 0.25\n",
                           "\nerrors = [\"CAN ERROR\", \"<RX ERROR\"]\n", "\nseed = 42\n"})
    EXPECT_NE(saved.find(line), std::string::npos) << line << " in\n" << saved;
  EXPECT_EQ(saved.find("drop_now"), std::string::npos);
  const std::string again = Save("again.toml");
  emu_VehicleInit();
  ASSERT_EQ(Load(again), "");
  EXPECT_EQ(Text(Save("third.toml")), saved) << "saved faults load back to the same car";

  // "set" takes the same names, the errors also as texts separated by commas.
  ASSERT_EQ(Set("faults.errors", "NO DATA, BUS BUSY"), "");
  EXPECT_STREQ(EMU_FAULT_ERROR_TEXTS[emu_FaultsNow().errors[1]], "BUS BUSY");
  ASSERT_EQ(Set("ignition", "true"), "");
  ASSERT_EQ(Set("ecu.1.silent", "false"), "");
  ASSERT_EQ(Set("faults.chunk", "0"), "");
  const std::string later = Text(Save());
  EXPECT_EQ(later.find("ignition"), std::string::npos);
  EXPECT_EQ(later.find("silent"), std::string::npos);
  EXPECT_EQ(later.find("chunk ="), std::string::npos);

  const struct {
    const char* name;
    const char* value;
    const char* error;
  } bad[] = {
      {"faults.chunk", "-1", "set faults.chunk: value out of range: -1 (0 to 4096)"},
      {"faults.stall", "1.5", "set faults.stall: expected a whole number from 0 to 600000"},
      {"faults.error_rate", "1.5", "set faults.error_rate: value out of range: 1.500000 (0 to 1)"},
      {"faults.errors", "NO DATA, NO DATA", "set faults.errors: 'NO DATA' listed twice"},
      {"faults.errors", "OOPS",
       "set faults.errors: unknown error 'OOPS' (NO DATA, CAN ERROR, BUS ERROR, BUS BUSY, BUFFER FULL, DATA ERROR, "
       "<DATA ERROR, <RX ERROR, FB ERROR, STOPPED, UNABLE TO CONNECT)"},
      {"faults.drop_now", "1", "set faults.drop_now: expected true or false"},
      {"faults.speed", "1", "set faults.speed: unknown key 'faults.speed' (chunk, chunk_pause, stall, garbage_before, "
                            "garbage_inside, drop_after, drop_at, drop_now, error_rate, errors, seed)"},
      {"ecu.1.answer_delay", "60001", "set ecu.1.answer_delay: value out of range: 60001 (0 to 60000)"},
      {"ignition", "off", "set ignition: expected true or false"},
  };
  for (const auto& b : bad) EXPECT_EQ(Set(b.name, b.value), b.error);
}

}  // namespace
