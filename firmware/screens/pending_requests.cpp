// Request and answer handlers of screens that are not built yet: they send nothing and ignore
// every answer, so the request state stays where the dispatcher left it. Each screen family
// replaces its entries here when it lands.
#include "firmware/screens/screen_requests.h"

void CDM_ReqTimerExpiredEvent() {}
void CDM_ProcessRxListData(uint8_t) {}
void CDM_ProcessRxSingleData(uint8_t) {}
void CTM_ReqTimerExpiredEvent() {}
void CTM_ProcessRxData(uint8_t) {}
void FFM_ReqTimerExpiredEvent() {}
void FFM_ProcessRxInitData(uint8_t) {}
void FFM_ProcessRxListData(uint8_t) {}
void FFM_ProcessRxSingleData(uint8_t) {}
void FFSF_ProcessRxData(uint8_t) {}
void IPT_ProcessRxData(uint8_t) {}
void RCM_ReqTimerExpiredEvent() {}
void RCM_ProcessRxData(uint8_t) {}
void SEM_ProcessRxData(uint8_t) {}
void SIM_ReqTimerExpiredEvent() {}
void SIM_ProcessRxData(uint8_t) {}
void VIM_ReqTimerExpiredEvent() {}
void VIM_ProcessRxData(uint8_t) {}
