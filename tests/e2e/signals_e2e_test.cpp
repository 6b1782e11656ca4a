// The signals that end a run (SIGTERM, SIGINT, SIGHUP) end it as "quit" does: status 0, the
// traffic log holding the last answer the client got, a serial device's terminal settings put
// back; also while a command waits, before the line is served, and when they come in a burst.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/simulator_on_port.h"
#include "tests/support/wait_for.h"

namespace {

const std::string ATI_ECHOED = "ATI\rELM327 v1.5\r\r>";

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class EndingSignal : public testing::TestWithParam<int> {};

// A client asks, reads its answer, and the run is told to end: it ends as "quit" ends it, and the
// log it leaves has the answer the client already read.
TEST_P(EndingSignal, EndsTheRunWithZeroAndTheLogComplete) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path.empty());
  const std::string log = dir.path + "/traffic.log";
  SimulatorOnPort port(SimLine::Pty, {"elm", "serve", "log=" + log});
  ASSERT_TRUE(port.Serving(ATI_ECHOED));
  ASSERT_EQ(port.Ask("ATRV"), "ATRV\r12.6V\r\r>");
  ASSERT_EQ(kill(port.Program().Pid(), GetParam()), 0);
  EXPECT_EQ(port.Program().WaitForExit(10000), 0) << port.Program().Err();
  const std::string logged = ReadWhole(log);
  EXPECT_NE(logged.find(" module ATRV<0D>12.6V<0D><0D>>\n"), std::string::npos) << logged;
}

std::string SignalName(const testing::TestParamInfo<int>& signal) { return sigabbrev_np(signal.param); }
INSTANTIATE_TEST_SUITE_P(Signals, EndingSignal, testing::Values(SIGTERM, SIGINT, SIGHUP), SignalName);

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// A serial device given by its name is left as the run found it: raw while served, its own
// settings again once a signal ended the run.
TEST(Signals, SigtermPutsTheSerialDeviceSettingsBack) {
  int master = -1, slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios before;
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  ASSERT_NE(before.c_lflag & ICANON, 0u);  // a fresh terminal is cooked
  HeadlessChild padix({name, "sim", "elm", "serve"});
  ASSERT_TRUE(padix.Running());
  termios now;
  ASSERT_TRUE(WaitFor([&] { return tcgetattr(slave, &now) == 0 && !SameSettings(now, before); }, 10000))
      << "the run never set the line up";
  ASSERT_EQ(kill(padix.Pid(), SIGTERM), 0);
  EXPECT_EQ(padix.WaitForExit(10000), 0) << padix.Err();
  ASSERT_EQ(tcgetattr(slave, &now), 0);
  EXPECT_TRUE(SameSettings(now, before));
  close(master), close(slave);
}

// Signals in a burst, the later ones while the run is ending: one clean end all the same.
TEST(Signals, MoreSignalsWhileTheRunEndsChangeNothing) {
  HeadlessChild padix({});
  ASSERT_TRUE(padix.Running());
  ASSERT_TRUE(padix.WaitForTitle("MAIN MENU"));
  for (int sig : {SIGTERM, SIGHUP, SIGINT, SIGTERM}) ASSERT_EQ(kill(padix.Pid(), sig), 0);
  EXPECT_EQ(padix.WaitForExit(10000), 0) << padix.Err();
}

// A script's long "wait" does not hold the end back: the reader of commands is joined, not left.
TEST(Signals, EndTheRunWhileACommandWaits) {
  HeadlessChild padix({});
  ASSERT_TRUE(padix.Running());
  ASSERT_TRUE(padix.WaitForTitle("MAIN MENU"));
  ScratchDir dir;
  ASSERT_FALSE(dir.path.empty());
  const std::string shot = dir.path + "/before_the_wait.pbm";
  padix.Send("shot " + shot + "\nwait 600000\nkey Down");  // the key comes after the wait: never
  ASSERT_TRUE(WaitFor([&] { return access(shot.c_str(), F_OK) == 0; }, 10000));
  ASSERT_EQ(kill(padix.Pid(), SIGTERM), 0);
  EXPECT_EQ(padix.WaitForExit(10000), 0) << padix.Err();
}

// In OBD2 software mode the run waits for the module's prompt before its window opens; a signal
// then ends the start as well, with the line put back.
TEST(Signals, EndTheStartWhileItWaitsForTheModule) {
  HeadlessChild padix({"/dev/ptmx"});
  ASSERT_TRUE(padix.Running());
  ASSERT_NE(padix.WaitForErrLine("Serial device: "), "");
  ASSERT_EQ(kill(padix.Pid(), SIGTERM), 0);
  EXPECT_EQ(padix.WaitForExit(10000), 0) << padix.Err();
}

}  // namespace
