// Service 06 and the request/answer tables byte for byte through the ELM327 v1.5 personality:
// the built-in car's test results on CAN (11 and 29 bit), the K-line and J1850; table entries
// answered single-frame, multi-frame, negative, 78 then the answer, by wildcard, per ECU, under
// physical addressing and the receive filter; the vehicle file's sections and their mistakes,
// the example with manufacturer requests, and a captured session turned into table entries.
#include <filesystem>
#include <fstream>
#include <memory>

#include "vehicle/capture_import.h"
#include "vehicle/file_reader.h"
#include "vehicle/vehicle_file.h"
#include "tests/simulator/elm_adapter.h"
#include "tests/support/fifo_reader.h"

namespace {

using namespace elm_test;
namespace fs = std::filesystem;

// A K-line (ISO 14230-4) message with headers on: format byte with the length, tester, ECU 10,
// the data and the byte sum.
std::string KwpLine(const std::vector<uint8_t>& data, uint8_t ecu = 0x10) {
  std::vector<uint8_t> message = {static_cast<uint8_t>(0x80 | data.size()), 0xF1, ecu};
  message.insert(message.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : message) sum = static_cast<uint8_t>(sum + b);
  message.push_back(sum);
  return Hex(message);
}

// The manufacturer requests of two ECUs: ECU 1 answers the VIN over several frames, its serial
// number in one, codes by wildcard (all of them, and status mask FF on its own), an extended
// session after a response-pending 78, and refuses a security seed; both answer the serial number
// request; only ECU 2 answers 21 01.
const char* const TWO_ECU_TABLE = R"(
ecus = 2
[ecu.1]
answers = [
  { request = "22 F1 90", answer = "62 F1 90 50 44 58 4D 46 52 52 45 51 30 30 30 30 30 31 39 30" },
  { request = "22F18C", answer = "62 F1 8C 31 32 33 34" },
  { request = "19 02 *", answer = "59 02 FF" },
  { request = "19 02 FF", answer = "59 02 FF 01 23 45 08" },
  { request = "10 03", negative = "78", delay = 40, then = "50 03 00 32 01 F4" },
  { request = "27 01", negative = "22" },
]
[ecu.2]
answers = [
  { request = "22 F1 8C", answer = "62 F1 8C 39 38" },
  { request = "21 01", answer = "61 01 0A 0B" },
]
)";

class Tables : public ElmAdapter {
 protected:
  void SetUp() override {
    ElmAdapter::SetUp();
    dir_ = fs::temp_directory_path() / ("padix_answer_table_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    Quiet();
  }
  void TearDown() override {
    fs::remove_all(dir_);
    ElmAdapter::TearDown();
  }

  std::string Write(const std::string& name, const std::string& text) const {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  // "" when the text loads as a vehicle file, else the error.
  std::string LoadText(const std::string& text) const {
    std::string error;
    return emu_LoadVehicleFile(Write("car.toml", text).c_str(), &error) == 0 ? "" : error;
  }

  fs::path dir_;
};

const std::string NO_DATA = Lines({"NO DATA"});
// 22 F190 answered with the VIN PDXMFRREQ00000190: 20 bytes in three frames.
const std::string VIN_FRAMES =
    Lines({"014 ", "0: 62 F1 90 50 44 58 ", "1: 4D 46 52 52 45 51 30 ", "2: 30 30 30 30 31 39 30 "});

// ---------------------------------------------------------------------------------------------
// Service 06

TEST_F(Tables, TestResultsOnCanByMonitorId) {
  ExpectOk("ATSP6");
  // Only the engine ECU has results; ranges chain up to A0, where the misfire monitors are.
  const std::pair<const char*, const char*> ranges[] = {
      {"0600", "46 00 C8 00 00 01 "}, {"0620", "46 20 80 00 80 01 "}, {"0640", "46 40 00 00 00 01 "},
      {"0660", "46 60 00 00 00 01 "}, {"0680", "46 80 00 00 00 01 "}, {"06A0", "46 A0 F8 00 00 00 "},
      {"06C0", nullptr},           {"06E0", nullptr}};
  for (const auto& [request, answer] : ranges)
    EXPECT_EQ(Ask(request), answer != nullptr ? Lines({answer}) : NO_DATA) << request;
  // Three results of oxygen sensor 1: 26 bytes in four frames.
  EXPECT_EQ(Ask("0601"), Lines({"01A ", "0: 46 01 01 0A 0E 66 ", "1: 0C CD 10 00 02 0A 0F ",
                                "2: 5C 0E 00 11 00 05 10 ", "3: 00 46 00 00 00 96 00 "}));
  EXPECT_EQ(Ask("06A2"), Lines({"012 ", "0: 46 A2 0B 24 00 00 ", "1: 00 00 FF FF 0C 24 00 ",
                                "2: 02 00 00 FF FF 00 00 "}));
  EXPECT_EQ(Ask("0603"), NO_DATA);  // no result for this monitor
  ExpectOk("ATH1");
  EXPECT_EQ(Ask("0600"), Lines({"7E8 06 46 00 C8 00 00 01 00 "}));
  EXPECT_EQ(Ask("0601"), Lines({"7E8 10 1A 46 01 01 0A 0E 66 ", "7E8 21 0C CD 10 00 02 0A 0F ",
                                "7E8 22 5C 0E 00 11 00 05 10 ", "7E8 23 00 46 00 00 00 96 00 "}));
  ExpectOk("ATSP7");
  EXPECT_EQ(Ask("06A0"), Lines({"18 DA F1 10 06 46 A0 F8 00 00 00 00 "}));
  EXPECT_EQ(Ask("0621"), Lines({"18 DA F1 10 10 0A 46 21 80 01 00 62 ", "18 DA F1 10 21 00 00 00 90 00 00 00 "}));
  ExpectOk("ATH0");
  EXPECT_EQ(Ask("0620"), Lines({"46 20 80 00 80 01 "}));
  EXPECT_EQ(Ask("0621"), Lines({"00A ", "0: 46 21 80 01 00 62 ", "1: 00 00 00 90 00 00 00 "}));
}

// Off CAN the tester asks per test ID and each result is a message with one limit: the maximum
// (component ID with bit 7 set), and the minimum when it is not 0. The misfire monitors (MIDs
// from 80 on) and results whose TID is a range ID are not there.
TEST_F(Tables, TestResultsOnTheKLineAndJ1850ByTestId) {
  ExpectOk("ATSP5");
  EXPECT_EQ(Ask("0600"), "BUS INIT: ...OK\r" + Lines({"46 00 CA 00 00 01 "}));
  for (const char* range : {"0620", "0640", "0660"}) EXPECT_EQ(Ask(range), Lines({Hex({0x46, static_cast<uint8_t>(strtol(range + 2, nullptr, 16)), 0, 0, 0, 1})})) << range;
  EXPECT_EQ(Ask("0680"), Lines({"46 80 80 00 00 00 "}));
  EXPECT_EQ(Ask("06A0"), NO_DATA);
  EXPECT_EQ(Ask("0601"), Lines({"46 01 81 0E 66 10 00 ", "46 01 01 0E 66 0C CD "}));
  EXPECT_EQ(Ask("0607"), Lines({"46 07 82 07 33 0C CD "}));
  ExpectOk("ATH1");
  EXPECT_EQ(Ask("0600"), Lines({KwpLine({0x46, 0x00, 0xCA, 0x00, 0x00, 0x01})}));
  EXPECT_EQ(Ask("0681"), Lines({KwpLine({0x46, 0x81, 0x85, 0x01, 0x18, 0x03, 0xE8})}));
  ExpectOk("ATSP1");
  EXPECT_EQ(Ask("0600"), Lines({J1850Line({0x41, 0x6B, 0x10, 0x46, 0x00, 0xCA, 0x00, 0x00, 0x01})}));
  EXPECT_EQ(Ask("0601"), Lines({J1850Line({0x41, 0x6B, 0x10, 0x46, 0x01, 0x81, 0x0E, 0x66, 0x10, 0x00}),
                                J1850Line({0x41, 0x6B, 0x10, 0x46, 0x01, 0x01, 0x0E, 0x66, 0x0C, 0xCD})}));
  ExpectOk("ATH0");
  EXPECT_EQ(Ask("0605"), Lines({"46 05 81 00 46 00 96 "}));
}

// More results of one test ID than an answer holds: as many whole messages as fit (29).
TEST_F(Tables, ManyResultsOfOneTestIdOffCanStopAtWholeMessages) {
  std::string tests = "[ecu.1]\ntests = [";
  for (int mid = 1; mid <= 40; ++mid) {
    if (mid % 0x20 == 0) continue;
    char line[40];
    snprintf(line, sizeof line, "\"%02X 01 0A 0100 0001 0200\", ", mid);
    tests += line;
  }
  ASSERT_EQ(LoadText(tests + "]\n"), "");
  ExpectOk("ATSP5");
  ExpectOk("ATH1");
  const std::string answer = Ask("0601");
  std::vector<std::string> expected = {"BUS INIT: ...OK"};
  const size_t fit = EMU_ANSWER_MAX_BYTES / 7;
  for (uint8_t mid = 1; expected.size() <= fit; ++mid) {
    expected.push_back(KwpLine({0x46, 0x01, static_cast<uint8_t>(mid | 0x80), 0x01, 0x00, 0x02, 0x00}));
    expected.push_back(KwpLine({0x46, 0x01, mid, 0x01, 0x00, 0x00, 0x01}));
  }
  expected.resize(1 + fit);
  std::string text;
  for (const std::string& line : expected) text += line + "\r";
  EXPECT_EQ(answer, text + "\r>");
}

// ---------------------------------------------------------------------------------------------
// The request/answer table

TEST_F(Tables, EntriesAnswerAsTheVehicleDoesOnCan) {
  ASSERT_EQ(LoadText(TWO_ECU_TABLE), "");
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("22F190"), VIN_FRAMES);
  EXPECT_EQ(Ask("22F18C"), Lines({"62 F1 8C 31 32 33 34 ", "62 F1 8C 39 38 "}));
  EXPECT_EQ(Ask("22F18C1"), Lines({"62 F1 8C 31 32 33 34 "}));  // one answer awaited
  EXPECT_EQ(Ask("190208"), Lines({"59 02 FF "}));               // the wildcard
  EXPECT_EQ(Ask("1902FF"), Lines({"59 02 FF 01 23 45 08 "}));   // the exact entry before it
  EXPECT_EQ(Ask("1902"), Lines({"59 02 FF "}));                 // nothing after the prefix
  EXPECT_EQ(Ask("19"), NO_DATA);                                // shorter than the prefix
  EXPECT_EQ(Ask("1003"), Lines({"7F 10 78 ", "50 03 00 32 01 F4 "}));
  EXPECT_EQ(Ask("2701"), Lines({"7F 27 22 "}));
  EXPECT_EQ(Ask("2101"), Lines({"61 01 0A 0B "}));  // ECU 2's entry only
  EXPECT_EQ(Ask("22F191"), NO_DATA);
  // The vehicle's own answers come first and stay as they were.
  EXPECT_EQ(Ask("0100"), Lines({"41 00 FF FF FF F7 ", "41 00 B7 80 00 01 "}));

  // Physical addressing and the receive filter.
  ExpectOk("ATSH7E0");
  EXPECT_EQ(Ask("2101"), NO_DATA);
  EXPECT_EQ(Ask("22F18C"), Lines({"62 F1 8C 31 32 33 34 "}));
  ExpectOk("ATSH7E1");
  EXPECT_EQ(Ask("2101"), Lines({"61 01 0A 0B "}));
  ExpectOk("ATSH7DF");
  ExpectOk("ATCRA7E8");
  EXPECT_EQ(Ask("22F18C"), Lines({"62 F1 8C 31 32 33 34 "}));
  EXPECT_EQ(Ask("2101"), NO_DATA);
  ExpectOk("ATCRA");

  ExpectOk("ATH1");
  EXPECT_EQ(Ask("1003"), Lines({"7E8 03 7F 10 78 00 00 00 00 ", "7E8 06 50 03 00 32 01 F4 00 "}));
  EXPECT_EQ(Ask("22F190"), Lines({"7E8 10 14 62 F1 90 50 44 58 ", "7E8 21 4D 46 52 52 45 51 30 ",
                                  "7E8 22 30 30 30 30 31 39 30 "}));
  ExpectOk("ATSP7");
  ExpectOk("ATSH DB33F1");
  EXPECT_EQ(Ask("2101"), Lines({"18 DA F1 18 04 61 01 0A 0B 00 00 00 "}));
  ExpectOk("ATSH DA10F1");
  EXPECT_EQ(Ask("22F18C"), Lines({"18 DA F1 10 07 62 F1 8C 31 32 33 34 "}));
}

// Off CAN a long answer goes out as messages of 7 data bytes, each with its header and check.
TEST_F(Tables, EntriesAnswerOnTheKLineAndJ1850) {
  ASSERT_EQ(LoadText(TWO_ECU_TABLE), "");
  ExpectOk("ATSP5");
  ExpectOk("ATH1");
  EXPECT_EQ(Ask("22F190"), "BUS INIT: ...OK\r" + Lines({KwpLine({0x62, 0xF1, 0x90, 0x50, 0x44, 0x58, 0x4D}),
                                                        KwpLine({0x46, 0x52, 0x52, 0x45, 0x51, 0x30, 0x30}),
                                                        KwpLine({0x30, 0x30, 0x30, 0x31, 0x39, 0x30})}));
  EXPECT_EQ(Ask("2101"), Lines({KwpLine({0x61, 0x01, 0x0A, 0x0B}, 0x18)}));
  ExpectOk("ATSH C1 33 F1");  // functional: both ECUs
  EXPECT_EQ(Ask("22F18C"), Lines({KwpLine({0x62, 0xF1, 0x8C, 0x31, 0x32, 0x33, 0x34}), KwpLine({0x62, 0xF1, 0x8C, 0x39, 0x38}, 0x18)}));
  ExpectOk("ATSH C1 18 F1");  // physical: ECU 2 alone
  EXPECT_EQ(Ask("22F18C"), Lines({KwpLine({0x62, 0xF1, 0x8C, 0x39, 0x38}, 0x18)}));
  ExpectOk("ATSP2");
  ExpectOk("ATSH 68 6A F1");
  EXPECT_EQ(Ask("1003"), Lines({J1850Line({0x48, 0x6B, 0x10, 0x7F, 0x10, 0x78}),
                                J1850Line({0x48, 0x6B, 0x10, 0x50, 0x03, 0x00, 0x32, 0x01, 0xF4})}));
  ExpectOk("ATH0");
  EXPECT_EQ(Ask("2701"), Lines({"7F 27 22 "}));
}

// An ECU slower than the adapter's time-out (ATST, 200 ms by default) is not waited for; after a
// 78 it is, however long it takes.
TEST_F(Tables, AnAnswerSlowerThanTheTimeOutIsNotWaitedFor) {
  ASSERT_EQ(LoadText("[ecu.1]\nanswers = [{ request = \"21 01\", answer = \"61 01\", delay = 300 },"
                     " { request = \"10 03\", negative = \"78\", delay = 3000, then = \"50 03\" }]\n"
                     "[ecu.2]\nanswers = [{ request = \"21 01\", answer = \"61 01 02\", delay = 200 }]\n"),
            "");
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("2101"), Lines({"61 01 02 "}));
  EXPECT_EQ(Ask("1003"), Lines({"7F 10 78 ", "50 03 "}));
  ExpectOk("ATST 4B");  // 300 ms
  EXPECT_EQ(Ask("2101"), Lines({"61 01 ", "61 01 02 "}));
  ExpectOk("ATST 31");  // 196 ms
  EXPECT_EQ(Ask("2101"), NO_DATA);
}

// Replacing an entry again and again (importing one capture twice, say) never fills the table:
// the replaced answers' bytes are given back; only bytes in use count.
TEST(AnswerTable, ReplacedAnswersGiveTheirBytesBack) {
  auto v = std::make_unique<EmuVehicle>();
  emu_VehicleSetDefaults(*v);
  std::vector<uint8_t> bytes(EMU_TABLE_MAX_MESSAGE);
  EmuTableEntry e{};
  e.requestLength = 2;
  const char* error = nullptr;
  for (int round = 0; round < 100; ++round) {
    for (uint8_t ecu : {0, 1}) {
      e.ecuIdx = ecu;
      e.request[0] = 0x22, e.request[1] = static_cast<uint8_t>(round % 3);
      bytes[0] = static_cast<uint8_t>(round);
      ASSERT_TRUE(emu_TableAdd(*v, e, {bytes.data(), EMU_TABLE_MAX_MESSAGE, 0}, {nullptr, 0, 0}, &error))
          << "round " << round << ": " << error;
    }
  }
  ASSERT_EQ(v->table.noOfEntries, 6);
  for (const EmuTableEntry& entry : std::vector<EmuTableEntry>(v->table.entry, v->table.entry + 6))
    EXPECT_GE(v->table.pool[entry.answer.at], 97) << "an entry lost its last answer";
  // Bytes in use do count: beside the six entries, as many more as the rest of the pool holds.
  int added = 0;
  for (uint8_t n = 0; n < 100; ++n, ++added) {
    e.request[1] = static_cast<uint8_t>(0x10 + n);
    if (!emu_TableAdd(*v, e, {bytes.data(), EMU_TABLE_MAX_MESSAGE, 0}, {nullptr, 0, 0}, &error)) break;
  }
  EXPECT_EQ(added, static_cast<int>((EMU_TABLE_POOL_BYTES - 6 * EMU_TABLE_MAX_MESSAGE) / EMU_TABLE_MAX_MESSAGE));
  EXPECT_STREQ(error, "more than 16384 answer bytes in the vehicle");
}

TEST_F(Tables, MistakesInTheNewSectionsNameTheirPlace) {
  const std::pair<const char*, const char*> cases[] = {
      {"[ecu.1]\nanswers = [{ request = \"22 F1 9\", answer = \"62\" }]", "car.toml:2:24: an odd number of hex digits"},
      {"[ecu.1]\nanswers = [{ request = \"22 * F1\", answer = \"62\" }]", "car.toml:2:24: not a hex byte: '*'"},
      {"[ecu.1]\nanswers = [{ request = \"22 F1 90\" }]", "car.toml:2:12: give either answer or negative"},
      {"[ecu.1]\nanswers = [{ request = \"10 03\", answer = \"50 03\", then = \"50 03\" }]",
       "car.toml:2:12: then follows only negative = \"78\""},
      {"[ecu.1]\nanswers = [{ request = \"10 03\", negative = \"00\" }]", "car.toml:2:44: expected a negative response code"},
      {"[ecu.1]\nanswers = [{ request = \"01 02 03 04 05 06 07 08 09\", answer = \"41\" }]", "car.toml:2:24: more than 8 bytes"},
      {"[ecu.1]\nanswers = [{ request = \"10 03\", answer = \"50\", dleay = 5 }]", "car.toml:2:56: unknown key 'dleay'"},
      {"[ecu.1]\ntests = [\"20 01 0A 0000 0000 0000\"]", "car.toml:2:10: MID 20 is a range of MIDs"},
      {"[ecu.1]\ntests = [\"01 01 0A 0000 0000\"]", "car.toml:2:10: expected 9 bytes"},
  };
  for (const auto& [text, error] : cases) {
    const std::string got = LoadText(text);
    EXPECT_EQ(got.rfind(fs::path(dir_ / error).string(), 0), 0u) << text << "\n  got: " << got;
  }
  // The car is as it was: the built-in results, no table.
  EXPECT_EQ(Ask("0600"), "SEARCHING...\r" + Lines({"46 00 C8 00 00 01 "}));
}

// The example's manufacturer requests, and the file saved back with its sections intact.
TEST_F(Tables, TheManufacturerExampleAnswersAndSavesBack) {
  const fs::path example = fs::path(__FILE__).parent_path().parent_path().parent_path() / "examples" / "vehicles" /
                           "manufacturer_requests.toml";
  std::string error;
  ASSERT_EQ(emu_LoadVehicleFile(example.c_str(), &error), 0) << error;
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("22F190"), VIN_FRAMES);
  EXPECT_EQ(Ask("22F18C"), Lines({"00D ", "0: 62 F1 8C 53 4E 2D ", "1: 30 30 34 32 31 37 35 "}));
  EXPECT_EQ(Ask("1902FF"), Lines({"00B ", "0: 59 02 FF 01 23 45 ", "1: 2F 04 20 00 08 00 00 "}));
  EXPECT_EQ(Ask("1003"), Lines({"7F 10 78 ", "50 03 00 32 01 F4 "}));
  EXPECT_EQ(Ask("1001"), Lines({"50 01 00 32 01 F4 "}));
  EXPECT_EQ(Ask("2EF190"), Lines({"7F 2E 33 "}));  // anything else of service 2E by wildcard
  const std::string saved = (dir_ / "saved.toml").string();
  ASSERT_EQ(emu_SaveVehicleFile(saved.c_str(), &error), 0) << error;
  emu_VehicleInit();
  EXPECT_EQ(Ask("22F18C"), NO_DATA);
  ASSERT_EQ(emu_LoadVehicleFile(saved.c_str(), &error), 0) << error;
  EXPECT_EQ(Ask("1003"), Lines({"7F 10 78 ", "50 03 00 32 01 F4 "}));
  EXPECT_EQ(Ask("2EF190"), Lines({"7F 2E 33 "}));
}

// ---------------------------------------------------------------------------------------------
// Capture to table

// A traffic log of a session against a real adapter on CAN with headers on: each answer goes to
// the ECU that sent it, frames put together (also with their length digit shown), a 78 with what
// followed; a sender the vehicle has no ECU for is left out and named.
TEST_F(Tables, ATrafficLogBecomesTableEntries) {
  const std::string log = Write("session.log", R"(# Padix traffic log: milliseconds since start, sender (tester or module), bytes
      10.000 tester ATZ<0D>
      12.000 module ATZ<0D><0D><0D>ELM327 v1.5<0D><0D>>
      20.000 tester ATH1<0D>
      21.000 module ATH1<0D>OK<0D><0D>>
      30.000 tester 22F190<0D>
      80.000 module 22F190<0D>SEARCHING...<0D>7E8 10 14 62 F1 90 50 44 58 <0D>7E8 21 4D 46 52 52 45 51 30 <0D>7E8 22 30 30 30 30 31 39 30 <0D><0D>>
      90.000 tester 1003<0D>
     100.000 module 1003<0D>7E8 03 7F 10 78 00 00 00 00 <0D>7E8 06 50 03 00 32 01 F4 00 <0D><0D>>
     110.000 tester 22F18C1<0D>
     120.000 module 22F18C1<0D>7E9 05 62 F1 8C 39 38 00 00 <0D><0D>>
     130.000 tester 2701<0D>
     140.000 module 2701<0D>7E8 03 7F 27 22 00 00 00 00 <0D>7F0 03 7F 27 11 00 00 00 00 <0D><0D>>
     150.000 tester 2102<0D>
     160.000 module 2102<0D>NO DATA<0D><0D>>
     170.000 tester ATD1<0D>
     171.000 module ATD1<0D>OK<0D><0D>>
     180.000 tester 3E00<0D>
     190.000 module 3E00<0D>7E8 8 02 7E 00 00 00 00 00 00 <0D><0D>>
)");
  std::string report;
  ASSERT_EQ(emu_ImportCapture(log.c_str(), &report), 5) << report;
  EXPECT_EQ(report, log + ": 5 answers taken; no ECU sends from 7F0, its answers left out");
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("22F190"), VIN_FRAMES);
  EXPECT_EQ(Ask("1003"), Lines({"7F 10 78 ", "50 03 00 32 01 F4 "}));
  EXPECT_EQ(Ask("22F18C"), Lines({"62 F1 8C 39 38 "}));
  EXPECT_EQ(Ask("2701"), Lines({"7F 27 22 "}));
  EXPECT_EQ(Ask("2102"), NO_DATA);
  EXPECT_EQ(Ask("3E00"), Lines({"7E 00 "}));  // captured with the frames' length digit shown
}

// A serial CAN adapter's traffic log: the tester's frames put together into requests (one of
// several frames too), the ECUs' into answers, each to the ECU whose identifier sent it, on 11
// and 29 bits, with time stamps or without; flow controls and a periodic frame answer nothing.
TEST_F(Tables, AFrameLogBecomesTableEntries) {
  auto frame = [](char kind, uint32_t id, std::vector<uint8_t> data, const char* stamp = "") {
    char text[64];
    int n = kind == 'T' ? snprintf(text, sizeof text, "T%08X%zu", id, data.size())
                        : snprintf(text, sizeof text, "t%03X%zu", id, data.size());
    for (uint8_t b : data) n += snprintf(text + n, sizeof text - static_cast<size_t>(n), "%02X", b);
    return std::string(text) + stamp + "<0D>";
  };
  std::string log = "# Padix traffic log: milliseconds since start, sender (tester or module), bytes\n";
  double ms = 10;
  auto entry = [&](const char* who, const std::string& bytes) {
    char at[32];
    snprintf(at, sizeof at, "%12.3f ", ms += 1.5);
    log += at + std::string(who) + " " + bytes + "\n";
  };
  for (const char* command : {"S6", "Z1", "O"}) entry("tester", std::string(command) + "<0D>"), entry("module", "<0D>");
  entry("tester", frame('t', 0x7E0, {0x03, 0x22, 0xF1, 0x90, 0x55, 0x55, 0x55, 0x55}));
  entry("module", "z<0D>" + frame('t', 0x7E8, {0x10, 0x14, 0x62, 0xF1, 0x90, 0x50, 0x44, 0x58}, "0010"));
  entry("module", frame('t', 0x3E9, {0x01, 0x02, 0x03}, "0011"));
  entry("tester", frame('t', 0x7E0, {0x30, 0x00, 0x00, 0x55, 0x55, 0x55, 0x55, 0x55}));
  entry("module", "z<0D>" + frame('t', 0x7E8, {0x21, 0x4D, 0x46, 0x52, 0x52, 0x45, 0x51, 0x30}, "0012") +
                      frame('t', 0x7E8, {0x22, 0x30, 0x30, 0x30, 0x30, 0x31, 0x39, 0x30}, "0013"));
  entry("tester", frame('t', 0x7E1, {0x10, 0x08, 0x2E, 0xF1, 0x90, 0x41, 0x42, 0x43}));
  entry("module", "z<0D>" + frame('t', 0x7E9, {0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "0020"));
  entry("tester", frame('t', 0x7E1, {0x21, 0x44, 0x45, 0x00, 0x00, 0x00, 0x00, 0x00}));
  entry("module", "z<0D>" + frame('t', 0x7E9, {0x03, 0x6E, 0xF1, 0x90, 0x00, 0x00, 0x00, 0x00}, "0021"));
  entry("tester", frame('T', 0x18DA10F1, {0x03, 0x22, 0xF1, 0x8C}));
  entry("module", "Z<0D>" + frame('T', 0x18DAF110, {0x05, 0x62, 0xF1, 0x8C, 0x39, 0x38}));
  const std::string path = Write("frames.log", log);
  std::string report;
  ASSERT_EQ(emu_ImportCapture(path.c_str(), &report), 3) << report << "\n" << log;
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("22F190"), VIN_FRAMES);
  EXPECT_EQ(Ask("22F18C"), Lines({"62 F1 8C 39 38 "}));
  const uint8_t write[] = {0x2E, 0xF1, 0x90, 0x41, 0x42, 0x43, 0x44, 0x45};
  EmuEcuAnswer answer;
  ASSERT_TRUE(emu_TableAnswer(write, sizeof write, 1, true, &answer));
  EXPECT_EQ(std::vector<uint8_t>(answer.data, answer.data + answer.length), (std::vector<uint8_t>{0x6E, 0xF1, 0x90}));
}

// A terminal transcript with headers off on the K-line: the lines of one answer are one message,
// which goes out again in messages of 7 (and in frames on CAN).
TEST_F(Tables, ATranscriptBecomesTableEntries) {
  const std::string transcript = Write("session.txt", R"(>ATZ

ELM327 v1.5

>ATSP5
OK

>22F190
BUS INIT: ...OK
62 F1 90 50 44 58 4D
46 52 52 45 51 30 30
30 30 30 31 39 30

>19 02 FF
7F 19 31

>
)");
  std::string report;
  ASSERT_EQ(emu_ImportCapture(transcript.c_str(), &report), 2) << report;
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("22F190"), VIN_FRAMES);
  EXPECT_EQ(Ask("1902FF"), Lines({"7F 19 31 "}));
  std::string error;
  EXPECT_EQ(emu_ImportCapture((dir_ / "missing.log").c_str(), &error), -1);
}

// A CAN answer whose frames came out of turn in the capture (one lost, one twice) is left out
// rather than taken with a hole in it; the answers around it are taken.
TEST_F(Tables, ACaptureWithAFrameOutOfTurnLeavesThatAnswerOut) {
  const std::string transcript = Write("gaps.txt", R"(>ATH1
OK
>22F18C
7E8 10 0A 62 F1 8C 31 32 33
7E8 22 34 35 36 37 00 00 00

>22F190
7E8 10 14 62 F1 90 50 44 58
7E8 21 4D 46 52 52 45 51 30
7E8 21 4D 46 52 52 45 51 30
7E8 22 30 30 30 30 31 39 30

>2101
7E8 10 09 61 01 0A 0B 0C 0D
7E8 21 0E 0F 00 00 00 00 00

)");
  std::string report;
  ASSERT_EQ(emu_ImportCapture(transcript.c_str(), &report), 1) << report;
  ExpectOk("ATSP6");
  EXPECT_EQ(Ask("2101"), Lines({"009 ", "0: 61 01 0A 0B 0C 0D ", "1: 0E 0F 00 00 00 00 00 "}));
  EXPECT_EQ(Ask("22F18C"), NO_DATA);
  EXPECT_EQ(Ask("22F190"), NO_DATA);
}

// A capture is read as a vehicle file is: a reason from the system when it cannot be (a folder
// read as empty and took nothing), and only a regular file within its limit.
TEST_F(Tables, ACaptureThatCannotBeReadSaysWhy) {
  const std::string missing = (dir_ / "missing.log").string(), folder = dir_.string();
  const std::string fifo = (dir_ / "fifo").string(), hole = (dir_ / "hole.log").string();
  MakeFifo(fifo);
  std::ofstream(hole).close();
  fs::resize_file(hole, EMU_CAPTURE_KIND.maxBytes + 1);  // a file with a hole: nothing is written
  const std::pair<std::string, std::string> cases[] = {
      {missing, "No such file or directory"},
      {folder, "Is a directory"},
      {"/dev/zero", "not a regular file"},
      {fifo, "not a regular file"},
      {hole, "larger than " + std::to_string(EMU_CAPTURE_KIND.maxBytes) + " bytes, the limit for a captured session"},
  };
  for (const auto& [path, why] : cases) {
    std::string report;
    int taken = 0;
    EXPECT_TRUE(ReturnsWithoutAWriter(fifo, [&] { taken = emu_ImportCapture(path.c_str(), &report); })) << path;
    EXPECT_EQ(taken, -1) << path;
    EXPECT_EQ(report, path + ": cannot read the file: " + why);
  }
}

// An answer longer than a table entry holds is refused as in a vehicle file, naming the line of
// its request, and the capture changes nothing; one of the most bytes is taken whole.
TEST_F(Tables, AnAnswerTooLongForTheTableIsRefusedNotCut) {
  // Headers off: the answer's lines are one message (`start`, then 4A up to `bytes`).
  auto offLines = [](const std::string& start, size_t bytes, size_t perLine) {
    std::string lines = start;
    for (size_t i = (start.size() + 1) / 3; i < bytes; ++i) lines += (i % perLine == 0 ? "\n" : " ") + std::string("4A");
    return lines + "\n";
  };
  // Headers on, CAN: first frame and consecutive frames of 7 bytes.
  auto canFrames = [](size_t bytes) {
    char line[64];
    snprintf(line, sizeof line, "7E8 1%X %02X 62 F1 90 4A 4A 4A\n", static_cast<unsigned>(bytes >> 8), static_cast<unsigned>(bytes & 0xFF));
    std::string frames = line;
    for (size_t sent = 6, n = 1; sent < bytes; sent += 7, ++n) {
      snprintf(line, sizeof line, "7E8 2%X 4A 4A 4A 4A 4A 4A 4A\n", static_cast<unsigned>(n & 0xF));
      frames += line;
    }
    return frames;
  };
  ExpectOk("ATSP6");
  const size_t most = EMU_TABLE_MAX_MESSAGE;
  const std::string head = ">ATZ\nELM327 v1.5\n>22F18C\n62 F1 8C 31\n";
  const std::string tooLong = ": the answer to 22F190 has " + std::to_string(most + 1) + " bytes, more than " + std::to_string(most);
  const struct {
    std::string capture;
    std::string error;  // after the file's name
  } cases[] = {
      {head + ">22F190\n" + offLines("62 F1 90", most + 1, 10), ":5" + tooLong},
      {head + ">ATH1\nOK\n>22F1901\n" + canFrames(most + 1), ":7" + tooLong},
      {head + ">1003\n7F 10 78\n" + offLines("50 03", most + 1, 1000),
       ":5: the answer to 1003 has " + std::to_string(most + 1) + " bytes, more than " + std::to_string(most)},
  };
  for (const auto& c : cases) {
    const std::string path = Write("long.txt", c.capture);
    std::string report;
    EXPECT_EQ(emu_ImportCapture(path.c_str(), &report), -1) << c.capture;
    EXPECT_EQ(report, path + c.error);
    EXPECT_EQ(Ask("22F18C"), NO_DATA) << "a refused capture changed the car";
  }
  // The vehicle file holds the same limit.
  std::string answer = "62 F1 90";
  for (size_t i = 3; i <= most; ++i) answer += " 4A";
  EXPECT_EQ(LoadText("[ecu.1]\nanswers = [{ request = \"22 F1 90\", answer = \"" + answer + "\" }]\n"),
            (dir_ / "car.toml").string() + ":2:45: more than 200 bytes");

  // The most bytes: taken whole, headers off and on.
  for (const std::string& capture :
       {head + ">22F190\n" + offLines("62 F1 90", most, 10), head + ">ATH1\nOK\n>22F190\n" + canFrames(most)}) {
    emu_VehicleInit();
    std::string report;
    ASSERT_EQ(emu_ImportCapture(Write("long.txt", capture).c_str(), &report), 2) << report;
    ExpectOk("ATH0");
    const std::string whole = Ask("22F190");
    EXPECT_EQ(whole.substr(0, 4), "0C8 ") << whole;
    size_t filled = 0;
    for (size_t at = whole.find("4A"); at != std::string::npos; at = whole.find("4A", at + 2)) ++filled;
    EXPECT_EQ(filled, most - 3) << whole;
  }
}

}  // namespace
