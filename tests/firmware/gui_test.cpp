// Screen composition, checked by pixels: the start screen and error box (and that they are
// sent at once), titles, menu list rows with cursor bar and arrows, data lines and large
// values, requesters, the progress bar, frame selection, information screens, number formatting.
#include "firmware/ui/gui.h"

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <thread>

#include "firmware/mcu.h"
#include "firmware/screens/tables.h"
#include "firmware/ui/fonts.h"
#include "firmware/ui/lcd.h"
#include "firmware/ui/list.h"
#include "firmware/ui/menu.h"
#include "firmware/ui/texts.h"
#include "tests/support/screen_text.h"
#include "tests/support/spi_sink.h"

namespace {

const uint8_t* const SYS = SystemFont.bytes;
const uint8_t* const HDR = HeaderFont.bytes;
const uint8_t* const BIG = BigFont.bytes;

bool Dark(int x, int y) { return (lcdFrameBuf[(y / 8) * LCD_WIDTH + x] >> (y % 8)) & 1; }

int DarkIn(int x, int y, int width, int height) {
  int n = 0;
  for (int j = y; j < y + height; ++j)
    for (int i = x; i < x + width; ++i) n += Dark(i, j);
  return n;
}

class Gui : public testing::Test {
 protected:
  void SetUp() override {
    LCD_InitState();
    SCR_RegisterTables();
    MEN_InitState();
    LIST_InitState();
    guiDoDisplayUpdate = 0;
  }
};

// --- Start screen, error box, messages ------------------------------------------------------

TEST_F(Gui, StartScreenShowsNameVersionAndTheFourKeyButtonsAndIsSentAtOnce) {
  SpiSink lcd;
  LCD_FillArea(0, 0, LCD_WIDTH, LCD_HEIGHT);  // whatever was there goes
  GUI_DrawStartScreen(1, 8, 0);
  EXPECT_EQ(lcd.Bytes(), FULL_UPDATE_BYTES);
  EXPECT_EQ(OCR1A, 200);
  EXPECT_EQ(OCR1B, 150);
  EXPECT_EQ(OCR1C, 0);

  ExpectText(lcdFrameBuf, 50, 16, BIG, "OBD2");       // 32 wide, centred in 31..100
  ExpectText(lcdFrameBuf, 53, 32, SYS, "Tarnic");     // 26 wide
  ExpectText(lcdFrameBuf, 55, 40, SYS, "v1.8.0");     // 22 wide
  EXPECT_EQ(DarkIn(33, 29, 66, 1), 66);
  EXPECT_FALSE(Dark(32, 29));
  EXPECT_FALSE(Dark(99, 29));

  // Buttons: filled boxes with cut corners, text inverse and centred 1 in, 2 down.
  ExpectText(lcdFrameBuf, 10, 2, SYS, "UP", true);
  ExpectText(lcdFrameBuf, 4, 55, SYS, "DOWN", true);
  ExpectText(lcdFrameBuf, 108, 2, SYS, "ESC", true);
  ExpectText(lcdFrameBuf, 111, 55, SYS, "OK", true);
  EXPECT_FALSE(Dark(101, 53)) << "cut corner";
  EXPECT_EQ(DarkIn(103, 53, 27, 1) + DarkIn(101, 55, 1, 7), 27 + 7);
  EXPECT_EQ(DarkIn(31, 0, 70, 14), 0) << "nothing between the top buttons";
  EXPECT_EQ(fntData.height, 8) << "SystemFont selected afterwards";
}

TEST_F(Gui, ErrorBoxShowsTheNumberInTheInverseBarTheTextBelowAndIsSentAtOnce) {
  SpiSink lcd;
  GUI_DrawErrMsg(36);
  EXPECT_EQ(lcd.Bytes(), FULL_UPDATE_BYTES);
  EXPECT_EQ(OCR1A, 200);
  EXPECT_EQ(OCR1B, 50);
  EXPECT_EQ(OCR1C, 20);

  ExpectText(lcdFrameBuf, 44, 4, SYS, "ERROR 02", true);
  EXPECT_EQ(DarkIn(6, 3, 120, 1) + DarkIn(6, 12, 120, 1), 240) << "bar (6, 3, 120 x 10)";
  ExpectText(lcdFrameBuf, 28, 17, SYS, "No protocol found");
  EXPECT_EQ(DarkIn(126, 4, 1, 23) + DarkIn(7, 28, 118, 1), 23 + 118) << "frame (5, 2, 122 x 27)";
  EXPECT_EQ(DarkIn(0, 30, LCD_WIDTH, 34), 0);

  GUI_DrawErrMsg(38);
  ExpectText(lcdFrameBuf, 44, 4, SYS, "ERROR 04", true);
}

TEST_F(Gui, MessagesAreCentredInTheirFields) {
  GUI_DrawMsgCentered(40);  // "No data": 31 wide
  ExpectText(lcdFrameBuf, 50, 16, SYS, "No data");
  EXPECT_EQ(guiDoDisplayUpdate, 1);

  {
    SpiSink lcd;
    GUI_DrawMenuMsg(TXT_PRESS_ESC_TO_RETURN, TXT_TO_MAIN_MENU);
    EXPECT_EQ(lcd.Bytes(), FULL_UPDATE_BYTES) << "sent at once";
  }
  ExpectText(lcdFrameBuf, 22, 12, SYS, "Press ESC to return");
  ExpectText(lcdFrameBuf, 38, 22, SYS, "to main menu!");

  GUI_DrawFramedMsgLine1(126);  // "Diagnostic data cleared"
  GUI_DrawFramedMsgLine2(40);
  EXPECT_EQ(DarkIn(7, 29, 118, 1), 118) << "frame (5, 2, 122 x 28)";
  ExpectText(lcdFrameBuf, 16, 6, SYS, "Diagnostic data cleared");
  ExpectText(lcdFrameBuf, 50, 18, SYS, "No data");
}

TEST_F(Gui, RequesterAsksBesideTheButtonsAndCanDropTheNoButton) {
  GUI_DrawRequesterYesNo(123, 124);  // "Clear diagnostic" / "fault data?"
  ExpectText(lcdFrameBuf, 17, 6, SYS, "Clear diagnostic");
  ExpectText(lcdFrameBuf, 28, 18, SYS, "fault data?");
  EXPECT_EQ(DarkIn(95, 4, 1, 24), 24) << "frame (5, 2, 91 x 28)";
  ExpectText(lcdFrameBuf, 111, 2, SYS, "NO", true);
  ExpectText(lcdFrameBuf, 108, 55, SYS, "YES", true);

  GUI_DrawRequesterYes();
  EXPECT_EQ(DarkIn(101, 0, 31, 11), 0);
  ExpectText(lcdFrameBuf, 108, 55, SYS, "YES", true);
}

TEST_F(Gui, ErrorCodeLinesShowTheEcuAndNoResponseOrTheCode) {
  GUI_DrawErrorCodeLine(0xE8, 255, 2);
  ExpectText(lcdFrameBuf, 1, 24, SYS, "ECU");
  ExpectText(lcdFrameBuf, 20, 24, SYS, "\x1E" "8:");  // 1 pixel after "ECU", narrow E
  ExpectText(lcdFrameBuf, 35, 24, SYS, "no response");
  GUI_DrawErrorCodeLine(0x10, 0x22, 3);
  ExpectText(lcdFrameBuf, 35, 32, SYS, "22");
}

// --- Titles --------------------------------------------------------------------------------

TEST_F(Gui, TitlesClearTheDisplayAndCarryProtocolOrEcuAtTheRight) {
  LCD_FillArea(0, 0, LCD_WIDTH, LCD_HEIGHT);
  GUI_DrawTitleKeepHeaderFont("MAIN MENU");
  ExpectText(lcdFrameBuf, 1, 0, HDR, "MAIN MENU");
  EXPECT_EQ(DarkIn(0, 6, LCD_WIDTH, 1), LCD_WIDTH);
  EXPECT_EQ(DarkIn(0, 7, LCD_WIDTH, 57), 0);
  EXPECT_EQ(fntData.height, 5) << "the header font stays selected";
  EXPECT_EQ(guiDoDisplayUpdate, 1);

  GUI_DrawTitleProtocol("CONNECT", 6);
  ExpectText(lcdFrameBuf, 1, 0, HDR, "CONNECT");
  ExpectText(lcdFrameBuf, 108, 0, HDR, "6-CAN");  // 23 wide, right-aligned in 100..130
  EXPECT_EQ(fntData.height, 8);
  GUI_DrawTitleProtocol("CONNECT", 0);
  EXPECT_EQ(DarkIn(60, 0, 72, 6), 0) << "protocol 0: nothing at the right";

  GUI_DrawTitleEcu("VIN", 0xE8);
  ExpectText(lcdFrameBuf, 104, 0, HDR, "ECU:");
  ExpectText(lcdFrameBuf, 122, 0, HDR, "\x1E" "8");
  EXPECT_EQ(fntData.height, 8);

  GUI_DrawTitleFrameDtcEcu("FRAME:", 2, "P0123", 0x10);
  ExpectText(lcdFrameBuf, 30, 0, HDR, "2");
  ExpectText(lcdFrameBuf, 50, 0, HDR, "DTC:");
  ExpectText(lcdFrameBuf, 69, 0, HDR, "P0123");
  ExpectText(lcdFrameBuf, 122, 0, HDR, "10");
}

// --- Menu lists ----------------------------------------------------------------------------

class GuiList : public Gui {
 protected:
  LIST list{};
  // Items 0..n-1 get the text ids first, first + 1, ...
  void MakeList(uint8_t n, uint8_t firstTxtId) {
    for (uint8_t i = 0; i < n; ++i) GUI_SetTxtId(static_cast<uint8_t>(firstTxtId + i), i);
    LIST_Init(&list, n);
  }
  static uint8_t Y(int row) { return GUI_RowY(static_cast<uint8_t>(row)); }
  bool ArrowAt(int x, int row, const char* arrow) {
    return ShowsText(lcdFrameBuf, static_cast<uint8_t>(x), Y(row), SYS, arrow);
  }
};

TEST_F(GuiList, ThreeItemsDrawThreeRowsWithoutArrowsAndLeaveTheRestAlone) {
  menu.menMenuId = 1;
  MakeList(3, TXT_SYSTEM_INFORMATION - 1);  // "Serial Interface Mode", ...
  LCD_FillArea(0, 8, LCD_WIDTH, 56);
  GUI_DrawListAll(&list);

  ExpectText(lcdFrameBuf, 1, Y(0), SYS, "Serial Interface Mode", true);
  EXPECT_EQ(DarkIn(0, Y(0), 1, 8) + DarkIn(93, Y(0), 39, 8), 40 * 8)
      << "cursor row: the bar over the full width, no arrow carved into it";
  ExpectText(lcdFrameBuf, 1, Y(1), SYS, "System Information");
  ExpectText(lcdFrameBuf, 1, Y(2), SYS, "System Settings");
  EXPECT_EQ(DarkIn(90, Y(1), 42, 16), 0) << "rows cleared, no arrows";
  EXPECT_EQ(DarkIn(0, 32, LCD_WIDTH, 32), LCD_WIDTH * 32) << "rows below the list untouched";
  EXPECT_EQ(listState.listLastEvent, LIST_EVENT_NONE);
  EXPECT_EQ(guiDoDisplayUpdate, 1);
}

TEST_F(GuiList, ScrollArrowsShowWhereItemsLieOutsideTheWindow) {
  menu.menMenuId = 16;
  MakeList(10, 6);  // "Current Data" .. "Freeze Frames"
  GUI_DrawListAll(&list);
  EXPECT_TRUE(ArrowAt(126, 6, "\x04")) << "items below";
  EXPECT_EQ(DarkIn(126, Y(0), 6, 8), 6 * 8) << "no arrow up in the cursor bar";

  LIST_SetCursor(&list, 9);  // scrolled to the end: items 3..9 in view
  GUI_DrawList(&list);
  EXPECT_TRUE(ArrowAt(126, 0, "\x03")) << "items above";
  ExpectText(lcdFrameBuf, 1, Y(0), SYS, "Vehicle/ECU Info");
  ExpectText(lcdFrameBuf, 1, Y(6), SYS, "Freeze Frames", true);
  EXPECT_EQ(DarkIn(120, Y(6), 12, 8), 12 * 8) << "no arrow down at the end";
}

TEST_F(GuiList, DiagnosticsAndTroubleCodeMenusKeepTheRightColumnFree) {
  for (uint8_t menuId : {11, 14}) {
    menu.menMenuId = menuId;
    LCD_ClearDisplay();
    LCD_DrawVLine(101, 8, 56);  // the summary column's border
    MakeList(10, 20);          // "Monitor Settings", "VIN", "Calibration Identifications", ...
    LIST_MoveCursor(&list, 2);
    GUI_DrawList(&list);  // moved inside the window: two rows
    GUI_DrawListAll(&list);
    ExpectText(lcdFrameBuf, 1, Y(2), SYS, "Calibration", true);
    EXPECT_EQ(DarkIn(0, Y(2), 1, 8), 8);
    EXPECT_TRUE(Dark(99, Y(2))) << "bar 100 pixels wide";
    EXPECT_FALSE(Dark(100, Y(2))) << int{menuId};
    EXPECT_EQ(DarkIn(102, 8, 30, 56), 0) << "long items cut before the column";
    EXPECT_EQ(DarkIn(100, Y(4), 1, 8), 0) << "\"Performance Tracking 08\" stops at x 100";
    EXPECT_EQ(DarkIn(101, 8, 1, 56), 56);
    EXPECT_TRUE(ArrowAt(94, 6, "\x04")) << int{menuId};
  }
  // Elsewhere the same item runs past x 100.
  menu.menMenuId = 16;
  LCD_ClearDisplay();
  GUI_DrawListAll(&list);
  EXPECT_GT(DarkIn(100, Y(4), 32, 8), 0);
}

TEST_F(GuiList, RedrawAfterACursorMoveTouchesOnlyTheRowsThatChanged) {
  menu.menMenuId = 1;
  MakeList(5, 0);
  GUI_DrawListAll(&list);
  LCD_FillArea(120, Y(3), 4, 4);  // a mark that only a redraw of row 3 would remove

  LIST_MoveCursor(&list, 1);
  ASSERT_EQ(listState.listLastEvent, LIST_EVENT_MOVED);
  GUI_DrawList(&list);
  ExpectText(lcdFrameBuf, 1, Y(0), SYS, "Start Diagnostics");
  EXPECT_EQ(DarkIn(100, Y(0), 32, 8), 0) << "old cursor row cleared";
  ExpectText(lcdFrameBuf, 1, Y(1), SYS, "Bluetooth Mode", true);
  EXPECT_EQ(DarkIn(120, Y(3), 4, 4), 16);
  EXPECT_EQ(listState.listLastEvent, LIST_EVENT_NONE);

  GUI_DrawList(&list);  // nothing changed: the cursor row only
  EXPECT_EQ(DarkIn(120, Y(3), 4, 4), 16);
  listState.listLastEvent = LIST_EVENT_SCROLLED;
  GUI_DrawList(&list);
  EXPECT_EQ(DarkIn(120, Y(3), 4, 4), 0) << "a scroll redraws every row";
}

TEST_F(GuiList, DataListCursorTriangleAndValueField) {
  MakeList(10, 6);
  LIST_MoveCursor(&list, 1);
  GUI_DrawCursorMove(&list);
  EXPECT_TRUE(ShowsText(lcdFrameBuf, 4, Y(1), SYS, "\x07"));
  LIST_MoveCursor(&list, 1);
  GUI_DrawCursorMove(&list);
  EXPECT_EQ(DarkIn(4, Y(1), 3, 8), 0) << "old triangle erased";
  EXPECT_TRUE(ShowsText(lcdFrameBuf, 4, Y(2), SYS, "\x07"));

  GUI_DrawListData(3, "1234567890123", nullptr);
  GUI_DrawListData(3, "25", "km/h");
  ExpectText(lcdFrameBuf, 74, Y(3), SYS, "25");
  ExpectText(lcdFrameBuf, 85, Y(3), SYS, "km/h");  // 1 pixel after the value's gap
  EXPECT_EQ(DarkIn(104, Y(3), 28, 8), 0) << "the longer value before is gone";

  GUI_DrawListDataById(3, TXT_NO_DATA);
  ExpectText(lcdFrameBuf, 74, Y(3), SYS, "No data");
  EXPECT_EQ(DarkIn(106, Y(3), 26, 8), 0);
}

// --- Large values, progress, frame selection -------------------------------------------------

TEST_F(Gui, LargeValueAndUnitAreCentredTogether) {
  GUI_DrawData("50", "%");  // 15 + 2 + 9: starts at (132 - 11 - 15) / 2
  ExpectText(lcdFrameBuf, 53, 10, BIG, "50");
  ExpectText(lcdFrameBuf, 71, 10, BIG, "%");
  EXPECT_EQ(fntData.height, 8);

  GUI_DrawData("50", "km/h");  // a longer unit moves the value left
  ExpectText(lcdFrameBuf, 42, 10, BIG, "50");
  ExpectText(lcdFrameBuf, 60, 10, BIG, "km/h");
  EXPECT_EQ(DarkIn(0, 10, 42, 12) + DarkIn(91, 10, 41, 12), 0) << "the old value is gone";

  LCD_FillArea(0, 8, LCD_WIDTH, 16);
  GUI_DrawDataById(TXT_NO_DATA);  // 45 wide
  ExpectText(lcdFrameBuf, 43, 10, BIG, "No data");
  EXPECT_EQ(DarkIn(0, 10, 43, 12), 0);
  EXPECT_EQ(DarkIn(0, 8, LCD_WIDTH, 2), 2 * LCD_WIDTH) << "only the value line is cleared";
  EXPECT_EQ(DarkIn(0, 22, LCD_WIDTH, 2), 2 * LCD_WIDTH);
}

TEST_F(Gui, ProgressBarFillsItsTrackInProportion) {
  GUI_DrawProgressBar(18, 18);
  EXPECT_EQ(DarkIn(12, 16, 108, 3), 108 * 3);
  EXPECT_EQ(DarkIn(12, 15, 108, 1) + DarkIn(12, 19, 108, 1), 0) << "1 pixel gap to the frame";
  EXPECT_EQ(DarkIn(10, 16, 1, 3), 3) << "frame";
  EXPECT_EQ(DarkIn(121, 16, 1, 3), 3);

  GUI_DrawProgressBar(9, 18);
  EXPECT_EQ(DarkIn(12, 16, 54, 3), 54 * 3);
  EXPECT_EQ(DarkIn(66, 16, 54, 3), 0) << "the rest cleared";

  GUI_DrawProgressBar(0, 18);
  EXPECT_EQ(DarkIn(12, 16, 108, 3), 0);
  GUI_DrawProgressBar(250, 255);  // 250 * 108 needs more than 8 bits
  EXPECT_EQ(DarkIn(12, 16, 108, 3), 105 * 3);
  GUI_DrawProgressBar(5, 0);
  EXPECT_EQ(DarkIn(12, 16, 108, 3), 0);

  GUI_DrawProgressBarSubtitle("0100");
  ExpectText(lcdFrameBuf, 10, 24, SYS, "0100");
  GUI_DrawSandglass();
  EXPECT_TRUE(ShowsText(lcdFrameBuf, 62, 16, SYS, "\x01"));
  GUI_ClearSandglass();
  EXPECT_EQ(DarkIn(62, 16, 70, 8), 0);
  GUI_ClearMenuArea();
  EXPECT_EQ(DarkIn(0, 8, LCD_WIDTH, 56), 0);
}

TEST_F(Gui, FrameSelectionAndItsTroubleCode) {
  GUI_DrawFrameSelection(3);
  ExpectText(lcdFrameBuf, 13, 16, SYS, "FRAME:");
  ExpectText(lcdFrameBuf, 64, 16, SYS, "3", true);  // right-aligned in 52..67
  ExpectText(lcdFrameBuf, 71, 16, SYS, "\x0C", true);
  EXPECT_TRUE(Dark(51, 16)) << "inside the box";
  EXPECT_FALSE(Dark(50, 14)) << "cut corner";
  ExpectText(lcdFrameBuf, 84, 16, SYS, ".\x09.\x09.");

  GUI_DrawFrameSelectionDtc(0x0123, "P0123");
  ExpectText(lcdFrameBuf, 84, 16, SYS, "P0123");
  EXPECT_TRUE(ShowsText(lcdFrameBuf, 126, 56, SYS, "\x05")) << "OK leads to the frame";

  GUI_DrawFrameSelectionDtc(0, nullptr);
  ExpectText(lcdFrameBuf, 84, 16, SYS, "No data");
  EXPECT_EQ(DarkIn(126, 56, 6, 8), 0) << "the whole indicator removed";
}

// --- Information screens --------------------------------------------------------------------

TEST_F(Gui, VehicleInformationLines) {
  GUI_DrawVin("WVW123");
  ExpectText(lcdFrameBuf, 22, 8, SYS, "WVW123");  // 1 pixel after "VIN:"

  // Calibration ids are padded with zero bytes, which are skipped rather than ending the id.
  char cal[32] = {'A', 'B', 0, 0, 'C'};
  memcpy(&cal[16], "XYZ", 3);
  LCD_ClearDisplay();
  GUI_DrawCal(cal, 2);
  ExpectText(lcdFrameBuf, 1, 8, SYS, "CALID1:");
  ExpectText(lcdFrameBuf, 38, 8, SYS, "ABC");
  ExpectText(lcdFrameBuf, 1, 16, SYS, "CALID2:");

  const uint8_t cvn[8] = {0x17, 0x91, 0xBC, 0x82, 0x00, 0x00, 0x12, 0x34};
  LCD_ClearDisplay();
  GUI_DrawCvn(cvn, 2);
  ExpectText(lcdFrameBuf, 1, 8, SYS, "CVN1:");
  ExpectText(lcdFrameBuf, 29, 8, SYS, "1791\x1B\x1C" "82");
  ExpectText(lcdFrameBuf, 29, 16, SYS, "00001234");
  EXPECT_EQ(DarkIn(0, 24, LCD_WIDTH, 40), 0);
}

TEST_F(Gui, SupportedPidsShowEightBitmapBytesPerLine) {
  uint8_t bitmap[32] = {0xBE, 0x1F, 0xA8, 0x13};
  bitmap[31] = 0x01;
  GUI_DrawSupPids(142, 0xE8, bitmap);
  ExpectText(lcdFrameBuf, 1, 0, HDR, "SUPPORTED PIDS 01");
  ExpectText(lcdFrameBuf, 1, 8, SYS, "00:");
  ExpectText(lcdFrameBuf, 16, 8, SYS, "\x1B\x1E" "1\x1F\x1A" "813");
  ExpectText(lcdFrameBuf, 63, 8, SYS, "20:");
  ExpectText(lcdFrameBuf, 1, 32, SYS, "\x1C" "0:");
  ExpectText(lcdFrameBuf, 63, 32, SYS, "\x1E" "0:");
  ExpectText(lcdFrameBuf, 78, 32, SYS, "00000001");
  EXPECT_TRUE(ShowsText(lcdFrameBuf, 126, 56, SYS, "\x05"));

  const uint8_t infoTypes[4] = {0x55, 0x40, 0x00, 0x00};
  GUI_DrawSupInfoTypes(0x10, infoTypes);
  ExpectText(lcdFrameBuf, 1, 0, HDR, "SUPPORTED INFOTYPES");
  ExpectText(lcdFrameBuf, 16, 8, SYS, "55400000");
  EXPECT_EQ(DarkIn(0, 16, 120, 48), 0);
}

TEST_F(Gui, ProtocolInformationPutsTheKeyBytesUnderTheWrappedText) {
  GUI_DrawProtocolInfoScreen("AUTO, ISO 9141-2", 1, 0x94, 0x08, 72, 74);
  ExpectText(lcdFrameBuf, 1, 16, SYS, "Key bytes:");
  ExpectText(lcdFrameBuf, 50, 16, SYS, "08");  // key byte 2 first, 2 pixels after the label
  ExpectText(lcdFrameBuf, 62, 16, SYS, "94");
  ExpectText(lcdFrameBuf, 1, 24, SYS, "P2min\x09=\x09" "0ms");
  ExpectText(lcdFrameBuf, 1, 32, SYS, "Header size:\x09" "3");

  // A text of two lines moves everything one row down.
  LCD_ClearDisplay();
  GUI_DrawProtocolInfoScreen("AUTO, ISO 15765-4 (CAN 11/500), KWP2000 fast", 1, 0xE9, 0x8F, 73,
                             75);
  ExpectText(lcdFrameBuf, 1, 24, SYS, "Key bytes:");
  ExpectText(lcdFrameBuf, 1, 40, SYS, "Header size:\x09" "4");
}

TEST_F(Gui, SystemInformationValuesReplaceTheirPredecessors) {
  GUI_DrawSysInfo();
  ExpectText(lcdFrameBuf, 1, 24, SYS, "QIM-Power:");
  GUI_DrawSysInfoLine("12.45V", 2);
  GUI_DrawSysInfoLine("9.8V", 2);
  ExpectText(lcdFrameBuf, 56, 24, SYS, "9.8V");
  EXPECT_EQ(DarkIn(74, 24, 58, 8), 0);
}

// --- Number formatting ----------------------------------------------------------------------

TEST(GuiNumbers, DecimalWithoutLeadingZerosAndHexWithLetters) {
  struct Case {
    uint8_t value;
    const char* dec;
    const char* hex;
  };
  for (const Case& c : {Case{0, "0", "00"}, Case{7, "7", "07"}, Case{10, "10", "0A"},
                        Case{100, "100", "64"}, Case{109, "109", "6D"},
                        Case{171, "171", "AB"}, Case{255, "255", "FF"}}) {
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GUI_DecToStr(c.value, buf), strlen(c.dec)) << int{c.value};
    EXPECT_STREQ(buf, c.dec);
    char hex[3];
    GUI_DecToHexStr(c.value, hex);
    EXPECT_STREQ(hex, c.hex);
  }
}

}  // namespace
