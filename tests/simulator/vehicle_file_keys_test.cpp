// An ECU's vehicle-file keys: every key loads and saves back as written and refuses what does
// not fit in its own words; the diagnostic server's section serves what its file says, keeps
// what is written through it, and is set and refused like any other key.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

#include "tests/simulator/vehicle_file_fixture.h"
#include "vehicle/request_answer.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"

namespace {

using namespace vehicle_file_fixture;

// The text of one ECU's table in a vehicle file, from its header to the next table's.
std::string EcuSection(const std::string& text, int number) {
  const std::string header = "[ecu." + std::to_string(number) + "]\n";
  const size_t at = text.find(header);
  if (at == std::string::npos) return "";
  const size_t next = text.find("\n[", at + header.size());
  return text.substr(at, next == std::string::npos ? std::string::npos : next + 1 - at);
}

// Every key an ECU has, each away from the built-in value, written as a save writes it: loaded and
// saved, the ECU's table comes back line for line (the keys in their order, each in its form).
TEST_F(VehicleFile, EveryEcuKeyLoadsAndSavesBackAsWritten) {
  const std::string ecu =
      "[ecu.2]\n"
      "name = \"PCM-PowertrainCtrl\"\n"
      "lamp = false\n"
      "dtc.confirmed = [\"P0301\", \"C0123\", \"B3FFF\", \"U0100\"]\n"
      "dtc.pending = []\n"
      "dtc.permanent = [\"P0420\"]\n"
      "negative_response = 22\n"
      "vin = \"WVWZZZ1JZXW00000\\u0000\"\n"
      "cal_ids = [\"CAL-1\", \"SIXTEEN-CHARS-ID\"]\n"
      "cvns = [\"DE AD BE EF\", \"01 02 03 04\", \"A5 5A 00 FF\"]\n"
      "ipt = [0, 1, 65535]\n"
      "monitors = \"01 02 03\"\n"
      "supported = \"FF FF FF FF FF FF FF FF FF FF FF FF FF FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\"\n"
      "freeze_supported = \"80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
      "00 01\"\n"
      "info_types = \"55 40 00 00\"\n"
      "address = \"28\"\n"
      "can_address = \"F1\"\n"
      "o2_sensors = \"03\"\n"
      "pid.41 = \"00 01 02 03\"\n"
      "pid.4F = \"10 20 30 40\"\n"
      "pid.50 = \"05 00 00 00\"\n"
      "pid.70 = \"01 02 03 04 05 06 07 08 09 0A\"\n"
      "pid.03 = \"02 00\"\n"
      "rpm = 1234.5\n"
      "pid.1C = \"06\"\n"
      "speed = { from = 10, to = 90, wave = \"walk\", period = 12.5 }\n"
      "tests = [\n"
      "  \"01 01 0A 0E66 0CCD 1000\",\n"
      "]\n"
      "answers = [\n"
      "  { request = \"22 F1 90\", answer = \"62 F1 90 01\" },\n"
      "]\n"
      "answer_delay = 5\n";
  ASSERT_EQ(Load(Write("every_key.toml", "ecus = 2\n\n[ecu.1]\n\n" + ecu)), "");
  EXPECT_EQ(FirstDifference(ecu, EcuSection(Text(Save()), 2)), "");
  // The ECU left alone is the built-in one.
  ASSERT_EQ(Load(Write("defaults.toml", "ecus = 2\n")), "");
  const std::string builtIn = EcuSection(Text(Save()), 1);
  ASSERT_EQ(Load(Write("every_key.toml", "ecus = 2\n\n" + ecu)), "");
  EXPECT_EQ(FirstDifference(builtIn, EcuSection(Text(Save()), 1)), "");
}

// Each kind of value an ECU key takes refuses what does not fit, in the key's own words, at the
// value (or the key) that is wrong, loaded and set alike.
TEST_F(VehicleFile, EcuKeysRefuseWhatDoesNotFitInTheirOwnWords) {
  const std::string twentyOne = "[0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0]";
  const std::string thirtyThree = "\"" + [] {
    std::string bytes;
    for (int i = 0; i < 33; ++i) bytes += "00";
    return bytes;
  }() + "\"";
  const struct {
    std::string line;  // in [ecu.1], on line 2
    const char* error;
  } cases[] = {
      {"name = 5", "2:8: expected a text in quotes"},
      {"name = \"ABCDEFGHIJKLMNOPQRSTU\"", "2:8: longer than 20 characters"},
      {"lamp = 1", "2:8: expected true or false"},
      {"dtc = \"P0301\"", "2:7: expected dtc.confirmed, dtc.pending or dtc.permanent"},
      {"dtc.stored = []", "2:5: unknown key 'dtc.stored'"},
      {"dtc.pending = 3", "2:15: expected codes such as \"P0301\" or [\"P0301\", \"P0420\"]"},
      {"dtc = { pending = [\"P0301\"], lamp = true }", "2:30: unknown key 'dtc.lamp'"},
      {"negative_response = 1.5", "2:21: expected a whole number from 0 to 99"},
      {"negative_response = 100", "2:21: value out of range: 100 (0 to 99)"},
      {"negative_response = 13", "2:21: value out of range: 13 (0, 10, 11, 12, 21, 22 or 78)"},
      {"vin = \"1234567890123456789\"", "2:7: longer than 17 characters"},
      {"cal_ids = \"ABC\"", "2:11: expected a list of up to 3 calibration IDs"},
      {"cal_ids = [\"A\", \"B\", \"C\", \"D\"]", "2:11: expected a list of up to 3 calibration IDs"},
      {"cal_ids = [\"A\", \"12345678901234567\"]", "2:17: longer than 16 characters"},
      {"cvns = [\"01 02 03\"]", "2:9: expected 4 bytes"},
      {"cvns = [1]", "2:9: expected hex bytes in quotes, such as \"1A F8\""},
      {"cvns = \"01 02 03 04\"", "2:8: expected a list of up to 3 verification numbers"},
      {"ipt = [1, 65536]", "2:11: value out of range: 65536 (0 to 65535)"},
      {"ipt = " + twentyOne, "2:7: expected a list of up to 20 counters"},
      {"monitors = \"07 FF\"", "2:12: expected 3 bytes"},
      {"monitors = \"07 FF FG\"", "2:12: not a hex byte: 'G'"},
      {"supported = \"\"", "2:13: expected 1 to 32 bytes"},
      {"supported = " + thirtyThree, "2:13: expected 1 to 32 bytes"},
      {"freeze_supported = \"FFF\"", "2:20: an odd number of hex digits"},
      {"info_types = \"FF\"", "2:14: expected 4 bytes"},
      {"address = \"00\"", "2:11: address 00 belongs to no ECU"},
      {"can_address = \"E8 E9\"", "2:15: expected 1 bytes"},
      {"o2_sensors = 3", "2:14: expected hex bytes in quotes, such as \"1A F8\""},
      {"pid = 5", "2:7: expected pid.XX = \"hex bytes\""},
      {"pid.41 = \"00 07\"", "2:10: expected 4 bytes"},
      {"pid.06 = \"80 80 80\"", "2:10: expected 1 to 2 bytes"},
      {"pid.G1 = \"00\"", "2:5: not a PID whose bytes can be given: 'G1'"},
      {"pid.01 = \"00\"", "2:5: not a PID whose bytes can be given: '01'"},
  };
  for (const auto& c : cases) {
    const std::string path = Write("bad.toml", "[ecu.1]\n" + c.line + "\n");
    EXPECT_EQ(Load(path), path + ":" + c.error) << c.line;
  }
  // "set" says the same without the place.
  EXPECT_EQ(Set("ecu.1.dtc.stored", "P0301"), "set ecu.1.dtc.stored: unknown key 'dtc.stored'");
  EXPECT_EQ(Set("ecu.1.address", "00"), "set ecu.1.address: address 00 belongs to no ECU");
  EXPECT_EQ(Set("ecu.1.cal_ids", "A,B,C,D"), "set ecu.1.cal_ids: expected a list of up to 3 calibration IDs");
  EXPECT_EQ(Set("ecu.1.pid.41", "00 07"), "set ecu.1.pid.41: expected 4 bytes");
  EXPECT_EQ(Data(1, 0x41, 0), "41410007FFFF") << "a refused value changed the car";
}

// An ECU's periodic frames: saved back as written (only where it has some), each mistake said
// where it is.
TEST_F(VehicleFile, BroadcastsLoadSaveBackAndRefuseMistakesWhereTheyAre) {
  const std::string broadcast =
      "broadcast = [\n"
      "  { id = \"3E9\", period = 100, data = \"01 02 03 04 05 06 07 08\" },\n"
      "  { id = \"18FEF100\", period = 60000, value = \"rpm\" },\n"
      "]\n";
  ASSERT_EQ(Load(Write("broadcast.toml", "[ecu.2]\n" + broadcast)), "");
  const std::string saved = EcuSection(Text(Save()), 2);
  EXPECT_NE(saved.find(broadcast), std::string::npos) << saved;
  EXPECT_EQ(EcuSection(Text(Save()), 1).find("broadcast"), std::string::npos);

  const struct {
    const char* line;  // in [ecu.1], on line 2
    const char* error;
  } cases[] = {
      {"broadcast = 5", "2:13: expected a list of { id = \"..\", period = MS, data = \"..\" }"},
      {"broadcast = [{ id = \"7E\", period = 100, data = \"00\" }]", "2:21: expected an identifier of 3 hex digits (11 bits, up to 7FF) or 8 (29 bits)"},
      {"broadcast = [{ id = \"800\", period = 100, data = \"00\" }]", "2:21: expected an identifier of 3 hex digits (11 bits, up to 7FF) or 8 (29 bits)"},
      {"broadcast = [{ id = \"20000000\", period = 100, data = \"00\" }]", "2:21: expected an identifier of 3 hex digits (11 bits, up to 7FF) or 8 (29 bits)"},
      {"broadcast = [{ id = \"7E0\", period = 9, data = \"00\" }]", "2:37: expected a period from 10 to 60000 ms"},
      {"broadcast = [{ id = \"7E0\", period = 10, data = \"00 11 22 33 44 55 66 77 88\" }]", "2:48: expected 1 to 8 bytes"},
      {"broadcast = [{ id = \"7E0\", period = 10, data = \"0G\" }]", "2:48: not a hex byte: 'G'"},
      {"broadcast = [{ id = \"7E0\", period = 10, value = \"warp\" }]", "2:49: expected the name of a value such as \"speed\" or \"rpm\""},
      {"broadcast = [{ id = \"7E0\", period = 10 }]", "2:14: give either data or value"},
      {"broadcast = [{ id = \"7E0\", data = \"00\" }]", "2:14: a broadcast needs its id and period"},
      {"broadcast = [{ id = \"7E0\", period = 10, data = \"00\", every = 1 }]", "2:62: unknown key 'every' (id, period, data, value)"},
  };
  for (const auto& c : cases) {
    const std::string path = Write("bad.toml", std::string("[ecu.1]\n") + c.line + "\n");
    EXPECT_EQ(Load(path), path + ":" + c.error) << c.line;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The diagnostic server's section

namespace {

// ECU ecuIdx's answer on CAN to a request given in hex, its lines run together ("" for none).
std::string UdsAnswer(uint8_t ecuIdx, const std::string& hex) {
  uint8_t request[64];
  size_t n = 0;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) request[n++] = static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16));
  EmuEcuAnswer answer;
  if (!emu_VehicleAnswerRequest(request, static_cast<uint8_t>(n), ecuIdx, true, &answer)) return "";
  std::string text;
  for (uint8_t i = 0; i < answer.length; ++i) text += Hex(answer.data[i]);
  return text;
}

}  // namespace

TEST_F(VehicleFile, TheUdsExampleServesWhatItsFileSaysAndSavesBackUnchanged) {
  ASSERT_EQ(Load(Example("uds_ecu.toml")), "");
  EXPECT_EQ(UdsAnswer(0, "1003"), "5003003201F4");
  EXPECT_EQ(UdsAnswer(0, "2701"), "67011234");
  EXPECT_EQ(UdsAnswer(0, "2702EDCB"), "6702");
  EXPECT_EQ(UdsAnswer(0, "22F40C"), "62F40C0CD0");  // 820 rpm
  EXPECT_EQ(UdsAnswer(0, "22F188"), "7F2278" "62F188504458" "2D312E30");
  EXPECT_EQ(UdsAnswer(0, "1902FF"), "5902FF030100AB");
  EXPECT_EQ(UdsAnswer(0, "31010203"), "71010203");
  const std::string first = Save("first.toml");
  ASSERT_EQ(Load(first), "");
  EXPECT_EQ(FirstDifference(Text(first), Text(Save("second.toml"))), "");
  // A car put in anew starts in the default session, locked.
  EXPECT_EQ(UdsAnswer(0, "2701"), "7F277F");
  // The default car writes no section.
  ASSERT_EQ(Load(Example("default.toml")), "");
  EXPECT_EQ(Count(Text(Save()), "uds"), 0u);
}

TEST_F(VehicleFile, WritesThroughTheServerAreKeptBySaveAndLoadedBack) {
  ASSERT_EQ(Load(Example("uds_ecu.toml")), "");
  ASSERT_EQ(UdsAnswer(0, "1003"), "5003003201F4");
  ASSERT_EQ(UdsAnswer(0, "2701"), "67011234");
  ASSERT_EQ(UdsAnswer(0, "2702EDCB"), "6702");
  EXPECT_EQ(UdsAnswer(0, "2E010007"), "6E0100");
  // A new VIN: 17 characters, "PDXUDS00000000099".
  std::string vin;
  for (char c : std::string("PDXUDS00000000099")) vin += Hex(static_cast<uint8_t>(c));
  EXPECT_EQ(UdsAnswer(0, "2EF190" + vin), "6EF190");
  EXPECT_EQ(UdsAnswer(0, "2EF40C1F40"), "6EF40C");  // 2000 rpm
  const std::string saved = Text(Save());
  EXPECT_NE(saved.find("bytes = \"07\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("vin = \"PDXUDS00000000099\""), std::string::npos) << saved;
  ASSERT_EQ(Load(Example("uds_ecu.toml")), "");
  EXPECT_EQ(UdsAnswer(0, "220100"), "62010005");
  ASSERT_EQ(Load(Save("again.toml")), "");  // the example's own values saved again: unchanged
  std::ofstream((dir_ / "written.toml").string()) << saved;
  ASSERT_EQ(Load((dir_ / "written.toml").string()), "");
  EXPECT_EQ(UdsAnswer(0, "220100"), "62010007");
  EXPECT_EQ(UdsAnswer(0, "22F190"), "62F190" + vin);
  EXPECT_EQ(Data(0x01, 0x0C, 0), "410C1F40");
}

TEST_F(VehicleFile, TheUdsSectionTurnsOnBySetAndRefusesMistakesWhereTheyAre) {
  EXPECT_EQ(UdsAnswer(0, "1003"), "");
  ASSERT_EQ(Set("ecu.1.uds.enabled", "true"), "");
  EXPECT_EQ(UdsAnswer(0, "1003"), "5003003201F4");
  EXPECT_EQ(UdsAnswer(0, "22F190"), "7F2231");  // no DIDs yet
  EXPECT_EQ(UdsAnswer(1, "1003"), "");          // the other ECU stays as it was
  const struct {
    std::string text;  // after [ecu.1.uds] on line 1
    const char* error;
  } cases[] = {
      {"enabled = 1\n", "2:11: expected true or false"},
      {"s3 = 50\n", "2:6: expected a whole number from 100 to 600000"},
      {"colour = 1\n", "2:10: unknown key 'colour' (enabled, p2, p2_star, s3, did, security, routine)"},
      {"[[ecu.1.uds.did]]\nid = \"F1\"\nbytes = \"00\"\n", "3:6: expected 2 hex bytes"},
      {"[[ecu.1.uds.did]]\nid = \"F190\"\n", "2:1: a DID needs bytes, item or vin"},
      {"[[ecu.1.uds.did]]\nid = \"F190\"\nitem = \"warp\"\n", "4:8: expected the name of a value of the car, such as \"rpm\""},
      {"[[ecu.1.uds.did]]\nid = \"0100\"\nbytes = \"00\"\n[[ecu.1.uds.did]]\nid = \"0100\"\nbytes = \"01\"\n",
       "5:1: a second did of the same id"},
      {"[[ecu.1.uds.security]]\nlevel = 1\nseed = \"dice\"\n", "4:8: expected \"fixed\", \"counter\" or \"random\""},
      {"[[ecu.1.uds.security]]\nlevel = 1\nkey = \"table\"\n", "2:1: key = \"table\" needs its pairs"},
      {"[[ecu.1.uds.security]]\nlevel = 1\nseed_value = \"01 02 03 04 05\"\n", "4:14: more than 4 bytes"},
      {"[[ecu.1.uds.routine]]\nrun = 5\n", "2:1: a routine needs its id"},
  };
  for (const auto& c : cases) {
    const std::string path = Write("bad.toml", "[ecu.1.uds]\n" + c.text);
    EXPECT_EQ(Load(path), path + ":" + c.error) << c.text;
  }
  EXPECT_EQ(UdsAnswer(0, "1003"), "5003003201F4");  // nothing changed
}
