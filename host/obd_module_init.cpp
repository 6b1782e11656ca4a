// Module initialisation in OBD2 software mode: reset the module, then send each set-up command
// and expect "OK" in its answer.
#include <stdio.h>
#include <unistd.h>

#include "controller/controller.h"
#include "host/power_on.h"
#include "line/serial_port.h"

namespace {

constexpr int ATZ_ATTEMPTS = 3;

void emu_SendCommand(const char* command) {
  for (const char* p = command; *p != '\0'; ++p) {
    while (emu_WriteByteCOM(static_cast<uint8_t>(*p)) != 1) {
    }
  }
}

// Reads the answer up to the prompt and feeds every byte to the given recogniser.
template <typename Recogniser>
void emu_ReadAnswer(Recogniser&& seen) {
  for (;;) {
    uint8_t byte;
    if (emu_ReadByteCOM(&byte) != 1) {
      usleep(10000);
      continue;
    }
    if (byte == static_cast<uint8_t>(emu_GetPrompt())) return;
    seen(byte);
  }
}

}  // namespace

int emu_InitObdModule(const char* const* commands, int count) {
  for (int answersWithError = 0;;) {
    emu_SendCommand("ATZ\r");
    bool error = false;
    emu_ReadAnswer([&](uint8_t byte) { error = error || byte == '?'; });
    if (!error) break;
    if (++answersWithError == ATZ_ATTEMPTS) {
      fprintf(stderr, "Received error response for AT command ATZ 3 times!\n");
      return -1;
    }
  }

  for (int i = 0; i < count; ++i) {
    emu_SendCommand(commands[i]);
    bool oPending = false, ok = false;
    emu_ReadAnswer([&](uint8_t byte) {
      if (ok) return;
      if (oPending && byte == 'K') ok = true;
      oPending = !oPending && byte == 'O';
    });
    if (!ok) {
      fprintf(stderr, "No OK response for AT command %s received!\n", commands[i]);
      return -1;
    }
  }
  return 0;
}
