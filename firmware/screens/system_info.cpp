// System information (menu 6): asks the module for its serial number, firmware version and
// supply voltage, one after the other; the voltage is then refreshed twice a second for as long
// as the screen is shown. A module that gives no text answer is asked again every 300 ms.
#include "link/dispatcher.h"
#include "link/qim.h"
#include "screens/screen_requests.h"
#include "screens/screens.h"
#include "ui/gui.h"
#include "ui/texts.h"

static uint8_t simCmdId;  // the module command sent next: AT!00, AT!01 or AT!10

struct SimStep {
  uint8_t cmdId;
  uint8_t line;         // the label it is shown beside
  uint8_t nextCmdId;
  uint8_t nextAfter;    // in 100 ms
};
// clang-format off
static const SimStep SIM_STEPS[] = {
    {QIM_AT_00, 0, QIM_AT_01, 1},  // QIM-Serial
    {QIM_AT_01, 1, QIM_AT_10, 1},  // QIM-Bios
    {QIM_AT_10, 2, QIM_AT_10, 5},  // QIM-Power, refreshed
};
// clang-format on
constexpr uint8_t SIM_RETRY_AFTER = 3;

void SIM_EnterMenu() {
  GUI_DrawTitle(GUI_GetTxt(TXT_SYSTEM_INFORMATION));
  GUI_DrawSysInfo();
  simCmdId = QIM_AT_00;
  DRH_SetReqTimer(1);
}

void SIM_ReqTimerExpiredEvent() { QIM_SendATx(simCmdId); }

void SIM_ProcessRxData(uint8_t responseCode) {
  if (responseCode != QIM_RESP_TEXT) {
    DRH_SetReqTimer(SIM_RETRY_AFTER);
    return;
  }
  for (const SimStep& step : SIM_STEPS) {
    if (step.cmdId != simCmdId) continue;
    GUI_DrawSysInfoLine(reinterpret_cast<const char*>(qim.qimFrameBuf), step.line);
    simCmdId = step.nextCmdId;
    DRH_SetReqTimer(step.nextAfter);
    return;
  }
}
