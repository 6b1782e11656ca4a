// The USART rings at their limits, seen through the interrupt routines the host calls.
#include "firmware/usart.h"

#include <gtest/gtest.h>

#include <string>

#include "controller/controller.h"

namespace {

class UsartRings : public testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&qimMutex, nullptr);
    tarnic_InitVars();
    UCSR0B = 0x98;
  }
  void TearDown() override { pthread_mutex_destroy(&qimMutex); }

  // Takes bytes the way the module thread does: only while the firmware says bytes wait.
  std::string Sent() {
    std::string out;
    while ((UCSR0B & 0x20) != 0) {
      uint8_t b = emu_TakeByteFromFirmware();
      if ((UCSR0B & 0x20) != 0) out.push_back(static_cast<char>(b));
    }
    return out;
  }
};

TEST_F(UsartRings, HexBytesAreTwoUpperCaseDigits) {
  USART_WriteHexByte(0x0A);
  USART_WriteHexByte(0xF0);
  USART_StartTx();
  EXPECT_EQ(Sent(), "0AF0\r");
}

TEST_F(UsartRings, SixCharactersAndCarriageReturnFillTheRingAndAreSentWhole) {
  USART_WriteStr("020C00");
  USART_StartTx();
  EXPECT_EQ(Sent(), "020C00\r");
  // The ring wraps: the next line is whole too.
  USART_WriteStr("ATSP6");
  USART_StartTx();
  EXPECT_EQ(Sent(), "ATSP6\r");
  EXPECT_EQ(UCSR0B & 0x20, 0) << "the data-register-empty interrupt switches itself off";
}

TEST_F(UsartRings, ReceiveRingHolds255AndAFullRingReplacesTheNewestByte) {
  EXPECT_EQ(USART_ReadChar(), 255) << "nothing waiting";
  for (int i = 0; i < 255; ++i) emu_GiveByteToFirmware(static_cast<uint8_t>(i));
  emu_GiveByteToFirmware('X');  // ring full: replaces byte 254
  emu_GiveByteToFirmware('Y');  // and again
  for (int i = 0; i < 254; ++i) ASSERT_EQ(USART_ReadChar(), i);
  EXPECT_EQ(USART_ReadChar(), 'Y');
  EXPECT_EQ(USART_ReadChar(), 255);
  // After draining, the ring takes bytes normally across the wrap.
  for (int i = 0; i < 10; ++i) emu_GiveByteToFirmware(static_cast<uint8_t>('a' + i));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(USART_ReadChar(), 'a' + i);
}

TEST_F(UsartRings, InitEmptiesBothRings) {
  emu_GiveByteToFirmware('>');
  USART_WriteStr("AT");
  USART_InitTxRxBuf();
  EXPECT_EQ(USART_ReadChar(), 255);
  USART_StartTx();
  EXPECT_EQ(Sent(), "\r");
}

}  // namespace
