// The module thread under test with both of its clients played by the test: the firmware's end
// of the USART (usart_side.h) and, in the serial modes, the far end of a pseudo-terminal.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "line/serial_port.h"
#include "module/module.h"
#include "tests/simulator/usart_side.h"

class ModuleThread : public ::testing::Test {
 protected:
  void SetUp() override {
    UsartSideInit();
    UBRR0 = emu_BaudrateToUBRR0(9600);
    PORTE = 0x13;  // module held in reset
    emu_SetTimerUpdate(0);
    syncWithQimIsDone = 0;
    tarnicThreadWasCreated = 0;
    padixMode = EmuMode::Emulator;
    emu_QimInitState();
  }

  void TearDown() override {
    if (started_) {
      pthread_cancel(thread_);
      pthread_join(thread_, nullptr);
    }
    emu_CloseCOM();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    padixMode = EmuMode::Emulator;
    syncWithQimIsDone = 0;
    emu_QimInitState();
    UsartSideExit();
  }

  // A serial port in the given mode whose far end (the master side) the test plays.
  void OpenSerialPort(EmuMode mode) {
    char name[128];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    ASSERT_EQ(emu_InitCOM(name, 19200), 0);
    padixMode = mode;
  }

  void Start() {
    ASSERT_EQ(pthread_create(&thread_, nullptr, emu_QimThread, nullptr), 0);
    started_ = true;
  }

  // What the firmware's reset sequence does up to the module's first prompt.
  void ReleaseReset() {
    PORTE |= 0x80;
    ASSERT_TRUE(WaitFor([] { return emu_GetTimerUpdate() != 0; }));
    emu_SetTimerUpdate(0);
    ASSERT_EQ(FirmwareReceivesAnswer(), ">");
  }

  std::string FirmwareAsks(const std::string& line) {
    EXPECT_TRUE(FirmwareSends(line + "\r"));
    return FirmwareReceivesAnswer();
  }

  // Writes everything, also lines longer than the pseudo-terminal's buffer: the module thread
  // reads while this waits.
  void SendToPort(const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
      ssize_t n = write(master_, bytes.data() + at, bytes.size() - at);
      ASSERT_GT(n, 0) << "write to the port failed at byte " << at;
      at += static_cast<size_t>(n);
    }
  }

  // Bytes from the port up to and including `last`.
  std::string ReceiveFromPort(char last) {
    std::string bytes;
    WaitFor([&] {
      pollfd p = {master_, POLLIN, 0};
      char c;
      while (poll(&p, 1, 0) > 0 && read(master_, &c, 1) == 1) {
        bytes += c;
        if (c == last) return true;
      }
      return false;
    });
    return bytes;
  }

  // Waits until the module thread has read everything sent to the port so far.
  bool PortInputTaken() {
    return WaitFor([&] {
      int waiting = -1;
      return ioctl(slave_, FIONREAD, &waiting) == 0 && waiting == 0;
    });
  }

  std::string ClientAsks(const std::string& line) {
    SendToPort(line + "\r");
    return ReceiveFromPort('>');
  }

  pthread_t thread_{};
  bool started_ = false;
  int master_ = -1;
  int slave_ = -1;
};
