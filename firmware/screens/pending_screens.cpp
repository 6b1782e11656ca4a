// Screens that are not built yet: entering one shows the screen's name over "No data", and its
// keys do nothing except those the menu table gives the standard list handlers. Each screen
// family replaces its entries here when it lands.
#include "firmware/screens/screens.h"
#include "firmware/ui/gui.h"

static void SCR_Pending() { GUI_DrawPendingScreen(); }
static void SCR_NoKey() {}

void DM_EnterMenu() { SCR_Pending(); }
void PIM_EnterMenu() { SCR_Pending(); }
void RDS_EnterMenu() { SCR_Pending(); }
void RDS_KeyPressEventEsc() { SCR_NoKey(); }
void SI9_EnterMenu() { SCR_Pending(); }
void SP1_EnterMenu() { SCR_Pending(); }
void SP2_EnterMenu() { SCR_Pending(); }
void SPM_EnterMenu() { SCR_Pending(); }
void SPM_KeyPressEventOk() { SCR_NoKey(); }
void SPS_EnterMenu() { SCR_Pending(); }
