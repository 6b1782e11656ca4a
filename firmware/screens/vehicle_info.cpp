// ECU selection and vehicle information (service 0x09). The information screens make one
// request each; a slow ECU is waited for: after "response pending" (0x78) on the newer
// protocols, and after "NO DATA" to the verification numbers on SAE J1850 and ISO 9141-2,
// whose ECUs may need many seconds to compute them. The performance tracking counters are
// read again every 2.8 s while their screens are shown.
#include "screens/vehicle_info.h"

#include "beep.h"
#include "link/dispatcher.h"
#include "link/qim.h"
#include "link/reassembly.h"
#include "mcu.h"
#include "obd/monitors.h"
#include "obd/pids.h"
#include "screens/screen_requests.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/menu.h"
#include "ui/texts.h"

VimState vim;

void VIM_InitState() {
  LIST_Init(&vim.semList, 0);
  LIST_Init(&vim.vimList, 0);
  LIST_Init(&vim.iptList, 0);
  vim.semEcuIdx = 0;
  vim.vimInfoType = 0;
  vim.vimReqRepeatCnt = 0;
}

constexpr uint8_t VIM_SID = 0x09;

enum : uint8_t {
  VIM_IT_VIN = 0x02,
  VIM_IT_CALID = 0x04,
  VIM_IT_CVN = 0x06,
  VIM_IT_IPT_SPARK = 0x08,
  VIM_IT_ECU_NAME = 0x0A,
  VIM_IT_IPT_COMPR = 0x0B,
  VIM_IT_NONE = 0xFF,  // the oxygen sensor locations come from service 0x01
};

// Timer values in 100 ms.
constexpr uint8_t VIM_FIRST_REQ_TIME = 1;
constexpr uint8_t VIM_PENDING_WAIT_TIME = 28;  // for the final answer after 0x78
constexpr uint8_t VIM_IPT_REFRESH_TIME = 28;
constexpr uint8_t VIM_IPT_RETRY_TIME = 3;  // after "NO DATA" while counters are shown

constexpr uint8_t VIM_NRC_RESPONSE_PENDING = 0x78;

// Waits for the verification numbers after "NO DATA", by protocol number: how long, and how
// many times. The request is sent again after each wait that ends without an answer. Protocol
// 0 and the protocols that report 0x78 instead do not wait.
struct VimCvnWait {
  uint8_t time;  // 100 ms
  uint8_t maxRepeats;
};
constexpr uint8_t VIM_NUM_PROTOCOLS = 10;
// clang-format off
static const VimCvnWait VIM_CVN_WAIT[VIM_NUM_PROTOCOLS] = {
    {0, 0},                   // not connected
    {165, 2}, {165, 2},       // SAE J1850 PWM, VPWM
    {6, 60},                  // ISO 9141-2
    {0, 0}, {0, 0},           // ISO 14230-4
    {0, 0}, {0, 0}, {0, 0}, {0, 0},  // ISO 15765-4
};
// clang-format on

static uint8_t VIM_Protocol() { return qimProtocol & 0x0F; }

static const VimCvnWait& VIM_CvnWait() {
  const uint8_t p = VIM_Protocol();
  return VIM_CVN_WAIT[p < VIM_NUM_PROTOCOLS ? p : 0];
}

// The newer protocols (ISO 14230-4 and ISO 15765-4) announce a late answer with 0x78.
static uint8_t VIM_ProtocolReportsPending() {
  const uint8_t p = VIM_Protocol();
  return p >= 4 && p <= 9;
}

// ---------------------------------------------------------------------------------------------
// Vehicle information menu

struct VimItem {
  uint8_t txtId;     // opens its menu through the menu engine's text id table
  uint8_t infoType;  // whose support shows the item
};
// clang-format off
static constexpr VimItem VIM_ITEMS[] = {
    {21, VIM_IT_VIN},        // "VIN"
    {22, VIM_IT_CALID},      // "Calibration Identifications"
    {23, VIM_IT_CVN},        // "Calibration Verification"
    {24, VIM_IT_IPT_SPARK},  // "Performance Tracking 08"
    {25, VIM_IT_ECU_NAME},   // "ECU Name"
    {26, VIM_IT_IPT_COMPR},  // "Performance Tracking 0B"
    {27, VIM_IT_NONE},       // "O2 Sensor Locations"
};
// clang-format on
static_assert(sizeof VIM_ITEMS / sizeof VIM_ITEMS[0] <= GUI_MAX_LIST_ITEMS);
// The calibration ids and verification numbers follow one another, so that Down and Up can
// step between their screens by one item.
static_assert(VIM_ITEMS[1].infoType == VIM_IT_CALID && VIM_ITEMS[2].infoType == VIM_IT_CVN);

static uint8_t VIM_ItemIsSupported(const VimItem& item) {
  const uint8_t ecu = OBD_GetActiveEcuIdx();
  if (item.infoType == VIM_IT_NONE) {
    return OBD_Sid01PidIsSupportedByEcu(ecu, 0x13) || OBD_Sid01PidIsSupportedByEcu(ecu, 0x1D);
  }
  return OBD_InfoTypeIsSupported(item.infoType, ecu);
}

uint8_t VIM_MenuIsSupported() {
  for (const VimItem& item : VIM_ITEMS) {
    if (VIM_ItemIsSupported(item)) return 1;
  }
  return 0;
}

void VIM_EnterMenu() {
  // A wait of the information screen just left ends here, so that its late answer cannot be
  // handed to whatever screen comes next.
  DRH_SetTimer(0);
  uint8_t count = 0;
  for (const VimItem& item : VIM_ITEMS) {
    if (VIM_ItemIsSupported(item)) GUI_SetTxtId(item.txtId, count++);
  }
  if (menu.menPrevMenuId == MENU_DIAGNOSTICS) LIST_Init(&vim.vimList, count);
  GUI_DrawTitleEcu(GUI_GetTxt(TXT_VEHICLE_INFO_TITLE), OBD_GetActiveEcuAddr());
  SPKF_Init(&vim.vimList, GUI_DrawList);
  GUI_DrawListAll(&vim.vimList);
}

// ---------------------------------------------------------------------------------------------
// Information screens

static void VIM_StartInfoScreen(uint8_t infoType, uint8_t titleTxtId) {
  DRH_SetTimer(0);  // nothing of the previous screen's wait may reach this one
  vim.vimInfoType = infoType;
  vim.vimReqRepeatCnt = 0;
  DRH_SetReqTimer(VIM_FIRST_REQ_TIME);
  GUI_DrawTitleEcu(GUI_GetTxt(titleTxtId), OBD_GetActiveEcuAddr());
  GUI_DrawSandglass();
}

// The screen's last word. An answer reaches the screen only after the dispatcher has ended
// any wait, so nothing more is sent.
static void VIM_ShowFinalMsg(uint8_t txtId) {
  GUI_ClearMenuArea();
  GUI_DrawMsgCentered(txtId);
}

void VIN_EnterMenu() { VIM_StartInfoScreen(VIM_IT_VIN, TXT_VIN_TITLE); }
void CAL_EnterMenu() { VIM_StartInfoScreen(VIM_IT_CALID, TXT_CAL_TITLE); }
void CVN_EnterMenu() { VIM_StartInfoScreen(VIM_IT_CVN, TXT_CVN_TITLE); }
void ECU_EnterMenu() { VIM_StartInfoScreen(VIM_IT_ECU_NAME, TXT_ECU_NAME); }

// Down from the calibration ids and Up from the verification numbers: the menu's cursor goes
// along, so that Esc returns to the item of the screen shown.
static void VIM_StepTo(uint8_t infoType, int8_t step, uint8_t menuId) {
  if (!OBD_InfoTypeIsSupported(infoType, OBD_GetActiveEcuIdx())) return;
  BEEP_PlaySound(SND_CLICK);
  LIST_MoveCursor(&vim.vimList, step);
  MEN_EnterMenu(menuId);
}

void CAL_KeyPressEventDown() { VIM_StepTo(VIM_IT_CVN, 1, MENU_CVN); }
void CVN_KeyPressEventUp() { VIM_StepTo(VIM_IT_CALID, -1, MENU_CAL); }

void VIM_ReqTimerExpiredEvent() {
  // A repeat after a wait is sent only while the protocol's number of waits is not used up.
  if (vim.vimReqRepeatCnt != 0 && vim.vimReqRepeatCnt >= VIM_CvnWait().maxRepeats) {
    DRH_SetTimer(0);  // the wait ends without an answer
    VIM_ShowFinalMsg(TXT_NO_DATA);
    return;
  }
  QIM_SendObdReq(VIM_SID, vim.vimInfoType, 0);
}

static void VIM_ShowObdData() {
  uint8_t out[OBD_INFO_TYPE_OUT_SIZE];
  uint8_t length = 0;
  const uint8_t* data = D2O_GetObdData(&length, OBD_GetActiveEcuAddr());
  const uint8_t result = OBD_DecodeInfoTypeRespData(data, length, vim.vimInfoType, out);
  if (result == 0) {
    VIM_ShowFinalMsg(TXT_INVALID_DATA);
    return;
  }
  if (result != 1) {  // a negative response code
    GUI_DrawInfoTypeNegRespCode(result);
    if (result == VIM_NRC_RESPONSE_PENDING && VIM_ProtocolReportsPending()) {
      // Whatever comes within the wait is taken as the final answer; when nothing comes, the
      // timer handler finds no repeat allowed and ends with "No data".
      vim.vimReqRepeatCnt = 1;
      DRH_SetTimer(VIM_PENDING_WAIT_TIME);
    }
    return;
  }
  DRH_SetTimer(0);
  switch (vim.vimInfoType) {
    case VIM_IT_VIN:
      GUI_DrawVin(reinterpret_cast<const char*>(out));
      break;
    case VIM_IT_CALID:
      GUI_DrawCal(reinterpret_cast<const char*>(&out[1]), out[0]);
      break;
    case VIM_IT_CVN:
      GUI_DrawCvn(&out[1], out[0]);
      break;
    case VIM_IT_ECU_NAME:
      GUI_DrawEcuName(OBD_GetActiveEcuIdx());
      break;
    default:
      break;
  }
}

void VIM_ProcessRxData(uint8_t responseCode) {
  GUI_ClearMenuArea();
  if (responseCode == QIM_RESP_OBD_DATA) {
    VIM_ShowObdData();
    return;
  }
  if (responseCode == QIM_RESP_NO && vim.vimInfoType == VIM_IT_CVN) {
    const VimCvnWait& wait = VIM_CvnWait();
    // Once the waits are used up a further "NO DATA" is final too: the dispatcher has already
    // ended the wait in progress, so the screen would otherwise never leave its message.
    if (vim.vimReqRepeatCnt < wait.maxRepeats) {
      ++vim.vimReqRepeatCnt;
      GUI_DrawMsgCentered(TXT_WAITING_FOR_CVN);
      DRH_SetTimer(wait.time);
      return;
    }
  }
  VIM_ShowFinalMsg(TXT_NO_DATA);
}

// ---------------------------------------------------------------------------------------------
// Performance tracking

static void IPT_EnterList(uint8_t infoType, uint8_t titleTxtId) {
  if (menu.menPrevMenuId == MENU_VEHICLE_INFO) {
    LIST_Init(&vim.iptList, 0);
    VIM_StartInfoScreen(infoType, titleTxtId);
  } else {  // back from the single counter: the reading goes on as it was
    GUI_DrawTitleEcu(GUI_GetTxt(titleTxtId), OBD_GetActiveEcuAddr());
    GUI_DrawIptCounterList(&vim.iptList);
  }
  SPKF_Init(&vim.iptList, GUI_DrawIptCounterList);
}

void IPT08_EnterMenu() { IPT_EnterList(VIM_IT_IPT_SPARK, TXT_IPT08_TITLE); }
void IPT0B_EnterMenu() { IPT_EnterList(VIM_IT_IPT_COMPR, TXT_IPT0B_TITLE); }

void IPTS_EnterMenu() {
  SPKF_Init(&vim.iptList, GUI_DrawIptCounter);
  GUI_DrawIptCounter(&vim.iptList);
}

static void IPT_ShowCounters() {
  const uint8_t count = OBD_GetNumIptCounters();
  LIST* list = &vim.iptList;
  if (list->noOfItems != count) {
    const uint8_t firstAnswer = list->noOfItems == 0;
    list->noOfItems = count;
    // A shorter answer than the last one must not leave the cursor past the end.
    LIST_SetCursor(list, list->cursor);
    if (firstAnswer) GUI_ClearMenuArea();  // the sandglass
  }
  if (menu.menMenuId == MENU_IPT_SPARK_SINGLE || menu.menMenuId == MENU_IPT_COMPR_SINGLE) {
    GUI_DrawIptCounter(list);
  } else {
    GUI_DrawIptCounterList(list);
  }
}

static void IPT_ShowMsg(uint8_t txtId) {
  GUI_ClearMenuArea();
  GUI_DrawMsgCentered(txtId);
}

void IPT_ProcessRxData(uint8_t responseCode) {
  const uint8_t shown = vim.iptList.noOfItems != 0;
  if (responseCode == QIM_RESP_OBD_DATA) {
    uint8_t out[OBD_INFO_TYPE_OUT_SIZE];
    uint8_t length = 0;
    const uint8_t* data = D2O_GetObdData(&length, OBD_GetActiveEcuAddr());
    if (OBD_DecodeInfoTypeRespData(data, length, vim.vimInfoType, out) == 1) {
      IPT_ShowCounters();
      DRH_SetReqTimer(VIM_IPT_REFRESH_TIME);
    } else if (shown) {
      DRH_SetReqTimer(VIM_IPT_REFRESH_TIME);
    } else {
      IPT_ShowMsg(TXT_INVALID_DATA);
    }
  } else if (responseCode == QIM_RESP_NO) {
    if (shown) {
      DRH_SetReqTimer(VIM_IPT_RETRY_TIME);
    } else {
      IPT_ShowMsg(TXT_NO_DATA);
    }
  } else {
    IPT_ShowMsg(TXT_INVALID_DATA);
  }
}

// ---------------------------------------------------------------------------------------------
// Oxygen sensor locations: from the data read when connecting, nothing is requested.

void O2L_EnterMenu() {
  OBD_SetActiveSid(0x01);
  GUI_DrawTitleEcu(GUI_GetTxt(TXT_O2_SENSOR_LOCATIONS), OBD_GetActiveEcuAddr());
  GUI_DrawOxygenSensorLocation();
}

// ---------------------------------------------------------------------------------------------
// ECU selection: the module is told to listen to the chosen ECU only ("ATSF" with its
// address); it becomes the active ECU when the module has confirmed.

void SEM_EnterMenu() {
  GUI_DrawTitleEcu(GUI_GetTxt(TXT_SELECT_ECU), OBD_GetActiveEcuAddr());
  LIST_Init(&vim.semList, OBD_GetNumEcus());
  LIST_SetCursor(&vim.semList, OBD_GetActiveEcuIdx());
  SPKF_Init(&vim.semList, GUI_DrawList);
  GUI_DrawListAll(&vim.semList);
}

void SEM_KeyPressEventOk() {
  BEEP_PlaySound(SND_CLICK);
  const uint8_t idx = vim.semList.cursor;
  if (idx == OBD_GetActiveEcuIdx()) {
    MEN_CancelMenu();
    return;
  }
  vim.semEcuIdx = idx;
  drh.drhReqState = DRH_WAIT_ANSWER;
  QIM_SendATxValue(QIM_ATSF, OBD_GetEcuAddr(idx));
}

void SEM_ProcessRxData(uint8_t responseCode) {
  if (responseCode != QIM_RESP_OK) return;
  // The freeze frames read belong to the old ECU; the data items follow the new one's PIDs.
  OBD_ResetSid02SupPids();
  OBD_SetActiveEcuIdx(vim.semEcuIdx);
  OBD_SetActiveSid(0x01);
  OBD_InitSupDataItems();
  MEN_EnterMenu(MENU_DIAGNOSTICS);
}
