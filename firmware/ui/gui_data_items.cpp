// Screen composition of data items (current data and freeze frames): the list rows with the
// reading marker, the cursor triangle, PID, short name and value field, and the single item.
#include "obd/pids.h"
#include "ui/fonts.h"
#include "ui/gui.h"
#include "ui/lcd.h"
#include "ui/texts.h"

// Row layout: marker at x 0, cursor triangle at x 4, then the PID; the short name ends just
// before the ":" column, and the value field (GUI_DrawListData) starts at x 74.
constexpr uint8_t GUI_MARKER_X = 0;
constexpr uint8_t GUI_ITEM_CURSOR_X = 4;
constexpr uint8_t GUI_ITEM_NAME_X = 19;
constexpr uint8_t GUI_ITEM_NAME_WIDTH = 48;
constexpr uint8_t GUI_ITEM_COLON_X = 67;
static_assert(GUI_ITEM_NAME_X + GUI_ITEM_NAME_WIDTH == GUI_ITEM_COLON_X);

// Single item: "PID:" and the PID in the title bar, the long name under the large value.
constexpr uint8_t GUI_ITEM_PID_LABEL_X = 70;
constexpr uint8_t GUI_ITEM_PID_X = 87;
constexpr uint8_t GUI_ITEM_LONG_NAME_Y = 24;

static const char GUI_SYM_MARKER[] = "\x08";
static const char GUI_SYM_CURSOR[] = "\x07";
static const char GUI_SYM_BLANK[] = " ";

// The catalogue index of the item in `row`. Rows never lie beyond the supported items, and the
// catalogue answers with an index inside its table even when asked for one item too many.
static uint8_t GUI_RowItem(uint8_t firstItem, uint8_t row) {
  return OBD_GetNextDataItem(firstItem, row);
}

static const char* GUI_RowMarker(uint8_t item, uint8_t readPid) {
  return obd_dataItem[item].pid == readPid ? GUI_SYM_MARKER : GUI_SYM_BLANK;
}

void GUI_DrawListReadIndicator(LIST* list, uint8_t firstItem, uint8_t readPid) {
  if (firstItem >= OBD_NUM_DATA_ITEMS) return;
  const uint8_t rows = LIST_GetNumVisibleListItems(list);
  FNT_SetSystemFont();
  for (uint8_t row = 0; row < rows; ++row) {
    LCD_DrawText(GUI_RowMarker(GUI_RowItem(firstItem, row), readPid), GUI_MARKER_X,
                 GUI_RowY(row));
  }
  guiDoDisplayUpdate = 1;
}

void GUI_DrawDataItemList(LIST* list, uint8_t firstItem, uint8_t readPid) {
  if (firstItem >= OBD_NUM_DATA_ITEMS) return;
  const uint8_t rows = LIST_GetNumVisibleListItems(list);
  FNT_SetSystemFont();
  for (uint8_t row = 0; row < rows; ++row) {
    const uint8_t item = GUI_RowItem(firstItem, row);
    const uint8_t y = GUI_RowY(row);
    // The whole row goes: a scrolled list must not keep values of the items shown before.
    LCD_ClearArea(0, y, LCD_WIDTH, GUI_ROW_HEIGHT);
    LCD_DrawText(GUI_RowMarker(item, readPid), GUI_MARKER_X, y);
    LCD_DrawText(row == list->cursorRow ? GUI_SYM_CURSOR : GUI_SYM_BLANK, GUI_ITEM_CURSOR_X, y);
    LCD_DrawHexByte(obd_dataItem[item].pid);
    LCD_DrawTextField(obdPidShortTxt[OBD_GetPidTxtId(item)], GUI_ITEM_NAME_X, y,
                      GUI_ITEM_NAME_WIDTH, LCD_FIELD_RIGHT);
    LCD_DrawText(":", GUI_ITEM_COLON_X, y);
    GUI_DrawListDataById(row, TXT_PLACEHOLDER_DOTS);
  }
  guiDoDisplayUpdate = 1;
}

void GUI_DrawDataItem(uint8_t item, uint8_t ecuAddr) {
  if (item >= OBD_NUM_DATA_ITEMS) return;
  const uint8_t txtId = OBD_GetPidTxtId(item);
  GUI_DrawTitleKeepHeaderFont(obdPidShortTxt[txtId]);
  LCD_DrawText(GUI_GetTxt(TXT_PID_LABEL), GUI_ITEM_PID_LABEL_X, 0);
  LCD_SetPosXY(GUI_ITEM_PID_X, 0);
  LCD_DrawHexByte(obd_dataItem[item].pid);
  GUI_DrawEcu(ecuAddr);
  FNT_SetSystemFont();
  GUI_DrawDataById(TXT_PLACEHOLDER_DOTS);
  LCD_DrawTextField(obdPidLongTxt[txtId], 0, GUI_ITEM_LONG_NAME_Y, LCD_WIDTH, LCD_FIELD_CENTRE);
  guiDoDisplayUpdate = 1;
}
