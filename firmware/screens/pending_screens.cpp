// Screens that are not built yet: entering one shows the screen's name over "No data", and its
// keys do nothing except those the menu table gives the standard list handlers. Each screen
// family replaces its entries here when it lands.
#include "firmware/screens/screens.h"
#include "firmware/ui/gui.h"

static void SCR_Pending() { GUI_DrawPendingScreen(); }
static void SCR_NoKey() {}

void BTM_EnterMenu() { SCR_Pending(); }
void CAL_EnterMenu() { SCR_Pending(); }
void CAL_KeyPressEventDown() { SCR_NoKey(); }
void CDM_EnterMenu() { SCR_Pending(); }
void CDS_EnterMenu() { SCR_Pending(); }
void CTM_EnterMenu() { SCR_Pending(); }
void CTM_KeyPressEventEsc() { SCR_NoKey(); }
void CTM_KeyPressEventOk() { SCR_NoKey(); }
void CVN_EnterMenu() { SCR_Pending(); }
void CVN_KeyPressEventUp() { SCR_NoKey(); }
void DSM_EnterMenu() { SCR_Pending(); }
void DSS_EnterMenu() { SCR_Pending(); }
void ECU_EnterMenu() { SCR_Pending(); }
void FFL_EnterMenu() { SCR_Pending(); }
void FFM_EnterMenu() { SCR_Pending(); }
void FFM_KeyPressEventDown() { SCR_NoKey(); }
void FFM_KeyPressEventDownRepeat() { SCR_NoKey(); }
void FFM_KeyPressEventOk() { SCR_NoKey(); }
void FFM_KeyPressEventUp() { SCR_NoKey(); }
void FFM_KeyPressEventUpRepeat() { SCR_NoKey(); }
void FFSF_EnterMenu() { SCR_Pending(); }
void FFS_EnterMenu() { SCR_Pending(); }
void IPT08_EnterMenu() { SCR_Pending(); }
void IPT0B_EnterMenu() { SCR_Pending(); }
void IPTS_EnterMenu() { SCR_Pending(); }
void LSM_EnterMenu() { SCR_Pending(); }
void LSM_KeyPressEventDown() { SCR_NoKey(); }
void LSM_KeyPressEventDownRepeat() { SCR_NoKey(); }
void LSM_KeyPressEventEsc() { SCR_NoKey(); }
void LSM_KeyPressEventOk() { SCR_NoKey(); }
void LSM_KeyPressEventUp() { SCR_NoKey(); }
void LSM_KeyPressEventUpRepeat() { SCR_NoKey(); }
void MSL_EnterMenu() { SCR_Pending(); }
void MSM_EnterMenu() { SCR_Pending(); }
void MSM_KeyPressEventOk() { SCR_NoKey(); }
void MSS_EnterMenu() { SCR_Pending(); }
void O2L_EnterMenu() { SCR_Pending(); }
void RCM_EnterMenu() { SCR_Pending(); }
void SEM_EnterMenu() { SCR_Pending(); }
void SEM_KeyPressEventOk() { SCR_NoKey(); }
void SIF_EnterMenu() { SCR_Pending(); }
void SIM_EnterMenu() { SCR_Pending(); }
void SML_EnterMenu() { SCR_Pending(); }
void SMS_EnterMenu() { SCR_Pending(); }
void SSM_EnterMenu() { SCR_Pending(); }
void SSM_KeyPressEventOk() { SCR_NoKey(); }
void TCM_EnterMenu() { SCR_Pending(); }
void USB_EnterMenu() { SCR_Pending(); }
void VIM_EnterMenu() { SCR_Pending(); }
void VIN_EnterMenu() { SCR_Pending(); }
