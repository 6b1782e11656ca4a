// The ELM327 v1.5 on `padix-headless /dev/ptmx sim elm serve timing=real`: a client that leaves
// while the adapter waits for the car (after a 78, during the search) leaves nothing for the next
// one, however soon it comes; over TCP a client that shuts its side after its requests gets every
// answer, then is let go; every byte takes its time at the line's rate and the log shows when the
// client saw it; a serial device changes its rate only when the client answers at the new one.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "tests/support/process.h"
#include "tests/support/simulator_on_port.h"
#include "tests/support/wait_for.h"

namespace {

const std::string ATI_ECHOED = "ATI\rELM327 v1.5\r\r>";

std::string Shown(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return out;
}

// Reads the line until `text` has come (the answer goes on: no prompt yet); what came, ended by
// "<closed>" when the run closed the line first.
std::string ReadUntil(int fd, const std::string& text, int timeoutMs = 3000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string got;
  while (got.find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p = {fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[512];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return got + "<closed>";
    got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

// A run with real timing, serving a car on CAN 11/500 whose first ECU takes three seconds over
// the extended session: it answers 10 03 with 78 (response pending) at once, and the session
// three seconds later.
class ElmClientRealTiming : public testing::TestWithParam<SimLine> {
 protected:
  static void SetUpTestSuite() {
    std::ofstream(carFile_) << "protocol = 6\n[ecu.1]\nanswers = [\n"
                               "  { request = \"10 03\", negative = \"78\", delay = 3000, then = \"50 03 00 32 01 F4\" },\n]\n";
  }
  static void TearDownTestSuite() {
    for (auto& [line, run] : runs_) {
      EXPECT_EQ(run->port.Program().Quit(), 0) << testing::PrintToString(line);
      delete run;
    }
    runs_.clear();
    unlink(carFile_.c_str());
  }
  struct Run {
    SimulatorOnPort port;
    testing::AssertionResult served;
    explicit Run(SimLine line)
        : port(line, {"elm", "serve", "timing=real", "vehicle=" + carFile_}), served(port.Serving(ATI_ECHOED)) {}
  };
  void SetUp() override {
    Run*& run = runs_[GetParam()];
    if (run == nullptr) run = new Run(GetParam());
    port_ = &run->port;
    ASSERT_TRUE(run->served);
    // Echo off from here; spaces on, headers off.
    port_->Ask("ATZ");
    ASSERT_EQ(port_->Ask("ATE0"), "ATE0\rOK\r\r>");
    ASSERT_EQ(port_->Ask("ATSP0"), "OK\r\r>");
  }

  static std::map<SimLine, Run*> runs_;
  static const std::string carFile_;
  SimulatorOnPort* port_ = nullptr;
};
std::map<SimLine, ElmClientRealTiming::Run*> ElmClientRealTiming::runs_;
const std::string ElmClientRealTiming::carFile_ = "/tmp/padix-slow-session-" + std::to_string(getpid()) + ".toml";

TEST_P(ElmClientRealTiming, AClientThatLeavesWhileItsCarIsAwaitedLeavesNothingForTheNextOne) {
  SimulatorOnPort& port = *port_;
  struct Leave {
    const char* setUp;    // what the client set before its request
    const char* request;
    const char* seen;     // what it read before it left, while the adapter waits
  };
  const Leave leaves[] = {
      {"ATSP6", "1003", "7F 10 78 \r"},          // the 78 came; the session's answer is 3 s away
      {"ATTPA3", "0100", "SEARCHING...\r"},      // ISO 9141-2 tried first: seconds of search
  };
  for (const Leave& leave : leaves) {
    SCOPED_TRACE(std::string("left after ") + leave.seen);
    ASSERT_EQ(port.Ask(leave.setUp), "OK\r\r>");
    const std::string request = std::string(leave.request) + "\r";
    ASSERT_EQ(write(port.Fd(), request.data(), request.size()), static_cast<ssize_t>(request.size()));
    const std::string seen = ReadUntil(port.Fd(), leave.seen);
    ASSERT_NE(seen.find(leave.seen), std::string::npos) << Shown(seen);
    // The next client comes at once: the first thing it reads is the answer to its own request,
    // with the settings the adapter kept (echo off).
    ASSERT_TRUE(port.ReopenAtOnce());
    EXPECT_EQ(Shown(port.Ask("ATI")), Shown("ELM327 v1.5\r\r>"));
    EXPECT_EQ(port.Ask("ATI"), "ELM327 v1.5\r\r>");
  }
}

// Over TCP a client may write its requests and shut its side of the connection at once, as
// `printf 'ATI\r0100\r' | socat - TCP:127.0.0.1:PORT` does: each request is answered, waits for
// the car included, and then the run closes the connection.
TEST_P(ElmClientRealTiming, AClientThatShutsItsSideAfterItsRequestsIsAnsweredThenLetGo) {
  if (GetParam() != SimLine::Tcp) GTEST_SKIP() << "a terminal has no half-close";
  SimulatorOnPort& port = *port_;
  port.Close();
  const int fd = ConnectTcp(port.Where());
  ASSERT_GE(fd, 0);
  const std::string requests = "ATI\r0100\r";
  ASSERT_EQ(send(fd, requests.data(), requests.size(), MSG_NOSIGNAL), static_cast<ssize_t>(requests.size()));
  ASSERT_EQ(shutdown(fd, SHUT_WR), 0);
  const std::string got = ReadUntil(fd, "<never>", 5000);
  close(fd);
  EXPECT_EQ(got.rfind("ELM327 v1.5\r\r>SEARCHING...\r41 00 ", 0), 0u) << Shown(got);
  const std::string end = "\r\r><closed>";
  EXPECT_TRUE(got.size() > end.size() && got.compare(got.size() - end.size(), end.size(), end) == 0) << Shown(got);
  ASSERT_TRUE(port.Reopen());
  EXPECT_EQ(port.Ask("ATI"), "ELM327 v1.5\r\r>");
}

INSTANTIATE_TEST_SUITE_P(, ElmClientRealTiming, testing::Values(SimLine::Pty, SimLine::Tcp), SimLineName);

// ---------------------------------------------------------------------------------------------
// Real timing for every byte, and the baud rate switch on a serial device.

// The milliseconds of the log's last entry that ends with `entry` ("tester ATI<0D>"); -1 none.
double LoggedAt(const std::string& log, const std::string& entry) {
  std::ifstream in(log);
  double at = -1;
  for (std::string line; std::getline(in, line);) {
    if (line.size() > entry.size() && line.compare(line.size() - entry.size(), entry.size(), entry) == 0)
      at = std::stod(line);
  }
  return at;
}

// At 9600 baud a byte takes 1.04 ms: the echo and the identity of "ATI" (18 bytes) take at
// least 18.7 ms, and the log stamps the request when its CR came and the answer when its prompt
// went out, as far apart as the client saw them.
TEST(ElmHonestTiming, AtCommandsTakeTheirBytesTimeAndTheLogShowsWhatTheClientSaw) {
  char dir[] = "/tmp/padix-elm-timing-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string log = std::string(dir) + "/traffic.log";
  {
    SimulatorOnPort port(SimLine::Pty, {"elm", "serve", "timing=real", "log=" + log});
    ASSERT_TRUE(port.Serving(ATI_ECHOED));
    for (int round = 0; round < 3; ++round) {
      port.Forget();
      const auto sent = std::chrono::steady_clock::now();
      port.Write("ATI\r");
      const std::string answer = port.ReadAnswer();
      const double clientMs =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
      ASSERT_EQ(answer, ATI_ECHOED);
      EXPECT_GE(clientMs, 18 * 10.0 / 9.6);
      double askedMs = -1, answeredMs = -1;
      ASSERT_TRUE(WaitFor([&] {
        askedMs = LoggedAt(log, " tester ATI<0D>");
        answeredMs = LoggedAt(log, " module ATI<0D>ELM327 v1.5<0D><0D>>");
        return askedMs >= 0 && answeredMs >= askedMs;
      })) << "the log has not both";
      EXPECT_NEAR(answeredMs - askedMs, clientMs, 10.0) << "round " << round;
    }
    EXPECT_EQ(port.Program().Quit(), 0);
  }
  unlink(log.c_str());
  rmdir(dir);
}

// A serial device (here a pseudo-terminal's slave end, as the run would take a USB adapter)
// really changes its rate after the handshake, and returns to the old one without it.
TEST(ElmBaudRateSwitch, TheSerialDeviceChangesItsRateOnlyWhenTheClientAnswers) {
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios raw;
  ASSERT_EQ(tcgetattr(master, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(master, TCSANOW, &raw), 0);
  ASSERT_EQ(fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK), 0);
  HeadlessChild padix({name, "sim", "elm", "serve"});
  ASSERT_TRUE(padix.Running());
  auto speed = [&] {
    termios t;
    return tcgetattr(slave, &t) == 0 ? cfgetospeed(&t) : B0;
  };
  auto ask = [&](const std::string& bytes, const std::string& until, int timeoutMs = 3000) {
    EXPECT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    return ReadUntil(master, until, timeoutMs);
  };
  // The run answers once the handheld has entered its bridge: asked until it does.
  std::string first;
  ASSERT_TRUE(WaitFor([&] {
    first += ask("ATE0\r", "OK\r\r>", 300);
    return first.find("OK\r\r>") != std::string::npos;
  }, 15000)) << first << padix.Err();
  ASSERT_EQ(speed(), B9600);
  // 4 MHz / 0x23 = 114 kbaud: 115200 for the UART. The client answers the identity with a CR.
  EXPECT_EQ(ask("ATBRD 23\r", "ELM327 v1.5\r"), "OK\rELM327 v1.5\r");
  EXPECT_EQ(speed(), B115200);
  EXPECT_EQ(ask("\r", ">"), "\r>");
  EXPECT_EQ(speed(), B115200);
  EXPECT_EQ(ask("ATI\r", ">"), "ELM327 v1.5\r\r>");
  // 4 MHz / 0x68 = 38.5 kbaud, not answered: back at 115200, the prompt there.
  EXPECT_EQ(ask("ATBRD 68\r", "\r\r>"), "OK\rELM327 v1.5\r\r>");
  EXPECT_EQ(speed(), B115200);
  // A rate no UART takes (4 MHz / 0x11 = 235 kbaud, 2 % off 230400 is taken; 0x0B = 364 kbaud
  // is not): the line keeps its rate and the handshake still runs.
  EXPECT_EQ(ask("ATBRD 0B\r", "ELM327 v1.5\r"), "OK\rELM327 v1.5\r");
  EXPECT_EQ(ask("\r", ">"), "\r>");
  EXPECT_EQ(speed(), B115200);
  EXPECT_EQ(padix.Quit(), 0);
  close(master), close(slave);
}

}  // namespace
