// Request dispatcher (placeholder until the screens that talk to the vehicle exist).
#include "firmware/link/dispatcher.h"

uint16_t gblCounter10ms;

void DRH_InitState() { gblCounter10ms = 0; }
void DRH_TimerExpiredEvent() {}
void DRH_QimRxEvent(uint8_t) {}
