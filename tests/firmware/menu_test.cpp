// Menu engine and lists: cursor movement and scrolling, the standard handlers, key priority.
#include <gtest/gtest.h>

#include <vector>

#include "firmware/mcu.h"
#include "firmware/timer.h"
#include "firmware/ui/list.h"
#include "firmware/ui/menu.h"
#include "firmware/ui/texts.h"
#include "controller/controller.h"

namespace {

struct Pos {
  int cursor, row, event;
  bool operator==(const Pos&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Pos& p) {
  return o << "{cursor " << p.cursor << ", row " << p.row << ", event " << p.event << "}";
}

Pos Move(LIST& list, int delta) {
  LIST_MoveCursor(&list, static_cast<int8_t>(delta));
  return {list.cursor, list.cursorRow, listState.listLastEvent};
}

TEST(ListCursor, DownThroughTenItemsScrollsWithOneItemOfLookAhead) {
  LIST list;
  LIST_Init(&list, 10);
  std::vector<Pos> seen;
  for (int i = 0; i < 10; ++i) seen.push_back(Move(list, 1));
  const std::vector<Pos> expected = {{1, 1, 1}, {2, 2, 1}, {3, 3, 1}, {4, 4, 1}, {5, 5, 1},
                                     {6, 5, 2}, {7, 5, 2}, {8, 5, 2}, {9, 6, 1}, {9, 6, 0}};
  EXPECT_EQ(seen, expected);
  // Back up: the cursor climbs to row 1 and the window then scrolls.
  EXPECT_EQ(Move(list, -1), (Pos{8, 5, 1}));
  for (int i = 0; i < 4; ++i) Move(list, -1);
  EXPECT_EQ(Move(list, -1), (Pos{3, 1, 2}));
}

TEST(ListCursor, RepeatJumpsClampAtTheEndsWithoutWrapping) {
  LIST list;
  LIST_Init(&list, 20);
  EXPECT_EQ(Move(list, -7), (Pos{0, 0, 0})) << "Up on the first item does nothing";
  for (int i = 0; i < 3; ++i) Move(list, 1);
  EXPECT_EQ(Move(list, -7), (Pos{0, 0, 1})) << "item 3 in view with item 0: no scroll";
  EXPECT_EQ(Move(list, 7), (Pos{7, 5, 2}));
  EXPECT_EQ(Move(list, 7), (Pos{14, 5, 2}));
  EXPECT_EQ(Move(list, 7), (Pos{19, 6, 2}));
  EXPECT_EQ(Move(list, 7), (Pos{19, 6, 0}));
  EXPECT_EQ(Move(list, -7), (Pos{12, 1, 2}));
  EXPECT_EQ(Move(list, -20), (Pos{0, 0, 2})) << "the first item was not in view";
}

TEST(ListCursor, ShortListsAndDirectSelection) {
  LIST list;
  LIST_Init(&list, 1);
  EXPECT_EQ(Move(list, 1), (Pos{0, 0, 0}));
  LIST_Init(&list, 3);
  EXPECT_EQ(Move(list, 7), (Pos{2, 2, 1})) << "the whole list fits";
  EXPECT_EQ(LIST_GetNumVisibleListItems(&list), 3);

  LIST_Init(&list, 10);
  LIST_SetCursor(&list, 9);
  EXPECT_EQ(list.cursorRow, 6);
  LIST_SetCursor(&list, 6);
  EXPECT_EQ(list.cursorRow, 5) << "one item below the cursor stays in view";
  LIST_SetCursor(&list, 4);
  EXPECT_EQ(list.cursorRow, 4);
  LIST_SetCursor(&list, 200);
  EXPECT_EQ(list.cursor, 9);
  LIST_Init(&list, 4);
  LIST_SetCursor(&list, 3);
  EXPECT_EQ(list.cursorRow, 3);
}

class MenuEngine : public testing::Test {
 protected:
  void SetUp() override {
    tarnic_InitVars();
    eepaddr[1] = 1;
  }
  void Press(uint8_t line) {
    keyDebounce.keyPressed = line;
    KEY_EventHandler();
  }
};

TEST_F(MenuEngine, TextIdsOpenTheirMenusAndOthersStay) {
  EXPECT_EQ(GUI_GetTxtId(9), TXT_NO_DATA) << "list positions start as \"No data\"";
  EXPECT_EQ(MEN_GetMenuIdByTxtId(0), 2);
  EXPECT_EQ(MEN_GetMenuIdByTxtId(13), 22);
  EXPECT_EQ(MEN_GetMenuIdByTxtId(27), 42);
  MEN_EnterMenu(7);
  EXPECT_EQ(MEN_GetMenuIdByTxtId(28), 7);
  EXPECT_EQ(MEN_GetMenuIdByTxtId(255), 7);
  EXPECT_EQ(GUI_GetTxtId(10), 0) << "positions beyond ten are not stored";
  GUI_SetTxtId(5, 10);
  EXPECT_EQ(GUI_GetTxtId(10), 0);
}

TEST_F(MenuEngine, EnterRemembersThePreviousMenuAndEscGoesBack) {
  MEN_EnterMenu(1);
  MEN_EnterMenu(7);
  EXPECT_EQ(menu.menPrevMenuId, 1);
  MEN_CancelMenu();
  EXPECT_EQ(menu.menMenuId, 1);
  MEN_EnterMenu(26);
  EXPECT_EQ(MEN_GetNextMenuId(), 27);
  MEN_CancelMenu();
  EXPECT_EQ(menu.menMenuId, 14);
}

TEST_F(MenuEngine, FixedBacklightsAndStoredOnes) {
  eepaddr[8] = 165, eepaddr[11] = 111, eepaddr[14] = 28;
  MEN_EnterMenu(10);
  EXPECT_EQ(OCR1A, 65);
  EXPECT_EQ(OCR1B, 111);
  EXPECT_EQ(OCR1C, 10);
  MEN_EnterMenu(1);
  EXPECT_EQ(OCR1A, 165);
  EXPECT_EQ(OCR1C, 28);
}

TEST_F(MenuEngine, AKeyHeldAcrossAMenuChangeGivesNoPressInTheNewMenu) {
  keyDebounce.keyPressed = 0x20;
  MEN_EnterMenu(1);
  EXPECT_EQ(keyDebounce.keyPressed.load(), 0);
  EXPECT_EQ(keyDebounce.keyState.load(), 0xFF);
  // The held OK line must be released (four ticks) and pressed again before it counts.
  PINA = static_cast<uint8_t>(~0x20);
  for (int i = 0; i < 10; ++i) __vector_9();
  EXPECT_EQ(keyDebounce.keyPressed.load(), 0);
  PINA = 0xFF;
  for (int i = 0; i < 4; ++i) __vector_9();
  PINA = static_cast<uint8_t>(~0x20);
  for (int i = 0; i < 4; ++i) __vector_9();
  EXPECT_EQ(keyDebounce.keyPressed.load(), 0x20);
}

TEST_F(MenuEngine, TurnedOrientationSwapsTheKeys) {
  LIST list;
  LIST_Init(&list, 5);
  MEN_EnterMenu(7);  // a list menu with the standard keys
  SPKF_Init(&list, nullptr);
  KEY_SetOrientation(1);
  Press(0x10);  // the line of the normal Esc key is Down when turned
  EXPECT_EQ(list.cursor, 1);
  EXPECT_EQ(menu.menMenuId, 7);
  Press(0x20);  // the normal OK line is Up
  EXPECT_EQ(list.cursor, 0);
  Press(0x80);  // the normal Down line is Esc: back to the main menu
  EXPECT_EQ(menu.menMenuId, 1);
}

TEST_F(MenuEngine, EscPressWinsOverOkInTheSameTick) {
  MEN_EnterMenu(7);
  Press(0x10 | 0x20);
  EXPECT_EQ(menu.menMenuId, 1);
}

}  // namespace
