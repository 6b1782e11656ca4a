// The module thread through its phases: power-up, the start-up dialogue as the firmware's driver
// conducts it, running, and in the two serial modes the relay to a module and the service of a
// client, each over a pseudo-terminal.
#include <string>

#include "tests/simulator/module_thread_fixture.h"

namespace {

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
  OpenSerialPort(EmuMode::Simulator);
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
  OpenSerialPort(EmuMode::Obd2Software);
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

TEST_F(ModuleThread, Obd2SoftwareModeGivesUpAnAnswerTheModuleNeverEndsOnceTheFirmwareSendsAgain) {
  OpenSerialPort(EmuMode::Obd2Software);
  Start();
  ReleaseReset();
  EXPECT_EQ(FirmwareAsks("ATOF1"), "OK\r>");
  ASSERT_TRUE(WaitFor([] { return syncWithQimIsDone != 0; }));

  ASSERT_TRUE(FirmwareSends("0100\r"));
  EXPECT_EQ(ReceiveFromPort('\r'), "0100\r");
  const std::string begun = ":\r0A01\r486B10";  // and the module says no more
  SendToPort(begun);
  std::string received;
  EXPECT_TRUE(WaitFor([&] { return (received += FirmwareReceived()) == begun; })) << received;

  // The firmware stops waiting and sends its next line as its driver does, rings cleared first.
  USART_InitTxRxBuf();
  USART_WriteStr("ATN");
  USART_StartTx();
  EXPECT_EQ(ReceiveFromPort('\r'), "ATN\r") << "the line stays with the module thread";
  SendToPort("F6\r>");
  EXPECT_EQ(FirmwareReceivesAnswer(), "F6\r>");
}

}  // namespace
