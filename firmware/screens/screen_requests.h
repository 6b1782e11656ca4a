// Request and answer handlers of the screens that talk to the vehicle or the module, called by
// the request dispatcher for the current menu: a request handler sends one command or OBD
// request; an answer handler gets the response code of the completed answer.
#pragma once

#include <stdint.h>

void CDM_ReqTimerExpiredEvent();
void CDM_ProcessRxListData(uint8_t responseCode);
void CDM_ProcessRxSingleData(uint8_t responseCode);
void CTM_ReqTimerExpiredEvent();
void CTM_ProcessRxData(uint8_t responseCode);
void FFM_ReqTimerExpiredEvent();
void FFM_ProcessRxInitData(uint8_t responseCode);
void FFM_ProcessRxListData(uint8_t responseCode);
void FFM_ProcessRxSingleData(uint8_t responseCode);
void FFSF_ProcessRxData(uint8_t responseCode);
void IPT_ProcessRxData(uint8_t responseCode);
void PIM_ReqTimerExpiredEvent();
void PIM_ProcessRxData(uint8_t responseCode);
void RCM_ReqTimerExpiredEvent();
void RCM_ProcessRxData(uint8_t responseCode);
void RDS_ReqTimerExpiredEvent();
void RDS_ProcessRxData(uint8_t responseCode);
void SEM_ProcessRxData(uint8_t responseCode);
void SIM_ReqTimerExpiredEvent();
void SIM_ProcessRxData(uint8_t responseCode);
void SPS_ReqTimerExpiredEvent();
void SPS_ProcessRxData(uint8_t responseCode);
void VIM_ReqTimerExpiredEvent();
void VIM_ProcessRxData(uint8_t responseCode);
