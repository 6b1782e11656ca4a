// The program as a user starts it: exit statuses, the usage, failures that wait for RETURN.
#include <gtest/gtest.h>

#include <random>

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

}  // namespace
