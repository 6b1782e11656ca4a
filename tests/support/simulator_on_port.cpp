// Client side of a simulator-mode run on a pseudo-terminal or a TCP port.
#include "tests/support/simulator_on_port.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {
std::vector<std::string> SimulatorArgs(SimLine line, const std::vector<std::string>& extra) {
  std::vector<std::string> args{line == SimLine::Tcp ? "tcp:0" : "/dev/ptmx", "sim"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
}  // namespace

int ConnectTcp(const std::string& hostPort) {
  const size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(atoi(hostPort.c_str() + colon + 1)));
  if (inet_pton(AF_INET, hostPort.substr(0, colon).c_str(), &a.sin_addr) != 1) return -1;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fcntl(fd, F_SETFL, O_NONBLOCK);
  return fd;
}

std::string TcpName(int fd) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  char host[INET_ADDRSTRLEN] = "?";
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) return "?";
  inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
  return std::string(host) + ":" + std::to_string(ntohs(a.sin_port));
}

SimulatorOnPort::SimulatorOnPort(SimLine line, const std::vector<std::string>& extra)
    : line_(line),
      sim_(SimulatorArgs(line, extra)),
      serve_(std::find(extra.begin(), extra.end(), "serve") != extra.end()) {}

SimulatorOnPort::~SimulatorOnPort() { Close(); }

testing::AssertionResult SimulatorOnPort::Open() {
  ended_ = false;
  if (line_ == SimLine::Tcp) {
    fd_ = ConnectTcp(where_);
    if (fd_ < 0) return testing::AssertionFailure() << "cannot connect to " << where_;
    clientName_ = TcpName(fd_);
    return testing::AssertionSuccess();
  }
  // Close-on-exec: another run started meanwhile must not hold the terminal open, or the module
  // would never see this client hang up.
  fd_ = open(where_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return testing::AssertionFailure() << "cannot open " << where_;
  termios raw;
  tcgetattr(fd_, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd_, TCSANOW, &raw);
  return testing::AssertionSuccess();
}

testing::AssertionResult SimulatorOnPort::Serving(const std::string& atiAnswer) {
  where_ = sim_.WaitForErrLine(line_ == SimLine::Tcp ? "Listening on " : "Serial device: ");
  if (where_.empty()) return testing::AssertionFailure() << "no line named: " << sim_.Err();
  if (testing::AssertionResult opened = Open(); !opened) return opened;
  if (serve_) {
    // The request waits on the line until the module answers, about a second after start.
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
  // The prompt written at start-up waits in the terminal. Over TCP nobody was connected then:
  // the first thing the client receives must be the answer to its own request.
  if (line_ == SimLine::Pty) tcflush(fd_, TCIFLUSH);
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
  Forget();
  if (line_ == SimLine::Tcp) {
    if (testing::AssertionResult nobody = ServesNobody(); !nobody) return nobody;
  }
  return Open();
}

testing::AssertionResult SimulatorOnPort::ReopenAtOnce() {
  Close();
  Forget();
  return Open();
}

testing::AssertionResult SimulatorOnPort::ServesNobody(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto endsWith = [](const std::string& line, const std::string& end) {
    return line.size() >= end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0;
  };
  // A client that was answered was announced before: what is in the pipe already is counted.
  while (sim_.ReadOutput(0)) {
  }
  for (;;) {
    const std::string& err = sim_.Err();
    for (size_t end; (end = err.find('\n', errCounted_)) != std::string::npos; errCounted_ = end + 1) {
      const std::string line = err.substr(errCounted_, end - errCounted_);
      if (line.compare(0, 7, "Client ") != 0) continue;
      if (endsWith(line, " connected")) ++clientsIn_;
      if (endsWith(line, " left")) ++clientsOut_;
    }
    if (clientsIn_ == clientsOut_) return testing::AssertionSuccess();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      const size_t tail = std::min<size_t>(err.size(), 2000);
      return testing::AssertionFailure() << clientsIn_ << " clients taken in, " << clientsOut_
                                         << " seen leaving; the run said last:\n" << err.substr(err.size() - tail);
    }
    sim_.ReadOutput(static_cast<int>(left.count()));
  }
}

void SimulatorOnPort::Write(const std::string& bytes) {
  for (size_t at = 0; at < bytes.size();) {
    pollfd p = {fd_, POLLIN | POLLOUT, 0};
    ASSERT_GT(poll(&p, 1, 5000), 0) << "the module stopped reading at byte " << at;
    if (p.revents & POLLIN) Drain();
    if (p.revents & POLLOUT) {
      const ssize_t n = write(fd_, bytes.data() + at, std::min<size_t>(bytes.size() - at, 4096));
      if (n > 0) at += static_cast<size_t>(n);
      if (n < 0 && !WouldBlock() && line_ == SimLine::Tcp) ended_ = true;
    }
    ASSERT_FALSE(ended_) << "the run closed the line at byte " << at << " of " << bytes.size();
  }
}

std::string SimulatorOnPort::ReadAnswer(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t prompt = received_.find('>', taken_);
    if (prompt != std::string::npos) {
      std::string answer = received_.substr(taken_, prompt + 1 - taken_);
      taken_ = prompt + 1;
      // Megabytes of answers may be waiting (a flood of noise echoed): what was read goes in
      // large steps, not answer by answer.
      if (taken_ >= 65536 || taken_ == received_.size()) received_.erase(0, taken_), taken_ = 0;
      return answer;
    }
    if (ended_) return "";
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
  // End of stream, or reset: the run closed the connection (a terminal: hung it up).
  if (n == 0 || (line_ == SimLine::Tcp && !WouldBlock())) ended_ = true;
}
