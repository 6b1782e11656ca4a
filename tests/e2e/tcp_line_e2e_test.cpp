// The network line as a Wi-Fi adapter's: `padix-headless tcp:0 sim serve` listens on this machine
// and serves one client at a time. Another client is turned away at once while one is served
// (nothing it sent reaches the line) and admitted once the first has left, even in the middle of
// an answer; a client that comes back right after leaving is served; a client that shuts its side
// of the connection after its request is answered, then let go; a thousand clients come and
// go without the run's descriptors, threads or memory growing; a client that stays connected and
// silent, or one that sends and reads nothing, does not hold up quitting; a port in use and a port
// where nothing listens end the run with a message and status -1.
#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "tests/support/process.h"
#include "tests/support/simulator_on_port.h"

namespace {

const std::string QIM_ATI = "Korvan QIM1 v1.7\r>";

// Sends requests without reading until the connection takes no more: the module is then held up
// writing answers nobody reads.
void FloodWithoutReading(int fd, const std::string& request) {
  std::string lines;
  for (int i = 0; i < 1024; ++i) lines += request + "\r";
  while (send(fd, lines.data(), lines.size(), MSG_NOSIGNAL | MSG_DONTWAIT) > 0) {
  }
}

// A connection of its own, for what the run's client does not do: connecting while another
// client is served, coming back at once, staying silent, reading nothing.
class Client {
 public:
  explicit Client(const std::string& where) : fd_(ConnectTcp(where)) {
    if (fd_ >= 0) name_ = TcpName(fd_);
  }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return fd_ >= 0; }
  const std::string& Name() const { return name_; }  // as the run names it
  int Fd() const { return fd_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  // Best effort: a connection the run has closed takes nothing more.
  void Send(const std::string& bytes) { (void)!send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  // What comes up to and including the prompt, followed by "<closed>" when the run closes the
  // connection first; "" when nothing came within the time-out.
  std::string Answer(int timeoutMs = 3000) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.empty() || got.back() != '>') {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p = {fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return got;
      char buf[4096];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n > 0) {
        got.append(buf, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        return got + "<closed>";
      }
    }
    return got;
  }
  std::string Ask(const std::string& line) {
    Send(line + "\r");
    return Answer();
  }

 private:
  int fd_ = -1;
  std::string name_;
};

// From /proc/PID/status: the value of a field such as "Threads" or "VmRSS" (kB).
long StatusField(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.compare(0, field.size() + 1, field + ":") == 0) return std::stol(line.substr(field.size() + 1));
  return -1;
}

long OpenDescriptors(pid_t pid) {
  DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  long n = 0;
  while (const dirent* entry = readdir(dir)) n += entry->d_name[0] != '.';
  closedir(dir);
  return n;
}

std::string PortOf(const std::string& where) { return where.substr(where.rfind(':') + 1); }

// A port on this machine that was free a moment ago.
std::string FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0;
  close(fd);
  return bound ? std::to_string(ntohs(a.sin_port)) : "0";
}

class NetworkLine : public testing::Test {
 protected:
  // One run serving from start in the module's own personality serves the tests that only need
  // a client on the line; each leaves its client connected.
  static void TearDownTestSuite() {
    if (shared_ != nullptr) {
      EXPECT_EQ(shared_->Program().Quit(), 0);
    }
    delete shared_;
    shared_ = nullptr;
  }
  static SimulatorOnPort& Shared() {
    if (shared_ == nullptr) {
      shared_ = new SimulatorOnPort(SimLine::Tcp, {"serve"});
      EXPECT_TRUE(shared_->Serving());
    }
    return *shared_;
  }
  static SimulatorOnPort* shared_;
};
SimulatorOnPort* NetworkLine::shared_ = nullptr;

TEST_F(NetworkLine, ASecondClientIsTurnedAwayWhileOneIsServedAndAdmittedOnceTheFirstHasLeft) {
  SimulatorOnPort& port = Shared();
  ASSERT_FALSE(HasFailure());
  // The handheld left its own answer format (headers, summary line) set up in the module.
  ASSERT_EQ(port.Ask("ATZ"), "Korvan QIM1 v1.7 Sim\r>");
  const std::string supported = port.Ask("0100"), vin = port.Ask("0902");
  ASSERT_EQ(supported.compare(0, 4, "4100"), 0) << supported;
  ASSERT_EQ(vin.compare(0, 4, "4902"), 0) << vin;

  // A second client that types a reset and half a line at once: its connection is closed
  // without a byte for it, and none of what it sent reaches the line being served.
  {
    Client second(port.Where());
    ASSERT_TRUE(second.Connected());
    second.Send("ATZ\r01");
    EXPECT_EQ(second.Answer(), "<closed>");
    EXPECT_EQ(port.Program().WaitForErrLine("Refused client " + second.Name() + ": "),
              "client " + port.ClientName() + " is being served");
  }
  EXPECT_EQ(port.Ask("0100"), supported) << "the first client, served as before";
  EXPECT_EQ(port.Ask("0902"), vin);

  // The first client leaves in the middle of answers: it has sent requests until the line took
  // no more and read the start of what came. The next client is admitted, and the first thing it
  // receives is the answer to its own request.
  FloodWithoutReading(port.Fd(), "0902");
  pollfd p = {port.Fd(), POLLIN, 0};
  char start[100];
  ASSERT_TRUE(poll(&p, 1, 3000) == 1 && read(port.Fd(), start, sizeof start) > 0) << "no answer";
  port.Close();
  ASSERT_TRUE(port.Reopen());
  EXPECT_EQ(port.Ask("ATI"), QIM_ATI);
  EXPECT_EQ(port.Ask("0100"), supported);
  EXPECT_EQ(port.Ask("0902"), vin);
}

TEST_F(NetworkLine, AThousandClientsComeAndGoWithoutDescriptorsThreadsOrMemoryPilingUp) {
  SimulatorOnPort& port = Shared();
  ASSERT_FALSE(HasFailure());
  const pid_t pid = port.Program().Pid();
  // The first clients set up what every later one reuses (buffers the C library allocates once).
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(port.Reopen()) << "client " << i;
    ASSERT_EQ(port.Ask("ATI"), QIM_ATI) << "client " << i;
  }
  port.Close();
  ASSERT_TRUE(port.ServesNobody());
  const long descriptors = OpenDescriptors(pid), threads = StatusField(pid, "Threads"),
             rss = StatusField(pid, "VmRSS");

  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(port.Reopen()) << "client " << i;
    ASSERT_EQ(port.Ask("ATI"), QIM_ATI) << "client " << i;
  }
  port.Close();
  ASSERT_TRUE(port.ServesNobody());
  // The handheld's firmware thread may end meanwhile (two seconds after it entered its bridge):
  // none may be added.
  EXPECT_LE(OpenDescriptors(pid), descriptors);
  EXPECT_LE(StatusField(pid, "Threads"), threads);
  // Resident memory moves by whole pages as the allocator and the stacks touch them; 256 kB
  // leaves room for that and still catches a quarter of a kilobyte kept per client. Under the
  // thread checker, its own records of every descriptor and lock grow with each client.
#ifndef __SANITIZE_THREAD__
  EXPECT_LE(StatusField(pid, "VmRSS"), rss + 256) << "kB after 1,000 clients, " << rss << " kB before";
#else
  (void)rss;
#endif
  ASSERT_TRUE(port.Reopen());
  EXPECT_EQ(port.Ask("ATI"), QIM_ATI);
}

TEST_F(NetworkLine, AClientThatComesBackRightAfterLeavingIsServed) {
  SimulatorOnPort& port = Shared();
  ASSERT_FALSE(HasFailure());
  // A program that reconnects after a drop closes its connection and opens a new one at once.
  // The client it was has gone: the new connection is the one to serve.
  port.Close();
  for (int i = 0; i < 1000; ++i) {
    Client client(port.Where());
    ASSERT_TRUE(client.Connected());
    const std::string answer = client.Ask("ATI");
    if (answer != QIM_ATI) {
      ADD_FAILURE() << "client " << i << ", connected right after the one before closed its connection, got "
                    << testing::PrintToString(answer) << "; the run said: Refused client " << client.Name()
                    << ": " << port.Program().WaitForErrLine("Refused client " + client.Name() + ": ", 1000);
      break;
    }
  }
  ASSERT_TRUE(port.Reopen());
  EXPECT_EQ(port.Ask("ATI"), QIM_ATI);
}

TEST_F(NetworkLine, AClientThatShutsItsSideAfterItsRequestsIsAnsweredThenLetGo) {
  SimulatorOnPort& port = Shared();
  ASSERT_FALSE(HasFailure());
  port.Close();
  // As `printf '0100\r' | socat - TCP:127.0.0.1:PORT` does: connects, writes its request and
  // shuts its side of the connection at once, then reads.
  Client client(port.Where());
  ASSERT_TRUE(client.Connected());
  client.Send("0100\r");
  ASSERT_EQ(shutdown(client.Fd(), SHUT_WR), 0);
  const std::string supported = client.Answer();
  EXPECT_NE(supported.find("4100"), std::string::npos) << supported;
  EXPECT_EQ(supported.back(), '>') << supported;
  EXPECT_EQ(client.Answer(), "<closed>");
  ASSERT_TRUE(port.Reopen());
  EXPECT_EQ(port.Ask("ATI"), QIM_ATI);
}

TEST_F(NetworkLine, APortInUseOrNothingListeningEndsTheRunWithAMessageAndStatusMinusOne) {
  SimulatorOnPort& port = Shared();
  ASSERT_FALSE(HasFailure());
  // A second simulator on the shared run's port.
  const std::string inUse = PortOf(port.Where());
  ProcessResult r = RunHeadless({"tcp:" + inUse, "sim"}, "\n");
  EXPECT_EQ(r.status, 255);  // -1
  EXPECT_NE(r.err.find("bind() to 127.0.0.1:" + inUse + " failed: Address already in use"), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("Press RETURN to quit!"), std::string::npos) << r.out;
  EXPECT_EQ(port.Ask("ATI"), QIM_ATI) << "the run that listens there serves on";

  // OBD2 software mode where nothing listens.
  const std::string free = FreePort();
  r = RunHeadless({"tcp:127.0.0.1:" + free, "init=QIM"}, "\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("connect() to 127.0.0.1:" + free + " failed: Connection refused"), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("Press RETURN to quit!"), std::string::npos) << r.out;
}

// A client that stays on the line while the run is quit, with `quit` on its standard input.
enum class Stays { Silent, ReadingNothing };

class NetworkLineQuit : public testing::TestWithParam<Stays> {};

TEST_P(NetworkLineQuit, AClientThatStaysOnTheLineDoesNotHoldUpQuitting) {
  HeadlessChild run({"tcp:0", "sim", "serve"});
  const std::string where = run.WaitForErrLine("Listening on ");
  ASSERT_FALSE(where.empty()) << run.Err();
  Client client(where);
  ASSERT_TRUE(client.Connected());
  ASSERT_EQ(client.Ask("ATI"), QIM_ATI);
  ASSERT_EQ(run.WaitForErrLine("Client " + client.Name() + " "), "connected");
  if (GetParam() == Stays::ReadingNothing) {
    // Requests with long answers until neither side takes more: the module is held up writing.
    FloodWithoutReading(client.Fd(), "0902");
  }
  EXPECT_EQ(run.Quit(10000), 0) << run.Err();
}

INSTANTIATE_TEST_SUITE_P(, NetworkLineQuit, testing::Values(Stays::Silent, Stays::ReadingNothing),
                         [](const testing::TestParamInfo<Stays>& param) {
                           return std::string(param.param == Stays::Silent ? "Silent" : "ReadingNothing");
                         });

}  // namespace
