// Fuzz target: the module's line interpreter. The first two bytes choose the personality, the
// protocol and the answer format; the rest are command lines (split at carriage returns, each
// cut to the module's 19 characters) answered into the firmware's receive ring.
#include <pthread.h>
#include <string.h>

#include "firmware/usart.h"
#include "host/controller.h"
#include "simulator/module.h"
#include "simulator/vehicle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] { return pthread_mutex_init(&qimMutex, nullptr) == 0; }();
  if (!ready || size < 2) return 0;
  emu_QimInitState();
  emu_QimInitVehicle();
  tarnic_InitVars();
  UCSR0B = 0x98;  // the firmware's USART is on: answers go into its receive ring
  UBRR0 = 51;     // at 19200 baud, as after its start-up ("ATZ" waits for that)
  padixMode = 0;
  emu_QimSetDiagController(data[0] % 3);
  ath1Enabled = (data[0] >> 2) & 1;
  atof1Enabled = (data[0] >> 3) & 1;
  emu_QimSetRespondingProtocol(static_cast<uint8_t>((data[0] >> 4) % 10));
  emu_QimSetProtocol(data[1] % 10);

  char line[EMU_QIM_LINE_MAX + 1];
  size_t n = 0;
  for (size_t i = 2; i <= size; ++i) {
    if (i == size || data[i] == '\r') {
      line[n] = '\0';
      emu_SendResponse(line);
      while (USART_ReadChar() != 255) {
      }
      n = 0;
    } else if (n < EMU_QIM_LINE_MAX) {
      line[n++] = static_cast<char>(data[i]);
    }
  }
  return 0;
}
