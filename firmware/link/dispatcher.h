// Request dispatcher: one request timer and a small request state shared by every screen that
// talks to the vehicle or the module. Timer expiry and completed answers go to the request and
// answer handlers of the current menu, from the request table (link/request_registry.h).
#pragma once

#include <stdint.h>

#include "link/request_registry.h"
#include "ui/menu.h"

extern uint16_t gblCounter10ms;  // request timer in ticks; 0 = stopped, 1 -> 0 calls the request

enum : int8_t {
  DRH_IDLE = 0,           // nothing scheduled
  DRH_TIMER_RUNNING = 1,  // the next request goes out when the timer runs out
  DRH_WAIT_ANSWER = 2,    // request sent, its answer is awaited
  DRH_DISCARD_ANSWER = 3  // answer awaited, but a fresh request was asked for meanwhile
};

struct DrhState {
  int8_t drhReqState;         // DRH_IDLE .. DRH_DISCARD_ANSWER; screens that send at once set
                              // DRH_WAIT_ANSWER themselves before sending
  uint8_t drhIgnoreReqState;  // 1: expiry and answers are delivered whatever the state
};
extern DrhState drh;

constexpr uint16_t DRH_NEXT_REQ_TICKS = 30;  // 300 ms: refresh, and the repeat after a CAN error

void DRH_InitState();

void DRH_SetReqTimer(uint8_t t);  // next request in t x 100 ms
void DRH_SetTimer(uint8_t t);     // t > 0: wait t x 100 ms accepting any answer; 0: stop all
void DRH_SetNextReqState();       // next request soon, or right after the answer in flight

void DRH_TimerExpiredEvent();               // the main loop's timer ran from 1 to 0
void DRH_QimRxEvent(uint8_t responseCode);  // a completed answer (code != 0)
