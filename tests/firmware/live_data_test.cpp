// Current data and freeze frame screens, in-process: an ECU primed in the OBD state, requests
// taken from the transmit ring as the request timer runs out, answers fed through the receive
// parser and the dispatcher, and the screen checked by its pixels.
#include "firmware/screens/live_data.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "firmware/link/dispatcher.h"
#include "firmware/link/qim.h"
#include "firmware/link/reassembly.h"
#include "firmware/main.h"
#include "firmware/mcu.h"
#include "firmware/obd/monitors.h"
#include "firmware/obd/pids.h"
#include "firmware/timer.h"
#include "firmware/ui/fonts.h"
#include "firmware/ui/gui.h"
#include "firmware/ui/lcd.h"
#include "firmware/ui/menu.h"
#include "firmware/usart.h"
#include "controller/controller.h"
#include "tests/support/screen_text.h"

namespace {

const uint8_t* const SYS = SystemFont.bytes;
constexpr uint8_t KEY_UP = 0x40, KEY_DOWN = 0x80, KEY_OK = 0x20, KEY_ESC = 0x10;
constexpr uint8_t VALUE_X = 74;
constexpr uint8_t ECU = 0x10;  // ISO 9141-2: frames 48 6B <ECU> ...

class LiveData : public testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&qimMutex, nullptr);
    memset(regaddr, 0, sizeof regaddr);
    tarnic_InitVars();
    qimProtocol = 0x13;
    D2O_Init();
    OBD_SetEcuAddr(ECU);
  }
  void TearDown() override {
    tarnic_InitVars();  // no reading state left for other suites
    pthread_mutex_destroy(&qimMutex);
  }

  static void SupportSid01(std::initializer_list<uint8_t> pids) {
    uint8_t* bitmap = obdPid.obd_supPids[OBD_GetActiveEcuIdx()];
    for (uint8_t pid : pids) bitmap[(pid - 1) / 8] |= static_cast<uint8_t>(0x80 >> ((pid - 1) % 8));
  }
  static void EnterFrom(uint8_t from, uint8_t to) {
    menu.menMenuId = from;
    MEN_EnterMenu(to);
  }
  static void Press(uint8_t keyLine, bool repeated = false) {
    (repeated ? keyDebounce.keyRepeated : keyDebounce.keyPressed) = keyLine;
    KEY_EventHandler();
  }

  // Ticks the request timer until a request goes out; the line sent, with the ticks it took.
  static std::string NextRequest(int* ticks = nullptr) {
    int n = 0;
    while (gblCounter10ms != 0 && drh.drhReqState != DRH_WAIT_ANSWER) {
      ++n;
      if (--gblCounter10ms == 0) DRH_TimerExpiredEvent();
    }
    if (ticks != nullptr) *ticks = n;
    if (drh.drhReqState != DRH_WAIT_ANSWER) return "<none>";
    std::string s;
    while ((UCSR0B & 0x20) != 0) {
      uint8_t b = emu_TakeByteFromFirmware();
      if ((UCSR0B & 0x20) != 0 && b != 13) s += static_cast<char>(b);
    }
    return s;
  }
  // One answer of the module, through the receive parser and the dispatcher.
  static void Answer(std::string_view text) {
    uint8_t code = 0;
    for (char c : text) {
      emu_GiveByteToFirmware(static_cast<uint8_t>(c));
      code = QIM_ProcessRxData(USART_ReadChar());
    }
    ASSERT_NE(code, 0) << text;
    DRH_QimRxEvent(code);
  }
  static void AnswerData(const std::string& hex) { Answer(":\r486B10" + hex + "\r\r>"); }
  static void AnswerNoData() { Answer("NO DATA\r>"); }

  static testing::AssertionResult RowValue(uint8_t row, const char* text) {
    return ShowsText(lcdFrameBuf, VALUE_X, GUI_RowY(row), SYS, text);
  }
  // A text centred across the display, in the large font (single values) or the system font.
  static testing::AssertionResult Centred(uint8_t y, bool big, const char* text) {
    if (big) FNT_SetBigFont();
    const uint8_t x = static_cast<uint8_t>((LCD_WIDTH - LCD_GetTextWidth(text)) / 2);
    FNT_SetSystemFont();
    return ShowsText(lcdFrameBuf, x, y, big ? BigFont.bytes : SYS, text);
  }
  static bool Marked(uint8_t row) {
    return ShowsText(lcdFrameBuf, 0, GUI_RowY(row), SYS, "\x08");
  }
};

// ---------------------------------------------------------------------------------------------
// Current data

TEST_F(LiveData, CurrentDataReadsOnePidAtATimeAndStartsOverAtTheTop) {
  SupportSid01({0x04, 0x0C, 0x14});  // LOAD_PCT, RPM, and O2S11 + SHRTFT11 from one PID
  EnterFrom(11, 12);
  ExpectText(lcdFrameBuf, 1, 0, HeaderFont.bytes, "Current Data");
  ASSERT_EQ(pdi.cdmList.noOfItems, 4);
  ExpectText(lcdFrameBuf, 8, GUI_RowY(1), SYS, "0\x1C");  // PID 0C, narrow hex digit
  EXPECT_TRUE(RowValue(3, ".\x09.\x09."));

  int ticks;
  EXPECT_EQ(NextRequest(&ticks), "0104");
  EXPECT_EQ(ticks, 30);
  AnswerData("4104FF");
  EXPECT_TRUE(RowValue(0, "100.0"));
  EXPECT_TRUE(Marked(1) && !Marked(0)) << "the marker goes on to the next PID";

  EXPECT_EQ(NextRequest(&ticks), "010C");
  EXPECT_EQ(ticks, 10) << "next request 100 ms after the answer";
  AnswerData("410C1AF8");
  EXPECT_TRUE(RowValue(1, "1726"));
  EXPECT_EQ(NextRequest(), "0114");
  AnswerData("41148080");  // both rows of the PID from one answer
  EXPECT_TRUE(RowValue(2, "0.640"));
  EXPECT_TRUE(RowValue(3, "0.0"));
  EXPECT_EQ(NextRequest(), "0104") << "the cycle starts over at the first row";
}

TEST_F(LiveData, CurrentDataShowsNoDataAndAsksTheSamePidAgain) {
  SupportSid01({0x04, 0x14});
  EnterFrom(11, 12);
  EXPECT_EQ(NextRequest(), "0104");
  AnswerData("410480");
  EXPECT_EQ(NextRequest(), "0114");
  AnswerNoData();
  EXPECT_TRUE(RowValue(1, "No data") && RowValue(2, "No data"));
  EXPECT_TRUE(RowValue(0, "50.2")) << "other rows keep their values";
  int ticks;
  EXPECT_EQ(NextRequest(&ticks), "0114");
  EXPECT_EQ(ticks, 10);
  AnswerData("7F0112");  // a negative answer is no value either
  EXPECT_EQ(NextRequest(), "0114");
  AnswerData("41148080");
  EXPECT_TRUE(RowValue(1, "0.640"));
}

TEST_F(LiveData, CurrentDataKeepsTheCursorPerEcuAndRestartsReadingWhenScrolled) {
  SupportSid01({0x04, 0x05, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11});  // 10 items
  EnterFrom(11, 12);
  for (int i = 0; i < 6; ++i) Press(KEY_DOWN);
  ASSERT_EQ(pdi.cdmList.cursor, 6);
  EXPECT_EQ(NextRequest(), "0105") << "scrolled by one: reading starts at the new top row";

  Press(KEY_OK);  // the item under the cursor alone, read again and again
  ASSERT_EQ(menu.menMenuId, 13);
  ExpectText(lcdFrameBuf, 1, 0, HeaderFont.bytes, "SPARKADV");
  AnswerData("410580");  // the answer in flight for the list is dropped
  EXPECT_EQ(NextRequest(), "010E");
  AnswerNoData();
  EXPECT_TRUE(Centred(10, true, "No data"));
  EXPECT_EQ(NextRequest(), "010E");
  AnswerData("410E7F");
  EXPECT_EQ(std::string(pdi.pdiDataStr), "-0.5");
  Press(KEY_ESC);
  EnterFrom(11, 12);
  EXPECT_EQ(pdi.cdmList.cursor, 6) << "same ECU: the cursor stays";

  OBD_SetEcuAddr(0x18);
  OBD_SetActiveEcuIdx(1);
  SupportSid01({0x04, 0x05, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11});
  EnterFrom(11, 12);
  EXPECT_EQ(pdi.cdmList.cursor, 0) << "another ECU: its list starts at the top";

  // A new connection whose ECU has the same address but other PIDs gets a fresh list too.
  Press(KEY_DOWN);
  memset(obdPid.obd_supPids[1], 0, OBD_SUP_PID_BYTES);
  SupportSid01({0x0C});
  EnterFrom(11, 12);
  EXPECT_EQ(pdi.cdmList.noOfItems, 1);
  EXPECT_EQ(pdi.cdmList.cursor, 0);
  EXPECT_EQ(pdi.pdiMaxLineNo, 1);
}

// ---------------------------------------------------------------------------------------------
// Freeze frames

TEST_F(LiveData, FreezeFrameStartScansSupportThenReadsTheFrameCode) {
  EnterFrom(14, 25);
  EXPECT_EQ(NextRequest(), "020000");
  AnswerData("42000050000001");  // PIDs 02, 04 and the next range
  EXPECT_EQ(NextRequest(), "022000");
  AnswerData("42200000000000");
  EXPECT_EQ(NextRequest(), "020200");
  AnswerData("4202000133");
  ASSERT_EQ(menu.menMenuId, 26);
  ExpectText(lcdFrameBuf, 84, 16, SYS, "P0133");

  EnterFrom(14, 25);
  EXPECT_EQ(NextRequest(), "020000");
  AnswerNoData();
  EXPECT_TRUE(Centred(16, false, "Service not supported"));
  EXPECT_EQ(NextRequest(), "<none>");

  EnterFrom(14, 25);
  EXPECT_EQ(NextRequest(), "020000");
  AnswerData("42000040000000");
  EXPECT_EQ(NextRequest(), "020200");
  AnswerData("4202000000");
  EXPECT_TRUE(Centred(16, false, "No freeze frames stored"));
  EXPECT_EQ(menu.menMenuId, 25);
}

TEST_F(LiveData, FrameSelectionWrapsAndOpensOnlyAFrameWithACode) {
  pdi.ffmDtc = 0x0133;
  OBD_SetActiveSid(2);
  EnterFrom(25, 26);
  Press(KEY_DOWN);
  EXPECT_EQ(pdi.ffmFrameNo, 255);
  EXPECT_EQ(NextRequest(), "0202FF");
  AnswerNoData();
  ExpectText(lcdFrameBuf, 84, 16, SYS, "No data");
  Press(KEY_OK);
  EXPECT_EQ(menu.menMenuId, 26) << "no code, nothing to open";

  Press(KEY_UP);
  EXPECT_EQ(pdi.ffmFrameNo, 0);
  Press(KEY_DOWN, true);
  EXPECT_EQ(pdi.ffmFrameNo, 246);
  Press(KEY_UP, true);
  Press(KEY_UP, true);
  EXPECT_EQ(NextRequest(), "02020A");
  AnswerData("420209C001");  // the code of another frame is not this one's
  EXPECT_EQ(pdi.ffmDtc, 0);
  Press(KEY_UP);
  Press(KEY_DOWN);
  EXPECT_EQ(NextRequest(), "02020A");
  AnswerData("42020AC001");
  ExpectText(lcdFrameBuf, 84, 16, SYS, "U0001");
  Press(KEY_OK);
  EXPECT_EQ(menu.menMenuId, 27);
}

TEST_F(LiveData, FreezeFrameListIsReadOnce) {
  OBD_SetActiveSid(2);
  pdi.ffmFrameNo = 1;
  pdi.ffmDtc = 0x0133;
  EnterFrom(26, 27);
  ExpectText(lcdFrameBuf, 69, 0, HeaderFont.bytes, "P0133");
  EXPECT_EQ(NextRequest(), "020001");
  AnswerData("42000110101000");  // PIDs 04, 0C and 14 (two items)
  ASSERT_EQ(pdi.ffmList.noOfItems, 4);

  EXPECT_EQ(NextRequest(), "020401");
  AnswerNoData();
  EXPECT_TRUE(RowValue(0, "No data"));
  int ticks;
  EXPECT_EQ(NextRequest(&ticks), "020401");
  EXPECT_EQ(ticks, 30) << "a PID without data is asked again after 300 ms";
  AnswerData("420401FF");
  EXPECT_TRUE(RowValue(0, "100.0"));
  EXPECT_EQ(NextRequest(), "020C01");
  AnswerData("420C011AF8");
  EXPECT_EQ(NextRequest(), "021401");
  AnswerData("4214018000");
  EXPECT_TRUE(RowValue(3, "-100.0"));
  EXPECT_EQ(NextRequest(), "<none>") << "a stored frame is read once";
  for (uint8_t row = 0; row < 4; ++row) EXPECT_FALSE(Marked(row)) << int{row};

  // The single item is read once; back from it the list is read again, without a new scan.
  Press(KEY_OK);
  EXPECT_EQ(NextRequest(), "020401");
  AnswerData("42040180");
  EXPECT_EQ(NextRequest(), "<none>");
  Press(KEY_ESC);
  ASSERT_EQ(menu.menMenuId, 27);
  EXPECT_EQ(NextRequest(), "020401");
}

}  // namespace
