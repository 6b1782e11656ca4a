// Screen composition, lists and values: menu list rows with the inverse cursor bar and scroll
// arrows, the cursor triangle and value field of data lists, the large single value, and the
// freeze frame selection box.
#include "ui/fonts.h"
#include "ui/gui.h"
#include "ui/lcd.h"
#include "ui/menu.h"
#include "ui/texts.h"

// The diagnostics menu and the trouble code menu keep the column right of x 101 for their
// summary, so their cursor bar is narrower and their scroll arrows move in.
constexpr uint8_t GUI_LIST_NARROW_WIDTH = 100;
constexpr uint8_t GUI_ARROW_X = 126;
constexpr uint8_t GUI_ARROW_NARROW_X = 94;
constexpr uint8_t GUI_LIST_TEXT_X = 1;

// Data lists: cursor triangle, then a value field right of the ":" column.
constexpr uint8_t GUI_CURSOR_X = 4;
constexpr uint8_t GUI_VALUE_X = 74;
constexpr uint8_t GUI_VALUE_WIDTH = 58;

// Large value: one BigFont line (12 rows) at y 10.
constexpr uint8_t GUI_DATA_Y = 10;
constexpr uint8_t GUI_DATA_HEIGHT = 12;
constexpr uint8_t GUI_DATA_UNIT_GAP = 2;

// Freeze frame selection: "FRAME:", the number and the up-down arrow in a filled box, then the
// frame's trouble code (or the placeholder while it is read).
constexpr uint8_t GUI_FRAME_ROW_Y = 16;
constexpr uint8_t GUI_FRAME_DTC_X = 84;
constexpr uint8_t GUI_FRAME_DTC_WIDTH = 48;

// The menu change indicator cell at the bottom right.
constexpr uint8_t GUI_INDICATOR_X = 126;
constexpr uint8_t GUI_INDICATOR_Y = 56;

// SystemFont symbols.
static const char GUI_SYM_ARROW_UP[] = "\x03";
static const char GUI_SYM_ARROW_DOWN[] = "\x04";
static const char GUI_SYM_ARROW_RIGHT[] = "\x05";
static const char GUI_SYM_TRIANGLE[] = "\x07";
static const char GUI_SYM_UP_DOWN[] = "\x0C";

static uint8_t GUI_IsNarrowList() {
  return menu.menMenuId == MENU_DIAGNOSTICS || menu.menMenuId == MENU_TROUBLE_CODES;
}

static uint8_t GUI_FirstVisibleItem(const LIST* list) {
  return static_cast<uint8_t>(list->cursor - list->cursorRow);
}

// The text of one list item: the ECU selection (menu 21) and the trouble code summary (menu 22)
// draw their rows from the OBD data, every other list the text of the item's text id.
static void GUI_DrawListItemText(uint8_t item, uint8_t y) {
  if (menu.menMenuId == MENU_DTC_LIST) {
    GUI_DrawDtcLine(y, item);
    return;
  }
  if (menu.menMenuId == MENU_SELECT_ECU) {  // address and name of the ECU
    GUI_DrawEcuListItem(item, y);
    return;
  }
  LCD_DrawText(GUI_GetTxt(GUI_GetTxtId(item)), GUI_LIST_TEXT_X, y);
}

void GUI_DrawListLine(LIST* list, uint8_t row) {
  const uint8_t narrow = GUI_IsNarrowList();
  const uint8_t width = narrow ? GUI_LIST_NARROW_WIDTH : LCD_WIDTH;
  const uint8_t arrowX = narrow ? GUI_ARROW_NARROW_X : GUI_ARROW_X;
  const uint8_t y = GUI_RowY(row);
  const uint8_t first = GUI_FirstVisibleItem(list);

  FNT_SetSystemFont();
  if (row == list->cursorRow) {
    LCD_FillArea(0, y, width, GUI_ROW_HEIGHT);
    lcdInversed = 1;
  } else {
    LCD_ClearArea(0, y, width, GUI_ROW_HEIGHT);
  }
  // A long item must not run into the summary column of the narrow lists.
  lcdMaxPosX = width;
  GUI_DrawListItemText(static_cast<uint8_t>(first + row), y);
  lcdMaxPosX = LCD_WIDTH;

  if (row == 0 && first > 0) {
    LCD_DrawText(GUI_SYM_ARROW_UP, arrowX, y);
  } else if (row == list->visibleRows - 1 && first + list->visibleRows < list->noOfItems) {
    LCD_DrawText(GUI_SYM_ARROW_DOWN, arrowX, y);
  }
  lcdInversed = 0;
}

void GUI_DrawListAll(LIST* list) {
  const uint8_t rows = LIST_GetNumVisibleListItems(list);
  for (uint8_t row = 0; row < rows; ++row) GUI_DrawListLine(list, row);
  listState.listLastEvent = LIST_EVENT_NONE;
  guiDoDisplayUpdate = 1;
}

void GUI_DrawList(LIST* list) {
  switch (listState.listLastEvent) {
    case LIST_EVENT_SCROLLED:
      GUI_DrawListAll(list);
      return;
    case LIST_EVENT_MOVED:
      GUI_DrawListLine(list, listState.listOldVisibleCursorPos);
      GUI_DrawListLine(list, list->cursorRow);
      break;
    default:
      GUI_DrawListLine(list, list->cursorRow);
      break;
  }
  listState.listLastEvent = LIST_EVENT_NONE;
  guiDoDisplayUpdate = 1;
}

void GUI_DrawCursorMove(LIST* list) {
  FNT_SetSystemFont();
  LCD_DrawText(" ", GUI_CURSOR_X, GUI_RowY(listState.listOldVisibleCursorPos));
  LCD_DrawText(GUI_SYM_TRIANGLE, GUI_CURSOR_X, GUI_RowY(list->cursorRow));
  guiDoDisplayUpdate = 1;
}

void GUI_DrawListData(uint8_t row, const char* value, const char* unit) {
  const uint8_t y = GUI_RowY(row);
  FNT_SetSystemFont();
  LCD_DrawTextField(value, GUI_VALUE_X, y, GUI_VALUE_WIDTH, 0);
  if (unit != nullptr) {
    LCD_SetPosXRel(1);
    LCD_DrawText(unit, lcdPosX, y);
  }
  guiDoDisplayUpdate = 1;
}

void GUI_DrawListDataById(uint8_t row, uint8_t txtId) {
  FNT_SetSystemFont();
  LCD_DrawTextField(GUI_GetTxt(txtId), GUI_VALUE_X, GUI_RowY(row), GUI_VALUE_WIDTH, 0);
  guiDoDisplayUpdate = 1;
}

void GUI_DrawData(const char* value, const char* unit) {
  if (unit == nullptr) unit = "";
  FNT_SetBigFont();
  LCD_ClearArea(0, GUI_DATA_Y, LCD_WIDTH, GUI_DATA_HEIGHT);
  // Value and unit are centred as one block; the widths are taken 8 bits wide, as the
  // handheld computes them, so a block wider than the display starts off its left edge.
  const uint8_t unitWidth = static_cast<uint8_t>(LCD_GetTextWidth(unit));
  const uint8_t valueWidth = static_cast<uint8_t>(LCD_GetTextWidth(value));
  const uint8_t x =
      static_cast<uint8_t>(LCD_WIDTH - (unitWidth + GUI_DATA_UNIT_GAP) - valueWidth) / 2;
  LCD_DrawText(value, x, GUI_DATA_Y);
  LCD_SetPosXRel(GUI_DATA_UNIT_GAP);
  LCD_DrawText(unit, lcdPosX, GUI_DATA_Y);
  FNT_SetSystemFont();
  guiDoDisplayUpdate = 1;
}

void GUI_DrawDataById(uint8_t txtId) {
  const char* text = GUI_GetTxt(txtId);
  FNT_SetBigFont();
  LCD_ClearArea(0, GUI_DATA_Y, LCD_WIDTH, GUI_DATA_HEIGHT);
  const uint8_t x = static_cast<uint8_t>(LCD_WIDTH - LCD_GetTextWidth(text)) / 2;
  LCD_DrawText(text, x, GUI_DATA_Y);
  FNT_SetSystemFont();
  guiDoDisplayUpdate = 1;
}

void GUI_DrawFrameSelection(uint8_t frame) {
  char number[4];
  GUI_DecToStr(frame, number);
  FNT_SetSystemFont();
  LCD_DrawText(GUI_GetTxt(TXT_FRAME_LABEL), 13, GUI_FRAME_ROW_Y);
  LCD_DrawBoxFilled(50, 14, 29, 11);
  LCD_DrawTextField(number, 52, GUI_FRAME_ROW_Y, 16, LCD_FIELD_RIGHT | LCD_FIELD_INVERSE);
  LCD_DrawTextField(GUI_SYM_UP_DOWN, 71, GUI_FRAME_ROW_Y, 5, LCD_FIELD_INVERSE);
  // As a field, so that the code of the frame shown before goes.
  LCD_DrawTextField(GUI_GetTxt(TXT_PLACEHOLDER_DOTS), GUI_FRAME_DTC_X, GUI_FRAME_ROW_Y,
                    GUI_FRAME_DTC_WIDTH, 0);
  guiDoDisplayUpdate = 1;
}

void GUI_DrawFrameSelectionDtc(uint16_t dtc, const char* dtcText) {
  FNT_SetSystemFont();
  if (dtc != 0) {
    LCD_DrawTextField(dtcText != nullptr ? dtcText : "", GUI_FRAME_DTC_X, GUI_FRAME_ROW_Y,
                      GUI_FRAME_DTC_WIDTH, 0);
    GUI_DrawMenuChangeIndicator();
  } else {
    // No code stored for this frame: nothing to open, so the indicator goes too.
    LCD_DrawTextField(GUI_GetTxt(TXT_NO_DATA), GUI_FRAME_DTC_X, GUI_FRAME_ROW_Y,
                      GUI_FRAME_DTC_WIDTH, 0);
    LCD_ClearArea(GUI_INDICATOR_X, GUI_INDICATOR_Y, LCD_WIDTH - GUI_INDICATOR_X,
                  LCD_HEIGHT - GUI_INDICATOR_Y);
  }
  guiDoDisplayUpdate = 1;
}

void GUI_DrawMenuChangeIndicator() {
  FNT_SetSystemFont();
  LCD_DrawText(GUI_SYM_ARROW_RIGHT, GUI_INDICATOR_X, GUI_INDICATOR_Y);
  guiDoDisplayUpdate = 1;
}
