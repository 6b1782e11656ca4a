// padix-headless started by a test suite, as its recipe has it: the first line on standard
// output names where the client connects, the car is changed with commands that answer once the
// change is in, a run that serves its line keeps serving after its input ended, and a signal ends
// it with 0. link=PATH gives the pseudo-terminal a name the suite knows beforehand, for the run's
// length only.
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/simulator_on_port.h"

namespace {

const std::string ATI_ECHOED = "ATI\rELM327 v1.5\r\r>";

// Where a symbolic link points; "" when there is none.
std::string LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
  return n < 0 ? "" : std::string(target, static_cast<size_t>(n));
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The recipe over TCP: the port of the system's choice read from the ready line, the car's engine
// speed set from the script and seen on the line at once, the end by SIGTERM.
TEST(ScriptedRun, ReadyLineThenSetSeenOnTheLineThenSigtermEndsWithZero) {
  SimulatorOnPort port(SimLine::Tcp, {"elm", "serve"});
  HeadlessChild& padix = port.Program();
  const std::string ready = padix.WaitForOutLine("");  // the first line, whatever it is
  ASSERT_TRUE(port.Serving(ATI_ECHOED));
  EXPECT_EQ(ready, "ready tcp " + port.Where());
  EXPECT_NE(port.Where().find("127.0.0.1:"), std::string::npos);
  EXPECT_EQ(port.Where().find(":0"), std::string::npos) << "the port bound, not the one asked for";

  EXPECT_NE(port.Ask("0100").find("41 00"), std::string::npos);
  const std::string before = port.Ask("010C");
  ASSERT_NE(before.find("41 0C"), std::string::npos) << before;
  ASSERT_EQ(before.find("41 0C 27 10"), std::string::npos) << "2500 rpm already: " << before;
  padix.Send("set ecu.1.rpm 2500");
  EXPECT_EQ(padix.WaitForOutLine("ok "), "ok set ecu.1.rpm 2500") << padix.Err();
  // 2500 rpm in quarters: 0x2710, in the very next answer.
  EXPECT_NE(port.Ask("010C").find("41 0C 27 10"), std::string::npos);

  ASSERT_EQ(kill(padix.Pid(), SIGTERM), 0);
  EXPECT_EQ(padix.WaitForExit(), 0) << padix.Err();
}

// Started with its input at an end (a script that gives it none), a serving run keeps serving
// until it is told to end, on either line; a failed command before that makes its status 1.
class ServingWithoutInput : public testing::TestWithParam<SimLine> {};

TEST_P(ServingWithoutInput, AnswersAfterTheEndOfInputAndEndsOnSigterm) {
  SimulatorOnPort port(GetParam(), {"elm", "serve"});
  port.Program().CloseInput();
  ASSERT_TRUE(port.Serving(ATI_ECHOED)) << port.Program().Err();
  // A run that took the end of input for a quit would be gone well within this.
  EXPECT_EQ(port.Program().WaitForExit(1500), -1) << "ended without being told to";
  EXPECT_EQ(port.Ask("ATRV"), "ATRV\r12.6V\r\r>");
  EXPECT_NE(port.Ask("0100").find("41 00"), std::string::npos);
  ASSERT_EQ(kill(port.Program().Pid(), SIGTERM), 0);
  EXPECT_EQ(port.Program().WaitForExit(), 0) << port.Program().Err();
}

INSTANTIATE_TEST_SUITE_P(Lines, ServingWithoutInput, testing::Values(SimLine::Pty, SimLine::Tcp),
                         SimLineName);

TEST(ScriptedRun, AFailedCommandMakesTheStatusOfASignalledRunOne) {
  SimulatorOnPort port(SimLine::Tcp, {"elm", "serve"});
  ASSERT_TRUE(port.Serving(ATI_ECHOED));
  port.Program().Send("save /nonexistent/car.toml");
  EXPECT_EQ(port.Program().WaitForOutLine("error "),
            "error save /nonexistent/car.toml: cannot write /nonexistent/car.toml: No such file or directory");
  port.Program().CloseInput();
  EXPECT_EQ(port.Program().WaitForExit(1500), -1) << "ended without being told to";
  EXPECT_EQ(port.Ask("ATRV"), "ATRV\r12.6V\r\r>");
  ASSERT_EQ(kill(port.Program().Pid(), SIGTERM), 0);
  EXPECT_EQ(port.Program().WaitForExit(), 1) << port.Program().Err();
}

// link=PATH points at the run's terminal while it runs and is gone after it, whether it ended by
// "quit" or by a signal; a link left by an earlier run is replaced.
class PtyLink : public testing::TestWithParam<bool> {};

TEST_P(PtyLink, NamesTheTerminalWhileTheRunLasts) {
  const bool bySignal = GetParam();
  ScratchDir dir;
  ASSERT_FALSE(dir.path.empty());
  const std::string link = dir.path + "/obd";
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);  // an earlier run's
  SimulatorOnPort port(SimLine::Pty, {"elm", "serve", "link=" + link});
  const std::string ready = port.Program().WaitForOutLine("");
  ASSERT_TRUE(port.Serving(ATI_ECHOED)) << port.Program().Err();
  EXPECT_EQ(ready, "ready pty " + port.Where());
  EXPECT_EQ(LinkTarget(link), port.Where());
  if (bySignal) {
    ASSERT_EQ(kill(port.Program().Pid(), SIGTERM), 0);
    EXPECT_EQ(port.Program().WaitForExit(), 0) << port.Program().Err();
  } else {
    EXPECT_EQ(port.Program().Quit(), 0) << port.Program().Err();
  }
  EXPECT_FALSE(Exists(link));
}

INSTANTIATE_TEST_SUITE_P(Endings, PtyLink, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& i) { return i.param ? "Sigterm" : "Quit"; });

// What is not a symbolic link at PATH is not Padix's to replace; a line that is not a terminal of
// its own has nothing to link to. Either refuses the start.
TEST(ScriptedRun, LinkIsRefusedOverAFileAndForALineThatIsNoOwnTerminal) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path.empty());
  const std::string file = dir.path + "/obd";
  std::ofstream(file) << "mine\n";
  ProcessResult r = RunHeadless({"/dev/ptmx", "sim", "elm", "serve", "link=" + file}, "");
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("link=" + file + ": " + file + " exists and is not a symbolic link"), std::string::npos)
      << r.err;
  std::ifstream kept(file);
  std::string content;
  std::getline(kept, content);
  EXPECT_EQ(content, "mine");

  const std::string link = dir.path + "/tcp";
  r = RunHeadless({"tcp:0", "sim", "elm", "serve", "link=" + link}, "");
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("link=" + link + ": only a virtual serial port of Padix's own (/dev/ptmx) can be linked to"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("ready"), std::string::npos) << r.out;
  EXPECT_FALSE(Exists(link));
}

}  // namespace
