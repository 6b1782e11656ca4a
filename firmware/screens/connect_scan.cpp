// Protocol selection (menu 2) and the protocol scan "CONNECT" (menu 9). The scan walks the table
// of the chosen protocol: each "ATP" the module takes is tried with the request 0100, and the
// first OBD answer connects; the module then tells the protocol it settled on ("ATN") and, on
// the K-line, the key bytes of the connection ("ATK").
#include "beep.h"
#include "eeprom.h"
#include "link/dispatcher.h"
#include "link/qim.h"
#include "mcu.h"
#include "screens/connect.h"
#include "screens/screen_requests.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/menu.h"
#include "ui/texts.h"

SpsState sps;

// clang-format off
const uint8_t SPM_PROTOCOL_TAB[SPM_NUM_PROTOCOLS] =        {  0,   6,   7,   8,   9,   3,   4,   5,   2,   1};
const uint8_t SPM_PROTOCOL_TXT_ID_TAB[SPM_NUM_PROTOCOLS] = {
    TXT_AUTOMATIC_PROTOCOL_SCAN, TXT_CAN_11_BIT_500,    TXT_CAN_29_BIT_500, TXT_CAN_11_BIT_250,
    TXT_CAN_29_BIT_250,          TXT_ISO_9141_2,        TXT_KWP2000_5_BAUD_INIT,
    TXT_KWP2000_FAST_INIT,       TXT_SAE_J1850_VPWM,    TXT_SAE_J1850_PWM};

// Subtitles of scan codes 1..10: the protocol names, and the slow K-line init for 10.
const uint8_t SPS_SCAN_TXT[SPS_SCAN_CODE_SLOW_INIT] = {
    TXT_SAE_J1850_PWM,     TXT_SAE_J1850_VPWM, TXT_ISO_9141_2,     TXT_KWP2000_5_BAUD_INIT,
    TXT_KWP2000_FAST_INIT, TXT_CAN_11_BIT_500, TXT_CAN_29_BIT_500, TXT_CAN_11_BIT_250,
    TXT_CAN_29_BIT_250,    TXT_ISO_9141_KWP2000_SLOW};

// Automatic: PWM, VPWM and KWP2000 fast init, then after "ATKW2" the slow K-line init, then the
// four CAN variants. A single protocol is tried three times (CAN, J1850) or once after "ATKW1"
// (ISO 9141-2, KWP2000 5 baud).
static const uint8_t SPS_SCAN_AUTO[] = {1, 4, 2, 4, 5, 26, SPS_MARKER_KW2, 10, 38, 6, 4, 7, 4, 8, 4, 9, 4};
static const uint8_t SPS_SCAN_PWM[] = {1, 10, 1, 10, 1, 10};
static const uint8_t SPS_SCAN_VPWM[] = {2, 10, 2, 10, 2, 10};
static const uint8_t SPS_SCAN_ISO_9141_2[] = {SPS_MARKER_KW1, 3, 50};
static const uint8_t SPS_SCAN_KWP2K_5_BAUD_INIT[] = {SPS_MARKER_KW1, 4, 50};
static const uint8_t SPS_SCAN_KWP2K_FAST_INIT[] = {5, 50};
static const uint8_t SPS_SCAN_CAN_11_500[] = {6, 10, 6, 10, 6, 10};
static const uint8_t SPS_SCAN_CAN_29_500[] = {7, 10, 7, 10, 7, 10};
static const uint8_t SPS_SCAN_CAN_11_250[] = {8, 10, 8, 10, 8, 10};
static const uint8_t SPS_SCAN_CAN_29_250[] = {9, 10, 9, 10, 9, 10};

// By protocol number 0..9.
const uint8_t* const SPS_SCAN_TABLES[SPM_NUM_PROTOCOLS] = {
    SPS_SCAN_AUTO, SPS_SCAN_PWM, SPS_SCAN_VPWM, SPS_SCAN_ISO_9141_2, SPS_SCAN_KWP2K_5_BAUD_INIT,
    SPS_SCAN_KWP2K_FAST_INIT, SPS_SCAN_CAN_11_500, SPS_SCAN_CAN_29_500, SPS_SCAN_CAN_11_250,
    SPS_SCAN_CAN_29_250,
};
const uint8_t SPS_SCAN_TABLE_MAX_IDX[SPM_NUM_PROTOCOLS] = {
    sizeof SPS_SCAN_AUTO, sizeof SPS_SCAN_PWM, sizeof SPS_SCAN_VPWM, sizeof SPS_SCAN_ISO_9141_2,
    sizeof SPS_SCAN_KWP2K_5_BAUD_INIT, sizeof SPS_SCAN_KWP2K_FAST_INIT, sizeof SPS_SCAN_CAN_11_500,
    sizeof SPS_SCAN_CAN_29_500, sizeof SPS_SCAN_CAN_11_250, sizeof SPS_SCAN_CAN_29_250,
};
// clang-format on
static_assert(sizeof SPS_SCAN_AUTO == 17 && sizeof SPS_SCAN_ISO_9141_2 == 3);
static_assert(SPM_NUM_PROTOCOLS == GUI_MAX_LIST_ITEMS, "every protocol has a list position");

void SPS_InitState() {
  sps = SpsState{};
  sps.spsScanTabPtr = SPS_SCAN_AUTO;
  sps.spsScanTabLen = sizeof SPS_SCAN_AUTO;
}

// ---------------------------------------------------------------------------------------------
// Protocol selection list

// The protocol used last comes first, the others follow in table order.
void SPM_EnterMenu() {
  uint8_t last = EEP_Read(EEP_LAST_PROTOCOL);
  if (last >= SPM_NUM_PROTOCOLS) last = 0;

  uint8_t pos = 0;
  for (uint8_t pass = 0; pass < 2; ++pass) {
    for (uint8_t i = 0; i < SPM_NUM_PROTOCOLS; ++i) {
      const bool isLast = SPM_PROTOCOL_TAB[i] == last;
      if (isLast != (pass == 0)) continue;
      sps.spmListProtocol[pos] = SPM_PROTOCOL_TAB[i];
      GUI_SetTxtId(SPM_PROTOCOL_TXT_ID_TAB[i], pos);
      ++pos;
    }
  }

  GUI_DrawTitle(GUI_GetTxt(TXT_SELECT_PROTOCOL));
  LIST_Init(&sps.spmList, SPM_NUM_PROTOCOLS);
  SPKF_Init(&sps.spmList, GUI_DrawList);
  GUI_DrawListAll(&sps.spmList);
}

uint8_t SPM_GetProtocol() {
  const uint8_t cursor = sps.spmList.cursor;
  return cursor < SPM_NUM_PROTOCOLS ? sps.spmListProtocol[cursor] : 0;
}

// The first entry is already the one stored: choosing it never rewrites the setting.
void SPM_KeyPressEventOk() {
  BEEP_PlaySound(SND_CLICK);
  if (sps.spmList.cursor != 0 && EEP_Read(EEP_SAVE_LAST_PROTOCOL) != 0) {
    EEP_Write(EEP_LAST_PROTOCOL, SPM_GetProtocol());
  }
  MEN_EnterMenu(MEN_GetNextMenuId());
}

// ---------------------------------------------------------------------------------------------
// Protocol scan

void SPS_EnterMenu() {
  sps.spsProtocol = SPM_GetProtocol();
  sps.spsScanTabPtr = SPS_SCAN_TABLES[sps.spsProtocol];
  sps.spsScanTabLen = SPS_SCAN_TABLE_MAX_IDX[sps.spsProtocol];
  sps.spsScanTabIdx = 0;
  sps.spsWaitState = SPS_WAIT_NONE;
  GUI_DrawTitle(GUI_GetTxt(TXT_CONNECT));
  DRH_SetReqTimer(1);
}

// The error box stays until the user leaves with Esc; nothing more is sent.
void SPS_NoProtocolError() {
  sps.spsWaitState = SPS_WAIT_NONE;
  DRH_SetTimer(0);
  BEEP_PlaySound(SND_ERROR);
  GUI_DrawErrMsg(TXT_NO_PROTOCOL_FOUND);
}

// Sends at once; the answer comes to SPS_ProcessRxData.
static void SPS_Send(uint8_t waitState, uint8_t atCmd, uint8_t value) {
  sps.spsWaitState = waitState;
  drh.drhReqState = DRH_WAIT_ANSWER;
  if (atCmd == QIM_ATN || atCmd == QIM_ATK) {
    QIM_SendATx(atCmd);
  } else {
    QIM_SendATxValue(atCmd, value);
  }
}

void SPS_ReqTimerExpiredEvent() {
  if (sps.spsScanTabIdx >= sps.spsScanTabLen) {
    SPS_NoProtocolError();
    return;
  }
  const uint8_t step = sps.spsScanTabPtr[sps.spsScanTabIdx];
  if (step == SPS_MARKER_KW1 || step == SPS_MARKER_KW2) {
    SPS_Send(SPS_WAIT_ATKW, QIM_ATKW, static_cast<uint8_t>(step - SPS_MARKER_KW1 + 1));
    return;
  }
  if (step == 0 || step > SPS_SCAN_CODE_SLOW_INIT) {  // not a scan code: the table is broken
    SPS_NoProtocolError();
    return;
  }
  GUI_DrawProgressBar(static_cast<uint8_t>(sps.spsScanTabIdx + 1), sps.spsScanTabLen);
  GUI_DrawProgressBarSubtitleById(SPS_SCAN_TXT[step - 1]);
  SPS_Send(SPS_WAIT_ATP, QIM_ATP, step == SPS_SCAN_CODE_SLOW_INIT ? 3 : step);
}

// The pair at the index failed: on to the next step after the pair's pause.
static void SPS_SkipPair() {
  const uint8_t idx = sps.spsScanTabIdx;
  const uint8_t wait = idx + 1 < sps.spsScanTabLen ? sps.spsScanTabPtr[idx + 1] : 1;
  sps.spsScanTabIdx = static_cast<uint8_t>(idx + 2);
  sps.spsWaitState = SPS_WAIT_NONE;
  DRH_SetReqTimer(wait);
}

void SPS_ProcessRxData(uint8_t responseCode) {
  switch (sps.spsWaitState) {
    case SPS_WAIT_ATP:
      if (responseCode == QIM_RESP_TEXT) {  // the module took the protocol: is a vehicle there?
        sps.spsWaitState = SPS_WAIT_0100;
        drh.drhReqState = DRH_WAIT_ANSWER;
        QIM_SendObdReq(0x01, 0x00, 0);
      } else {
        SPS_SkipPair();
      }
      break;

    case SPS_WAIT_0100:
      if (responseCode == QIM_RESP_OBD_DATA) {
        BEEP_PlaySound(SND_CONNECT);
        SPS_Send(SPS_WAIT_ATN, QIM_ATN, 0);
      } else {
        SPS_SkipPair();
      }
      break;

    case SPS_WAIT_ATKW:
      if (responseCode == QIM_RESP_OK) {
        sps.spsScanTabIdx = static_cast<uint8_t>(sps.spsScanTabIdx + 1);
      } else if (sps.spsProtocol != 0) {
        SPS_NoProtocolError();  // the only protocol asked for cannot be initialised
        return;
      } else {
        sps.spsScanTabIdx = static_cast<uint8_t>(sps.spsScanTabIdx + 3);
      }
      sps.spsWaitState = SPS_WAIT_NONE;
      DRH_SetReqTimer(1);
      break;

    case SPS_WAIT_ATN:
      if (responseCode != QIM_RESP_TEXT) {
        SPS_NoProtocolError();
        return;
      }
      QIM_SetProtocol();
      if ((qimProtocol & 0x10) != 0) {
        // Key bytes of an earlier connection must not outlive an "ATK" that goes unanswered.
        qim.qimKeyByte1 = 0;
        qim.qimKeyByte2 = 0;
        SPS_Send(SPS_WAIT_ATK, QIM_ATK, 0);
      } else {
        sps.spsWaitState = SPS_WAIT_NONE;
        MEN_EnterMenu(MENU_READING_DATA);
      }
      break;

    case SPS_WAIT_ATK:
      if (responseCode == QIM_RESP_TEXT) QIM_SetKeyBytes();
      sps.spsWaitState = SPS_WAIT_NONE;
      MEN_EnterMenu(MENU_READING_DATA);
      break;

    default:
      break;  // an answer nobody asked for
  }
}
