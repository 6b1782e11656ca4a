// OBD request answering: until the vehicle's answers are framed here, every request gets "NO DATA".
#include "simulator/obd_answer.h"

#include "simulator/module.h"

void emu_QimSendObdResponse(uint8_t, uint8_t, uint8_t) { emu_QimSendResponseNoData(); }
