// Trouble code screens: the summary over ECUs and kinds, the single code with its description,
// and the clearing with the module's answers fed through the receive parser and the dispatcher.
// The vehicle has two CAN ECUs, E8 and E9; E8 is the active one.
#include "firmware/screens/trouble_codes.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <string.h>

#include <string>
#include <string_view>

#include "firmware/beep.h"
#include "firmware/eeprom.h"
#include "firmware/link/dispatcher.h"
#include "firmware/link/qim.h"
#include "firmware/link/reassembly.h"
#include "firmware/mcu.h"
#include "firmware/obd/dtcs.h"
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
const uint8_t* const HDR = HeaderFont.bytes;

// Positive and refused clear answers on CAN: identifier, then a single frame.
constexpr const char* E8_CLEARED = "000007E80144000000000000";
constexpr const char* E9_REFUSES = "000007E9037F042200000000";

class TroubleCodes : public testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&qimMutex, nullptr);
    memset(regaddr, 0, sizeof regaddr);
    UCSR0B = 0x98;
    tarnic_InitVars();
    eepaddr[EEP_BEEP] = 1;
    BEEP_Init();
    qimProtocol = 0x26;  // CAN 11 bit, 500 kbit/s
    QIM_SetDataStartIdx();
    D2O_Init();
    OBD_SetEcuAddr(0xE8);
    OBD_SetEcuAddr(0xE9);
    OBD_SetActiveEcuIdx(0);
    menu.menMenuId = 11;  // the diagnostics menu opens the trouble code menu
  }
  void TearDown() override { pthread_mutex_destroy(&qimMutex); }

  static void StoreCodes(uint8_t ecuAddr, uint8_t service, std::initializer_list<uint16_t> codes) {
    uint8_t answer[2 + 2 * 16] = {static_cast<uint8_t>(service + 0x40),
                                  static_cast<uint8_t>(codes.size())};
    uint8_t len = 2;
    for (uint16_t c : codes) answer[len++] = c >> 8, answer[len++] = c & 0xFF;
    const uint8_t active = OBD_GetActiveEcuAddr();
    OBD_SetActiveEcuAddr(ecuAddr);
    OBD_DecodeDtcRespData(answer, len, service);
    OBD_SetActiveEcuAddr(active);
  }
  static void Press(uint8_t key) { keyDebounce.keyPressed = key, KEY_EventHandler(); }
  // What the firmware has queued for the module since the last call.
  static std::string Sent() {
    std::string s;
    while ((UCSR0B & 0x20) != 0) {
      uint8_t b = emu_TakeByteFromFirmware();
      if ((UCSR0B & 0x20) != 0) s += static_cast<char>(b);
    }
    return s;
  }
  // The module's answer, byte by byte through the parser, as the main loop passes it on.
  static void Answer(std::string_view answer) {
    for (char c : answer) {
      emu_GiveByteToFirmware(static_cast<uint8_t>(c));
      uint8_t code = QIM_ProcessRxData(USART_ReadChar());
      if (code != 0) DRH_QimRxEvent(code);
    }
  }
  static void RunTicks(int n) {  // as the main loop counts the request timer down
    for (int i = 0; i < n; ++i)
      if (gblCounter10ms != 0 && --gblCounter10ms == 0) DRH_TimerExpiredEvent();
  }
  static bool Played(uint8_t sound) { return beepCfg.load() == SND_DATA[sound]; }
  // The leftmost x at which the text is drawn in row y, or -1.
  static int FindText(uint8_t y, const uint8_t* font, const char* text, bool inverse = false) {
    for (uint8_t x = 0; x < LCD_WIDTH; ++x)
      if (ShowsText(lcdFrameBuf, x, y, font, text, inverse)) return x;
    return -1;
  }
  // Requester, YES, filter confirmed, 600 ms: the clear request has just gone out.
  void StartClearing() {
    MEN_EnterMenu(14);
    MEN_EnterMenu(24);
    EXPECT_GT(FindText(6, SYS, "Clear diagnostic"), 0);
    EXPECT_GT(FindText(2, SYS, "NO", true), 101);
    Press(menu.keyOk);
    EXPECT_TRUE(Played(SND_CLEAR_DTC));
    EXPECT_EQ(FindText(2, SYS, "NO", true), -1) << "no way back once the clearing has begun";
    ASSERT_EQ(Sent(), "ATSF00\r");
    Answer("OK\r>");
    RunTicks(59);
    ASSERT_EQ(Sent(), "") << "the clear request waits 600 ms after the filter";
    RunTicks(1);
    ASSERT_EQ(Sent(), "04\r");
  }
  void ExpectReload(const char* firstLine) {
    EXPECT_GT(FindText(6, SYS, firstLine), 0);
    RunTicks(59);
    EXPECT_EQ(FindText(18, SYS, "Reloading data now..."), -1);
    RunTicks(1);
    EXPECT_GT(FindText(18, SYS, "Reloading data now..."), 0);
    RunTicks(60);
    EXPECT_EQ(menu.menMenuId, 10) << "the data reading screen reads everything anew";
  }
};

TEST_F(TroubleCodes, SummaryGoesEcuByEcuAndKindByKindAndOpensEachCode) {
  StoreCodes(0xE9, 0x0A, {0xC001});
  StoreCodes(0xE9, 0x03, {0x4123});
  StoreCodes(0xE8, 0x07, {0x0220});
  StoreCodes(0xE8, 0x03, {0x0133, 0x00BC});

  MEN_EnterMenu(14);
  ExpectText(lcdFrameBuf, 1, GUI_RowY(0), SYS, "DTC Summary", true);
  Press(menu.keyOk);
  ASSERT_EQ(menu.menMenuId, 22);
  struct Row {
    const char *code, *kind, *ecu;
  } rows[] = {{"P0133", "confirmed", "\x1E" "8"}, {"P00BC", "confirmed", "\x1E" "8"},
              {"P0220", "pending", "\x1E" "8"},   {"C0123", "confirmed", "\x1E" "9"},
              {"U0001", "permanent", "\x1E" "9"}};
  EXPECT_EQ(tcm.dsmList.noOfItems, 5);
  for (uint8_t r = 0; r < 5; ++r) {
    SCOPED_TRACE(r);
    ExpectText(lcdFrameBuf, 1, GUI_RowY(r), SYS, rows[r].code, r == 0);
    ExpectText(lcdFrameBuf, 35, GUI_RowY(r), SYS, rows[r].kind, r == 0);
    EXPECT_GT(FindText(GUI_RowY(r), SYS, rows[r].ecu, r == 0), 87 + 16);
  }

  // The single code: its line in the title bar, the description wrapped at word ends.
  Press(menu.keyDown);
  Press(menu.keyOk);
  ASSERT_EQ(menu.menMenuId, 23);
  ExpectText(lcdFrameBuf, 1, 0, HDR, "P00BC");
  ExpectText(lcdFrameBuf, 104, 0, HDR, "ECU:");
  ExpectText(lcdFrameBuf, 1, 8, SYS, "Mass or Volume Air Flow \"A\" ");
  ExpectText(lcdFrameBuf, 1, 16, SYS, "Circuit Range/Performance - ");
  ExpectText(lcdFrameBuf, 1, 24, SYS, "Air Flow Too Low");
  Press(menu.keyDown);  // the next code of the summary, in place of the longer one
  ExpectText(lcdFrameBuf, 1, 0, HDR, "P0220");
  ExpectText(lcdFrameBuf, 1, 8, SYS, "Throttle/Pedal Position ");
  EXPECT_EQ(FindText(24, SYS, "Air Flow Too Low"), -1);

  // Back, the cursor stays on the code last shown, and on the summary item of the menu.
  Press(menu.keyEsc);
  ExpectText(lcdFrameBuf, 1, GUI_RowY(2), SYS, "P0220", true);
  Press(menu.keyEsc);
  ASSERT_EQ(menu.menMenuId, 14);
  EXPECT_EQ(tcm.tcmList.cursor, 0);
}

TEST_F(TroubleCodes, EmptySummaryAndMoreCodesThanTheListCanCount) {
  MEN_EnterMenu(14);
  Press(menu.keyOk);
  EXPECT_GT(FindText(16, SYS, "No trouble codes"), 0);
  Press(menu.keyOk);
  EXPECT_EQ(menu.menMenuId, 22) << "nothing to open";

  // Eight ECUs with 16 codes of each kind: 384 codes, cut to 255 lines, not wrapped to 128.
  for (uint8_t e = 0; e < 8; ++e) {
    OBD_SetEcuAddr(static_cast<uint8_t>(0xE8 + e));
    for (uint8_t service : {0x03, 0x07, 0x0A}) {
      StoreCodes(static_cast<uint8_t>(0xE8 + e), service,
                 {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    }
  }
  EXPECT_EQ(GUI_GetNumDtcLines(), 255);
  uint8_t ecuIdx = 0, service = 0;
  EXPECT_EQ(GUI_GetDtcLine(254, &ecuIdx, &service), 15);  // 5 x 48 + 14: ECU 5, 15th confirmed
  EXPECT_EQ(ecuIdx, 5);
  EXPECT_EQ(service, 0x03);
}

TEST_F(TroubleCodes, OneEcuRefusesThenTheRestIsReloaded) {
  StartClearing();
  Answer(std::string(":\r") + E8_CLEARED + "\r" + E9_REFUSES + "\r\r>");
  ExpectText(lcdFrameBuf, 1, 0, HDR, "CHECK ECU ERROR RESPONSES");
  const uint8_t y = GUI_RowY(0);
  const int ecu = FindText(y, SYS, "ECU"), addr = FindText(y, SYS, "\x1E" "9:");
  const int code = FindText(y, SYS, "22"), text = FindText(y, SYS, "CNCORSE");
  EXPECT_TRUE(ecu == 1 && ecu < addr && addr < code && code < text)
      << ecu << " " << addr << " " << code << " " << text;
  EXPECT_EQ(FindText(GUI_RowY(1), SYS, "ECU"), -1) << "the ECU that cleared is not listed";
  EXPECT_TRUE(Played(SND_ERROR));

  Press(menu.keyOk);
  ExpectReload("Erase incomplete!");
}

TEST_F(TroubleCodes, EveryEcuClears) {
  StartClearing();
  Press(menu.keyEsc);  // the request is outstanding: Esc cannot interrupt it
  EXPECT_EQ(Sent(), "");
  Answer(std::string(":\r") + E8_CLEARED + "\r000007E90144000000000000\r\r>");
  EXPECT_TRUE(Played(SND_CLEAR_DTC_OK));
  ExpectReload("Diagnostic data cleared");
}

TEST_F(TroubleCodes, NoResponseListsEveryEcuAndRestoresTheFilter) {
  StartClearing();
  Answer("NO DATA\r>");
  EXPECT_GT(FindText(GUI_RowY(0), SYS, "no response"), 0);
  EXPECT_GT(FindText(GUI_RowY(1), SYS, "\x1E" "9:"), 0);
  EXPECT_GT(FindText(GUI_RowY(1), SYS, "no response"), 0);
  EXPECT_TRUE(Played(SND_ERROR));

  Press(menu.keyOk);
  EXPECT_EQ(Sent(), "ATSFE8\r") << "the filter goes back to the active ECU";
  Answer("OK\r>");
  EXPECT_EQ(menu.menMenuId, 14);
}

TEST_F(TroubleCodes, UnexpectedModuleAnswerStopsUntilEsc) {
  MEN_EnterMenu(14);
  MEN_EnterMenu(24);
  Press(menu.keyOk);
  ASSERT_EQ(Sent(), "ATSF00\r");
  Answer("?\r>");
  RunTicks(100);
  Press(menu.keyOk);
  EXPECT_EQ(Sent(), "") << "stopped: no clear request, OK does nothing";
  Press(menu.keyEsc);
  EXPECT_EQ(Sent(), "ATSFE8\r");
  Answer("OK\r>");
  EXPECT_EQ(menu.menMenuId, 14);

  MEN_EnterMenu(24);  // NO on the requester leaves without a word to the module
  Press(menu.keyEsc);
  EXPECT_EQ(menu.menMenuId, 14);
  EXPECT_EQ(Sent(), "");
}

}  // namespace
