// Request dispatcher: per-menu request and answer handlers driven by the request timer.
#pragma once

#include <stdint.h>

extern uint16_t gblCounter10ms;  // request timer in ticks; expiry calls the menu's request

void DRH_InitState();
void DRH_TimerExpiredEvent();
void DRH_QimRxEvent(uint8_t responseCode);
