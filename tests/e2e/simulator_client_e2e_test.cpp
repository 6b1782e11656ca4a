// Another OBD program on the line of a simulator-mode run, its pseudo-terminal or a TCP port as a
// Wi-Fi adapter's: after the handheld's Bluetooth menu was entered, the simulated module answers
// module commands in each of its personalities (chosen with the operator keys), settles on
// ISO 14230-4 with 5-baud init at the first request, frames service 01, 03 and 09 answers with
// and without headers, and keeps serving a client that ends its lines with CR LF or sends 10 MB
// of noise. Every scenario runs on both kinds of line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/simulator_on_port.h"
#include "tests/support/wait_for.h"

namespace {

std::vector<std::string> Lines(const std::string& answer) {
  std::vector<std::string> lines;
  std::istringstream in(answer.substr(0, answer.rfind('>')));
  for (std::string line; std::getline(in, line, '\r');)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<int> Bytes(const std::string& hex) {
  std::vector<int> bytes;
  for (size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
    i += 2;
  }
  return bytes;
}

// An ISO 14230-4 line with headers: format byte 0x80 + data length, the tester F1 as target, the
// ECU as source, the data, and the sum of all of them as checksum; the data must be the line
// the module gives without headers.
void ExpectKwpFrame(const std::string& headed, const std::string& plain, int* source) {
  SCOPED_TRACE(headed);
  const std::vector<int> h = Bytes(headed), data = Bytes(plain);
  ASSERT_EQ(h.size(), data.size() + 4);
  EXPECT_EQ(h[0], 0x80 + static_cast<int>(data.size()));
  EXPECT_EQ(h[1], 0xF1);
  *source = h[2];
  EXPECT_EQ(std::vector<int>(h.begin() + 3, h.end() - 1), data);
  int sum = 0;
  for (size_t i = 0; i + 1 < h.size(); ++i) sum += h[i];
  EXPECT_EQ(h.back(), sum & 0xFF);
  EXPECT_EQ(headed.size(), 3 * h.size() - 1) << "bytes separated by single spaces";
}

// Types the operator keys one after the other, as a script types them, and waits until the
// reset answer shows the personality they chose.
testing::AssertionResult ChoosePersonality(SimulatorOnPort& port, const char* keys,
                                           const std::string& identification) {
  for (const char* k = keys; *k != '\0'; ++k) port.Program().Send(std::string("key ") + *k);
  std::string atz;
  if (WaitFor([&] { return (atz = port.Ask("ATZ")) == identification + "\r>"; }, 3000))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "after the keys " << keys << " ATZ answers " << atz;
}

class SimulatorClient : public testing::TestWithParam<SimLine> {
 protected:
  static void TearDownTestSuite() {
    for (auto& [line, run] : shared_) {
      EXPECT_EQ(run->Program().Quit(), 0) << testing::PrintToString(line);
      delete run;
    }
    shared_.clear();
  }
  // One run on each kind of line serves the tests that set up what they depend on.
  SimulatorOnPort* Shared() {
    SimulatorOnPort*& run = shared_[GetParam()];
    if (run == nullptr) {
      run = new SimulatorOnPort(GetParam());
      EXPECT_TRUE(run->Serving());
    }
    return run;
  }
  static std::map<SimLine, SimulatorOnPort*> shared_;
};
std::map<SimLine, SimulatorOnPort*> SimulatorClient::shared_;

TEST_P(SimulatorClient, FirstRequestSettlesOnKwp5BaudAndAnswersCarryHeadersOnRequest) {
  SimulatorOnPort port(GetParam());  // a fresh vehicle: its protocol is still automatic
  ASSERT_TRUE(port.Serving());
  EXPECT_EQ(port.Ask("ATZ"), "Korvan QIM1 v1.7 Sim\r>");
  EXPECT_EQ(port.Ask("ATDP"), "NOT CONNECTED\r>");
  EXPECT_EQ(port.Ask("ATN"), "F0\r>");
  EXPECT_EQ(port.Ask("0100"), "4100FFFFFFF7\r4100B7800001\r\r>");  // as the README shows
  EXPECT_EQ(port.Ask("ATDP"), "ISO 14230-4, KWP2000 (5 Baud Init)\r>");
  EXPECT_EQ(port.Ask("ATN"), "F4\r>");
  EXPECT_EQ(port.Ask("ATK"), "8F 6B\r>");

  const char* const requests[] = {"0100", "010C", "03", "0902"};
  std::vector<std::string> plain;
  for (const char* request : requests) plain.push_back(port.Ask(request));
  EXPECT_EQ(port.Ask("ATH1"), "OK\r>");
  for (size_t r = 0; r < std::size(requests); ++r) {
    SCOPED_TRACE(requests[r]);
    const std::vector<std::string> without = Lines(plain[r]), with = Lines(port.Ask(requests[r]));
    ASSERT_EQ(with.size(), without.size());
    ASSERT_FALSE(with.empty());
    EXPECT_EQ(without[0].substr(0, 2), std::string("4") + requests[r][1]) << "positive answer";
    int previous = 0;
    for (size_t i = 0; i < with.size(); ++i) {
      int source = 0;
      ExpectKwpFrame(with[i], without[i], &source);
      EXPECT_TRUE(source == 0x10 || source == 0x18) << source;
      EXPECT_GE(source, previous) << "each ECU's lines together, engine ECU first";
      previous = source;
    }
  }
  // The vehicle number: five lines per ECU, 17 characters after the leading zeros.
  EXPECT_EQ(Lines(plain[3]).size(), 10u);

  // The "OF1" format adds a summary line: bytes and lines of the answer.
  EXPECT_EQ(port.Ask("ATOF1"), "OK\r>");
  const std::vector<std::string> of1 = Lines(port.Ask("0100"));
  ASSERT_EQ(of1.size(), 3u);
  EXPECT_EQ(of1[0], ":14 02") << "two lines of 10 bytes";
  EXPECT_EQ(port.Program().Quit(), 0);
}

TEST_P(SimulatorClient, EachPersonalityAnswersItsOwnCommandsOnceTypedAtTheOperatorKeys) {
  SimulatorOnPort& port = *Shared();
  ASSERT_FALSE(HasFailure());
  struct Expected {
    const char* keys;  // typed at the simulator, one after the other as a script types them
    const char *atz, *ati, *sti, *at1, *atdpn, *atsp6;
  };
  const Expected personalities[] = {
      {"0u", "Korvan QIM1 v1.7 Sim", "Korvan QIM1 v1.7", "?\r>", "?\r>", "?\r>", "?\r>"},
      {"1u", "ELM327 v1.1 Sim", "ELM327 v1.1", "?\r>", "PADIXSIM.NET\r>", "06\r>", ">"},
      {"2u", "ELM327 v1.3a Sim", "ELM327 v1.1", "ELM327 v1.3a\r>", "PADIXSIM.NET\r>", "06\r>", ">"},
  };
  for (const Expected& p : personalities) {
    SCOPED_TRACE(p.keys);
    EXPECT_TRUE(ChoosePersonality(port, p.keys, p.atz));
    EXPECT_EQ(port.Ask("ATI"), std::string(p.ati) + "\r>");
    EXPECT_EQ(port.Ask("STI"), p.sti);
    EXPECT_EQ(port.Ask("ATSP6"), p.atsp6);
    EXPECT_EQ(port.Ask("ATP6"), "6 = ISO 15765-4, CAN (11/500)\r>");  // in every personality
    EXPECT_EQ(port.Ask("ATDPN"), p.atdpn);
    EXPECT_EQ(port.Ask("AT@1"), p.at1);
    EXPECT_EQ(port.Ask("AT!01"), "PaSim V2.81\r>");
    const std::string volts = port.Ask("AT!10");
    EXPECT_TRUE(volts.size() == 7 && volts.compare(0, 3, "13.") == 0 && volts[3] >= '0' &&
                volts[3] <= '7' && volts.compare(4, 3, "V\r>") == 0)
        << volts;
  }
  // "3 u": the adapter third-party programs are written for. Its reset leaves echo on, its
  // answers end with an empty line before the prompt, and it knows neither the module's own
  // commands nor the operator's.
  port.Program().Send("key 3");
  port.Program().Send("key u");
  std::string atz;
  EXPECT_TRUE(WaitFor([&] { return (atz = port.Ask("ATZ")) == "ATZ\r\r\rELM327 v1.5\r\r>"; }, 3000))
      << "after the keys 3u ATZ answers " << atz;
  EXPECT_EQ(port.Ask("ATE0"), "ATE0\rOK\r\r>");
  EXPECT_EQ(port.Ask("ATI"), "ELM327 v1.5\r\r>");
  EXPECT_EQ(port.Ask("STI"), "?\r\r>");
  EXPECT_EQ(port.Ask("ATSP6"), "OK\r\r>");
  EXPECT_EQ(port.Ask("ATDPN"), "6\r\r>");
  EXPECT_EQ(port.Ask("AT@1"), "OBDII to RS232 Interpreter\r\r>");
  EXPECT_EQ(port.Ask("AT!01"), "?\r\r>");
  EXPECT_EQ(port.Ask("AT!10"), "?\r\r>");
}

TEST_P(SimulatorClient, LineFeedsAfterTheCarriageReturnAndTenMegabytesOfNoiseAreSurvived) {
  SimulatorOnPort& port = *Shared();
  ASSERT_FALSE(HasFailure());
  ASSERT_TRUE(ChoosePersonality(port, "0u", "Korvan QIM1 v1.7 Sim"));
  // Clears the "ATSB" state first, which would keep the answer format over a reset.
  const char* const setUp[] = {"ATSF00", "ATZ", "ATP6"};
  for (const char* line : setUp) port.Ask(line);
  const std::string rpm = port.Ask("010C");
  ASSERT_EQ(rpm.compare(0, 4, "410C"), 0) << rpm;

  // A client that ends its lines with CR LF: the line feed arrives with the carriage return and
  // goes with the unread input when the module answers, so every line is understood.
  for (int i = 0; i < 20; ++i) {
    port.Write("010C\r\n");
    ASSERT_EQ(port.ReadAnswer(), rpm) << i;
  }
  port.Write("ATDP\r\nATDP\r\n");  // sent ahead: what follows the first line is discarded
  EXPECT_EQ(port.ReadAnswer(), "ISO 15765-4, CAN (11/500)\r>");

  // 10 MB of random bytes, carriage returns and all: the module answers what it makes of them
  // and throws away what arrives while it answers.
  std::mt19937 rng(20170108);
  std::string noise(10 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  port.Write(noise);
  // Whatever the noise did to the module's settings, the client can set them again and is
  // answered as before. Lines sent while stale answers are still coming may be discarded, so the
  // client repeats its reset until it is answered.
  EXPECT_TRUE(WaitFor([&] {
    port.Forget();
    return port.Ask("ATZ", 200).find("Korvan QIM1 v1.7 Sim\r>") != std::string::npos;
  }, 20000));
  for (const char* line : setUp) port.Ask(line);
  EXPECT_EQ(port.Ask("010C"), rpm);
}

// A vehicle file's events from the connection count from the client's coming on either kind of
// line, and start over when it closes the line and opens it again.
TEST_P(SimulatorClient, EventsFromTheConnectionStartOverForEachClient) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("padix_timeline_" + std::to_string(getpid()) + ".toml");
  std::ofstream(file) << "[[events]]\nat = 0.2\nfrom = \"connect\"\nset = \"ecu.1.rpm\"\nvalue = 3000\n";
  SimulatorOnPort port(GetParam(), {"vehicle=" + file.string()});
  ASSERT_TRUE(port.Serving());
  ASSERT_TRUE(ChoosePersonality(port, "0u", "Korvan QIM1 v1.7 Sim"));
  auto rpmIs = [&](const char* bytes) {
    return WaitFor([&] {
      port.Ask("ATP6");
      return port.Ask("010C").find(std::string("410C") + bytes) != std::string::npos;
    }, 5000, 20);
  };
  EXPECT_TRUE(rpmIs("2EE0"));
  port.Program().Send("set ecu.1.rpm 1000");
  EXPECT_TRUE(rpmIs("0FA0"));
  port.Close();
  if (GetParam() == SimLine::Tcp) {
    ASSERT_TRUE(port.ServesNobody());
  }
  ASSERT_TRUE(port.Reopen());
  EXPECT_TRUE(rpmIs("2EE0")) << "the event did not come again for the new client";
  EXPECT_EQ(port.Program().Quit(), 0);
  std::filesystem::remove(file);
}

INSTANTIATE_TEST_SUITE_P(, SimulatorClient, testing::Values(SimLine::Pty, SimLine::Tcp), SimLineName);

}  // namespace
