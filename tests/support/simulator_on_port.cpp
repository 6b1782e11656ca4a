// Client side of a simulator-mode run on a pseudo-terminal.
#include "tests/support/simulator_on_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {
std::vector<std::string> SimulatorArgs(const std::vector<std::string>& extra) {
  std::vector<std::string> args{"/dev/ptmx", "sim"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}
}  // namespace

SimulatorOnPort::SimulatorOnPort(const std::vector<std::string>& extra)
    : sim_(SimulatorArgs(extra)),
      serve_(std::find(extra.begin(), extra.end(), "serve") != extra.end()) {}

SimulatorOnPort::~SimulatorOnPort() { Close(); }

testing::AssertionResult SimulatorOnPort::Open() {
  fd_ = open(pts_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return testing::AssertionFailure() << "cannot open " << pts_;
  termios raw;
  tcgetattr(fd_, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd_, TCSANOW, &raw);
  return testing::AssertionSuccess();
}

testing::AssertionResult SimulatorOnPort::Serving(const std::string& atiAnswer) {
  pts_ = sim_.WaitForErrLine("Serial device: ");
  if (pts_.empty()) return testing::AssertionFailure() << "no terminal named: " << sim_.Err();
  if (testing::AssertionResult opened = Open(); !opened) return opened;
  if (serve_) {
    // The request waits in the terminal until the module answers, about a second after start.
    Write("ATI\r");
    const std::string first = ReadAnswer(10000);
    if (first == atiAnswer) return testing::AssertionSuccess();
    for (std::string next = first; !next.empty() && next != atiAnswer;) next = ReadAnswer();
    return testing::AssertionFailure() << "first answer to ATI: " << first;
  }
  if (!sim_.WaitForTitle("MAIN MENU")) return testing::AssertionFailure() << "no main menu";
  sim_.TypeAndWaitForChange("Down");
  sim_.TypeAndWaitForChange("Return");
  if (!sim_.WaitForTitle("Bluetooth Mode")) return testing::AssertionFailure() << "no bridge";
  tcflush(fd_, TCIFLUSH);  // the prompt written at start-up
  // The module takes the line about two seconds after the menu was entered.
  const std::string answer = Ask("ATI", 10000);
  if (answer != atiAnswer) return testing::AssertionFailure() << "ATI: " << answer;
  return testing::AssertionSuccess();
}

void SimulatorOnPort::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

testing::AssertionResult SimulatorOnPort::Reopen() {
  Close();
  received_.clear();
  return Open();
}

void SimulatorOnPort::Write(const std::string& bytes) {
  for (size_t at = 0; at < bytes.size();) {
    pollfd p = {fd_, POLLIN | POLLOUT, 0};
    ASSERT_GT(poll(&p, 1, 5000), 0) << "the module stopped reading at byte " << at;
    if (p.revents & POLLIN) Drain();
    if (p.revents & POLLOUT) {
      const ssize_t n = write(fd_, bytes.data() + at, std::min<size_t>(bytes.size() - at, 4096));
      if (n > 0) at += static_cast<size_t>(n);
    }
  }
}

std::string SimulatorOnPort::ReadAnswer(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t prompt = received_.find('>');
    if (prompt != std::string::npos) {
      std::string answer = received_.substr(0, prompt + 1);
      received_.erase(0, prompt + 1);
      return answer;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p = {fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
    Drain();
  }
}

std::string SimulatorOnPort::Ask(const std::string& line, int timeoutMs) {
  Write(line + "\r");
  return ReadAnswer(timeoutMs);
}

void SimulatorOnPort::Drain() {
  char buf[4096];
  ssize_t n;
  while ((n = read(fd_, buf, sizeof buf)) > 0) received_.append(buf, static_cast<size_t>(n));
}
