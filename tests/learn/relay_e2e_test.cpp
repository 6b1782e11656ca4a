// Standing between a client and a real adapter, end to end: a padix-headless serving a car as an
// ELM327 v1.5 stands for the real adapter, a second one relays a client to it (relay=DEVICE) with
// a traffic log. The client's session through the relay must be byte for byte the session
// straight to the adapter; the log, imported into a third run without the adapter, must give the
// session's answers again.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/simulator_on_port.h"

namespace {

const std::string ATI_ECHOED = "ATI\rELM327 v1.5\r\r>";

// The built-in car with manufacturer answers only a table gives: a data identifier over several
// frames, a session pending first, a refusal from the second ECU (asked with headers on only: with
// them off, an import cannot tell the ECUs apart).
const char* const REAL_CAR = R"(protocol = 6
[ecu.1]
answers = [
  { request = "22 F1 90", answer = "62 F1 90 50 44 58 4D 46 52 52 45 51 30 30 30 30 30 31 39 30" },
  { request = "10 03", negative = "78", then = "50 03 00 32 01 F4" },
]
[ecu.2]
answers = [{ request = "22 F1 8C", negative = "31" }]
)";

// A client's session as a scan tool sends it, headers on and then off.
const std::vector<std::string> SESSION = {"ATZ",  "ATE0", "ATL0",   "ATS1",   "ATH1", "ATSP0", "0100", "ATDPN",
                                          "010C", "0902", "03",     "22F190", "22F18C", "1003", "ATH0",  "0902", "22F190",
                                          "1003", "ATS0", "010C",   "0100",   "ATZ"};

std::string Shown(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '\r' ? std::string("\\r") : std::string(1, c);
  return out;
}

TEST(StandBetween, SessionPassesUnchangedIsLoggedAndReplaysFromTheImportedLog) {
  ScratchDir dir;
  const std::string carFile = dir.path + "/real.toml", log = dir.path + "/session.log";
  std::ofstream(carFile) << REAL_CAR;
  SimulatorOnPort real({"elm", "serve", "vehicle=" + carFile});
  ASSERT_TRUE(real.Serving(ATI_ECHOED));
  real.Close();  // the relay is the adapter's client now

  std::vector<std::string> relayed;
  {
    SimulatorOnPort relay({"serve", "relay=" + real.Where(), "log=" + log});
    ASSERT_TRUE(relay.Serving(ATI_ECHOED));
    for (const std::string& line : SESSION) relayed.push_back(relay.Ask(line));
  }

  ASSERT_TRUE(real.Reopen());
  ASSERT_EQ(real.Ask("ATI"), ATI_ECHOED);  // as the relayed session began
  std::vector<std::string> direct;
  for (size_t i = 0; i < SESSION.size(); ++i) {
    direct.push_back(real.Ask(SESSION[i]));
    EXPECT_EQ(relayed[i], direct[i]) << SESSION[i] << ": relayed " << Shown(relayed[i]);
  }
  EXPECT_NE(direct[11].find("7E8 10 14 62 F1 90"), std::string::npos) << Shown(direct[11]);

  // Without the adapter: the built-in car and the log's answers.
  SimulatorOnPort replay({"elm", "serve"});
  ASSERT_TRUE(replay.Serving(ATI_ECHOED));
  replay.Program().Send("import " + log);
  const std::string taken = replay.Program().WaitForErrLine(log + ": ");
  EXPECT_NE(taken.find("answers taken"), std::string::npos) << replay.Program().Err();
  for (size_t i = 0; i < SESSION.size(); ++i)
    EXPECT_EQ(replay.Ask(SESSION[i]), direct[i]) << SESSION[i] << ": direct " << Shown(direct[i]);
}

}  // namespace

namespace {

std::string ReadLog(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// With a vehicle file the relay answers what the file's car answers, in the adapter's settings of
// the moment, and passes on the rest: the adapter never hears those requests.
TEST(StandBetween, WithAVehicleFileWhatItAnswersStaysHere) {
  ScratchDir dir;
  const std::string carFile = dir.path + "/real.toml", known = dir.path + "/known.toml", log = dir.path + "/real.log";
  std::ofstream(carFile) << REAL_CAR;
  std::ofstream(known) << "protocol = 6\necus = 1\n[ecu.1]\nrpm = 2000\n";
  SimulatorOnPort real({"elm", "serve", "vehicle=" + carFile, "log=" + log});
  ASSERT_TRUE(real.Serving(ATI_ECHOED));
  real.Close();

  SimulatorOnPort relay({"serve", "relay=" + real.Where(), "vehicle=" + known});
  ASSERT_TRUE(relay.Serving(ATI_ECHOED));
  EXPECT_EQ(relay.Ask("ATZ"), "ATZ\r\r\rELM327 v1.5\r\r>");
  EXPECT_EQ(relay.Ask("ATE0"), "ATE0\rOK\r\r>");
  EXPECT_EQ(relay.Ask("ATH1"), "OK\r\r>");
  EXPECT_EQ(relay.Ask("010C"), "SEARCHING...\r7E8 04 41 0C 1F 40 00 00 00 \r\r>");  // 2000 rpm, the file's
  EXPECT_EQ(relay.Ask("ATS0"), "OK\r\r>");
  EXPECT_EQ(relay.Ask("010C"), "7E804410C1F40000000\r\r>");
  // Not the file's: the real car's, after the search of the real adapter, which hears its first
  // request only now.
  EXPECT_EQ(relay.Ask("1003"), "SEARCHING...\r7E8037F107800000000\r7E8065003003201F400\r\r>");

  const std::string text = ReadLog(log);
  EXPECT_EQ(text.find("tester 010C"), std::string::npos) << text;
  EXPECT_NE(text.find("tester 1003"), std::string::npos) << text;
  EXPECT_NE(text.find("tester ATS0"), std::string::npos) << text;
}

}  // namespace
