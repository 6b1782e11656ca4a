// The traffic log on a full disk: the run goes on, the log stops at its last whole entry and
// standard error says so once. The disk fills up in a child process with a file size limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

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
