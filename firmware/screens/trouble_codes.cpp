// Trouble code screens. The codes were read with the rest of the vehicle's data; these screens
// only show them. Clearing lets every ECU answer (filter "ATSF00"), sends the clear request,
// reports the ECUs that refused, and then either reloads all data (something was cleared, so
// every stored value may have changed) or puts the ECU filter back on the active ECU.
#include "screens/trouble_codes.h"

#include "beep.h"
#include "link/dispatcher.h"
#include "link/qim.h"
#include "link/reassembly.h"
#include "obd/dtcs.h"
#include "screens/screen_requests.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/menu.h"

TcmState tcm;

void TCM_InitState() { tcm = TcmState{}; }

static const uint8_t TCM_ITEMS[] = {TXT_DTC_SUMMARY, TXT_CLEAR_DTC_DATA, TXT_FREEZE_FRAMES};
constexpr uint8_t TCM_NUM_ITEMS = sizeof TCM_ITEMS;
static_assert(TCM_NUM_ITEMS <= GUI_MAX_LIST_ITEMS);

// ---------------------------------------------------------------------------------------------
// Trouble code menu (menu 14)

void TCM_EnterMenu() {
  for (uint8_t i = 0; i < TCM_NUM_ITEMS; ++i) GUI_SetTxtId(TCM_ITEMS[i], i);
  GUI_DrawTitle(GUI_GetTxt(TXT_TROUBLE_CODES_MENU));
  // Coming back from one of its screens the cursor stays on the item that opened it; a list
  // never set up (first entry after power-on) starts at the top whatever came before.
  if (menu.menPrevMenuId == MENU_DIAGNOSTICS || tcm.tcmList.noOfItems != TCM_NUM_ITEMS) {
    LIST_Init(&tcm.tcmList, TCM_NUM_ITEMS);
  }
  SPKF_Init(&tcm.tcmList, GUI_DrawList);
  GUI_DrawListAll(&tcm.tcmList);
  GUI_DrawDiagnosticsInfo();  // MIL, number of codes and the active ECU, right of the list
}

// ---------------------------------------------------------------------------------------------
// Summary (menu 22) and single code (menu 23)

void DSM_EnterMenu() {
  GUI_DrawTitle(GUI_GetTxt(TXT_DIAGNOSTIC_TROUBLE_CODES));
  // Back from the single code the cursor stays where Up and Down left it.
  if (menu.menPrevMenuId != MENU_DTC_SINGLE) {
    LIST_Init(&tcm.dsmList, GUI_GetNumDtcLines());
  }
  SPKF_Init(&tcm.dsmList, GUI_DrawList);
  if (tcm.dsmList.noOfItems == 0) {
    GUI_DrawMsgCentered(TXT_NO_TROUBLE_CODES);
  } else {
    GUI_DrawListAll(&tcm.dsmList);
  }
}

void DSS_EnterMenu() {
  SPKF_Init(&tcm.dsmList, GUI_DrawSingleDtcMenu);
  GUI_DrawSingleDtcMenu(&tcm.dsmList);
}

// ---------------------------------------------------------------------------------------------
// Clearing (menu 24)

constexpr uint8_t CTM_WAIT_600MS = 6;       // request timer steps of 100 ms
constexpr uint8_t CTM_FILTER_ALL_ECUS = 0;  // "ATSF00": every ECU may answer
constexpr uint8_t CTM_SID_CLEAR_DTCS = 0x04;
constexpr uint8_t CTM_POSITIVE_ANSWER = 0x44;
constexpr uint8_t CTM_NO_RESPONSE = 255;    // GUI_DrawErrorCodeLine's "no response"
constexpr uint8_t CTM_MAX_ROWS = 7;

// The request goes out now, not from the timer, so the dispatcher must expect its answer.
static void CTM_SendFilter(uint8_t ecuAddr, uint8_t nextState) {
  tcm.ctmState = nextState;
  drh.drhReqState = DRH_WAIT_ANSWER;
  QIM_SendATxValue(QIM_ATSF, ecuAddr);
}

static void CTM_RestoreFilter() {
  BEEP_PlaySound(SND_CLICK);
  CTM_SendFilter(OBD_GetActiveEcuAddr(), CTM_WAIT_FILTER_RESTORE);
}

// Final message; its second line and the reload follow on the timer.
static void CTM_ShowFinalMessage(uint8_t txtId) {
  GUI_DrawFramedMsgLine1(txtId);
  tcm.ctmState = CTM_CLEARED_MSG;
  DRH_SetReqTimer(CTM_WAIT_600MS);
}

void CTM_EnterMenu() {
  tcm.ctmState = CTM_ASK;
  GUI_DrawRequesterYesNo(TXT_CLEAR_ASK_LINE1, TXT_CLEAR_ASK_LINE2);
}

void CTM_KeyPressEventOk() {
  switch (tcm.ctmState) {
    case CTM_ASK:
      BEEP_PlaySound(SND_CLEAR_DTC);
      GUI_DrawRequesterYes();  // no way back once the clearing has begun
      CTM_SendFilter(CTM_FILTER_ALL_ECUS, CTM_WAIT_FILTER_ALL);
      break;
    case CTM_PARTLY_CLEARED:
      CTM_ShowFinalMessage(TXT_ERASE_INCOMPLETE);
      break;
    case CTM_NONE_CLEARED:
      CTM_RestoreFilter();
      break;
    default:
      break;
  }
}

void CTM_KeyPressEventEsc() {
  switch (tcm.ctmState) {
    case CTM_ASK:
      BEEP_PlaySound(SND_CLICK);
      MEN_EnterMenu(MENU_TROUBLE_CODES);
      break;
    case CTM_PARTLY_CLEARED:
      CTM_ShowFinalMessage(TXT_ERASE_INCOMPLETE);
      break;
    case CTM_NONE_CLEARED:
    case CTM_STOPPED:
      CTM_RestoreFilter();
      break;
    default:
      break;  // a request is outstanding: it cannot be interrupted
  }
}

void CTM_ReqTimerExpiredEvent() {
  switch (tcm.ctmState) {
    case CTM_WAIT_BEFORE_CLEAR:
    case CTM_WAIT_CLEAR:  // the dispatcher repeats the request after a CAN error
      drh.drhReqState = DRH_WAIT_ANSWER;
      QIM_SendObdReq(CTM_SID_CLEAR_DTCS, 0, 0);
      tcm.ctmState = CTM_WAIT_CLEAR;
      break;
    case CTM_CLEARED_MSG:
      GUI_DrawFramedMsgLine2(TXT_RELOADING_DATA);
      tcm.ctmState = CTM_RELOADING_MSG;
      DRH_SetReqTimer(CTM_WAIT_600MS);
      break;
    case CTM_RELOADING_MSG:
      MEN_EnterMenu(MENU_READING_DATA);
      break;
    default:
      break;
  }
}

// Lists the ECUs that did not clear, at most one screen of them; an ECU whose answer is neither
// positive nor a refusal of the clear request shows code 00.
static void CTM_CheckClearAnswers() {
  GUI_DrawTitle(GUI_GetTxt(TXT_CHECK_ECU_ERROR_RESPONSES));
  const uint8_t ecus = OBD_GetNumEcus();
  uint8_t cleared = 0;
  uint8_t rows = 0;
  for (uint8_t ecuIdx = 0; ecuIdx < ecus; ++ecuIdx) {
    const uint8_t addr = OBD_GetEcuAddr(ecuIdx);
    uint8_t length = 0;
    const uint8_t* answer = D2O_GetObdData(&length, addr);
    const uint8_t code = OBD_DecodeClearDtcRespData(answer, length);
    if (code == CTM_POSITIVE_ANSWER) {
      ++cleared;
    } else if (rows < CTM_MAX_ROWS) {
      GUI_DrawErrorCodeLine(addr, code, rows++);
    }
  }
  // Without a registered ECU nothing is known to be cleared.
  if (ecus != 0 && cleared == ecus) {
    GUI_DrawFramedMsgLine1(TXT_DIAGNOSTIC_DATA_CLEARED);
    BEEP_PlaySound(SND_CLEAR_DTC_OK);
    tcm.ctmState = CTM_CLEARED_MSG;
    DRH_SetReqTimer(CTM_WAIT_600MS);
    return;
  }
  BEEP_PlaySound(SND_ERROR);
  tcm.ctmState = cleared != 0 ? CTM_PARTLY_CLEARED : CTM_NONE_CLEARED;
}

static void CTM_ListNoResponse() {
  GUI_DrawTitle(GUI_GetTxt(TXT_CHECK_ECU_ERROR_RESPONSES));
  const uint8_t ecus = OBD_GetNumEcus();
  for (uint8_t ecuIdx = 0; ecuIdx < ecus && ecuIdx < CTM_MAX_ROWS; ++ecuIdx) {
    GUI_DrawErrorCodeLine(OBD_GetEcuAddr(ecuIdx), CTM_NO_RESPONSE, ecuIdx);
  }
  BEEP_PlaySound(SND_ERROR);
  tcm.ctmState = CTM_NONE_CLEARED;
}

void CTM_ProcessRxData(uint8_t responseCode) {
  switch (tcm.ctmState) {
    case CTM_WAIT_FILTER_ALL:
      if (responseCode == QIM_RESP_OK) {
        tcm.ctmState = CTM_WAIT_BEFORE_CLEAR;
        DRH_SetReqTimer(CTM_WAIT_600MS);
      } else {
        tcm.ctmState = CTM_STOPPED;
      }
      break;
    case CTM_WAIT_CLEAR:
      if (responseCode == QIM_RESP_OBD_DATA) {
        CTM_CheckClearAnswers();
      } else if (responseCode == QIM_RESP_NO) {
        CTM_ListNoResponse();
      } else {
        tcm.ctmState = CTM_STOPPED;
      }
      break;
    case CTM_WAIT_FILTER_RESTORE:
      if (responseCode == QIM_RESP_OK) {
        MEN_EnterMenu(MENU_TROUBLE_CODES);
      } else {
        tcm.ctmState = CTM_STOPPED;
      }
      break;
    default:
      break;
  }
}
