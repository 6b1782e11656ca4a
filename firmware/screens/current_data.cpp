// Current data (service 0x01): the list of the active ECU's data items with live values (menu
// 12) and one item in the large font (menu 13). Both read without end while they are shown:
// every answer arms the next request 100 ms later. The list keeps its cursor for as long as the
// same ECU is shown.
#include "link/dispatcher.h"
#include "link/qim.h"
#include "obd/monitors.h"
#include "obd/pids.h"
#include "screens/live_data.h"
#include "screens/screen_requests.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/menu.h"
#include "ui/texts.h"

constexpr uint8_t CDM_SID = 0x01;
constexpr uint8_t CDM_NEXT_REQ = 1;               // x 100 ms

void CDM_EnterMenu() {
  OBD_SetActiveSid(CDM_SID);
  // The item set follows the support bitmaps; rebuilding it keeps it in step with the count.
  OBD_InitSupDataItems();
  const uint8_t ecuAddr = OBD_GetActiveEcuAddr();
  const uint8_t count = OBD_GetNumDataItems();
  // The list and its cursor stay for the same ECU. A new connection can bring an ECU of the
  // same address with other PIDs: then the list is built afresh as well.
  if (ecuAddr != pdi.cdmEcuAddr || count != pdi.cdmList.noOfItems) {
    pdi.cdmEcuAddr = ecuAddr;
    LIST_Init(&pdi.cdmList, count);
  }
  if (menu.menPrevMenuId == MENU_DIAGNOSTICS) {
    pdi.pdiMaxLineNo = LIST_GetNumVisibleListItems(&pdi.cdmList);
    drh.drhReqState = DRH_IDLE;
  }
  SPKF_Init(&pdi.cdmList, PDI_DrawList);
  GUI_DrawTitleEcu(GUI_GetTxt(TXT_CURRENT_DATA), ecuAddr);
  if (pdi.cdmList.noOfItems == 0) {
    GUI_DrawMsgCentered(TXT_NO_SUPPORTED_PIDS);
  } else {
    PDI_DrawListAll(&pdi.cdmList);
  }
}

void CDS_EnterMenu() {
  SPKF_Init(&pdi.cdmList, PDI_DrawSingleData);
  PDI_DrawSingleData(&pdi.cdmList);
}

void CDM_ReqTimerExpiredEvent() { QIM_SendObdReq(CDM_SID, pdi.pdiCurrentPid, 0); }

// The active ECU's answer to the PID requested: neither its silence while others answered nor
// a negative answer (0x7F) counts as a value.
static uint8_t CDM_AnswersPid(const uint8_t* data, uint8_t length, uint8_t pid) {
  return length >= 2 && data[0] == CDM_SID + 0x40 && data[1] == pid;
}

void CDM_ProcessRxListData(uint8_t responseCode) {
  if (pdi.pdiMaxLineNo == 0) return;  // no list is read: nothing to fill, nothing to ask

  uint8_t length = 0;
  const uint8_t* data = nullptr;
  const uint8_t pid = pdi.pdiCurrentPid;
  if (responseCode == QIM_RESP_OBD_DATA) data = PDI_GetActiveEcuData(&length);
  if (data == nullptr || !CDM_AnswersPid(data, length, pid)) {
    PDI_ProcessResponseError();  // and the same PID again
    DRH_SetReqTimer(CDM_NEXT_REQ);
    return;
  }

  uint8_t row = PDI_FindPidRow(pid);
  for (; row < pdi.pdiMaxLineNo; ++row) {
    const uint8_t item = PDI_GetRowDataItem(row);
    if (obd_dataItem[item].pid != pid) break;
    // A value that does not decode leaves the row as it was.
    if (OBD_DecodeSid01RespDataByIdx(data, length, item, pdi.pdiDataStr, &pdi.pdiUnitTxtId)) {
      GUI_DrawListData(row, pdi.pdiDataStr, obdUnitTxt[pdi.pdiUnitTxtId]);
    }
  }
  // On to the PID of the next row, or back to the top once every visible row had its turn.
  if (row < pdi.pdiMaxLineNo) {
    pdi.pdiCurrentDataItemIdx = PDI_GetRowDataItem(row);
    pdi.pdiCurrentPid = obd_dataItem[pdi.pdiCurrentDataItemIdx].pid;
  } else {
    pdi.pdiCurrentDataItemIdx = pdi.pdiFirstDataItemIdx;
    pdi.pdiCurrentPid = pdi.pdiFirstPid;
  }
  GUI_DrawListReadIndicator(&pdi.cdmList, pdi.pdiFirstDataItemIdx, pdi.pdiCurrentPid);
  DRH_SetReqTimer(CDM_NEXT_REQ);
}

void CDM_ProcessRxSingleData(uint8_t responseCode) {
  uint8_t length = 0;
  const uint8_t* data = nullptr;
  if (responseCode == QIM_RESP_OBD_DATA) data = PDI_GetActiveEcuData(&length);
  if (data != nullptr && OBD_DecodeSid01RespDataByIdx(data, length, pdi.pdiCurrentDataItemIdx,
                                                      pdi.pdiDataStr, &pdi.pdiUnitTxtId)) {
    GUI_DrawData(pdi.pdiDataStr, obdUnitTxt[pdi.pdiUnitTxtId]);
  } else {
    GUI_DrawDataById(TXT_NO_DATA);
  }
  DRH_SetReqTimer(CDM_NEXT_REQ);
}
