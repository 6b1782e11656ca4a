// The reading cycle shared by the current data and freeze frame screens: which item each visible
// row holds, which PID is requested next, and the drawing that restarts the cycle.
#include "screens/live_data.h"

#include <string.h>

#include "link/dispatcher.h"
#include "link/reassembly.h"
#include "obd/monitors.h"
#include "ui/gui.h"
#include "ui/texts.h"

PdiState pdi;

void PDI_InitState() { memset(&pdi, 0, sizeof pdi); }

uint8_t PDI_GetRowDataItem(uint8_t row) {
  return OBD_GetNextDataItem(pdi.pdiFirstDataItemIdx, row);
}

uint8_t PDI_FindPidRow(uint8_t pid) {
  uint8_t row = 0;
  while (row < pdi.pdiMaxLineNo && obd_dataItem[PDI_GetRowDataItem(row)].pid != pid) ++row;
  return row;
}

const uint8_t* PDI_GetActiveEcuData(uint8_t* length) {
  return D2O_GetObdData(length, OBD_GetActiveEcuAddr());
}

// The n-th supported item of the active service, as a catalogue index.
static uint8_t PDI_DataItemByNumber(uint8_t n) { return OBD_GetNextDataItem(0, n); }

void PDI_DrawListAll(LIST* list) {
  if (list->noOfItems == 0) return;  // nothing to read: the screen says so instead
  const uint8_t first =
      PDI_DataItemByNumber(static_cast<uint8_t>(list->cursor - list->cursorRow));
  pdi.pdiFirstDataItemIdx = first;
  pdi.pdiCurrentDataItemIdx = first;
  pdi.pdiFirstPid = obd_dataItem[first].pid;
  pdi.pdiCurrentPid = pdi.pdiFirstPid;
  GUI_DrawDataItemList(list, first, pdi.pdiCurrentPid);
  listState.listLastEvent = LIST_EVENT_NONE;
  DRH_SetNextReqState();
}

void PDI_DrawList(LIST* list) {
  const uint8_t event = listState.listLastEvent;
  listState.listLastEvent = LIST_EVENT_NONE;
  if (event == LIST_EVENT_MOVED) {
    GUI_DrawCursorMove(list);  // same rows: the values and the reading go on
  } else {
    PDI_DrawListAll(list);
  }
}

void PDI_DrawSingleData(LIST* list) {
  listState.listLastEvent = LIST_EVENT_NONE;
  if (list->noOfItems == 0) return;
  const uint8_t item = PDI_DataItemByNumber(list->cursor);
  pdi.pdiCurrentDataItemIdx = item;
  GUI_DrawDataItem(item, OBD_GetActiveEcuAddr());
  pdi.pdiCurrentPid = obd_dataItem[item].pid;
  DRH_SetNextReqState();
}

void PDI_ProcessResponseError() {
  for (uint8_t row = PDI_FindPidRow(pdi.pdiCurrentPid); row < pdi.pdiMaxLineNo; ++row) {
    if (obd_dataItem[PDI_GetRowDataItem(row)].pid != pdi.pdiCurrentPid) break;
    GUI_DrawListDataById(row, TXT_NO_DATA);
  }
}
