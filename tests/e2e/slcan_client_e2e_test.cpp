// A CAN tool on Padix's serial CAN adapter: python-can's own slcan interface on the printed
// terminal and over TCP (socket://), reading the default car's engine speed, trouble codes and
// VIN (a multi-frame answer) by raw ISO 15765-2 frames. Skipped, saying so, where Debian's
// python3-can is not installed.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/simulator_on_port.h"

namespace {

// Debian's interpreter, where python3-can is installed; another python3 on the PATH may lack it.
std::string Python() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

bool PythonCanInstalled() {
  const std::string command = Python() + " -c 'import can.interfaces.slcan' 2>/dev/null";
  return system(command.c_str()) == 0;
}

// Runs the tool (up to 30 s) against `where` and returns its printed lines.
std::vector<std::string> RunTool(const std::string& where) {
  const std::string command = "timeout 30 " + Python() + " " + PADIX_SOURCE_DIR + "/tests/e2e/slcan/obd_by_isotp.py '" +
                              where + "' 2>&1";
  FILE* out = popen(command.c_str(), "r");
  std::vector<std::string> lines;
  char buf[4096];
  while (out != nullptr && fgets(buf, sizeof buf, out) != nullptr) {
    std::string line(buf);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  const int status = out != nullptr ? pclose(out) : -1;
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

INSTANTIATE_TEST_SUITE_P(Lines, SlcanClient, ::testing::Values(SimLine::Pty, SimLine::Tcp), SimLineName);

}  // namespace
