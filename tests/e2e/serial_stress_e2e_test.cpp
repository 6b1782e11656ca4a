// The serial line under load and under faults. Simulator mode on a pseudo-terminal answers a long
// run of requests, each one complete and exactly as the first time, and keeps serving a client
// that closes its end and opens it again.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/simulator_on_port.h"
#include "tests/support/wait_for.h"

namespace {

// How many requests the long run sends: PADIX_SERIAL_STRESS_REQUESTS, 100000 by default.
long StressRequests() {
  const char* value = getenv("PADIX_SERIAL_STRESS_REQUESTS");
  const long n = value != nullptr ? atol(value) : 0;
  return n > 0 ? n : 100000;
}

// Requests whose answers never change while data jitter is off (as it is after power-on): the
// supported PIDs, engine speed, coolant temperature, confirmed trouble codes, the vehicle number.
const char* const FIXED_REQUESTS[] = {"0100", "010C", "0105", "03", "0902"};

// The first answer to each request, checked for being a complete positive answer. The reset
// first: the handheld left its own answer format (headers, summary line) set up in the module.
testing::AssertionResult FirstAnswers(SimulatorOnPort& port, std::vector<std::string>* answers) {
  if (const std::string atz = port.Ask("ATZ"); atz != "Korvan QIM1 v1.7 Sim\r>")
    return testing::AssertionFailure() << "ATZ answered " << atz;
  for (const char* request : FIXED_REQUESTS) {
    const std::string answer = port.Ask(request);
    const std::string positive = std::string("4") + request[1];
    if (answer.compare(0, positive.size(), positive) != 0 || answer.size() < 5 ||
        answer.compare(answer.size() - 3, 3, "\r\r>") != 0) {
      return testing::AssertionFailure() << request << " answered " << answer;
    }
    answers->push_back(answer);
  }
  return testing::AssertionSuccess();
}

TEST(SerialStress, SimulatorModeAnswersAHundredThousandRequestsInARowExactly) {
  SimulatorOnPort port;
  ASSERT_TRUE(port.Serving());
  std::vector<std::string> expected;
  ASSERT_TRUE(FirstAnswers(port, &expected));

  // The kinds in a shuffled but repeatable order, so that each follows each.
  std::mt19937 rng(7);
  const long count = StressRequests();
  for (long i = 0; i < count; ++i) {
    const size_t kind = rng() % std::size(FIXED_REQUESTS);
    const std::string answer = port.Ask(FIXED_REQUESTS[kind]);
    ASSERT_EQ(answer, expected[kind]) << "request " << i << " of " << count << ": "
                                      << FIXED_REQUESTS[kind];
  }
  EXPECT_EQ(port.Program().Quit(), 0);
}

// The processor time the whole process has used so far, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name (which may hold spaces): state is the 3rd, utime the 14th.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

TEST(SerialStress, SimulatorModeServesAClientThatClosesAndReopensTheTerminal) {
  SimulatorOnPort port;
  ASSERT_TRUE(port.Serving());
  std::vector<std::string> expected;
  ASSERT_TRUE(FirstAnswers(port, &expected));
  const std::string& supported = expected[0];
  const std::string& vin = expected[4];

  // Each way a client can go away: idle, with a request sent and its answer not yet read, with
  // half a line typed, and in the middle of a long answer.
  enum Leave { IDLE, ANSWER_UNREAD, HALF_LINE, DURING_ANSWER };
  const Leave leaves[] = {IDLE, ANSWER_UNREAD, HALF_LINE, DURING_ANSWER,
                          IDLE, ANSWER_UNREAD, HALF_LINE, DURING_ANSWER};
  for (size_t round = 0; round < std::size(leaves); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    switch (leaves[round]) {
      case IDLE: break;
      case ANSWER_UNREAD: port.Write("0100\r"); break;
      case HALF_LINE: port.Write("01"); break;
      case DURING_ANSWER: {
        port.Write("0902\r");
        // Part of the answer is there, the rest still coming or not yet read.
        ASSERT_TRUE(WaitFor([&] {
          pollfd p = {port.Fd(), POLLIN, 0};
          return poll(&p, 1, 0) > 0;
        }, 3000));
        break;
      }
    }
    port.Close();

    // Nobody on the line: the module waits without spinning. (A loop that retries the hung-up
    // line without pause would use a whole core in this second.)
    const long before = CpuTicks(port.Program().Pid());
    const long limit = sysconf(_SC_CLK_TCK) / 2;
    EXPECT_FALSE(WaitFor([&] { return CpuTicks(port.Program().Pid()) - before > limit; }, 1000))
        << "half a second of processor time within a second with no client";

    ASSERT_TRUE(port.Reopen());
    // A half line from before the close is not joined to the first line after it.
    EXPECT_EQ(port.Ask("0100"), supported);
    EXPECT_EQ(port.Ask("0902"), vin);
    EXPECT_EQ(port.Ask("ATDP"), "ISO 14230-4, KWP2000 (5 Baud Init)\r>");
  }
  EXPECT_EQ(port.Program().Quit(), 0);
}

}  // namespace
