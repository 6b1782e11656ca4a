// Screens that are not built yet: entering one shows the screen's name over "No data", and its
// keys do nothing except those the menu table gives the standard list handlers. Each screen
// family replaces its entries here when it lands.
#include "firmware/screens/screens.h"
#include "firmware/ui/gui.h"

static void SCR_Pending() { GUI_DrawPendingScreen(); }
static void SCR_NoKey() {}

void CAL_EnterMenu() { SCR_Pending(); }
void CAL_KeyPressEventDown() { SCR_NoKey(); }
void CVN_EnterMenu() { SCR_Pending(); }
void CVN_KeyPressEventUp() { SCR_NoKey(); }
void DM_EnterMenu() { SCR_Pending(); }
void ECU_EnterMenu() { SCR_Pending(); }
void IPT08_EnterMenu() { SCR_Pending(); }
void IPT0B_EnterMenu() { SCR_Pending(); }
void IPTS_EnterMenu() { SCR_Pending(); }
void MSL_EnterMenu() { SCR_Pending(); }
void MSM_EnterMenu() { SCR_Pending(); }
void MSM_KeyPressEventOk() { SCR_NoKey(); }
void MSS_EnterMenu() { SCR_Pending(); }
void O2L_EnterMenu() { SCR_Pending(); }
void PIM_EnterMenu() { SCR_Pending(); }
void RCM_EnterMenu() { SCR_Pending(); }
void RDS_EnterMenu() { SCR_Pending(); }
void RDS_KeyPressEventEsc() { SCR_NoKey(); }
void SEM_EnterMenu() { SCR_Pending(); }
void SEM_KeyPressEventOk() { SCR_NoKey(); }
void SI9_EnterMenu() { SCR_Pending(); }
void SML_EnterMenu() { SCR_Pending(); }
void SMS_EnterMenu() { SCR_Pending(); }
void SP1_EnterMenu() { SCR_Pending(); }
void SP2_EnterMenu() { SCR_Pending(); }
void SPM_EnterMenu() { SCR_Pending(); }
void SPM_KeyPressEventOk() { SCR_NoKey(); }
void SPS_EnterMenu() { SCR_Pending(); }
void VIM_EnterMenu() { SCR_Pending(); }
void VIN_EnterMenu() { SCR_Pending(); }
