// The serial line under load and under faults. Simulator mode on a pseudo-terminal answers a long
// run of requests, each one complete and exactly as the first time, and keeps serving a client
// that closes its end and opens it again. OBD2 software mode survives a module that goes silent in
// the middle of a reading: the handheld can leave the reading and connect again once the module
// answers again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "firmware/ui/fonts.h"
#include "firmware/ui/lcd.h"
#include "tests/support/process.h"
#include "tests/support/same_screens.h"
#include "tests/support/screen_text.h"
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
    const long before = port.Program().CpuTicks();
    const long limit = sysconf(_SC_CLK_TCK) / 2;
    EXPECT_FALSE(WaitFor([&] { return port.Program().CpuTicks() - before > limit; }, 1000))
        << "half a second of processor time within a second with no client";

    ASSERT_TRUE(port.Reopen());
    // A half line from before the close is not joined to the first line after it.
    EXPECT_EQ(port.Ask("0100"), supported);
    EXPECT_EQ(port.Ask("0902"), vin);
    EXPECT_EQ(port.Ask("ATDP"), "ISO 14230-4, KWP2000 (5 Baud Init)\r>");
  }
  EXPECT_EQ(port.Program().Quit(), 0);
}

// Stands between a run in OBD2 software mode and the simulated module of a run in simulator
// mode, passing whole lines one way and answers the other, and plays a module that goes silent:
// from a chosen request on, nothing is passed either way until it is told to answer again.
class SilenceableLine {
 public:
  SilenceableLine(int testerSide, int moduleSide) : tester_(testerSide), module_(moduleSide) {
    thread_ = std::thread([this] { Run(); });
  }
  ~SilenceableLine() {
    stop_ = true;
    thread_.join();
  }

  // From the request `line` on (the request itself not passed on): silent. With `answerBytes`,
  // the request goes through and only that much of its answer comes back.
  void SilenceAt(const std::string& line, size_t answerBytes = 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    silenceAt_ = line;
    answerBytes_ = answerBytes;
  }
  bool Silent() const { return silent_; }
  void AnswerAgain() { silent_ = false; }
  std::string Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  static void WriteAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
      const ssize_t n = write(fd, bytes, size);
      if (n > 0) {
        bytes += n, size -= static_cast<size_t>(n);
      } else {
        pollfd p = {fd, POLLOUT, 0};
        poll(&p, 1, 10);
      }
    }
  }

  void Run() {
    std::string line;
    size_t answerLeft = 0;
    bool cutting = false;
    while (!stop_) {
      pollfd p[2] = {{tester_, POLLIN, 0}, {module_, POLLIN, 0}};
      if (poll(p, 2, 10) <= 0) continue;
      char buf[512];
      ssize_t n;
      if ((p[0].revents & POLLIN) != 0 && (n = read(tester_, buf, sizeof buf)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
          if (buf[i] != '\r') {
            line += buf[i];
            continue;
          }
          std::lock_guard<std::mutex> lock(mutex_);
          requests_ += line + (silent_ ? " (dropped)\n" : "\n");
          if (!silent_ && line == silenceAt_) {
            silenceAt_.clear();
            if (answerBytes_ == 0) {
              silent_ = true;
            } else {
              cutting = true;
              answerLeft = answerBytes_;
            }
          }
          if (!silent_) WriteAll(module_, (line + "\r").data(), line.size() + 1);
          line.clear();
        }
      }
      if ((p[1].revents & POLLIN) != 0 && (n = read(module_, buf, sizeof buf)) > 0) {
        size_t pass = silent_ ? 0 : static_cast<size_t>(n);
        if (cutting && !silent_) {
          pass = std::min(pass, answerLeft);
          answerLeft -= pass;
          if (answerLeft == 0) cutting = false, silent_ = true;
        }
        if (pass > 0) WriteAll(tester_, buf, pass);
      }
    }
  }

  const int tester_, module_;
  std::thread thread_;
  std::atomic<bool> stop_{false}, silent_{false};
  std::mutex mutex_;
  std::string silenceAt_, requests_;
  size_t answerBytes_ = 0;
};

// The display, once it has stayed the same for a while.
bool SettledDisplay(HeadlessChild& program, uint8_t* shown) {
  uint8_t last[LCD_FRAME_SIZE] = {};
  auto since = std::chrono::steady_clock::now();
  return WaitFor(
      [&] {
        if (!program.Display(shown)) return false;
        if (memcmp(shown, last, LCD_FRAME_SIZE) != 0) {
          memcpy(last, shown, LCD_FRAME_SIZE);
          since = std::chrono::steady_clock::now();
        }
        return std::chrono::steady_clock::now() - since > std::chrono::milliseconds(700);
      },
      10000);
}

// Where the module falls silent in the reading that follows the connection: at a request (the
// request itself is lost), or in the middle of an answer (the first bytes come, the rest never).
struct Silence {
  const char* name;
  const char* request;
  size_t answerBytes;
  friend void PrintTo(const Silence& silence, std::ostream* out) { *out << silence.name; }
};

class SilentModule : public testing::TestWithParam<Silence> {};

struct Terminal {
  int master = -1, slave = -1;
  char name[64] = "";
  ~Terminal() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
};

TEST_P(SilentModule, Obd2SoftwareModeConnectsAgainOnceTheModuleAnswersAgain) {
  SimulatorOnPort module;
  ASSERT_TRUE(module.Serving());

  // The tester's terminal. The test keeps its own descriptor of the tester's end open, so the
  // line never hangs up.
  Terminal terminal;
  ASSERT_EQ(openpty(&terminal.master, &terminal.slave, terminal.name, nullptr, nullptr), 0);
  fcntl(terminal.master, F_SETFL, O_NONBLOCK);
  SilenceableLine line(terminal.master, module.Fd());
  // The tester sets the module up itself (reset, no echo, its answer format).
  HeadlessChild tester({terminal.name, "init=QIM"});
  HeadlessChild reference({});
  ASSERT_TRUE(tester.WaitForTitle("MAIN MENU")) << tester.Err();
  ASSERT_TRUE(reference.WaitForTitle("MAIN MENU")) << reference.Err();

  line.SilenceAt(GetParam().request, GetParam().answerBytes);
  ASSERT_TRUE(tester.TypeAndWaitForChange("Return"));  // Start Diagnostics
  ASSERT_TRUE(tester.WaitForTitle("SELECT PROTOCOL"));
  ASSERT_TRUE(tester.TypeAndWaitForChange("Return"));  // automatic scan, connect, reading
  ASSERT_TRUE(WaitFor([&] { return line.Silent(); }, 30000)) << line.Requests();
  // The handheld has no time-out of its own for an answer (its module always ends one): the
  // reading stands still at that request, its screen intact, and Esc leaves it.
  uint8_t shown[LCD_FRAME_SIZE];
  ASSERT_TRUE(SettledDisplay(tester, shown));
  EXPECT_TRUE(ShowsText(shown, 1, 0, HeaderFont.bytes, "READING DATA"))
      << ScreenRect(shown, 0, 0, LCD_WIDTH, LCD_HEIGHT);
  ASSERT_TRUE(tester.TypeAndWaitForChange("Escape"));
  ASSERT_TRUE(tester.WaitForTitle("MAIN MENU"));

  // The module answers again: the next connection gets through and reads everything, and the
  // handheld shows what the emulator-mode run shows.
  line.AnswerAgain();
  ASSERT_TRUE(tester.TypeAndWaitForChange("Return"));
  ASSERT_TRUE(tester.WaitForTitle("SELECT PROTOCOL"));
  ASSERT_TRUE(tester.TypeAndWaitForChange("Return"));
  ASSERT_TRUE(tester.WaitForTitle("DIAGNOSTICS MENU", 30000)) << line.Requests();

  for (const char* key : {"Return", "Return"}) ASSERT_TRUE(reference.TypeAndWaitForChange(key));
  ASSERT_TRUE(reference.WaitForTitle("DIAGNOSTICS MENU", 30000));
  EXPECT_TRUE(ShowTheSame(tester, reference)) << "the diagnostics menu";
  ASSERT_TRUE(tester.TypeAndWaitForChange("Return"));
  ASSERT_TRUE(reference.TypeAndWaitForChange("Return"));
  ASSERT_TRUE(tester.WaitForTitle("CURRENT DATA"));
  EXPECT_TRUE(ShowTheSame(tester, reference, true)) << "current data";

  EXPECT_EQ(tester.Quit(), 0);
  EXPECT_EQ(reference.Quit(), 0);
  EXPECT_EQ(module.Program().Quit(), 0);
}

INSTANTIATE_TEST_SUITE_P(SerialStress, SilentModule,
                         testing::Values(Silence{"AtTheTroubleCodeRequest", "03", 0},
                                         Silence{"InTheMonitorStatusAnswer", "0101", 10}),
                         [](const testing::TestParamInfo<Silence>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
