// Lists: a cursor over the items and a window of seven visible rows that keeps one item of
// look-ahead below and above the cursor while scrolling. No wrap at either end.
#include "ui/list.h"

#include "beep.h"
#include "ui/menu.h"
#include "ui/texts.h"

ListState listState;

void LIST_InitState() {
  listState = ListState{};
  for (uint8_t& id : listState.guiItemTxtId) id = TXT_NO_DATA;
}

void LIST_Init(LIST* list, uint8_t noOfItems) {
  list->noOfItems = noOfItems;
  list->cursor = 0;
  list->visibleRows = LIST_VISIBLE_ROWS;
  list->cursorRow = 0;
  listState.listOldVisibleCursorPos = 0;
  listState.listLastEvent = LIST_EVENT_SCROLLED;
}

void LIST_SetCursor(LIST* list, uint8_t index) {
  const uint8_t v = list->visibleRows;
  const uint8_t last = list->noOfItems > 0 ? static_cast<uint8_t>(list->noOfItems - 1) : 0;
  if (index > last) index = last;
  list->cursor = index;
  if (index == last) {
    list->cursorRow = last < v ? last : static_cast<uint8_t>(v - 1);
  } else if (v > 2 && index >= v - 2) {
    list->cursorRow = static_cast<uint8_t>(v - 2);  // one item below the cursor stays in view
  } else {
    list->cursorRow = index;
  }
  listState.listLastEvent = LIST_EVENT_SCROLLED;
}

void LIST_MoveCursor(LIST* list, int8_t delta) {
  ListState& s = listState;
  s.listOldVisibleCursorPos = list->cursorRow;
  if (list->noOfItems < 2) {
    s.listLastEvent = LIST_EVENT_NONE;
    return;
  }
  const int v = list->visibleRows;
  const int lookAhead = v > 2 ? 1 : 0;
  const int last = list->noOfItems - 1;
  const int cursor = list->cursor;
  const int row = list->cursorRow;
  const int target = cursor + delta;

  if (delta <= 0) {
    if (cursor == 0) {
      s.listLastEvent = LIST_EVENT_NONE;
    } else if (target > 0) {
      list->cursor = static_cast<uint8_t>(target);
      if (row + delta < lookAhead) {
        list->cursorRow = static_cast<uint8_t>(lookAhead);
        s.listLastEvent = LIST_EVENT_SCROLLED;
      } else {
        list->cursorRow = static_cast<uint8_t>(row + delta);
        s.listLastEvent = LIST_EVENT_MOVED;
      }
    } else {
      s.listLastEvent = row == cursor ? LIST_EVENT_MOVED : LIST_EVENT_SCROLLED;
      list->cursor = 0;
      list->cursorRow = 0;
    }
    return;
  }

  if (cursor == last) {
    s.listLastEvent = LIST_EVENT_NONE;
  } else if (target < last) {
    list->cursor = static_cast<uint8_t>(target);
    if (row + delta >= v - lookAhead) {
      list->cursorRow = static_cast<uint8_t>(v - 1 - lookAhead);
      s.listLastEvent = LIST_EVENT_SCROLLED;
    } else {
      list->cursorRow = static_cast<uint8_t>(row + delta);
      s.listLastEvent = LIST_EVENT_MOVED;
    }
  } else {
    list->cursor = static_cast<uint8_t>(last);
    if (row + (last - cursor) > v - 1) {
      list->cursorRow = static_cast<uint8_t>(v - 1);
      s.listLastEvent = LIST_EVENT_SCROLLED;
    } else {
      list->cursorRow = static_cast<uint8_t>(last < v ? last : v - 1);
      s.listLastEvent = LIST_EVENT_MOVED;
    }
  }
}

uint8_t LIST_GetNumVisibleListItems(const LIST* list) {
  return list->noOfItems < LIST_VISIBLE_ROWS ? list->noOfItems : LIST_VISIBLE_ROWS;
}

uint8_t GUI_GetMaxVisibleItems() { return LIST_VISIBLE_ROWS; }

void GUI_SetTxtId(uint8_t txtId, uint8_t position) {
  if (position < GUI_MAX_LIST_ITEMS) listState.guiItemTxtId[position] = txtId;
}

uint8_t GUI_GetTxtId(uint8_t position) {
  return position < GUI_MAX_LIST_ITEMS ? listState.guiItemTxtId[position] : 0;
}

void SPKF_Init(LIST* list, LIST_DRAW_FCT drawFct) {
  listState.spkfList = list;
  listState.SPKF_DrawFct = drawFct;
}

// Moves the cursor of the registered list; redraws (and clicks) only if something changed.
static void SPKF_Move(int8_t delta, bool click) {
  LIST* list = listState.spkfList;
  if (list == nullptr) return;
  LIST_MoveCursor(list, delta);
  if (listState.listLastEvent == LIST_EVENT_NONE) return;
  if (click) BEEP_PlaySound(SND_CLICK);
  if (listState.SPKF_DrawFct != nullptr) listState.SPKF_DrawFct(list);
}

void SPKF_KeyPressEventUp() { SPKF_Move(-1, true); }
void SPKF_KeyPressEventDown() { SPKF_Move(1, true); }
void SPKF_KeyPressEventUpRepeat() { SPKF_Move(static_cast<int8_t>(-GUI_GetMaxVisibleItems()), false); }
void SPKF_KeyPressEventDownRepeat() { SPKF_Move(static_cast<int8_t>(GUI_GetMaxVisibleItems()), false); }

void SPKF_KeyPressEventOk() {
  BEEP_PlaySound(SND_CLICK);
  uint8_t cursor = listState.spkfList != nullptr ? listState.spkfList->cursor : 0;
  MEN_EnterMenu(MEN_GetMenuIdByTxtId(GUI_GetTxtId(cursor)));
}

void SPKF_KeyPressEventOk2() {
  BEEP_PlaySound(SND_CLICK);
  MEN_EnterMenu(MEN_GetNextMenuId());
}

void SPKF_KeyPressEventOk3() {
  if (listState.spkfList == nullptr || listState.spkfList->noOfItems == 0) return;
  SPKF_KeyPressEventOk2();
}

void SPKF_KeyPressEventEsc() {
  BEEP_PlaySound(SND_CLICK);
  MEN_CancelMenu();
}
