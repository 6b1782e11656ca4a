// Scrolling lists with a cursor, and the standard key handlers that list screens share.
#pragma once

#include <stdint.h>

constexpr uint8_t LIST_VISIBLE_ROWS = 7;
constexpr uint8_t GUI_MAX_LIST_ITEMS = 10;  // list positions with a stored text id

struct LIST {
  uint8_t noOfItems;
  uint8_t cursor;         // index of the selected item
  uint8_t visibleRows;    // always 7
  uint8_t cursorRow;      // row of the cursor in the visible window, 0..6
};

// What the last cursor operation changed: 0 nothing, 1 cursor moved in the window, 2 scrolled.
enum : uint8_t { LIST_EVENT_NONE = 0, LIST_EVENT_MOVED = 1, LIST_EVENT_SCROLLED = 2 };

typedef void (*LIST_DRAW_FCT)(LIST* list);

struct ListState {
  uint8_t listLastEvent;
  uint8_t listOldVisibleCursorPos;
  uint8_t guiItemTxtId[GUI_MAX_LIST_ITEMS];
  LIST* spkfList;
  LIST_DRAW_FCT SPKF_DrawFct;
};
extern ListState listState;

void LIST_InitState();
void LIST_Init(LIST* list, uint8_t noOfItems);
void LIST_SetCursor(LIST* list, uint8_t index);
void LIST_MoveCursor(LIST* list, int8_t delta);
uint8_t LIST_GetNumVisibleListItems(const LIST* list);
uint8_t GUI_GetMaxVisibleItems();

void GUI_SetTxtId(uint8_t txtId, uint8_t position);
uint8_t GUI_GetTxtId(uint8_t position);

void SPKF_Init(LIST* list, LIST_DRAW_FCT drawFct);
void SPKF_KeyPressEventUp();
void SPKF_KeyPressEventDown();
void SPKF_KeyPressEventUpRepeat();
void SPKF_KeyPressEventDownRepeat();
void SPKF_KeyPressEventOk();
void SPKF_KeyPressEventOk2();
void SPKF_KeyPressEventOk3();
void SPKF_KeyPressEventEsc();
