// The program as a user starts it: exit statuses, the usage, failures that wait for RETURN.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "tests/support/fifo_reader.h"
#include "tests/support/process.h"

namespace {

TEST(ProgramRun, NoArgumentsRunsTheEmulatorAndQuitsWithZero) {
  ProcessResult r = RunHeadless({}, "wait 300\nquit\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("Press RETURN"), std::string::npos);
}

// The operator key "q" quits as the window's "q" does, also while the script that typed it
// keeps its input open and sends nothing more.
TEST(ProgramRun, KeyQQuitsWithZeroWhileTheInputStaysOpen) {
  HeadlessChild padix({});
  ASSERT_TRUE(padix.Running());
  ASSERT_TRUE(padix.WaitForTitle("MAIN MENU"));
  padix.Send("key q");
  EXPECT_EQ(padix.WaitForExit(10000), 0) << padix.Err();
}

TEST(ProgramRun, UsageEndsWithPressReturnAndMinusOne) {
  for (const char* arg : {"-sim", "19200", "foo?"}) {
    ProcessResult r = RunHeadless({arg}, "\n");
    EXPECT_EQ(r.status, 255) << arg;
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << arg;
    EXPECT_EQ(r.out.substr(r.out.size() - 22), "Press RETURN to quit!\n") << arg;
  }
}

TEST(ProgramRun, ADeviceThatCannotBeOpenedIsReported) {
  ProcessResult r = RunHeadless({"/nonexistent/ttyX"}, "\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "open() serial device failed: No such file or directory\n");
  EXPECT_EQ(r.out, "Press RETURN to quit!\n");
}

// A mistyped option is named before the usage and never opened as the serial device; the run
// ends as after any usage.
TEST(ProgramRun, AMistypedOptionIsNamedBeforeTheUsage) {
  ProcessResult r = RunHeadless({"/dev/ptmx", "sim", "timing=fast"}, "\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "bad value in \"timing=fast\": expected timing=real\n");
  EXPECT_EQ(r.out.find("\n Skanvo/Tarnic Emulator"), 0u);
  EXPECT_EQ(r.out.substr(r.out.size() - 22), "Press RETURN to quit!\n");
}

// A start that fails ends padix-headless at once with -1, though a supervising script keeps its
// standard input open and never writes to it: nothing waits for a RETURN no one will type.
TEST(ProgramRun, AFailedStartEndsAtOnceWithMinusOneWhileTheInputStaysOpen) {
  char dir[] = "/tmp/padix-start-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string bad = std::string(dir) + "/bad.toml";
  std::ofstream(bad) << "ecus = 2\nrmp = 780\n";
  HeadlessChild badVehicle({"vehicle=" + bad});
  ASSERT_TRUE(badVehicle.Running());
  EXPECT_EQ(badVehicle.WaitForExit(10000), 255);
  EXPECT_NE(badVehicle.Err().find("bad.toml:2:1: unknown key 'rmp'"), std::string::npos) << badVehicle.Err();

  // A port that another program holds.
  const int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&at), size), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&at), &size), 0);
  HeadlessChild portInUse({"tcp:127.0.0.1:" + std::to_string(ntohs(at.sin_port)), "sim"});
  ASSERT_TRUE(portInUse.Running());
  EXPECT_EQ(portInUse.WaitForExit(10000), 255);
  EXPECT_NE(portInUse.Err().find("Address already in use"), std::string::npos) << portInUse.Err();
  close(holder);
  unlink(bad.c_str());
  rmdir(dir);
}

// Whatever the arguments, the run either works (quit at end of input: 0) or ends with -1.
TEST(ProgramRun, ArbitraryArgumentsEndInARunOrTheUsage) {
  std::mt19937 rng(7);
  for (int run = 0; run < 12; ++run) {
    std::vector<std::string> args;
    int n = static_cast<int>(rng() % 4);
    for (int i = 0; i < n; ++i) {
      std::string a;
      int len = static_cast<int>(rng() % (run == 5 ? 5000 : 12));
      for (int k = 0; k < len; ++k) a.push_back(static_cast<char>(1 + rng() % 255));
      args.push_back(a);
    }
    if (run == 3) args.push_back("");
    ProcessResult r = RunHeadless(args, "quit\n");
    EXPECT_TRUE(r.status == 0 || r.status == 255) << "run " << run << " status " << r.status;
  }
}

// A vehicle file nested a hundred thousand deep overflowed the stack (status 139 at start, the
// running program gone after "load"), and a FIFO named as a vehicle file, a trace or a capture
// kept the program waiting for good, deaf to "quit". Each is refused with its reason: at start
// the run ends with -1, while running the command fails and the next one is read.
TEST(ProgramRun, AHostileVehicleFileOrCaptureIsRefusedAndTheRunGoesOn) {
  char dir[] = "/tmp/padix-hostile-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string deep = std::string(dir) + "/deep.toml", fifo = std::string(dir) + "/fifo";
  std::string header = "[a";
  for (int level = 1; level < 150000; ++level) header += ".a";
  std::ofstream(deep) << header << "]\n";
  MakeFifo(fifo);
  const std::string tooDeep = "1:129: nested more than 64 levels deep";
  const std::string notRegular = "cannot read the file: not a regular file";

  ProcessResult r = RunHeadless({"vehicle=" + deep}, "\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, deep + ":" + tooDeep + "\n");
  r = RunHeadless({"vehicle=" + fifo}, "\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, fifo + ": " + notRegular + "\n");

  HeadlessChild padix({});
  ASSERT_TRUE(padix.Running());
  const struct {
    std::string command, prefix, rest;  // the line on standard error: prefix, then rest
  } commands[] = {
      {"load " + deep, deep + ":", tooDeep},
      {"load " + fifo, fifo + ": ", notRegular},
      {"import " + fifo, fifo + ": ", notRegular},
      {"set trace " + fifo, "set trace: ", "cannot read the trace " + fifo + ": not a regular file"},
  };
  for (const auto& c : commands) {
    padix.Send(c.command);
    EXPECT_EQ(padix.WaitForErrLine(c.prefix), c.rest) << c.command;
  }
  EXPECT_EQ(padix.Quit(), 1) << padix.Err();  // the refused commands failed
  std::filesystem::remove_all(dir);
}

}  // namespace
