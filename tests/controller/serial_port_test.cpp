// The serial port layer on pseudo-terminals: line speed with its 9600 fallback, the settings put
// back at close, the unread input a write throws away, and a client of Padix's own terminal
// that leaves nothing behind for the next one, even when the next one opens it at once.
#include "line/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "controller/controller.h"
#include "tests/support/wait_for.h"

namespace {

class SerialPort : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(openpty(&master_, &slave_, name_, nullptr, nullptr), 0); }
  void TearDown() override {
    emu_CloseCOM();
    close(master_);
    close(slave_);
  }
  speed_t Speed() {
    termios t;
    EXPECT_EQ(tcgetattr(slave_, &t), 0);
    EXPECT_EQ(cfgetispeed(&t), cfgetospeed(&t));
    return cfgetospeed(&t);
  }
  // Opens /dev/ptmx as a user starts it; the terminal named on standard error, "" on failure.
  static std::string OpenOwnTerminal() {
    testing::internal::CaptureStderr();
    const int opened = emu_InitCOM("/dev/ptmx", 38400);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(opened, 0) << printed;
    EXPECT_EQ(printed.rfind("Serial device: /dev/pts/", 0), 0u) << printed;
    if (opened != 0 || printed.size() < 16) return "";
    return printed.substr(15, printed.size() - 16);
  }
  static int OpenClient(const std::string& pts) {
    const int client = open(pts.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(client, 0) << pts;
    termios raw;
    tcgetattr(client, &raw);
    cfmakeraw(&raw);
    tcsetattr(client, TCSANOW, &raw);
    return client;
  }
  // Bytes waiting to be read on a descriptor.
  static bool Waiting(int fd, int count) {
    return WaitFor([&] {
      int n = -1;
      return ioctl(fd, FIONREAD, &n) == 0 && n == count;
    });
  }

  int master_ = -1, slave_ = -1;
  char name_[128];
};

TEST_F(SerialPort, ListedRatesAreSetOthersGive9600AndCloseRestoresTheOldSettings) {
  termios before;
  ASSERT_EQ(tcgetattr(slave_, &before), 0);
  cfsetspeed(&before, B4800);
  ASSERT_EQ(tcsetattr(slave_, TCSANOW, &before), 0);

  const struct {
    uint32_t baud;
    speed_t speed;
  } rates[] = {{19200, B19200}, {38400, B38400},   {57600, B57600}, {115200, B115200},
               {9600, B9600},   {4800, B9600},     {0, B9600},      {230400, B9600}};
  for (const auto& rate : rates) {
    ASSERT_EQ(emu_InitCOM(name_, rate.baud), 0);
    EXPECT_EQ(Speed(), rate.speed) << rate.baud;
    termios t;
    tcgetattr(slave_, &t);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw";
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t{CS8}) << "8N1";
    EXPECT_EQ(emu_CloseCOM(), 0);
    EXPECT_EQ(Speed(), B4800) << "the settings before the port was opened";
  }
}

// Through /dev/ptmx as a user starts it: the client opens the terminal named on standard error.
TEST_F(SerialPort, WriteDiscardsWhatTheOtherSideSentAndWasNotRead) {
  const std::string pts = OpenOwnTerminal();
  ASSERT_FALSE(pts.empty());
  const int client = OpenClient(pts);
  ASSERT_GE(client, 0);

  ASSERT_EQ(write(client, "AT", 2), 2);
  uint8_t byte = 0;
  ASSERT_TRUE(WaitFor([&] { return emu_ReadByteCOM(&byte) == 1; }));
  EXPECT_EQ(byte, 'A');
  // "T" is still unread when the port writes: it is gone, the written byte arrives.
  ASSERT_EQ(emu_WriteByteCOM('>'), 1);
  EXPECT_EQ(emu_ReadByteCOM(&byte), 0) << "read " << byte;
  ASSERT_TRUE(Waiting(client, 1));
  char c = 0;
  EXPECT_EQ(read(client, &c, 1), 1);
  EXPECT_EQ(c, '>');

  // Both queues go with a flush; reading never waits.
  ASSERT_EQ(write(client, "0100", 4), 4);
  ASSERT_EQ(emu_WriteByteCOM('x'), 1);
  emu_FlushCOM();
  EXPECT_EQ(emu_ReadByteCOM(&byte), 0);
  close(client);
}

TEST_F(SerialPort, AClientThatClosesTheTerminalLeavesNothingForTheNextOne) {
  const std::string pts = OpenOwnTerminal();
  ASSERT_FALSE(pts.empty());
  int client = OpenClient(pts);
  ASSERT_GE(client, 0);
  ASSERT_EQ(write(client, "0", 1), 1);
  uint8_t byte = 0;
  ASSERT_TRUE(WaitFor([&] { return emu_ReadByteCOM(&byte) == 1; }));
  ASSERT_EQ(emu_WriteByteCOM('4'), 1);
  ASSERT_EQ(emu_WriteByteCOM('1'), 1);
  ASSERT_TRUE(Waiting(client, 2));
  ASSERT_EQ(write(client, "1", 1), 1);
  emu_WaitForCOMInput(1000);  // until the byte has arrived
  close(client);  // "41" never read by it, "1" never read from it
  EXPECT_EQ(emu_TakeCOMHangUp(), 0) << "not noticed yet";

  emu_WaitForCOMInput(50);
  EXPECT_EQ(emu_TakeCOMHangUp(), 1);
  EXPECT_EQ(emu_TakeCOMHangUp(), 0) << "reported once";
  EXPECT_EQ(emu_ReadByteCOM(&byte), 0) << "the departed client's byte was kept: " << byte;
  emu_WaitForCOMInput(10);
  EXPECT_EQ(emu_TakeCOMHangUp(), 0) << "still the same hang-up";

  client = OpenClient(pts);
  ASSERT_GE(client, 0);
  int waiting = -1;
  EXPECT_EQ(ioctl(client, FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 0) << "bytes written for the client before were kept for this one";
  ASSERT_EQ(write(client, "A", 1), 1);
  ASSERT_TRUE(WaitFor([&] { return emu_ReadByteCOM(&byte) == 1; }));
  EXPECT_EQ(byte, 'A');
  EXPECT_EQ(emu_TakeCOMHangUp(), 0);

  // It leaves too, and is noticed by a read as well as by a wait.
  close(client);
  EXPECT_EQ(emu_ReadByteCOM(&byte), 0);
  EXPECT_EQ(emu_TakeCOMHangUp(), 1);
}

// The next client may open the terminal before the port has looked at the line, so that the
// hang-up was never there to see: the one before is noticed as gone all the same, and what it
// was not given goes with it, while the next client's first bytes are its own.
TEST_F(SerialPort, AClientThatLeavesAsTheNextOneOpensIsNoticedAndTheNextKeepsItsBytes) {
  const std::string pts = OpenOwnTerminal();
  ASSERT_FALSE(pts.empty());
  int client = OpenClient(pts);
  ASSERT_GE(client, 0);
  ASSERT_EQ(write(client, "1003\r", 5), 5);
  uint8_t bytes[16];
  ASSERT_TRUE(WaitFor([&] {
    emu_WaitForCOMInput(10);
    return emu_ReadCOM(bytes, sizeof bytes) == 5;
  }));
  EXPECT_EQ(emu_TakeCOMHangUp(), 0);
  emu_WriteCOM("7F 10 78\r", 9);
  ASSERT_TRUE(Waiting(client, 9));
  close(client);
  client = OpenClient(pts);
  ASSERT_GE(client, 0);
  ASSERT_EQ(write(client, "ATI\r", 4), 4);

  emu_WaitForCOMInput(1000);
  EXPECT_EQ(emu_TakeCOMHangUp(), 1) << "the client before was not seen leaving";
  std::string got;
  ASSERT_TRUE(WaitFor([&] {
    const int n = emu_ReadCOM(bytes, sizeof bytes);
    if (n > 0) got.append(reinterpret_cast<char*>(bytes), static_cast<size_t>(n));
    return got.size() >= 4;
  }, 1000)) << got;
  EXPECT_EQ(got, "ATI\r");
  EXPECT_EQ(emu_TakeCOMHangUp(), 0);
  int waiting = -1;
  EXPECT_EQ(ioctl(client, FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 0) << "bytes written for the client before were kept for this one";
  close(client);
}

// The next client may also open the terminal and write while the port is between its look at the
// client's end and its read, so that the read takes the next client's first bytes before the
// hang-up is seen. The port's reader drops what it read before a hang-up it is told of after the
// read (the adapters do: it was the last client's); those bytes must then not have been given out
// as read. Many quick changes of client, each with one request, and every request arrives once.
TEST_F(SerialPort, ANextClientWhoseBytesCrossTheHangUpStillHasItsRequestRead) {
  const std::string pts = OpenOwnTerminal();
  ASSERT_FALSE(pts.empty());
  std::atomic<int> requestsSeen{0};
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    std::string input;
    uint8_t bytes[64];
    while (!stop) {
      emu_WaitForCOMInput(5);
      if (emu_TakeCOMHangUp() != 0) input.clear();
      for (int n; (n = emu_ReadCOM(bytes, sizeof bytes)) > 0;) input.append(reinterpret_cast<char*>(bytes), n);
      if (emu_TakeCOMHangUp() != 0) input.clear();  // read before the word: the last client's
      for (size_t end; (end = input.find('\r')) != std::string::npos; input.erase(0, end + 1)) ++requestsSeen;
    }
  });
  constexpr int CLIENTS = 300;
  int client = OpenClient(pts);
  for (int i = 0; i < CLIENTS && client >= 0; ++i) {
    const int before = requestsSeen;
    ASSERT_EQ(write(client, "ATI\r", 4), 4);
    if (!WaitFor([&] { return requestsSeen > before; }, 2000)) {
      ADD_FAILURE() << "the request of client " << i << " was never read";
      break;
    }
    close(client);
    client = OpenClient(pts);
  }
  stop = true;
  reader.join();
  if (client >= 0) close(client);
}

// A drop hangs the client up, and a hang-up puts a terminal's settings back to a fresh one's
// (echo on, lines edited). The next client finds the line's own settings all the same: until it
// set its own, what the line writes (a periodic frame, an answer) would otherwise come straight
// back as if the client had sent it.
TEST_F(SerialPort, AfterADropTheNextClientFindsTheLinesSettingsNotAFreshTerminals) {
  const std::string pts = OpenOwnTerminal();
  ASSERT_FALSE(pts.empty());
  const int client = open(pts.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(client, 0);
  emu_DropCOMClient();
  ASSERT_TRUE(WaitFor([] {
    emu_WaitForCOMInput(10);
    return emu_TakeCOMHangUp() != 0;
  })) << "the drop was never carried out";
  char byte;
  EXPECT_EQ(read(client, &byte, 1), 0) << "the client was not hung up";
  close(client);

  const int next = open(pts.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(next, 0);
  termios settings;
  ASSERT_EQ(tcgetattr(next, &settings), 0);
  EXPECT_EQ(settings.c_lflag & (ECHO | ICANON), 0u);
  emu_WriteCOM("t3E92CAFE\r", 10);
  ASSERT_TRUE(Waiting(next, 10));
  uint8_t back[16];
  EXPECT_EQ(emu_ReadCOM(back, sizeof back), 0) << "what the line wrote came back";
  close(next);
}

// The kind of line comes from the device's name alone: "tcp:" a network line, "/dev/ptmx" a
// terminal of Padix's own that clients come to, any other name (one that only looks alike
// among them) a serial device whose other end is wired. A closed line is none of them: it
// reads, writes and waits for nothing.
TEST_F(SerialPort, TheDeviceNameChoosesTheKindOfLineAndAClosedLineDoesNothing) {
  const auto ExpectClosed = [](const char* after) {
    uint8_t byte = 0;
    const char* kind = nullptr;
    const char* where = nullptr;
    EXPECT_EQ(emu_IsCOMOpen(), 0) << after;
    EXPECT_EQ(emu_ReadByteCOM(&byte), 0) << after;
    EXPECT_EQ(emu_WriteByteCOM('>'), 0) << after;
    EXPECT_EQ(emu_WaitForCOMInput(0), 0) << after;
    EXPECT_EQ(emu_TakeCOMHangUp(), 0) << after;
    EXPECT_FALSE(emu_COMClientPlace(&kind, &where)) << after;
    emu_DropCOMClient();
  };
  const auto Place = [] {
    const char* kind = nullptr;
    const char* where = nullptr;
    return emu_COMClientPlace(&kind, &where) ? std::string(kind) + " " + where : std::string("none");
  };
  ExpectClosed("before any line was opened");

  ASSERT_EQ(emu_InitCOM(name_, 9600), 0);
  EXPECT_EQ(emu_IsCOMOpen(), 1);
  EXPECT_EQ(Place(), "none") << "a serial device";
  EXPECT_EQ(emu_CloseCOM(), 0);
  ExpectClosed("a serial device closed");

  EXPECT_EQ(OpenOwnTerminal().rfind("/dev/pts/", 0), 0u);
  EXPECT_EQ(Place().rfind("pty /dev/pts/", 0), 0u) << Place();
  EXPECT_EQ(emu_CloseCOM(), 0);
  ExpectClosed("a terminal of Padix's own closed");

  padixMode = EmuMode::Simulator;  // served: listened on
  testing::internal::CaptureStderr();
  const int listening = emu_InitCOM("tcp:0", 9600);
  const std::string said = testing::internal::GetCapturedStderr();
  padixMode = EmuMode::Emulator;
  ASSERT_EQ(listening, 0) << said;
  EXPECT_EQ(emu_IsCOMOpen(), 1);
  EXPECT_EQ(Place().rfind("tcp 127.0.0.1:", 0), 0u) << Place();
  EXPECT_EQ(emu_CloseCOM(), 0);
  ExpectClosed("a TCP line closed");

  const struct {
    const char* device;
    const char* said;
  } refused[] = {{"tcp:port", "open() serial device failed: tcp:port is not tcp:[HOST:]PORT\n"},
                 {"tcp", "open() serial device failed: No such file or directory\n"},
                 {"/dev/ptmx0", "open() serial device failed: No such file or directory\n"}};
  for (const auto& c : refused) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(emu_InitCOM(c.device, 9600), -1) << c.device;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.said) << c.device;
    EXPECT_EQ(emu_CloseCOM(), 0);
    ExpectClosed(c.device);
  }
}

}  // namespace
