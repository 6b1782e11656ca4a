// The network line through the serial port's interface, with real sockets on this machine: one
// client served at a time and a clean line for the next, descriptors that do not pile up over
// many clients, a client that shuts its side after its request, the probes that find a vanished
// client, connections waiting to be taken in, the messages of a port in use and of nothing
// listening, and the traffic log of an exchange.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "controller/controller.h"
#include "line/serial_port.h"
#include "line/traffic_log.h"
#include "tests/support/wait_for.h"

namespace {

int OpenDescriptors() {
  int n = 0;
  DIR* dir = opendir("/proc/self/fd");
  while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
  closedir(dir);
  return n;
}

class TcpLine : public testing::Test {
 protected:
  void SetUp() override { padixMode = EmuMode::Simulator; }
  void TearDown() override {
    emu_CloseCOM();
    padixMode = EmuMode::Emulator;
  }

  // Listens on a port of the system's choice; the port from the start-up line.
  void Listen() {
    testing::internal::CaptureStderr();
    ASSERT_EQ(emu_InitCOM("tcp:0", 9600), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_EQ(said.rfind("Listening on 127.0.0.1:", 0), 0u) << said;
    port_ = std::stoi(said.substr(said.rfind(':') + 1));
  }

  int Connect() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
  }

  // The module's side: waits (taking in clients) until input is there, then reads it all.
  std::string ModuleReads(size_t bytes) {
    std::string got;
    WaitFor([&] {
      emu_WaitForCOMInput(10);
      uint8_t buf[256];
      const int n = emu_ReadCOM(buf, sizeof buf);
      if (n > 0) got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
      return got.size() >= bytes;
    }, 3000);
    return got;
  }

  // What the client receives within the time ("" when nothing; "<closed>" at end of stream).
  static std::string ClientReads(int fd, int timeoutMs = 2000) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return "";
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "<closed>";
  }

  // Lets the module take in (or turn away) waiting connections.
  static void ModuleLooks() {
    for (int i = 0; i < 5; ++i) emu_WaitForCOMInput(10);
  }

  int port_ = 0;
};

TEST_F(TcpLine, OneClientAtATimeAndACleanLineForTheNext) {
  Listen();
  const int first = Connect();
  send(first, "ATZ\r", 4, 0);
  EXPECT_EQ(ModuleReads(4), "ATZ\r");
  EXPECT_EQ(emu_TakeCOMHangUp(), 1) << "a new client starts a new line";
  emu_WriteCOM("OK\r\r>", 5);
  EXPECT_EQ(ClientReads(first), "OK\r\r>");

  testing::internal::CaptureStderr();
  const int second = Connect();
  ModuleLooks();
  EXPECT_EQ(ClientReads(second), "<closed>");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Refused client"), std::string::npos);
  close(second);

  // The first client leaves with a line half sent and an answer unread: none of it reaches the
  // next one, and the module is told that a new line begins.
  send(first, "01", 2, 0);
  EXPECT_EQ(ModuleReads(2), "01");
  close(first);
  testing::internal::CaptureStderr();
  ModuleLooks();
  uint8_t byte;
  EXPECT_EQ(emu_ReadByteCOM(&byte), 0);
  EXPECT_EQ(emu_TakeCOMHangUp(), 1);
  emu_WriteCOM("41 00\r\r>", 8);  // for nobody
  const int third = Connect();
  ModuleLooks();
  EXPECT_NE(testing::internal::GetCapturedStderr().find("left"), std::string::npos);
  EXPECT_EQ(emu_TakeCOMHangUp(), 1);
  EXPECT_EQ(ClientReads(third, 200), "");
  send(third, "ATI\r", 4, 0);
  EXPECT_EQ(ModuleReads(4), "ATI\r");
  close(third);
}

// What the window's panel shows of the client: there or not, for how long, and from where (its
// own address as the line names it), each client anew.
TEST_F(TcpLine, TheClientIsToldWithItsAddressAndTheTimeItCame) {
  Listen();
  double seconds = -1;
  char from[300] = "x";
  EXPECT_FALSE(emu_LineClient(&seconds, from, sizeof from));
  EXPECT_STREQ(from, "");
  for (int round = 0; round < 2; ++round) {
    testing::internal::CaptureStderr();
    const int fd = Connect();
    ModuleLooks();
    testing::internal::GetCapturedStderr();
    sockaddr_in own{};
    socklen_t length = sizeof own;
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length), 0);
    const std::string address = "127.0.0.1:" + std::to_string(ntohs(own.sin_port));
    EXPECT_TRUE(emu_LineClient(&seconds, from, sizeof from)) << round;
    EXPECT_EQ(from, address) << round;
    EXPECT_GE(seconds, 0.0);
    EXPECT_LT(seconds, 60.0);
    testing::internal::CaptureStderr();
    close(fd);
    EXPECT_TRUE(WaitFor([&] {
      emu_WaitForCOMInput(10);
      uint8_t byte;
      (void)emu_ReadByteCOM(&byte);
      return !emu_LineClient(&seconds, from, sizeof from);
    })) << round;
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(from, "");
  }
}

TEST_F(TcpLine, ManyClientsLeaveNoDescriptorsBehind) {
  Listen();
  const int before = OpenDescriptors();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 1000; ++i) {
    const int fd = Connect();
    send(fd, "ATI\r", 4, 0);
    ASSERT_EQ(ModuleReads(4), "ATI\r") << "client " << i;
    ASSERT_EQ(emu_TakeCOMHangUp(), 1) << "client " << i << " was not taken in as a new line";
    emu_WriteCOM("?\r\r>", 4);
    ASSERT_EQ(ClientReads(fd), "?\r\r>");
    close(fd);
    uint8_t byte;
    ASSERT_TRUE(WaitFor([&] {
      emu_WaitForCOMInput(10);
      (void)emu_ReadByteCOM(&byte);
      return emu_TakeCOMHangUp() == 1;
    }, 3000)) << "client " << i << " was not seen leaving";
  }
  (void)testing::internal::GetCapturedStderr();
  EXPECT_EQ(OpenDescriptors(), before);
}

// A client may write its request and shut its side of the connection (half-close) before it
// reads, as `printf '0100\r' | socat - TCP:...` does: it keeps its connection while the answer
// is under way, waits for the car included, gets the answer, and is let go when the module
// waits for the next request.
TEST_F(TcpLine, AClientThatShutsItsSideGetsItsAnswerThenTheConnectionCloses) {
  Listen();
  const int client = Connect();
  send(client, "0100\r", 5, 0);
  ASSERT_EQ(shutdown(client, SHUT_WR), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(ModuleReads(5), "0100\r");
  EXPECT_EQ(emu_TakeCOMHangUp(), 1) << "a new client starts a new line";
  uint8_t byte;
  EXPECT_EQ(emu_ReadByteCOM(&byte), 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(emu_WaitForCOMInputMidAnswer(10), 0) << "its end of stream read again";
  EXPECT_EQ(emu_TakeCOMHangUp(), 0) << "let go before its answer";
  emu_WriteCOM("SEARCHING...\r", 13);
  emu_WriteCOM("41 00 BE 3F A8 13 \r\r>", 21);
  EXPECT_EQ(ClientReads(client), "SEARCHING...\r41 00 BE 3F A8 13 \r\r>");
  EXPECT_EQ(emu_WaitForCOMInput(10), 0);
  EXPECT_EQ(emu_TakeCOMHangUp(), 1);
  EXPECT_EQ(ClientReads(client), "<closed>");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("left"), std::string::npos);
  close(client);
}

// The run's own end of a client's connection: the socket whose peer is that client.
int AcceptedEndOf(int client) {
  sockaddr_storage mine{}, peer{};
  socklen_t length = sizeof mine;
  if (getsockname(client, reinterpret_cast<sockaddr*>(&mine), &length) != 0) return -1;
  for (int fd = 0; fd < 1024; ++fd) {
    socklen_t peerLength = sizeof peer;
    if (fd != client && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0 &&
        peerLength == length && memcmp(&peer, &mine, length) == 0)
      return fd;
  }
  return -1;
}

int IntOption(int fd, int level, int name) {
  int value = -1;
  socklen_t length = sizeof value;
  return getsockopt(fd, level, name, &value, &length) == 0 ? value : -1;
}

// A client that vanished without closing its connection (its machine off, the Wi-Fi gone) must
// not hold the only line for ever: the kernel probes a silent connection and gives it up within
// about a minute. A live client answers the probes and keeps the line however long it is idle.
TEST_F(TcpLine, AcceptedConnectionsAreProbedSoThatAVanishedClientIsNoticed) {
  Listen();
  const int client = Connect();
  testing::internal::CaptureStderr();
  ModuleLooks();
  (void)testing::internal::GetCapturedStderr();
  const int accepted = AcceptedEndOf(client);
  ASSERT_GE(accepted, 0) << "the run took no connection in";
  EXPECT_EQ(IntOption(accepted, SOL_SOCKET, SO_KEEPALIVE), 1);
  const int idle = IntOption(accepted, IPPROTO_TCP, TCP_KEEPIDLE);
  const int interval = IntOption(accepted, IPPROTO_TCP, TCP_KEEPINTVL);
  const int probes = IntOption(accepted, IPPROTO_TCP, TCP_KEEPCNT);
  EXPECT_GE(idle, 20) << "a client idle between requests is not probed at once";
  EXPECT_GE(interval, 1);
  EXPECT_GE(probes, 2) << "one lost probe does not end a live connection";
  EXPECT_LE(idle + interval * probes, 75) << "seconds until a vanished client is given up";
  close(client);
}

// Programs that reconnect in quick succession, or several at once, find their connections
// completed by the kernel while the run is busy (answering, or waiting for the car): none of
// them waits for a retry because the queue of connections not taken in yet was full.
TEST_F(TcpLine, ConnectionsWaitingToBeTakenInAreNotHeldUp) {
  Listen();
  constexpr int CLIENTS = 32;
  int fds[CLIENTS];
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port_));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int& fd : fds) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ASSERT_TRUE(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || errno == EINPROGRESS);
  }
  // Nobody takes them in meanwhile: each must be connected all the same.
  int connected = 0;
  EXPECT_TRUE(WaitFor([&] {
    connected = 0;
    for (int fd : fds) {
      pollfd p = {fd, POLLOUT, 0};
      connected += poll(&p, 1, 0) == 1 && IntOption(fd, SOL_SOCKET, SO_ERROR) == 0;
    }
    return connected == CLIENTS;
  }, 3000)) << connected << " of " << CLIENTS << " connections completed";
  for (int fd : fds) close(fd);
  testing::internal::CaptureStderr();
  ModuleLooks();
  (void)testing::internal::GetCapturedStderr();
}

TEST_F(TcpLine, PortInUseAndNothingListeningFailWithAMessage) {
  Listen();
  testing::internal::CaptureStderr();
  EXPECT_EQ(emu_InitCOM(("tcp:" + std::to_string(port_)).c_str(), 9600), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Address already in use"), std::string::npos);
  emu_CloseCOM();

  // The port is free again now: as a tester, nothing answers there.
  padixMode = EmuMode::Obd2Software;
  testing::internal::CaptureStderr();
  EXPECT_EQ(emu_InitCOM(("tcp:127.0.0.1:" + std::to_string(port_)).c_str(), 9600), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("connect() to 127.0.0.1:" + std::to_string(port_) +
                                                         " failed: Connection refused"),
            std::string::npos);
  testing::internal::CaptureStderr();
  EXPECT_EQ(emu_InitCOM("tcp:host:port", 9600), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("is not tcp:[HOST:]PORT"), std::string::npos);
}

TEST_F(TcpLine, TrafficLogHoldsEveryLineInOrder) {
  char path[] = "/tmp/padix-traffic-XXXXXX";
  close(mkstemp(path));
  ASSERT_EQ(emu_OpenTrafficLog(path), 0);
  Listen();
  const int client = Connect();
  for (const char* request : {"ATZ\r", "0100\r"}) {
    send(client, request, strlen(request), 0);
    ModuleReads(strlen(request));
    emu_WriteCOM("41 00 BE\r\r>", 11);
    ClientReads(client);
  }
  close(client);
  emu_CloseTrafficLog();

  std::ifstream in(path);
  std::string header, line;
  std::getline(in, header);
  EXPECT_EQ(header.rfind("# Padix traffic log", 0), 0u);
  const char* const expected[] = {"tester ATZ<0D>", "module 41 00 BE<0D><0D>>", "tester 0100<0D>",
                                  "module 41 00 BE<0D><0D>>"};
  double last = -1;
  for (const char* entry : expected) {
    ASSERT_TRUE(std::getline(in, line)) << "missing: " << entry;
    std::istringstream fields(line);
    double ms;
    fields >> ms;
    EXPECT_GE(ms, last) << line;
    last = ms;
    EXPECT_EQ(line.substr(line.find_first_not_of(' ', line.find(' ', line.find_first_not_of(' ')))), entry);
  }
  EXPECT_FALSE(std::getline(in, line)) << line;
  unlink(path);
}

}  // namespace
