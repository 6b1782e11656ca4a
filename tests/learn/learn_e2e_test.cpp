// Learning a car end to end, one test process per protocol: a padix-headless serving an example
// car as an ELM327 v1.5 on a pseudo-terminal stands for the real adapter and car, a second one
// learns from it, and a third serves the learned file. Every request learning sent is then asked
// of the first and the third, with headers on and off: the answers must be the same bytes. The
// first one's traffic log shows what learning sent: never a request that changes the car.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/simulator_on_port.h"

namespace {

const std::string ATI_ECHOED = "ATI\rELM327 v1.5\r\r>";

struct Car {
  const char* name;
  const char* vehicle;   // the example car served as the real one, in the source folder; "": `toml`
  const char* toml;      // a vehicle file of the test's own, on the built-in car
  const char* requests;  // the user's extra requests ("" for none)
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The lines the tester sent, from a traffic log ("MS tester BYTES"), their "<0D>" ends removed.
std::vector<std::string> TesterLines(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string ms, who, bytes;
    if (!(fields >> ms >> who) || who != "tester") continue;
    std::getline(fields, bytes);
    for (size_t at; (at = bytes.find("<0D>")) != std::string::npos;) bytes.replace(at, 4, "\n");
    std::istringstream parts(bytes);
    for (std::string part; std::getline(parts, part);) {
      const size_t start = part.find_first_not_of(' ');
      if (start != std::string::npos) out.push_back(part.substr(start));
    }
  }
  return out;
}

bool IsHex(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789ABCDEF") == std::string::npos; }

// Shows control characters in a failure message.
std::string Shown(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '\r' ? std::string("\\r") : std::string(1, c);
  return out;
}

// The built-in car (two ECUs, every service) on 11-bit CAN, with manufacturer answers: a data
// identifier over several frames, a session that is pending first.
const char* const CAN11_CAR = R"(protocol = 6
[ecu.1]
answers = [
  { request = "22 F1 90", answer = "62 F1 90 50 44 58 4D 46 52 52 45 51 30 30 30 30 30 31 39 30" },
  { request = "10 03", negative = "78", then = "50 03 00 32 01 F4" },
]
[ecu.2]
answers = [{ request = "22 F1 90", negative = "31" }]
)";

class LearnCar : public testing::TestWithParam<Car> {};

TEST_P(LearnCar, LearnedFileAnswersAsTheCarWithoutChangingIt) {
  const Car& car = GetParam();
  ScratchDir dir;
  const std::string log = dir.path + "/real.log", learned = dir.path + "/learned.toml";
  std::string vehicle = std::string(PADIX_SOURCE_DIR) + "/examples/vehicles/" + car.vehicle;
  if (car.vehicle[0] == '\0') WriteText(vehicle = dir.path + "/real.toml", car.toml);
  std::vector<std::string> learnArgs;
  if (car.requests[0] != '\0') {
    WriteText(dir.path + "/requests.txt", car.requests);
    learnArgs.push_back("learn.requests=" + dir.path + "/requests.txt");
  }

  SimulatorOnPort real({"elm", "serve", "vehicle=" + vehicle, "log=" + log});
  ASSERT_TRUE(real.Serving(ATI_ECHOED));
  real.Close();  // the learning run is the adapter's client now
  learnArgs.insert(learnArgs.begin(), {real.Where(), "learn=" + learned});
  const ProcessResult run = RunHeadless(learnArgs, "", 60000);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("learn: searching for the car (0100)\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("learned "), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("otherwise than the car did"), std::string::npos) << run.out;

  // What learning sent, as the real adapter received it.
  std::vector<std::string> requests;
  std::set<std::string> seen;
  const std::vector<std::string> sent = TesterLines(ReadText(log));
  // A setting listed before the first extra request holds from before the search on.
  if (std::string(car.requests).rfind("AT ST", 0) == 0) {
    const auto setting = std::find(sent.begin(), sent.end(), "ATST64");
    EXPECT_LT(setting - sent.begin(), std::find(sent.begin(), sent.end(), "0100") - sent.begin());
  }
  for (const std::string& line : sent) {
    if (line == "ATI" || !IsHex(line) || !seen.insert(line).second) continue;
    requests.push_back(line);
  }
  ASSERT_GT(requests.size(), 50u) << run.out;
  // What every scan tool asks is compared too, whether learning asked it or not.
  for (const char* common : {"0100", "0101", "010C", "020000", "03", "07", "0A", "0600", "0900", "0902", "0904",
                             "0906", "0908", "090A"}) {
    if (seen.insert(common).second) requests.push_back(common);
  }
  for (const std::string& r : requests) {
    const std::string service = r.substr(0, 2);
    const bool listed = std::string(car.requests).find(r.substr(0, 2) + " " + r.substr(2, 2)) != std::string::npos;
    EXPECT_TRUE(listed || (service != "04" && service != "14" && service != "2E" && service != "31" &&
                           service != "11" && service != "27"))
        << "learning sent " << r;
  }
  // The user's extra requests are sent, those that change a car included, as listed.
  std::istringstream listed(car.requests);
  for (std::string line; std::getline(listed, line);) {
    std::string hex;
    for (char c : line.substr(0, line.find('#')))
      if (c != ' ') hex += c;
    if (!hex.empty() && hex.compare(0, 2, "AT") != 0) {
      EXPECT_TRUE(seen.count(hex)) << hex << " was listed but not sent";
    }
  }

  SimulatorOnPort replay({"elm", "serve", "vehicle=" + learned});
  ASSERT_TRUE(replay.Serving(ATI_ECHOED));
  ASSERT_TRUE(real.Reopen());
  for (const char* headers : {"ATH1", "ATH0"}) {
    std::vector<std::string> differ;
    (void)real.Ask("ATZ");  // echo on and off alike: learning turned it off on the real one
    (void)replay.Ask("ATZ");
    for (const char* setup : {"ATE0", headers, "ATSP0"}) {
      EXPECT_EQ(real.Ask(setup), replay.Ask(setup)) << setup;
    }
    for (const std::string& r : requests) {
      const std::string want = real.Ask(r), got = replay.Ask(r);
      if (want != got) differ.push_back(r + ": " + Shown(want) + " / learned: " + Shown(got));
    }
    EXPECT_TRUE(differ.empty()) << headers << ": " << differ.size() << " of " << requests.size()
                                << " answers differ, first: " << differ[0];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, LearnCar,
    testing::Values(Car{"Can11", "", CAN11_CAR, "AT ST 64\n22 F1 90\n# a session, then clearing UDS codes\n10 03\n14 FF FF FF\n"},
                    Car{"Can29", "can29.toml", "", ""}, Car{"KLine", "diesel_kwp.toml", "", ""}),
    [](const testing::TestParamInfo<Car>& car) { return std::string(car.param.name); });

}  // namespace
