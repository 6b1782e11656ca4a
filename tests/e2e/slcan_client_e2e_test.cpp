// A CAN tool on Padix's serial CAN adapter: python-can's own slcan interface on the printed
// terminal and over TCP (socket://), reading the default car's engine speed, trouble codes and
// VIN (a multi-frame answer) by raw ISO 15765-2 frames. Skipped, saying so, where Debian's
// python3-can is not installed.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <termios.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/simulator_on_port.h"
#include "tests/support/wait_for.h"

namespace {

// Debian's interpreter, where python3-can is installed; another python3 on the PATH may lack it.

bool PythonCanInstalled() {
  const std::string command = SystemPython() + " -c 'import can.interfaces.slcan' 2>/dev/null";
  return system(command.c_str()) == 0;
}

// Runs the tool (up to 30 s) against `where` and returns its printed lines.
std::vector<std::string> RunTool(const std::string& where) {
  const std::string command = "timeout 30 " + SystemPython() + " " + PADIX_SOURCE_DIR + "/tests/e2e/slcan/obd_by_isotp.py '" +
                              where + "' 2>&1";
  int status = -1;
  const std::vector<std::string> lines = CommandLines(command, &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the tool failed";
  return lines;
}

class SlcanClient : public ::testing::TestWithParam<SimLine> {};

TEST_P(SlcanClient, ReadsRpmCodesAndVinByRawIsoTp) {
  if (!PythonCanInstalled()) GTEST_SKIP() << "python3-can is not installed (scripts/install-deps.sh test)";
  const bool tcp = GetParam() == SimLine::Tcp;
  char log[] = "/tmp/padix_slcan_log_XXXXXX";
  const int fd = mkstemp(log);
  ASSERT_GE(fd, 0);
  close(fd);
  HeadlessChild run({tcp ? "tcp:0" : "/dev/ptmx", "sim", "slcan", "serve", std::string("log=") + log});
  std::string where = run.WaitForErrLine(tcp ? "Listening on " : "Serial device: ");
  ASSERT_FALSE(where.empty()) << run.Err();
  if (tcp) where = "socket://" + where;
  const std::vector<std::string> expected = {"rpm 68", "codes 43 01 01 00", "vin 1234567890XYZABCD"};
  EXPECT_EQ(RunTool(where), expected);
  // The next tool on the same line is served as the first was.
  if (tcp) {
    // Over TCP a new connection waits until the run has seen the last one leave.
    std::string said;
    do said = run.WaitForErrLine("Client "); while (!said.empty() && said.find("left") == std::string::npos);
    ASSERT_FALSE(said.empty()) << run.Err();
  }
  EXPECT_EQ(RunTool(where), expected);
  EXPECT_EQ(run.Quit(), 0);

  // The traffic log: every frame an entry of its own, with its time and who sent it.
  std::stringstream text;
  text << std::ifstream(log).rdbuf();
  unlink(log);
  const std::string entries = text.str();
  for (const char* frame : {" tester t7DF802010C0000000000<0D>\n", " module z<0D>\n",
                            " module t7E8804410C0110000000<0D>\n", " tester t7E083000000000000000<0D>\n",
                            " module t7E882134353637383930<0D>\n"}) {
    EXPECT_TRUE(std::regex_search(entries, std::regex(std::string("\\n *[0-9]+\\.[0-9]{3}") + frame)))
        << frame << " not in\n" << entries;
  }
}

// The client's end of the run's line (raw, non-blocking); -1 when it cannot be had.
int OpenLine(const std::string& where, bool tcp) {
  if (tcp) return ConnectTcp(where);
  const int fd = open(where.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios raw;
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);
  return fd;
}

// Reads until `text` has come the given number of times; false at the time-out or when the run
// closed the line first.
bool ReadUntil(int fd, const std::string& text, int times = 1, int timeoutMs = 5000) {
  std::string got;
  auto count = [&] {
    int n = 0;
    for (size_t at = got.find(text); at != std::string::npos; at = got.find(text, at + text.size())) ++n;
    return n;
  };
  return WaitFor([&] {
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
    return count() >= times;
  }, timeoutMs);
}

// The running program: a listening client sees the car's periodic frame come again and again
// with nothing sent (the line wakes for it, for as long as the client listens), and the line drops the client at once when told to
// and serves the next afresh.
TEST_P(SlcanClient, PeriodicFramesKeepComingAndTheLineDropsItsClientOnCue) {
  const bool tcp = GetParam() == SimLine::Tcp;
  char car[] = "/tmp/padix_slcan_car_XXXXXX";
  const int carFd = mkstemp(car);
  ASSERT_GE(carFd, 0);
  const std::string text = "[ecu.1]\nbroadcast = [{ id = \"3E9\", period = 20, data = \"CA FE\" }]\n";
  ASSERT_EQ(write(carFd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(carFd);
  HeadlessChild run({tcp ? "tcp:0" : "/dev/ptmx", "sim", "slcan", "serve", std::string("vehicle=") + car});
  const std::string where = run.WaitForErrLine(tcp ? "Listening on " : "Serial device: ");
  ASSERT_FALSE(where.empty()) << run.Err();
  int fd = OpenLine(where, tcp);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "V\r", 2), 2);
  ASSERT_TRUE(ReadUntil(fd, "V1013\r", 1, 10000)) << "the run does not serve the line";
  ASSERT_EQ(write(fd, "S6\rL\r", 6), 6);
  EXPECT_TRUE(ReadUntil(fd, "t3E92CAFE\r", 5)) << "the periodic frame does not keep coming";

  run.Send("set faults.drop_now true");
  EXPECT_TRUE(WaitFor([&] {
    char byte;
    return read(fd, &byte, 1) == 0;
  })) << "the line still holds the client after drop_now";
  close(fd);
  if (tcp) {
    std::string said;
    do said = run.WaitForErrLine("Client "); while (!said.empty() && said.find("left") == std::string::npos);
  }
  fd = OpenLine(where, tcp);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "V\r", 2), 2);
  EXPECT_TRUE(ReadUntil(fd, "V1013\r")) << "the next client is not served";
  // The channel stayed open; the frames go on, seconds on, once the handheld's firmware that
  // kept the line busy has stopped too.
  EXPECT_TRUE(ReadUntil(fd, "t3E92CAFE\r", 200, 20000)) << "the periodic frame stopped coming";
  close(fd);
  EXPECT_EQ(run.Quit(), 0);
  unlink(car);
}

// The same periodic frames reach the ELM327 v1.5's bus monitor: those of the protocol's
// identifier length, shown with their identifier.
TEST(ElmMonitor, ShowsTheCarsPeriodicFrames) {
  char car[] = "/tmp/padix_elm_car_XXXXXX";
  const int carFd = mkstemp(car);
  ASSERT_GE(carFd, 0);
  const std::string text =
      "[ecu.1]\nbroadcast = [{ id = \"3E9\", period = 20, data = \"CA FE\" },\n"
      "             { id = \"18FEF100\", period = 20, data = \"BE EF\" }]\n";
  ASSERT_EQ(write(carFd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(carFd);
  SimulatorOnPort port(SimLine::Pty, {"elm", "serve", std::string("vehicle=") + car});
  ASSERT_TRUE(port.Serving("ATI\rELM327 v1.5\r\r>"));
  ASSERT_EQ(port.Ask("ATH1"), "ATH1\rOK\r\r>");
  ASSERT_EQ(port.Ask("ATSP6"), "ATSP6\rOK\r\r>");
  port.Write("ATMA\r");
  std::string seen;
  EXPECT_TRUE(WaitFor([&] {
    char buf[256];
    const ssize_t n = read(port.Fd(), buf, sizeof buf);
    if (n > 0) seen.append(buf, static_cast<size_t>(n));
    size_t count = 0;
    for (size_t at = seen.find("3E9 CA FE"); at != std::string::npos; at = seen.find("3E9 CA FE", at + 1)) ++count;
    return count >= 3;
  })) << seen;
  EXPECT_EQ(seen.find("BE EF"), std::string::npos) << "a 29-bit frame on CAN 11/500";
  port.Write("\r");
  EXPECT_EQ(port.Program().Quit(), 0);
  unlink(car);
}

INSTANTIATE_TEST_SUITE_P(Lines, SlcanClient, ::testing::Values(SimLine::Pty, SimLine::Tcp), SimLineName);

}  // namespace
