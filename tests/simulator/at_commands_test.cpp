// The module's command interpreter, driven in-process: each line is answered synchronously into
// the firmware's receive ring.
#include <gtest/gtest.h>

#include <string>

#include "module/module.h"
#include "tests/simulator/usart_side.h"
#include "vehicle/vehicle.h"

namespace {

class AtInterpreter : public ::testing::Test {
 protected:
  void SetUp() override {
    UsartSideInit();
    padixMode = EmuMode::Emulator;
    emu_QimInitState();
  }
  void TearDown() override {
    padixMode = EmuMode::Emulator;
    emu_QimInitState();
    UsartSideExit();
  }

  static std::string Ask(const char* line) {
    emu_SendResponse(line);
    return FirmwareReceived();
  }
};

// "13.0V" to "13.7V".
bool IsVoltageAnswer(const std::string& answer) {
  return answer.size() == 7 && answer.compare(0, 3, "13.") == 0 && answer[3] >= '0' &&
         answer[3] <= '7' && answer.compare(4, 3, "V\r>") == 0;
}

const char* const OWN_ID = "Korvan QIM1 v1.7 Sim\r>";

TEST_F(AtInterpreter, EachPersonalityIdentifiesItself) {
  EXPECT_EQ(Ask("ATZ"), OWN_ID);
  EXPECT_EQ(Ask("ATI"), "Korvan QIM1 v1.7\r>");

  emu_QimSetDiagController(EMU_DIAG_ELM327_V11);
  EXPECT_EQ(Ask("ATZ"), "ELM327 v1.1 Sim\r>");
  EXPECT_EQ(Ask("ATI"), "ELM327 v1.1\r>");
  EXPECT_EQ(Ask("STI"), "?\r>");

  emu_QimSetDiagController(EMU_DIAG_ELM327_V13A);
  EXPECT_EQ(Ask("ATZ"), "ELM327 v1.3a Sim\r>");
  EXPECT_EQ(Ask("ATI"), "ELM327 v1.1\r>");  // v1.3a still claims v1.1 to "ATI"
  EXPECT_EQ(Ask("sti"), "ELM327 v1.3a\r>");
  const std::string description = Ask("AT@1");
  EXPECT_EQ(description.size(), 12u + 2u) << description;
  EXPECT_EQ(description.substr(12), "\r>");

  emu_QimSetDiagController(4);  // no such personality
  EXPECT_EQ(diagController, EMU_DIAG_ELM327_V13A);
}

TEST_F(AtInterpreter, OwnPersonalityRefusesElm327OnlyCommands) {
  for (const char* command : {"STI", "ATRV", "ATDPN", "ATSP6", "AT@1"}) {
    EXPECT_EQ(Ask(command), "?\r>") << command;
  }
  EXPECT_EQ(atpProtocol, 0);
}

TEST_F(AtInterpreter, CommandsMatchInAnyCase) {
  EXPECT_EQ(Ask("atz"), OWN_ID);
  EXPECT_EQ(Ask("aTz"), OWN_ID);
  EXPECT_EQ(Ask("Ate0"), "OK\r>");
  EXPECT_EQ(ate1Enabled, 0);
  EXPECT_EQ(Ask("atkw2"), "OK\r>");
  EXPECT_EQ(Ask("AtCm anything"), "OK\r>");
  EXPECT_EQ(Ask("ATKW3"), "?\r>");
  EXPECT_EQ(Ask("ATE1"), "?\r>");  // only the commands the handheld uses are known
  EXPECT_EQ(Ask("ATZ1"), "?\r>");  // exact commands take nothing after them
}

TEST_F(AtInterpreter, ArgumentsCountOnlyAfterUniformlyCasedLetters) {
  emu_QimSetDiagController(EMU_DIAG_ELM327_V11);
  EXPECT_EQ(Ask("ATSP6"), ">");
  EXPECT_EQ(atpProtocol, 6);
  EXPECT_EQ(Ask("atsp7"), ">");
  EXPECT_EQ(atpProtocol, 7);
  EXPECT_EQ(Ask("AtSp8"), "");  // argument missing: no answer at all
  EXPECT_EQ(Ask("ATSP"), "");
  EXPECT_EQ(Ask("ATSP 8"), "");  // the digit must follow directly
  EXPECT_EQ(Ask("ATSP0"), ">");  // automatic: keeps what is set
  EXPECT_EQ(atpProtocol, 7);

  EXPECT_EQ(Ask("aTp3"), "7 = ISO 15765-4, CAN (29/500)\r>");
  EXPECT_EQ(atpProtocol, 7);

  EXPECT_EQ(Ask("ATSF10"), "OK\r>");
  EXPECT_EQ(ecuFilter, 0x10);
  EXPECT_EQ(Ask("atsf7e8"), "OK\r>");  // at most two digits
  EXPECT_EQ(ecuFilter, 0x7E);
  EXPECT_EQ(Ask("AtSf20"), "OK\r>");
  EXPECT_EQ(ecuFilter, 0x7E);
  EXPECT_EQ(Ask("ATSF"), "OK\r>");
  EXPECT_EQ(ecuFilter, 0x7E);
  EXPECT_EQ(Ask("ATSF0"), "OK\r>");
  EXPECT_EQ(ecuFilter, 0);
}

TEST_F(AtInterpreter, ResetAfterBaudSelectionKeepsTheAnswerFormat) {
  EXPECT_EQ(Ask("ATSB1"), "19200\rOK\r>");
  EXPECT_EQ(Ask("ATSB6"), "250000\rOK\r>");
  EXPECT_EQ(Ask("ATSB7"), "OK\r>");
  EXPECT_EQ(Ask("AtSb1"), "OK\r>");

  Ask("ATOF1");
  Ask("ATH1");
  Ask("ATE0");
  Ask("ATSB1");
  EXPECT_EQ(Ask("ATZ"), OWN_ID);
  EXPECT_EQ(atof1Enabled, 1);
  EXPECT_EQ(ath1Enabled, 1);
  EXPECT_EQ(ate1Enabled, 0);

  EXPECT_EQ(Ask("ATZ"), OWN_ID);  // the baud selection is no longer the previous command
  EXPECT_EQ(atof1Enabled, 0);
  EXPECT_EQ(ath1Enabled, 0);
  EXPECT_EQ(ate1Enabled, 1);

  for (const char* between : {"ATE0", "ATBAD"}) {
    Ask("ATOF1");
    Ask("ATSB1");
    Ask(between);
    Ask("ATZ");
    EXPECT_EQ(atof1Enabled, 0) << between;
  }

  emu_QimSetDiagController(EMU_DIAG_ELM327_V11);
  Ask("ATOF1");
  Ask("ATH1");
  EXPECT_EQ(Ask("at@1").substr(12), "\r>");
  EXPECT_EQ(atof1Enabled, 0);
  EXPECT_EQ(ath1Enabled, 0);
}

TEST_F(AtInterpreter, ProtocolAnswersBeforeAndAfterAProtocolIsSet) {
  EXPECT_EQ(Ask("ATP"), "AUTO\r>");
  EXPECT_EQ(Ask("ATDP"), "NOT CONNECTED\r>");
  EXPECT_EQ(Ask("ATN"), "F0\r>");
  EXPECT_EQ(Ask("ATK"), "00 00\r>");

  EXPECT_EQ(Ask("ATP6"), "6 = ISO 15765-4, CAN (11/500)\r>");
  EXPECT_EQ(Ask("ATDP"), "ISO 15765-4, CAN (11/500)\r>");
  EXPECT_EQ(Ask("ATN"), "F6\r>");
  for (uint8_t i = 0; i < EMU_QIM_NO_OF_ECU_ADDR; ++i) EXPECT_EQ(ecuAddr[i], 0xE8 + i);

  EXPECT_EQ(Ask("ATP4xyz"), "4 = ISO 14230-4, KWP2000 (5 Baud Init)\r>");
  const uint8_t kLineAddr[] = {0x10, 0x18, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16};
  for (uint8_t i = 0; i < EMU_QIM_NO_OF_ECU_ADDR; ++i) EXPECT_EQ(ecuAddr[i], kLineAddr[i]);
  EXPECT_EQ(Ask("ATK"), "8F 6B\r>");
  Ask("ATP5");
  EXPECT_EQ(Ask("ATK"), "8F E9\r>");

  EXPECT_EQ(Ask("ATPA"), "?\r>");  // there is no protocol 10
  EXPECT_EQ(atpProtocol, 5);
  EXPECT_EQ(Ask("ATP0"), "AUTO\r>");
  EXPECT_EQ(atpProtocol, 0);  // emulator mode: the vehicle's protocol, still automatic

  emu_QimSetDiagController(EMU_DIAG_ELM327_V13A);
  EXPECT_EQ(Ask("ATN"), "A0\r>");
  EXPECT_EQ(Ask("ATDPN"), "A0\r>");
  Ask("ATSP9");
  EXPECT_EQ(Ask("ATDPN"), "09\r>");
  EXPECT_EQ(Ask("ATDP"), "ISO 15765-4, CAN (29/250)\r>");
}

TEST_F(AtInterpreter, StatusBlockShowsFlagsAndProtocolFamily) {
  Ask("ATL0");
  Ask("ATOF1");
  EXPECT_EQ(Ask("ATV").substr(0, 62),
            "E1 L0 H0 M0 OF1 KW1 SW19 SF00 SB03 (57600)\r"
            "  HEADER: 00 00 00\r");
  Ask("ATP8");
  Ask("ATE0");
  Ask("ATH1");
  EXPECT_EQ(Ask("atv"),
            "E0 L0 H1 M0 OF1 KW1 SW19 SF00 SB03 (57600)\r"
            "  HEADER: C0 33 F1\r"
            "  WAKEUP: C1 33 F1 3E\r"
            "CA1 CC1\r"
            "CAN-BAUD: 015A0003\r"
            "CAN-TXID: 000007DF\r"
            "CAN-RXID: 000007E8\r"
            "CAN-MASK: 000007F8\r"
            "CAN-FLOW: 00000700\r"
            "FLOWDATA: 30 00 0A 00\r>");
}

TEST_F(AtInterpreter, VersionAndVoltageAnswers) {
  EXPECT_EQ(Ask("AT!01"), "Padix V2.81\r>");
  padixMode = EmuMode::Simulator;
  EXPECT_EQ(Ask("at!01"), "PaSim V2.81\r>");
  EXPECT_PRED1(IsVoltageAnswer, Ask("AT!10"));
  emu_QimSetDiagController(EMU_DIAG_ELM327_V11);
  EXPECT_PRED1(IsVoltageAnswer, Ask("ATRV"));
}

TEST_F(AtInterpreter, LinesAreRoutedByTheirFirstCharacters) {
  EXPECT_EQ(Ask("0100"), "4100FFFFFFF7\r4100B7800001\r\r>");
  EXPECT_EQ(Ask("01 0C"), "410C0110\r\r>");
  EXPECT_EQ(Ask("1100"), "?\r>");
  EXPECT_EQ(Ask(""), "?\r>");
  EXPECT_EQ(Ask("A"), "?\r>");
  EXPECT_EQ(Ask("\nATZ"), "?\r>");  // a line feed left over from the previous line
  EXPECT_EQ(Ask("sT"), "?\r>");
  EXPECT_EQ(Ask("At!00"), "V08-01-2017\r>");
}

TEST_F(AtInterpreter, OneShotReplacementsSpareOkAndAreUsedOnce) {
  sendNoData = 1;
  EXPECT_EQ(Ask("ATE0"), "OK\r>");
  EXPECT_EQ(sendNoData, 1);
  EXPECT_EQ(Ask("0100"), "NO DATA>");  // unlike the vehicle's own NO DATA: no carriage return
  EXPECT_EQ(sendNoData, 0);
  EXPECT_EQ(Ask("ATI"), "Korvan QIM1 v1.7\r>");

  sendCanError = 1;
  sendNoData = 1;
  EXPECT_EQ(Ask("ATDP"), "CAN ERROR>");
  EXPECT_EQ(Ask("ATDP"), "NO DATA>");
  EXPECT_EQ(Ask("ATDP"), "NOT CONNECTED\r>");

  // With the firmware's USART off and no serial client nothing is sent and nothing is used up.
  UCSR0B = 0;
  sendNoData = 1;
  emu_QimSendResponseError();
  EXPECT_EQ(sendNoData, 1);
  UCSR0B = 0x98;
  EXPECT_EQ(FirmwareReceived(), "");
  EXPECT_EQ(Ask("ATI"), "NO DATA>");
}

TEST_F(AtInterpreter, AnswerEndsAtItsPrompt) {
  emu_SendDataBuf("AB>CD>");
  EXPECT_EQ(FirmwareReceived(), "AB>");
}

TEST(ModuleSettings, ProtocolAndSetterLimits) {
  emu_QimInitState();
  emu_QimSetProtocol(10);
  EXPECT_EQ(emu_QimGetProtocol(), 0);
  EXPECT_EQ(ecuAddr[0], 0);  // untouched until a protocol is set

  for (uint8_t p = 0; p <= 9; ++p) {
    emu_QimSetProtocol(p);
    EXPECT_EQ(emu_QimIsCanProtocol(), p >= 6) << int{p};
  }

  emu_VehicleSetProtocol(10);
  EXPECT_EQ(vehicleProtocol, 0);
  emu_VehicleSetProtocol(3);
  emu_QimSetProtocol(0);
  EXPECT_EQ(emu_QimGetProtocol(), 3);
  EXPECT_EQ(ecuAddr[1], 0x18);

  // A simulator-mode vehicle left on "automatic" answers on CAN 11/500.
  padixMode = EmuMode::Simulator;
  emu_VehicleSetProtocol(0);
  emu_QimSetProtocol(0);
  EXPECT_EQ(vehicleProtocol, 6);
  EXPECT_EQ(emu_QimGetProtocol(), 6);
  EXPECT_EQ(ecuAddr[7], 0xEF);
  padixMode = EmuMode::Emulator;

  emu_QimSetEcuFilter(0xFF);
  EXPECT_EQ(ecuFilter, 0xFF);
  emu_QimInitState();
}

}  // namespace
