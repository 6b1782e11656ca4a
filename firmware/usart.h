// USART0 driver: the 8-byte transmit ring and 256-byte receive ring to the interface module.
// The host's module thread moves bytes through __vector_21 / __vector_22 under the QIM lock.
#pragma once

#include <stdint.h>

constexpr uint8_t USART_TX_BUF_SIZE = 8;  // at most 7 bytes wait to be sent
constexpr uint16_t USART_RX_BUF_SIZE = 256;

struct UsartState {
  uint8_t txBuf[USART_TX_BUF_SIZE];
  uint8_t rxBuf[USART_RX_BUF_SIZE];
  // The four indices lie together and are cleared together.
  uint8_t usartWriteByteIdx;    // next free slot of txBuf
  uint8_t usartSendByteIdx;     // next slot of txBuf to send
  uint8_t usartReceiveByteIdx;  // slot of the last received byte
  uint8_t usartReadByteIdx;     // slot of the last byte taken by the firmware
};
extern UsartState usart;

void USART_InitState();
void USART_InitTxRxBuf();
void USART_WriteChar(uint8_t c);
void USART_WriteHexByte(uint8_t value);
void USART_WriteStr(const char* text);
void USART_StartTx();
uint8_t USART_ReadChar();  // 255 when nothing is waiting
