// "READING DATA" (menu 10): after a connection, and on "Reload OBD Data", every ECU is asked
// what it supports, the configuration PIDs, trouble codes and info types are read, and one ECU
// is chosen to be the active one. Requests that no ECU can answer are skipped.
#include <string.h>

#include "beep.h"
#include "link/dispatcher.h"
#include "link/qim.h"
#include "link/reassembly.h"
#include "mcu.h"
#include "obd/dtcs.h"
#include "obd/monitors.h"
#include "obd/pids.h"
#include "obd/reading.h"
#include "screens/connect.h"
#include "screens/screen_requests.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/menu.h"
#include "ui/texts.h"

RdsState rds;


constexpr uint8_t RDS_IDX_SUPPORTED_PIDS = 1;  // 0100: registers the ECUs
constexpr uint8_t RDS_IDX_LAST = RDS_REQ_TAB_LEN - 1;

// clang-format off
const RDS_REQ RDS_REQ_TAB[RDS_REQ_TAB_LEN] = {
    {RDS_SERVICE_ECU_FILTER, 0x00, 0},          //  0 ATSF00: all ECUs answer
    {0x01, 0x00, 0},                            //  1 supported PIDs 01..20, always
    {0x01, 0x20, 0},                            //  2 .. 8: further support ranges
    {0x01, 0x40, 0},
    {0x01, 0x60, 0},
    {0x01, 0x80, 0},
    {0x01, 0xA0, 0},
    {0x01, 0xC0, 0},
    {0x01, 0xE0, 0},
    {0x01, 0x01, 0},                            //  9 monitor status, MIL
    {0x01, 0x13, 0},                            // 10 oxygen sensor locations (two banks)
    {0x01, 0x1D, 0},                            // 11 oxygen sensor locations (four banks)
    {0x01, 0x4F, 0},                            // 12 scaling maxima
    {0x01, 0x50, 0},                            // 13 air flow maximum
    {0x03, RDS_PID_NONE, 0},                    // 14 confirmed trouble codes, always
    {0x07, RDS_PID_NONE, 0},                    // 15 pending trouble codes, always
    {0x0A, RDS_PID_NONE, 0},                    // 16 permanent trouble codes, CAN only
    {0x09, 0x00, 0},                            // 17 supported info types
    {0x09, 0x0A, 0},                            // 18 ECU name
    {RDS_SERVICE_ECU_FILTER, RDS_PID_NONE, 0},  // 19 ATSF with the chosen ECU, always last
};
// clang-format on

void RDS_InitState() { rds = RdsState{}; }

static uint8_t RDS_IsCan() { return (qimProtocol & 0x20) != 0; }

// Whether entry idx goes out, by what the ECUs reported so far.
uint8_t RDS_EntryIsSent(uint8_t idx) {
  if (idx >= RDS_REQ_TAB_LEN) return 0;
  const RDS_REQ& req = RDS_REQ_TAB[idx];
  const uint8_t ecus = OBD_GetNumEcus();
  switch (req.service) {
    case 0x01:
      if (req.pid == 0x00) return 1;
      for (uint8_t i = 0; i < ecus; ++i) {
        OBD_SetActiveEcuIdx(i);
        if (OBD_PidIsSupported(req.pid)) return 1;
      }
      return 0;
    case 0x03:
    case 0x07:
      return 1;
    case 0x0A:
      return RDS_IsCan();
    case 0x09:
      for (uint8_t i = 0; i < ecus; ++i) {
        if (OBD_InfoTypeIsSupported(req.pid, i)) return 1;
      }
      return 0;
    default:
      return req.service > 10 ? 1 : 0;  // the ECU filter steps
  }
}

void RDS_SetNextReqTabIdx() {
  do {
    ++rds.rdsReqTabIdx;
  } while (rds.rdsReqTabIdx < RDS_IDX_LAST && !RDS_EntryIsSent(rds.rdsReqTabIdx));
  DRH_SetReqTimer(1);
}

// On a reload the ECU that was active stays so while it still answers. Otherwise the engine
// ECU, the first one that reports oxygen sensor locations; failing that, the one with the most
// data items (the first of equals).
uint8_t RDS_ChooseEcuIdx() {
  const uint8_t ecus = OBD_GetNumEcus();
  if (rds.rdsIsReload && rds.rdsEcuAddr != 0 && OBD_SetActiveEcuAddr(rds.rdsEcuAddr)) {
    return OBD_GetActiveEcuIdx();
  }
  for (uint8_t i = 0; i < ecus; ++i) {
    if (OBD_Sid01PidIsSupportedByEcu(i, 0x13) || OBD_Sid01PidIsSupportedByEcu(i, 0x1D)) return i;
  }
  uint8_t best = 0, bestCount = 0;
  for (uint8_t i = 0; i < ecus; ++i) {
    OBD_SetActiveEcuIdx(i);
    const uint8_t count = OBD_GetNumDataItems();
    if (count > bestCount) best = i, bestCount = count;
  }
  return best;
}

void RDS_EnterMenu() {
  GUI_DrawTitleProtocol(GUI_GetTxt(TXT_READING_DATA), qimProtocol & 0x0F);
  GUI_DrawProgressBar(0, RDS_PROGRESS_MAX);
  rds.rdsIsReload = menu.menPrevMenuId != MENU_SCAN_PROTOCOL;
  if (rds.rdsIsReload) rds.rdsEcuAddr = OBD_GetActiveEcuAddr();  // before the data is reset
  rds.rdsStopped = 0;
  D2O_Init();
  OBD_Init();
  OBD_SetActiveSid(1);
  rds.rdsReqTabIdx = 0;
  DRH_SetReqTimer(1);
}

// "0100", "03": the service and, when there is one, the PID as hex digits.
static void RDS_DrawSubtitle(const RDS_REQ& req) {
  char text[5];
  GUI_DecToHexStr(req.service, text);
  if (req.pid != RDS_PID_NONE) GUI_DecToHexStr(req.pid, &text[2]);
  GUI_DrawProgressBarSubtitle(text);
}

void RDS_ReqTimerExpiredEvent() {
  const uint8_t idx = rds.rdsReqTabIdx;
  if (idx >= RDS_REQ_TAB_LEN) return;
  const RDS_REQ& req = RDS_REQ_TAB[idx];
  // The bar runs to its end on the last step, however many requests were skipped.
  GUI_DrawProgressBar(idx < RDS_PROGRESS_MAX ? idx : RDS_PROGRESS_MAX, RDS_PROGRESS_MAX);
  if (req.service > 10) {
    if (req.pid == 0x00) {
      QIM_SendATxValue(QIM_ATSF, 0x00);
    } else {
      OBD_SetActiveEcuIdx(RDS_ChooseEcuIdx());
      QIM_SendATxValue(QIM_ATSF, OBD_GetActiveEcuAddr());
    }
    return;
  }
  RDS_DrawSubtitle(req);
  QIM_SendObdReq(req.service, req.pid, 0);
}

// A reading that cannot go on: the error box stays, nothing more is sent.
static void RDS_Stop(uint8_t txtId) {
  rds.rdsStopped = 1;
  DRH_SetTimer(0);
  BEEP_PlaySound(SND_ERROR);
  GUI_DrawErrMsg(txtId);
}

// The answer to 0100 names the ECUs, in the order of their frames.
static uint8_t RDS_RegisterEcus(uint8_t responseCode) {
  // An OBD answer without a single frame has no ECU in it either.
  if (responseCode != QIM_RESP_OBD_DATA || qim.qimNoOfFrames == 0) {
    RDS_Stop(TXT_NO_DATA_RECEIVED);
    return 0;
  }
  if (qim.qimNoOfFrames > OBD_MAX_ECUS) {
    RDS_Stop(TXT_TOO_MANY_ECUS);
    return 0;
  }
  QIM_SetDataStartIdx();
  for (uint8_t f = 0; f < qim.qimNoOfFrames; ++f) OBD_SetEcuAddr(QIM_GetEcuAddr(f));
  return 1;
}

// Each ECU that supports the PID stores what its answer carries.
void RDS_ProcessSid01Resp(uint8_t pid) {
  const uint8_t ecus = OBD_GetNumEcus();
  for (uint8_t i = 0; i < ecus; ++i) {
    if (!OBD_Sid01PidIsSupportedByEcu(i, pid)) continue;
    OBD_SetActiveEcuIdx(i);
    uint8_t len = 0;
    const uint8_t* data = D2O_GetObdData(&len, OBD_GetEcuAddr(i));
    OBD_DecodeSid01RespDataByPid(data, len, pid);
  }
}

static void RDS_ProcessInfoTypeResp(uint8_t type) {
  const uint8_t ecus = OBD_GetNumEcus();
  uint8_t out[OBD_INFO_TYPE_OUT_SIZE];
  for (uint8_t i = 0; i < ecus; ++i) {
    if (!OBD_InfoTypeIsSupported(type, i)) continue;
    OBD_SetActiveEcuIdx(i);
    uint8_t len = 0;
    const uint8_t* data = D2O_GetObdData(&len, OBD_GetEcuAddr(i));
    OBD_DecodeInfoTypeRespData(data, len, type, out);
  }
}

static void RDS_ProcessDtcResp(uint8_t service) {
  const uint8_t ecus = OBD_GetNumEcus();
  for (uint8_t i = 0; i < ecus; ++i) {
    OBD_SetActiveEcuIdx(i);
    uint8_t len = 0;
    const uint8_t* data = D2O_GetObdData(&len, OBD_GetEcuAddr(i));
    OBD_DecodeDtcRespData(data, len, service);
  }
}

void RDS_ProcessRxData(uint8_t responseCode) {
  const uint8_t idx = rds.rdsReqTabIdx;
  if (rds.rdsStopped || idx >= RDS_REQ_TAB_LEN) return;
  if (idx == RDS_IDX_LAST) {
    OBD_InitSupDataItems();
    MEN_EnterMenu(MENU_DIAGNOSTICS);
    return;
  }
  const RDS_REQ& req = RDS_REQ_TAB[idx];
  if (idx == RDS_IDX_SUPPORTED_PIDS) {
    if (!RDS_RegisterEcus(responseCode)) return;
    RDS_ProcessSid01Resp(0x00);
  } else if (responseCode == QIM_RESP_OBD_DATA) {
    switch (req.service) {
      case 0x01: RDS_ProcessSid01Resp(req.pid); break;
      case 0x09: RDS_ProcessInfoTypeResp(req.pid); break;
      case 0x03:
      case 0x07:
      case 0x0A: RDS_ProcessDtcResp(req.service); break;
      default: break;
    }
  }
  RDS_SetNextReqTabIdx();
}

// Esc leaves a reading that follows a connection. A reload from the diagnostics menu runs to
// its end, since the data it replaces is gone; only when it stopped with an error box is there
// nothing left to wait for.
void RDS_KeyPressEventEsc() {
  if (rds.rdsIsReload && !rds.rdsStopped) return;
  BEEP_PlaySound(SND_CLICK);
  MEN_EnterMenu(MENU_MAIN);
}
