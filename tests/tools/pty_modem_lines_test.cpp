// The modem line shim: under LD_PRELOAD a program that reads the serial line's modem signals
// gets them from a pseudo-terminal, keeps the DTR and RTS it sets, and every other request, and
// every other descriptor, is answered as without it.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

int64_t NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The probe program run on a terminal, with or without the shim preloaded; what it prints is
// collected as it comes.
class Probe {
 public:
  Probe(const std::vector<std::string>& args, bool preload) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
      if (strncmp(*e, "LD_PRELOAD=", 11) != 0) env.push_back(*e);
    if (preload) env.push_back(std::string("LD_PRELOAD=") + PTY_MODEM_LINES_LIB);
    std::vector<std::string> argv{MODEM_LINES_PROBE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> envp, argp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    for (std::string& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    if (posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];
  }
  ~Probe() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  pid_t Pid() const { return pid_; }
  // Reads until `part` has come (true), or the output ended or the time ran out (false).
  bool ReadUntil(const std::string& part, int timeoutMs) {
    const int64_t end = NowMs() + timeoutMs;
    while (text_.find(part) == std::string::npos) {
      pollfd p{out_, POLLIN, 0};
      const int64_t left = end - NowMs();
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return false;
      char buf[512];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      text_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  // Everything it printed, once it has ended (within the time-out).
  const std::string& Output(int timeoutMs = 10000) {
    ReadUntil(std::string(1, '\0'), timeoutMs);  // never printed: reads to the end
    if (pid_ > 0) {
      waitpid(pid_, &status_, 0);
      pid_ = -1;
    }
    return text_;
  }
  int Status() const { return status_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string text_;
};

class PtyModemLines : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[64];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    slaveName_ = name;
  }
  void TearDown() override {
    close(master_);
    close(slave_);
  }
  int master_ = -1, slave_ = -1;
  std::string slaveName_;
};

std::string Bits(int bits) {
  char text[8];
  snprintf(text, sizeof text, "0x%03x", static_cast<unsigned>(bits));
  return text;
}

TEST_F(PtyModemLines, ALineWithTheOtherEndUpAndTheProgramsOwnDtrAndRts) {
  const std::string refused = strerror(ENOTTY);
  // Without the shim a pseudo-terminal has no modem lines: the scan tool stops here.
  Probe bare({slaveName_}, false);
  EXPECT_EQ(bare.Output().substr(0, bare.Output().find('\n')), "get error " + refused);

  Probe probe({slaveName_}, true);
  const int peer = TIOCM_DSR | TIOCM_CTS | TIOCM_CAR;
  EXPECT_EQ(probe.Output(), "get " + Bits(peer | TIOCM_DTR | TIOCM_RTS) + "\n"  // both up after open()
                            "bic " + Bits(TIOCM_DTR) + "\n"
                            "get " + Bits(peer | TIOCM_RTS) + "\n"
                            "bis " + Bits(TIOCM_DTR) + "\n"
                            "get " + Bits(peer | TIOCM_DTR | TIOCM_RTS) + "\n"
                            "set " + Bits(TIOCM_RTS | TIOCM_DSR) + "\n"
                            "get " + Bits(peer | TIOCM_RTS) + "\n"  // DSR is the other end's
                            "icount 0x000\n"                        // the lines never changed
                            "winsize 0x000\n"                       // the terminal's own answer
                            "null error " + refused + "\n");        // no terminal: as without
  EXPECT_TRUE(WIFEXITED(probe.Status()) && WEXITSTATUS(probe.Status()) == 0);
}

// The lines never change: a wait for a change lasts until a signal ends it, as on a real line.
TEST_F(PtyModemLines, AWaitForALineChangeEndsOnASignal) {
  Probe probe({slaveName_, "wait"}, true);
  ASSERT_TRUE(probe.ReadUntil("waiting\n", 10000)) << "the probe did not start";
  // The signal may come before the probe is in the wait: it is sent until the wait has ended.
  const int64_t end = NowMs() + 10000;
  while (!probe.ReadUntil("miwait", 50) && NowMs() < end) kill(probe.Pid(), SIGUSR1);
  EXPECT_EQ(probe.Output(), std::string("waiting\nmiwait error ") + strerror(EINTR) + "\n");
}

}  // namespace
