// The diagnostics menu (menu 11), from which every vehicle screen is reached, and its small
// information screens: protocol information (17), supported PIDs of services 01 and 02 (18, 19)
// and supported info types (20), which follow one another with OK.
#include "link/dispatcher.h"
#include "link/qim.h"
#include "mcu.h"
#include "obd/monitors.h"
#include "obd/pids.h"
#include "screens/connect.h"
#include "screens/vehicle_info.h"
#include "screens/screen_requests.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/menu.h"
#include "ui/texts.h"

DmState dm;


// Key byte 1 values that change the K-line timing and framing shown.
constexpr uint8_t PIM_KEY_BYTE_P2MIN_0MS = 0x94;
constexpr uint8_t PIM_KEY_BYTE_HEADER_4 = 0xEA;

void DM_InitState() { dm = DmState{}; }

void DM_EnterMenu() {
  OBD_SetActiveSid(1);
  uint8_t count = 0;
  GUI_SetTxtId(TXT_CURRENT_DATA, count++);
  GUI_SetTxtId(TXT_TROUBLE_CODES, count++);
  if (OBD_PidIsSupported(0x01)) GUI_SetTxtId(TXT_IM_READINESS, count++);
  if (VIM_MenuIsSupported()) GUI_SetTxtId(TXT_VEHICLE_INFO, count++);
  GUI_SetTxtId(TXT_PROTOCOL_INFORMATION, count++);
  if (OBD_GetNumEcus() > 1) GUI_SetTxtId(TXT_CHANGE_ECU, count++);
  GUI_SetTxtId(TXT_RELOAD_OBD_DATA, count++);

  // Fresh data or another ECU start at the top; back from one of its screens the cursor stays.
  const uint8_t ecuAddr = OBD_GetActiveEcuAddr();
  if (menu.menPrevMenuId == MENU_READING_DATA || ecuAddr != dm.dmLastEcuAddr) {
    LIST_Init(&dm.dmList, count);
  } else {
    dm.dmList.noOfItems = count;
    LIST_SetCursor(&dm.dmList, dm.dmList.cursor);
  }
  dm.dmLastEcuAddr = ecuAddr;

  GUI_DrawTitleProtocol(GUI_GetTxt(TXT_DIAGNOSTICS_MENU), qimProtocol & 0x0F);
  SPKF_Init(&dm.dmList, GUI_DrawList);
  GUI_DrawListAll(&dm.dmList);
  GUI_DrawDiagnosticsInfo();
}

// ---------------------------------------------------------------------------------------------
// Protocol information: the module's description of the protocol and, on the K-line, the key
// bytes with what they mean for timing and header size.

void PIM_EnterMenu() {
  GUI_DrawTitleEcu(GUI_GetTxt(TXT_PROTOCOL_INFORMATION), OBD_GetActiveEcuAddr());
  DRH_SetReqTimer(1);
}

void PIM_ReqTimerExpiredEvent() { QIM_SendATx(QIM_ATDP); }

void PIM_ProcessRxData(uint8_t responseCode) {
  if (responseCode == QIM_RESP_TEXT) {
    const uint8_t keyByte1 = qim.qimKeyByte1;
    GUI_DrawProtocolInfoScreen(reinterpret_cast<const char*>(qim.qimFrameBuf),
                               (qimProtocol & 0x10) != 0, keyByte1, qim.qimKeyByte2,
                               keyByte1 == PIM_KEY_BYTE_P2MIN_0MS ? TXT_P2MIN_0MS : TXT_P2MIN_25MS,
                               keyByte1 == PIM_KEY_BYTE_HEADER_4 ? TXT_HEADER_SIZE_4
                                                                 : TXT_HEADER_SIZE_3);
  }
  GUI_DrawMenuChangeIndicator();
}

// ---------------------------------------------------------------------------------------------
// Supported PIDs and info types of the active ECU, as read; nothing is sent.

static void SPX_DrawSupPids(uint8_t sid, uint8_t titleTxtId) {
  OBD_SetActiveSid(sid);
  uint8_t bitmap[OBD_SUP_PID_BYTES];
  for (uint8_t i = 0; i < OBD_SUP_PID_BYTES; ++i) bitmap[i] = OBD_GetSupportedPids(i);
  GUI_DrawSupPids(titleTxtId, OBD_GetActiveEcuAddr(), bitmap);
}

void SP1_EnterMenu() { SPX_DrawSupPids(1, TXT_SUPPORTED_PIDS_01); }
void SP2_EnterMenu() { SPX_DrawSupPids(2, TXT_SUPPORTED_PIDS_02); }

void SI9_EnterMenu() {
  uint8_t bitmap[4];
  for (uint8_t i = 0; i < 4; ++i) bitmap[i] = OBD_GetSupportedInfoTypes(i);
  GUI_DrawSupInfoTypes(OBD_GetActiveEcuAddr(), bitmap);
}
