// Request and answer handlers of screens that are not built yet: they send nothing and ignore
// every answer, so the request state stays where the dispatcher left it. Each screen family
// replaces its entries here when it lands.
#include "firmware/screens/screen_requests.h"

void PIM_ReqTimerExpiredEvent() {}
void PIM_ProcessRxData(uint8_t) {}
void RDS_ReqTimerExpiredEvent() {}
void RDS_ProcessRxData(uint8_t) {}
void SPS_ReqTimerExpiredEvent() {}
void SPS_ProcessRxData(uint8_t) {}
