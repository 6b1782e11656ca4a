// The request and answer handlers the screens register with the request dispatcher, one row
// per menu: a request handler sends the menu's next command or OBD request when the request
// timer runs out; an answer handler gets the response code of a completed answer. The screens
// define the table and register it (screens/request_table.cpp); the dispatcher (link/dispatcher)
// only reads it.
#pragma once

#include <stdint.h>

#include "ui/menu_registry.h"

typedef void (*DRH_TIMER_FCT)();
typedef void (*DRH_RX_FCT)(uint8_t responseCode);

// Built by a constructor that takes every field: a row without both handlers does not compile.
struct DrhRow {
  MenuId menuId;
  DRH_TIMER_FCT timerExpired;
  DRH_RX_FCT processRx;
  constexpr DrhRow(MenuId m, DRH_TIMER_FCT t, DRH_RX_FCT r)
      : menuId(m), timerExpired(t), processRx(r) {}
};
// Registered by the screens at power-on, before the dispatcher's first use.
void DRH_RegisterHandlers(const DrhRow (&rows)[MEN_NUM_MENUS]);

void DRH_NoTimerExpiredEventFct();                // a menu that sends no timed request
void DRH_NoProcessRxDataFct(uint8_t responseCode);  // a menu that awaits no answer
