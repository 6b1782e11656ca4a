// Module driver (start-up placeholder): releases the module from reset and reports it ready.
#include "firmware/link/qim.h"

#include "firmware/mcu.h"

static uint8_t QIM_RxIgnore(uint8_t) { return 0; }

QIM_RX_FCT QIM_ProcessRxData = QIM_RxIgnore;

void QIM_InitState() { QIM_ProcessRxData = QIM_RxIgnore; }

uint8_t QIM_ResetInit() {
  PORTE |= 0x80;
  return QIM_Init();
}

uint8_t QIM_Init() { return 1; }
