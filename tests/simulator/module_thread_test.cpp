// The module thread through its phases: power-up, the start-up dialogue as the firmware's driver
// conducts it, running, and in the two serial modes the relay to a module and the service of a
// client, each over a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "host/serial_port.h"
#include "simulator/module.h"
#include "tests/simulator/usart_side.h"

namespace {

class ModuleThread : public ::testing::Test {
 protected:
  void SetUp() override {
    UsartSideInit();
    UBRR0 = emu_BaudrateToUBRR0(9600);
    PORTE = 0x13;  // module held in reset
    emu_SetTimerUpdate(0);
    syncWithQimIsDone = 0;
    tarnicThreadWasCreated = 0;
    padixMode = 0;
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
    padixMode = 0;
    syncWithQimIsDone = 0;
    emu_QimInitState();
    UsartSideExit();
  }

  // A serial port in the given mode whose far end (the master side) the test plays.
  void OpenSerialPort(int mode) {
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

  void SendToPort(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
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

const std::string LONG_LINE = "ATDPNOT_A_COMMAND_TO_BE_CUT";  // 27 characters

TEST_F(ModuleThread, StartUpDialogueAsTheFirmwareConductsIt) {
  Start();
  ReleaseReset();

  EXPECT_EQ(FirmwareAsks("ATSB1"), "19200\rOK\r>");
  // The firmware sends "ATZ", drops it with its buffers and switches to 19200 baud; the module
  // answers that "ATZ" once it sees the switch and has handed over one 10 ms flag.
  UBRR0 = emu_BaudrateToUBRR0(19200);
  ASSERT_TRUE(WaitFor([] { return emu_GetTimerUpdate() != 0; }));
  emu_SetTimerUpdate(0);
  EXPECT_EQ(FirmwareReceivesAnswer(), "Korvan QIM1 v1.7 Sim\r>");

  EXPECT_EQ(FirmwareAsks("ATE0"), "OK\r>");
  EXPECT_EQ(FirmwareAsks("ATL0"), "OK\r>");
  EXPECT_EQ(FirmwareAsks("atof1"), "OK\r>");
  EXPECT_EQ(atof1Enabled, 1);
  EXPECT_EQ(FirmwareAsks("0100"), "?\r>");  // the start-up dialogue knows AT commands only
  EXPECT_EQ(FirmwareAsks(LONG_LINE), "?\r>");
  EXPECT_EQ(syncWithQimIsDone, 0);          // only the firmware's own spelling ends it
  EXPECT_EQ(FirmwareAsks("ATOF1"), "OK\r>");
  EXPECT_TRUE(WaitFor([] { return syncWithQimIsDone != 0; }));

  // Running: requests and commands, lines longer than the transmit ring.
  EXPECT_EQ(FirmwareAsks("ATP6"), "6 = ISO 15765-4, CAN (11/500)\r>");
  EXPECT_EQ(FirmwareAsks("0100"), ":1802\r000007E8064100FFFFFFF700\r000007E9064100B780000100\r\r>");
  EXPECT_EQ(FirmwareAsks("ATDP"), "ISO 15765-4, CAN (11/500)\r>");
  EXPECT_EQ(FirmwareAsks(LONG_LINE), "?\r>");
  EXPECT_EQ(FirmwareAsks("ATDP"), "ISO 15765-4, CAN (11/500)\r>");  // one answer per long line
}

TEST_F(ModuleThread, SimulatorModeServesTheSerialClientOnceTheFirmwareUsartIsOff) {
  OpenSerialPort(2);
  Start();
  ReleaseReset();
  EXPECT_EQ(FirmwareAsks("ATH1"), "OK\r>");
  ASSERT_TRUE(WaitFor([] { return syncWithQimIsDone != 0; }));
  EXPECT_EQ(FirmwareAsks("ATI"), "Korvan QIM1 v1.7\r>");

  UCSR0B = 0;  // the firmware entered a bridge menu
  EXPECT_EQ(ClientAsks("ATZ"), "Korvan QIM1 v1.7 Sim\r>");
  EXPECT_EQ(ath1Enabled, 0);
  EXPECT_EQ(ClientAsks("AT!01"), "PaSim V2.81\r>");
  EXPECT_EQ(ClientAsks("ATDP"), "NOT CONNECTED\r>");
  // The vehicle, still on automatic, settles on ISO 14230-4 at its first request.
  EXPECT_EQ(ClientAsks("0100"), "4100FFFFFFF7\r4100B7800001\r\r>");
  EXPECT_EQ(ClientAsks(LONG_LINE), "?\r>");
  const char* const kwp = "ISO 14230-4, KWP2000 (5 Baud Init)\r>";
  EXPECT_EQ(ClientAsks("ATDP"), kwp);  // the cut-off rest gave no answer
  SendToPort(LONG_LINE.substr(0, 22));  // a slow client: the rest follows after a pause
  ASSERT_TRUE(PortInputTaken());
  EXPECT_EQ(ClientAsks(LONG_LINE.substr(22)), "?\r>");
  EXPECT_EQ(ClientAsks("ATDP"), kwp);
  EXPECT_EQ(ClientAsks("\nATDP"), "?\r>");            // only the carriage return ends a line

  // The operator's forced answers apply to the handheld's link, not to the serial client.
  sendNoData = 1;
  EXPECT_EQ(ClientAsks("ATDP"), kwp);
  EXPECT_EQ(FirmwareReceived(), "");
}

TEST_F(ModuleThread, Obd2SoftwareModeRelaysLinesToTheModuleOnThePort) {
  OpenSerialPort(1);
  Start();
  ReleaseReset();
  EXPECT_EQ(FirmwareAsks("ATOF1"), "OK\r>");  // answered by the module thread itself
  ASSERT_TRUE(WaitFor([] { return syncWithQimIsDone != 0; }));

  ASSERT_TRUE(FirmwareSends("0100\r"));
  EXPECT_EQ(ReceiveFromPort('\r'), "0100\r");
  const std::string answer = ":\r0A01\r486B104100BE3EB811C9\r\r>";
  SendToPort(answer);
  EXPECT_EQ(FirmwareReceivesAnswer(), answer);

  ASSERT_TRUE(FirmwareSends(LONG_LINE + "\r"));
  EXPECT_EQ(ReceiveFromPort('\r'), LONG_LINE.substr(0, EMU_QIM_LINE_MAX) + "\r");
  SendToPort("?\r>");
  EXPECT_EQ(FirmwareReceivesAnswer(), "?\r>");
}

}  // namespace
