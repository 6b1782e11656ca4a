// The firmware's end of the module link, for tests: a fresh USART with its rings, lines sent the
// way the firmware's driver sends them, and the answer bytes it has received.
#pragma once

#include <pthread.h>

#include <string>

#include "firmware/mcu.h"
#include "firmware/usart.h"
#include "controller/controller.h"
#include "tests/support/wait_for.h"

// Receiver and transmitter on, already at the module's 19200 baud.
inline void UsartSideInit() {
  pthread_mutex_init(&qimMutex, nullptr);
  USART_InitState();
  UBRR0 = emu_BaudrateToUBRR0(19200);
  UCSR0A = 0x02;
  UCSR0B = 0x98;
}

inline void UsartSideExit() {
  UCSR0B = 0;
  pthread_mutex_destroy(&qimMutex);
}

// Everything the firmware has received and not yet read.
inline std::string FirmwareReceived() {
  std::string bytes;
  for (uint8_t c; (c = USART_ReadChar()) != 255;) bytes += static_cast<char>(c);
  return bytes;
}

// One answer, up to and including its prompt, from a module running on another thread.
inline std::string FirmwareReceivesAnswer(int timeoutMs = 3000) {
  std::string bytes;
  WaitFor(
      [&] {
        for (uint8_t c; (c = USART_ReadChar()) != 255;) {
          bytes += static_cast<char>(c);
          if (c == '>') return true;
        }
        return false;
      },
      timeoutMs);
  return bytes;
}

// Queues bytes in the transmit ring in pieces of at most 7 (its capacity), each piece once the
// module has emptied the ring, and signals them as the firmware's USART_StartTx does.
inline bool FirmwareSends(const std::string& bytes) {
  for (size_t at = 0; at < bytes.size(); at += 7) {
    if (!WaitFor([] { return (UCSR0B & 0x20) == 0; })) return false;
    for (char c : bytes.substr(at, 7)) USART_WriteChar(static_cast<uint8_t>(c));
    UCSR0B |= 0x20;
  }
  return true;
}
