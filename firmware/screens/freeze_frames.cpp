// Freeze frames (service 0x02): the start screen finds out which PIDs the ECU stored and reads
// the trouble code of frame 0 (menu 25); the frame selection (menu 26) steps through the frame
// numbers with the code of each; the frame's list (menu 27) is read once per drawing, since a
// stored frame does not change; the single item (menu 28) shows one value once.
#include "beep.h"
#include "link/dispatcher.h"
#include "link/qim.h"
#include "obd/dtcs.h"
#include "obd/monitors.h"
#include "obd/pids.h"
#include "screens/live_data.h"
#include "screens/screen_requests.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/menu.h"
#include "ui/texts.h"

constexpr uint8_t FFM_SID = 0x02;
constexpr uint8_t FFM_PID_DTC = 0x02;         // the trouble code that stored the frame
constexpr uint8_t FFM_LAST_SCAN_PID = 0xDF;   // the last range whose successor can be asked for
constexpr uint8_t FFM_SCAN_STEP = 0x20;
constexpr uint8_t FFM_FRAME_STEP_REPEAT = 10;
constexpr uint8_t FFM_NO_PID = 0x00;          // no data item has it: no reading marker


constexpr uint8_t FFM_NEXT_REQ = 1;   // x 100 ms
constexpr uint8_t FFM_RETRY_REQ = 3;  // a list PID that gave no data is asked again later

static uint8_t FFM_IsScanPid(uint8_t pid) { return (pid % FFM_SCAN_STEP) == 0; }

// The supported-PID scan starts over: nothing known, PID 0x00 asked for first.
static void FFM_StartScan(FFM_SCAN_DONE_FCT done) {
  GUI_DrawSandglass();
  OBD_ResetSid02SupPids();
  pdi.pdiCurrentPid = 0x00;
  pdi.ffmScanDoneFct = done;
  DRH_SetReqTimer(FFM_NEXT_REQ);
}

// An answer to a "supported PIDs" request: on to the next range the answer announces, else
// the follow-up with what is known. Only an answer from exactly one frame is taken, so that
// the bitmap is the active ECU's alone.
static void FFM_ProcessSupportedPids(uint8_t responseCode) {
  const uint8_t pid = pdi.pdiCurrentPid;
  uint8_t counts = 0;
  if (responseCode == QIM_RESP_OBD_DATA && qim.qimNoOfFrames == 1) {
    uint8_t length;
    const uint8_t* data = PDI_GetActiveEcuData(&length);
    counts = OBD_DecodeSid01RespDataByPid(data, length, pid);
  }
  if (!counts && pid == 0x00) {
    GUI_DrawMsgCentered(TXT_SERVICE_NOT_SUPPORTED);
    return;
  }
  if (counts && pid <= FFM_LAST_SCAN_PID &&
      OBD_PidIsSupported(static_cast<uint8_t>(pid + FFM_SCAN_STEP))) {
    pdi.pdiCurrentPid = static_cast<uint8_t>(pid + FFM_SCAN_STEP);
    DRH_SetReqTimer(FFM_NEXT_REQ);
    return;
  }
  if (pdi.ffmScanDoneFct != nullptr) pdi.ffmScanDoneFct();
}

// ---------------------------------------------------------------------------------------------
// Start (menu 25)

static void FFM_ReadDtcPid() {
  if (!OBD_PidIsSupported(FFM_PID_DTC)) {
    GUI_DrawMsgCentered(TXT_SERVICE_NOT_SUPPORTED);
    return;
  }
  pdi.pdiCurrentPid = FFM_PID_DTC;
  DRH_SetReqTimer(FFM_NEXT_REQ);
}

void FFM_EnterMenu() {
  OBD_SetActiveSid(FFM_SID);
  pdi.ffmFrameNo = 0;
  OBD_SetActiveFrameNo(0);
  pdi.ffmDtc = 0;
  pdi.pdiMaxLineNo = 0;
  GUI_DrawTitleEcu(GUI_GetTxt(TXT_FREEZE_FRAMES), OBD_GetActiveEcuAddr());
  FFM_StartScan(FFM_ReadDtcPid);
}

void FFM_ReqTimerExpiredEvent() { QIM_SendObdReq(FFM_SID, pdi.pdiCurrentPid, pdi.ffmFrameNo); }

void FFM_ProcessRxInitData(uint8_t responseCode) {
  if (FFM_IsScanPid(pdi.pdiCurrentPid)) {
    FFM_ProcessSupportedPids(responseCode);
    return;
  }
  if (pdi.pdiCurrentPid != FFM_PID_DTC) return;

  if (responseCode != QIM_RESP_OBD_DATA) {
    GUI_DrawMsgCentered(TXT_NO_DATA);
    return;
  }
  uint8_t length;
  const uint8_t* data = PDI_GetActiveEcuData(&length);
  if (!OBD_DecodeSid01RespDataByPid(data, length, FFM_PID_DTC)) {
    GUI_DrawMsgCentered(TXT_INVALID_DATA);
    return;
  }
  const uint16_t dtc = OBD_GetFreezeFrameDtc();
  if (dtc == 0) {
    GUI_DrawMsgCentered(TXT_NO_FREEZE_FRAMES);
    return;
  }
  pdi.ffmDtc = dtc;
  MEN_EnterMenu(MENU_FREEZE_FRAME_SELECT);
}

// ---------------------------------------------------------------------------------------------
// Frame selection (menu 26)

static void FFSF_DrawDtc() {
  char dtcText[OBD_DTC_TXT_SIZE];
  OBD_DtcToTxt(dtcText, pdi.ffmDtc);
  GUI_DrawFrameSelectionDtc(pdi.ffmDtc, dtcText);
}

void FFSF_EnterMenu() {
  pdi.pdiCurrentPid = FFM_PID_DTC;
  GUI_DrawTitleEcu(GUI_GetTxt(TXT_SELECT_FRAME), OBD_GetActiveEcuAddr());
  GUI_DrawFrameSelection(pdi.ffmFrameNo);
  FFSF_DrawDtc();
}

// Frame numbers are not limited to the frames that exist; they run round modulo 256. The code
// is unknown until the new frame's PID 0x02 answers. A request still in flight for the frame
// shown before is let run out first, so its answer cannot pass for the new frame's.
static void FFM_SelectFrame(uint8_t step, uint8_t down) {
  BEEP_PlaySound(SND_CLICK);
  pdi.ffmFrameNo = static_cast<uint8_t>(down ? pdi.ffmFrameNo - step : pdi.ffmFrameNo + step);
  GUI_DrawFrameSelection(pdi.ffmFrameNo);
  OBD_SetActiveFrameNo(pdi.ffmFrameNo);
  pdi.ffmDtc = 0;
  pdi.pdiCurrentPid = FFM_PID_DTC;
  DRH_SetNextReqState();
}

void FFM_KeyPressEventUp() { FFM_SelectFrame(1, 0); }
void FFM_KeyPressEventDown() { FFM_SelectFrame(1, 1); }
void FFM_KeyPressEventUpRepeat() { FFM_SelectFrame(FFM_FRAME_STEP_REPEAT, 0); }
void FFM_KeyPressEventDownRepeat() { FFM_SelectFrame(FFM_FRAME_STEP_REPEAT, 1); }

void FFM_KeyPressEventOk() {
  if (pdi.ffmDtc == 0) return;  // a frame without a trouble code has nothing to list
  BEEP_PlaySound(SND_CLICK);
  MEN_EnterMenu(MENU_FREEZE_FRAME_LIST);
}

void FFSF_ProcessRxData(uint8_t responseCode) {
  if (responseCode == QIM_RESP_OBD_DATA) {
    uint8_t length;
    const uint8_t* data = PDI_GetActiveEcuData(&length);
    // The decoder takes only the selected frame's answer to PID 0x02.
    if (OBD_DecodeSid01RespDataByPid(data, length, FFM_PID_DTC)) {
      pdi.ffmDtc = OBD_GetFreezeFrameDtc();
    }
  }
  FFSF_DrawDtc();
}

// ---------------------------------------------------------------------------------------------
// The frame's list (menu 27) and single item (menu 28)

static void FFM_InitList() {
  OBD_InitSupDataItems();
  LIST_Init(&pdi.ffmList, OBD_GetNumDataItems());
  pdi.pdiMaxLineNo = LIST_GetNumVisibleListItems(&pdi.ffmList);
  if (pdi.ffmList.noOfItems == 0) {
    GUI_DrawMsgCentered(TXT_NO_SUPPORTED_PIDS);
    return;
  }
  // The second row covers the sandglass; a single row leaves it to be cleared.
  if (pdi.ffmList.noOfItems == 1) GUI_ClearSandglass();
  PDI_DrawListAll(&pdi.ffmList);
}

void FFL_EnterMenu() {
  char dtcText[OBD_DTC_TXT_SIZE];
  OBD_DtcToTxt(dtcText, pdi.ffmDtc);
  OBD_SetActiveSid(FFM_SID);
  OBD_SetActiveFrameNo(pdi.ffmFrameNo);
  GUI_DrawTitleFrameDtcEcu(GUI_GetTxt(TXT_FRAME_LABEL), pdi.ffmFrameNo, dtcText,
                           OBD_GetActiveEcuAddr());
  SPKF_Init(&pdi.ffmList, PDI_DrawList);
  if (menu.menPrevMenuId == MENU_FREEZE_FRAME_SELECT) {
    // Another frame may store other PIDs: find out again and build the list then.
    LIST_Init(&pdi.ffmList, 0);
    pdi.pdiMaxLineNo = 0;
    FFM_StartScan(FFM_InitList);
  } else if (pdi.ffmList.noOfItems == 0) {
    GUI_DrawMsgCentered(TXT_NO_SUPPORTED_PIDS);
  } else {
    PDI_DrawListAll(&pdi.ffmList);
  }
}

void FFS_EnterMenu() {
  SPKF_Init(&pdi.ffmList, PDI_DrawSingleData);
  PDI_DrawSingleData(&pdi.ffmList);
}

void FFM_ProcessRxListData(uint8_t responseCode) {
  const uint8_t pid = pdi.pdiCurrentPid;
  if (FFM_IsScanPid(pid)) {
    FFM_ProcessSupportedPids(responseCode);
    return;
  }
  if (pid == FFM_PID_DTC || pdi.pdiMaxLineNo == 0) return;

  if (responseCode != QIM_RESP_OBD_DATA) {
    PDI_ProcessResponseError();
    DRH_SetReqTimer(FFM_RETRY_REQ);
    return;
  }
  uint8_t length;
  const uint8_t* data = PDI_GetActiveEcuData(&length);
  uint8_t row = PDI_FindPidRow(pid);
  for (; row < pdi.pdiMaxLineNo; ++row) {
    const uint8_t item = PDI_GetRowDataItem(row);
    if (obd_dataItem[item].pid != pid) break;
    if (OBD_DecodeSid02RespDataByIdx(data, length, item, pdi.pdiDataStr, &pdi.pdiUnitTxtId)) {
      GUI_DrawListData(row, pdi.pdiDataStr, obdUnitTxt[pdi.pdiUnitTxtId]);
    } else {
      GUI_DrawListDataById(row, TXT_NO_DATA);
    }
  }
  if (row < pdi.pdiMaxLineNo) {
    pdi.pdiCurrentDataItemIdx = PDI_GetRowDataItem(row);
    pdi.pdiCurrentPid = obd_dataItem[pdi.pdiCurrentDataItemIdx].pid;
    GUI_DrawListReadIndicator(&pdi.ffmList, pdi.pdiFirstDataItemIdx, pdi.pdiCurrentPid);
    DRH_SetReqTimer(FFM_NEXT_REQ);
  } else {
    // Every visible row is filled: the frame does not change, so reading stops here.
    GUI_DrawListReadIndicator(&pdi.ffmList, pdi.pdiFirstDataItemIdx, FFM_NO_PID);
  }
}

void FFM_ProcessRxSingleData(uint8_t responseCode) {
  uint8_t length = 0;
  const uint8_t* data = nullptr;
  if (responseCode == QIM_RESP_OBD_DATA) data = PDI_GetActiveEcuData(&length);
  if (data != nullptr && OBD_DecodeSid02RespDataByIdx(data, length, pdi.pdiCurrentDataItemIdx,
                                                      pdi.pdiDataStr, &pdi.pdiUnitTxtId)) {
    GUI_DrawData(pdi.pdiDataStr, obdUnitTxt[pdi.pdiUnitTxtId]);
  } else {
    GUI_DrawDataById(TXT_NO_DATA);
  }
}
