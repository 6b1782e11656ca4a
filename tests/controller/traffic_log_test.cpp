// The traffic log on a full disk: the run goes on, the log stops at its last whole entry and
// standard error says so once. The disk fills up in a child process with a file size limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "line/traffic_log.h"
#include "tests/support/wait_for.h"

namespace {

std::string Text(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(TrafficLog, AFullDiskStopsTheLogAtAWholeEntryAndSaysSoOnce) {
  char dir[] = "/tmp/padix-log-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string log = std::string(dir) + "/traffic.log", err = std::string(dir) + "/stderr.txt";
  // Room for the heading and a few entries; the limit falls inside an entry. The child logs on
  // long after the disk is full, then closes the log and ends as a run that was not disturbed.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (errFd < 0 || dup2(errFd, STDERR_FILENO) < 0) _exit(2);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit = {300, 300};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(3);
    if (emu_OpenTrafficLog(log.c_str()) != 0) _exit(4);
    static const char REQUEST[] = "010C\r", ANSWER[] = "41 0C 0C 30 \r\r>";
    for (int i = 0; i < 200; ++i) {
      emu_LogTraffic(EmuSender::Tester, reinterpret_cast<const uint8_t*>(REQUEST), sizeof REQUEST - 1);
      emu_LogTraffic(EmuSender::Module, reinterpret_cast<const uint8_t*>(ANSWER), sizeof ANSWER - 1);
    }
    emu_CloseTrafficLog();
    _exit(0);
  }
  int status = 0;
  const bool ended = WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; }, 10000);
  if (!ended) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  ASSERT_TRUE(ended) << "the run stopped with the disk full";
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  ASSERT_EQ(WEXITSTATUS(status), 0);

  const std::string text = Text(log);
  ASSERT_FALSE(text.empty());
  EXPECT_LE(text.size(), 300u);
  EXPECT_EQ(text.back(), '\n') << "cut inside an entry:\n" << text;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line.rfind("# Padix traffic log", 0), 0u);
  const std::regex entry(R"( *[0-9]+\.[0-9]{3} (tester 010C<0D>|module 41 0C 0C 30 <0D><0D>>))");
  int entries = 0;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, entry)) << line;
    ++entries;
  }
  EXPECT_GE(entries, 2);

  const std::string said = Text(err);
  EXPECT_EQ(Count(said, "traffic log " + log + ": write failed: File too large; logging stopped\n"), 1u) << said;
  EXPECT_EQ(Count(said, "traffic log"), 1u) << said;
  unlink(log.c_str());
  unlink(err.c_str());
  rmdir(dir);
}

}  // namespace

// The window's live view: the last entries kept in memory with or without a log file, numbered
// so that a reader takes only those after the last it has, each as the file has it.
TEST(TrafficLog, KeepsTheLastEntriesInMemoryAsTheFileHasThem) {
  const uint64_t before = emu_TrafficEntryCount();
  uint64_t testerBefore = 0, moduleBefore = 0;
  emu_TrafficSenderCounts(&testerBefore, &moduleBefore);
  emu_KeepTrafficInMemory();
  static const char REQUEST[] = "010C\r", ANSWER[] = "41 0C 0C 30 \r\r>";
  auto exchange = [] {
    emu_LogTraffic(EmuSender::Tester, reinterpret_cast<const uint8_t*>(REQUEST), sizeof REQUEST - 1);
    emu_LogTraffic(EmuSender::Module, reinterpret_cast<const uint8_t*>(ANSWER), sizeof ANSWER - 1);
  };
  exchange();  // no log file: kept all the same
  ASSERT_EQ(emu_TrafficEntryCount(), before + 2);
  char entry[TRAFFIC_KEPT_LENGTH + 1];
  ASSERT_EQ(emu_TrafficEntry(before + 1, entry, sizeof entry), 0);
  EXPECT_TRUE(std::regex_match(entry, std::regex(" *[0-9]+\\.[0-9]{3} tester 010C<0D>"))) << entry;
  ASSERT_EQ(emu_TrafficEntry(before + 2, entry, sizeof entry), 0);
  EXPECT_TRUE(std::regex_match(entry, std::regex(" *[0-9]+\\.[0-9]{3} module 41 0C 0C 30 <0D><0D>>"))) << entry;
  EXPECT_EQ(emu_TrafficEntry(before + 3, entry, sizeof entry), -1) << "not written yet";

  char dir[] = "/tmp/padix-log-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string log = std::string(dir) + "/traffic.log";
  ASSERT_EQ(emu_OpenTrafficLog(log.c_str()), 0);
  for (size_t i = 0; i < TRAFFIC_KEPT; ++i) exchange();
  // A line longer than an entry kept: cut, never run over.
  const std::string longLine(TRAFFIC_KEPT_LENGTH * 2, 'A');
  emu_LogTraffic(EmuSender::Tester, reinterpret_cast<const uint8_t*>(longLine.data()), longLine.size());
  emu_CloseTrafficLog();
  const uint64_t count = emu_TrafficEntryCount();
  EXPECT_EQ(count, before + 2 + 2 * TRAFFIC_KEPT + 1);
  uint64_t tester = 0, module = 0;
  emu_TrafficSenderCounts(&tester, &module);
  EXPECT_EQ(tester - testerBefore, TRAFFIC_KEPT + 2);
  EXPECT_EQ(module - moduleBefore, TRAFFIC_KEPT + 1);

  // The oldest kept is TRAFFIC_KEPT back; the one before it is gone. Each is a line of the file.
  EXPECT_EQ(emu_TrafficEntry(count - TRAFFIC_KEPT, entry, sizeof entry), -1);
  ASSERT_EQ(emu_TrafficEntry(count, entry, sizeof entry), 0);
  EXPECT_EQ(strlen(entry), TRAFFIC_KEPT_LENGTH);
  std::istringstream lines(Text(log));
  std::vector<std::string> fileLines;
  for (std::string line; std::getline(lines, line);) fileLines.push_back(line);
  ASSERT_GE(fileLines.size(), TRAFFIC_KEPT);
  for (uint64_t back = 1; back < TRAFFIC_KEPT; ++back) {
    ASSERT_EQ(emu_TrafficEntry(count - back, entry, sizeof entry), 0) << back;
    ASSERT_EQ(entry, fileLines[fileLines.size() - 1 - back]) << back;
  }
  char small[8];
  ASSERT_EQ(emu_TrafficEntry(count - 1, small, sizeof small), 0);
  EXPECT_EQ(strlen(small), sizeof small - 1);
  unlink(log.c_str());
  rmdir(dir);
}
