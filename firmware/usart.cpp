// USART0 rings. Every routine that touches them runs with the QIM lock held (and the firmware
// thread's cancellation disabled); the interrupt routines are called by the host with the lock.
#include "usart.h"

#include <string.h>

#include "mcu.h"

UsartState usart;

void USART_InitState() { memset(&usart, 0, sizeof usart); }

void USART_InitTxRxBuf() {
  MCU_LockQim();
  usart.usartWriteByteIdx = 0;
  usart.usartSendByteIdx = 0;
  usart.usartReceiveByteIdx = 0;
  usart.usartReadByteIdx = 0;
  MCU_UnlockQim();
}

uint8_t USART_TxPending() { return usart.usartWriteByteIdx != usart.usartSendByteIdx ? 1 : 0; }

// No test for a full ring: the firmware never queues more than 7 bytes before sending.
void USART_WriteChar(uint8_t c) {
  MCU_LockQim();
  usart.txBuf[usart.usartWriteByteIdx] = c;
  usart.usartWriteByteIdx = static_cast<uint8_t>((usart.usartWriteByteIdx + 1) % USART_TX_BUF_SIZE);
  MCU_UnlockQim();
}

static uint8_t USART_HexDigit(uint8_t nibble) {
  return static_cast<uint8_t>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
}

void USART_WriteHexByte(uint8_t value) {
  USART_WriteChar(USART_HexDigit(value >> 4));
  USART_WriteChar(USART_HexDigit(value & 0x0F));
}

void USART_WriteStr(const char* text) {
  while (*text != '\0') USART_WriteChar(static_cast<uint8_t>(*text++));
}

void USART_StartTx() {
  USART_WriteChar(13);
  UCSR0B |= 0x20;  // data register empty interrupt on: the host starts taking bytes
  MCU_UsartTxStarted();
}

uint8_t USART_ReadChar() {
  uint8_t c = 255;
  MCU_LockQim();
  if (usart.usartReceiveByteIdx != usart.usartReadByteIdx) {
    usart.usartReadByteIdx = static_cast<uint8_t>(usart.usartReadByteIdx + 1);
    c = usart.rxBuf[usart.usartReadByteIdx];
  }
  MCU_UnlockQim();
  return c;
}

void __vector_22() {
  if (usart.usartWriteByteIdx == usart.usartSendByteIdx) {
    UCSR0B &= static_cast<uint8_t>(~0x20);
  } else {
    UDR0 = usart.txBuf[usart.usartSendByteIdx];
    usart.usartSendByteIdx = static_cast<uint8_t>((usart.usartSendByteIdx + 1) % USART_TX_BUF_SIZE);
  }
}

// A full ring keeps its oldest bytes: the newest slot is overwritten.
void __vector_21() {
  uint8_t c = UDR0_RX;
  if (usart.usartReceiveByteIdx == static_cast<uint8_t>(usart.usartReadByteIdx - 1)) {
    usart.rxBuf[usart.usartReceiveByteIdx] = c;
  } else {
    usart.usartReceiveByteIdx = static_cast<uint8_t>(usart.usartReceiveByteIdx + 1);
    usart.rxBuf[usart.usartReceiveByteIdx] = c;
  }
}
