// The serial port layer on pseudo-terminals: line speed with its 9600 fallback, the settings put
// back at close, and the unread input a write throws away.
#include "host/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

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
  testing::internal::CaptureStderr();
  const int opened = emu_InitCOM("/dev/ptmx", 38400);
  const std::string printed = testing::internal::GetCapturedStderr();
  ASSERT_EQ(opened, 0) << printed;
  ASSERT_EQ(printed.rfind("Serial device: /dev/pts/", 0), 0u) << printed;
  const std::string pts = printed.substr(15, printed.size() - 16);
  const int client = open(pts.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(client, 0) << pts;
  termios raw;
  tcgetattr(client, &raw);
  cfmakeraw(&raw);
  tcsetattr(client, TCSANOW, &raw);

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

}  // namespace
