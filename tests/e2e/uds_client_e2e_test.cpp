// A UDS tester that is not Padix's own code on Padix's CAN front: scapy's UDS layer over its
// ISO 15765-2 soft socket over python-can's slcan interface (tests/e2e/uds/unlock_write_reset.py),
// against the engine ECU of examples/vehicles/uds_ecu.toml. One run of the tester: extended
// session, seed and key, a VIN written in several frames and read back, the codes by status, a
// reset and the lock it leaves; each change of session or lock a note in the traffic log.
// Skipped, saying so, where Debian's python3-scapy is not installed.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace {


bool ScapyInstalled() {
  const std::string command =
      SystemPython() + " -c 'import can.interfaces.slcan, scapy.contrib.isotp, scapy.contrib.automotive.uds' 2>/dev/null";
  return system(command.c_str()) == 0;
}

std::vector<std::string> RunTester(const std::string& device) {
  const std::string command = "timeout 60 " + SystemPython() + " " + PADIX_SOURCE_DIR +
                              "/tests/e2e/uds/unlock_write_reset.py '" + device + "' 2>&1";
  int status = -1;
  const std::vector<std::string> lines = CommandLines(command, &status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the tester failed";
  return lines;
}

TEST(UdsClient, UnlocksWritesReadsBackAndResetsThroughTheCanFront) {
  if (!ScapyInstalled()) GTEST_SKIP() << "python3-scapy is not installed (scripts/install-deps.sh test)";
  char log[] = "/tmp/padix_uds_log_XXXXXX";
  const int fd = mkstemp(log);
  ASSERT_GE(fd, 0);
  close(fd);
  HeadlessChild run({"/dev/ptmx", "sim", "slcan", "serve", std::string("vehicle=") + PADIX_SOURCE_DIR +
                     "/examples/vehicles/uds_ecu.toml", std::string("log=") + log});
  const std::string device = run.WaitForErrLine("Serial device: ");
  ASSERT_FALSE(device.empty()) << run.Err();
  const std::vector<std::string> expected = {
      "session 50 03 00 32 01 F4", "seed 67 01 12 34", "key 67 02", "write 6E F1 90", "vin PDX1234567890ABCD",
      "codes 59 02 FF 03 01 00 AB", "reset 51 01",
      "locked 7F 27 7F",        // security access is not served in the default session
      "seed again 67 01 12 34"  // a locked level gives its seed again
  };
  EXPECT_EQ(RunTester(device), expected);
  EXPECT_EQ(run.Quit(), 0);

  // The write went in frames: the tester's first frame, the ECU's flow control, the rest.
  std::stringstream text;
  text << std::ifstream(log).rdbuf();
  unlink(log);
  const std::string entries = text.str();
  for (const char* frame : {" tester t7E08" "10142EF190504458", " module t7E88" "3000000000000000",
                            " tester t7E08" "2131323334353637"}) {
    EXPECT_NE(entries.find(frame), std::string::npos) << frame << " not in\n" << entries;
  }
  // Each change of the ECU's session or lock is a note where the request that made it is.
  std::vector<std::string> notes;
  for (size_t at = entries.find("\n#"); at != std::string::npos; at = entries.find("\n#", at + 1)) {
    const size_t end = entries.find('\n', at + 1);
    const std::string line = entries.substr(at + 1, end - at - 1);
    const size_t ecu = line.find(" ECU ");
    if (ecu != std::string::npos) notes.push_back(line.substr(ecu + 1));
  }
  const std::vector<std::string> changes = {"ECU 7E0: extended, locked", "ECU 7E0: extended, level 1 unlocked",
                                            "ECU 7E0: default, locked", "ECU 7E0: extended, locked"};
  EXPECT_EQ(notes, changes) << entries;
}

}  // namespace
