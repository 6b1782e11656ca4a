// ECU selection, vehicle information and readiness screens, in-process: the OBD data is primed
// as the connection would leave it, module answers go through the receive parser and the
// dispatcher, and the test checks what is sent to the module and what is drawn.
#include <gtest/gtest.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "firmware/eeprom.h"
#include "firmware/link/dispatcher.h"
#include "firmware/link/qim.h"
#include "firmware/link/reassembly.h"
#include "firmware/mcu.h"
#include "firmware/obd/monitors.h"
#include "firmware/obd/pids.h"
#include "firmware/screens/readiness.h"
#include "firmware/screens/vehicle_info.h"
#include "firmware/timer.h"
#include "firmware/ui/fonts.h"
#include "firmware/ui/gui.h"
#include "firmware/ui/lcd.h"
#include "firmware/ui/menu.h"
#include "controller/controller.h"
#include "tests/support/screen_text.h"

namespace {

using Bytes = std::vector<uint8_t>;
const uint8_t* const SYS = SystemFont.bytes;
constexpr uint8_t ENGINE = 0xE8, GEARBOX = 0xE9;  // CAN addresses

Bytes Text(Bytes head, const char* text) {
  head.insert(head.end(), text, text + strlen(text));
  return head;
}

std::string Hex(const Bytes& bytes) {
  std::string s;
  char b[3];
  for (uint8_t v : bytes) snprintf(b, sizeof b, "%02X", v), s += b;
  return s;
}

// One ECU's message as the module writes it on CAN 11 bit (ATOF1): single frame, or first and
// consecutive frames, each line filled to eight data bytes.
std::vector<std::string> CanLines(uint8_t ecu, const Bytes& msg) {
  auto line = [ecu](Bytes data) {
    data.resize(8, 0);
    return "000007" + Hex({ecu}) + Hex(data);
  };
  if (msg.size() <= 7) {
    Bytes d = {static_cast<uint8_t>(msg.size())};
    d.insert(d.end(), msg.begin(), msg.end());
    return {line(d)};
  }
  Bytes first = {static_cast<uint8_t>(0x10), static_cast<uint8_t>(msg.size())};
  first.insert(first.end(), msg.begin(), msg.begin() + 6);
  std::vector<std::string> lines = {line(first)};
  for (size_t at = 6, seq = 1; at < msg.size(); at += 7, ++seq) {
    Bytes d = {static_cast<uint8_t>(0x20 | (seq & 0x0F))};
    d.insert(d.end(), msg.begin() + at, msg.begin() + std::min(at + 7, msg.size()));
    lines.push_back(line(d));
  }
  return lines;
}

// What the firmware queued for the module since the last call.
std::string Sent() {
  std::string s;
  while ((UCSR0B & 0x20) != 0) {
    uint8_t b = emu_TakeByteFromFirmware();
    if ((UCSR0B & 0x20) != 0) s += static_cast<char>(b);
  }
  return s;
}

// A module answer through the receive parser; its response code goes to the dispatcher.
void Answer(const std::string& text) {
  for (char c : text) {
    uint8_t code = QIM_ProcessRxData(static_cast<uint8_t>(c));
    if (code != 0) DRH_QimRxEvent(code);
  }
}
void AnswerObd(const std::vector<std::string>& lines) {
  std::string text =
      ":" + Hex({static_cast<uint8_t>(lines.size() * 12), static_cast<uint8_t>(lines.size())}) +
      "\r";
  for (const std::string& l : lines) text += l + "\r";
  Answer(text + "\r>");
}

// The main loop's countdown of the request timer, tick by tick.
void RunTicks(int n) {
  for (int i = 0; i < n; ++i) {
    if (gblCounter10ms != 0 && --gblCounter10ms == 0) DRH_TimerExpiredEvent();
  }
}

void Press(uint8_t key) {
  keyDebounce.keyPressed = key;
  KEY_EventHandler();
}

// The text somewhere on the row that starts at y.
bool RowShows(uint8_t y, const char* text, bool inverse = false) {
  for (uint8_t x = 0; x < LCD_WIDTH; ++x)
    if (ShowsText(lcdFrameBuf, x, y, SYS, text, inverse)) return true;
  return false;
}
bool ShowsMsg(const char* text) { return RowShows(16, text); }

class VehicleScreens : public testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&qimMutex, nullptr);
    memset(regaddr, 0, sizeof regaddr);
    UCSR0B = 0x98;
    tarnic_InitVars();
    for (uint8_t i = 0; i < EEP_SETTINGS_SIZE; ++i) eepaddr[i] = EEP_INIT_DATA[i];
    UseProtocol(0x26);  // CAN 11 bit, 500 kbit/s
    OBD_SetActiveSid(0x01);
    OBD_SetEcuAddr(ENGINE);
    OBD_SetEcuAddr(GEARBOX);
    // Engine: PIDs 01, 0C, 13 and 0x41; info types 02, 04, 06, 08, 0A, 0B; spark ignition.
    Prime(0, {0x41, 0x00, 0x80, 0x10, 0x20, 0x01});
    Prime(0, {0x41, 0x40, 0x80, 0x00, 0x00, 0x00});
    Prime(0, {0x41, 0x01, 0x83, 0x07, 0x65, 0x21});
    Prime(0, {0x41, 0x13, 0x33});
    PrimeInfo(0, {0x49, 0x00, 0x55, 0x60, 0x00, 0x00});
    // Gearbox: PID 01 only; info type 0A only, named.
    Prime(1, {0x41, 0x00, 0x80, 0x00, 0x00, 0x00});
    PrimeInfo(1, {0x49, 0x00, 0x00, 0x40, 0x00, 0x00});
    PrimeInfo(1, Text({0x49, 0x0A, 0x01}, "TCM1-GearboxControlX"));
    OBD_SetActiveEcuIdx(0);
    OBD_InitSupDataItems();
    MEN_EnterMenu(11);
  }
  void TearDown() override { pthread_mutex_destroy(&qimMutex); }

  static void UseProtocol(uint8_t p) {
    qimProtocol = p;
    QIM_SetDataStartIdx();
    D2O_Init();
  }
  // Answers as the connection would have decoded them, for ECU index `ecu`.
  static void Prime(uint8_t ecu, const Bytes& r) {
    OBD_SetActiveEcuIdx(ecu);
    ASSERT_EQ(OBD_DecodeSid01RespDataByPid(r.data(), static_cast<uint8_t>(r.size()), r[1]), 1);
  }
  static void PrimeInfo(uint8_t ecu, const Bytes& r) {
    uint8_t out[OBD_INFO_TYPE_OUT_SIZE];
    OBD_SetActiveEcuIdx(ecu);
    ASSERT_EQ(OBD_DecodeInfoTypeRespData(r.data(), static_cast<uint8_t>(r.size()), r[1], out), 1);
  }
  // Lets the screen's request timer run out; returns what was sent.
  static std::string NextRequest(int ticks) {
    RunTicks(ticks - 1);
    EXPECT_EQ(Sent(), "") << "sent before " << ticks << " ticks";
    RunTicks(1);
    return Sent();
  }
};

// ---------------------------------------------------------------------------------------------

TEST_F(VehicleScreens, EcuSelectionFiltersTheModuleToTheChosenEcu) {
  MEN_EnterMenu(21);
  EXPECT_TRUE(RowShows(8, "ECU:", true)) << "the active ECU under the cursor";
  EXPECT_TRUE(RowShows(16, "GearboxControl")) << "the long name of an ECU that has one";

  Press(menu.keyOk);  // the active ECU: back at once, nothing sent
  EXPECT_EQ(menu.menMenuId, 11);
  EXPECT_EQ(Sent(), "");

  obdPid.obd_supPidsSid02[0] = 0xFF;  // freeze frames of the engine
  OBD_SetActiveSid(0x02);
  Bytes engineItems(obdPid.obd_supDataItemsSid01,
                    obdPid.obd_supDataItemsSid01 + OBD_SUP_ITEM_BYTES);
  MEN_EnterMenu(21);
  Press(menu.keyDown);
  Press(menu.keyOk);
  EXPECT_EQ(Sent(), "ATSFE9\r");
  Answer("?\r>");
  EXPECT_EQ(menu.menMenuId, 21) << "not confirmed: nothing changes";
  EXPECT_EQ(OBD_GetActiveEcuAddr(), ENGINE);

  Press(menu.keyOk);
  EXPECT_EQ(Sent(), "ATSFE9\r");
  Answer("OK\r>");
  EXPECT_EQ(menu.menMenuId, 11);
  EXPECT_EQ(OBD_GetActiveEcuAddr(), GEARBOX);
  EXPECT_EQ(obdPid.obd_supPidsSid02[0], 0);
  EXPECT_EQ(OBD_GetActiveSid(), 0x01);
  EXPECT_NE(Bytes(obdPid.obd_supDataItemsSid01, obdPid.obd_supDataItemsSid01 + OBD_SUP_ITEM_BYTES),
            engineItems)
      << "items rebuilt for the gearbox";
}

TEST_F(VehicleScreens, MenuOffersWhatTheActiveEcuSupports) {
  MEN_EnterMenu(16);
  EXPECT_EQ(vim.vimList.noOfItems, 7);
  EXPECT_TRUE(RowShows(56, "O2 Sensor Locations"));
  OBD_SetActiveEcuIdx(1);  // the gearbox: its name only
  EXPECT_TRUE(VIM_MenuIsSupported());
  memset(obdMon.obd_supInfoTypes[1], 0, 4);
  EXPECT_FALSE(VIM_MenuIsSupported());
}

TEST_F(VehicleScreens, VinArrivesInConsecutiveFrames) {
  MEN_EnterMenu(16);
  MEN_EnterMenu(34);
  EXPECT_EQ(NextRequest(10), "0902\r");
  std::vector<std::string> lines = CanLines(ENGINE, Text({0x49, 0x02, 0x01}, "1FTEX15H9RKA12345"));
  ASSERT_EQ(lines.size(), 3u);
  std::vector<std::string> gearbox = CanLines(GEARBOX, {0x7F, 0x09, 0x12});
  lines.insert(lines.begin() + 1, gearbox[0]);  // another ECU's answer between the frames
  AnswerObd(lines);
  EXPECT_TRUE(RowShows(8, "VIN:"));
  EXPECT_TRUE(RowShows(8, "1FTEX15H9RKA12345"));
  RunTicks(1000);
  EXPECT_EQ(Sent(), "") << "one request only";
}

TEST_F(VehicleScreens, CvnResponsePendingOnCan) {
  MEN_EnterMenu(16);
  MEN_EnterMenu(36);
  EXPECT_EQ(NextRequest(10), "0906\r");
  AnswerObd(CanLines(ENGINE, {0x7F, 0x09, 0x78}));
  EXPECT_TRUE(RowShows(8, "Neg. response:"));
  EXPECT_TRUE(RowShows(8, "RCR-RP"));
  EXPECT_TRUE(ShowsMsg("Waiting for CVN response..."));

  // The final answer within the 2.8 s is shown ...
  RunTicks(270);
  AnswerObd(CanLines(ENGINE, {0x49, 0x06, 0x01, 0x12, 0x34, 0xAB, 0xCD}));
  EXPECT_TRUE(RowShows(8, "CVN1:"));
  EXPECT_FALSE(ShowsMsg("Waiting for CVN response..."));
  RunTicks(1000);
  EXPECT_EQ(Sent(), "");

  // ... and without one the screen gives up after 2.8 s, without asking again.
  MEN_EnterMenu(16);
  MEN_EnterMenu(36);
  NextRequest(10);
  AnswerObd(CanLines(ENGINE, {0x7F, 0x09, 0x78}));
  RunTicks(279);
  EXPECT_TRUE(ShowsMsg("Waiting for CVN response..."));
  RunTicks(1);
  EXPECT_TRUE(ShowsMsg("No data"));
  EXPECT_EQ(Sent(), "");
}

TEST_F(VehicleScreens, CvnNoDataIsRetriedOnOlderProtocols) {
  struct Case {
    uint8_t protocol;
    int waitTicks, requests;
  };
  for (Case c : {Case{0x13, 60, 60}, Case{0x01, 1650, 2}, Case{0x02, 1650, 2}}) {
    SCOPED_TRACE(int(c.protocol));
    UseProtocol(c.protocol);
    MEN_EnterMenu(16);
    MEN_EnterMenu(36);
    int requests = 0;
    std::string sent = NextRequest(10);
    while (sent == "0906\r") {
      ++requests;
      Answer("NO DATA\r>");
      ASSERT_TRUE(ShowsMsg("Waiting for CVN response...")) << requests;
      sent = NextRequest(c.waitTicks);
    }
    EXPECT_EQ(sent, "");
    EXPECT_EQ(requests, c.requests);
    EXPECT_TRUE(ShowsMsg("No data"));
  }
  UseProtocol(0x26);  // no waiting on CAN
  MEN_EnterMenu(16);
  MEN_EnterMenu(36);
  NextRequest(10);
  Answer("NO DATA\r>");
  EXPECT_TRUE(ShowsMsg("No data"));
}

TEST_F(VehicleScreens, LeavingAWaitDoesNotHandItsAnswerToTheNextScreen) {
  UseProtocol(0x13);
  MEN_EnterMenu(16);
  Press(menu.keyDown);
  Press(menu.keyOk);
  ASSERT_EQ(menu.menMenuId, 35);  // calibration ids
  Press(menu.keyDown);
  ASSERT_EQ(menu.menMenuId, 36);
  EXPECT_EQ(vim.vimList.cursor, 2) << "Esc returns to the item shown";
  NextRequest(10);
  Answer("NO DATA\r>");  // a 600 ms wait is running
  Press(menu.keyUp);
  ASSERT_EQ(menu.menMenuId, 35);
  AnswerObd({"486B1049060112345678"});  // late: dropped, the new screen's request comes
  EXPECT_EQ(NextRequest(10), "0904\r");
}

TEST_F(VehicleScreens, TrackingCountersAreRefreshedEvery2800ms) {
  auto counters = [](uint8_t first) {
    Bytes r = {0x49, 0x08, 20};
    for (uint8_t i = 0; i < 20; ++i) r.insert(r.end(), {0, static_cast<uint8_t>(first + i)});
    return CanLines(ENGINE, r);
  };
  MEN_EnterMenu(16);
  MEN_EnterMenu(37);
  Press(menu.keyOk);
  EXPECT_EQ(menu.menMenuId, 37) << "no counters yet: nothing to open";
  EXPECT_EQ(NextRequest(10), "0908\r");
  AnswerObd(counters(100));
  EXPECT_EQ(vim.iptList.noOfItems, 20);
  EXPECT_TRUE(RowShows(8, "OBDCOND"));
  EXPECT_TRUE(RowShows(8, "100"));
  EXPECT_EQ(NextRequest(280), "0908\r");
  Answer("NO DATA\r>");  // counters stay, next try sooner
  EXPECT_TRUE(RowShows(8, "100"));
  EXPECT_EQ(NextRequest(30), "0908\r");

  Press(menu.keyDown);
  Press(menu.keyOk);
  ASSERT_EQ(menu.menMenuId, 38);
  AnswerObd(counters(200));
  EXPECT_TRUE(RowShows(24, "201")) << "the single counter takes the new value";
  Press(menu.keyEsc);
  EXPECT_EQ(menu.menMenuId, 37);
  EXPECT_TRUE(RowShows(16, "IGNCNTR"));
  EXPECT_EQ(NextRequest(280), "0908\r") << "the reading goes on, not started anew";
}

// ---------------------------------------------------------------------------------------------

TEST_F(VehicleScreens, ReadinessAlternatesBetweenPid01And41) {
  MEN_EnterMenu(15);
  std::vector<std::string> sent;
  sent.push_back(NextRequest(10));
  for (int i = 0; i < 3; ++i) {
    AnswerObd(CanLines(ENGINE, {0x41, rcm.rcmReqPid, 0x83, 0x07, 0x65, 0x21}));
    sent.push_back(NextRequest(60));
  }
  Answer("NO DATA\r>");
  sent.push_back(NextRequest(30));
  EXPECT_EQ(sent, (std::vector<std::string>{"0101\r", "0141\r", "0101\r", "0141\r", "0141\r"}));

  OBD_SetActiveEcuIdx(1);  // the gearbox has no PID 0x41
  MEN_EnterMenu(11);
  MEN_EnterMenu(15);
  EXPECT_TRUE(RowShows(16, "Monitor Status"));
  sent = {NextRequest(10)};
  AnswerObd(CanLines(GEARBOX, {0x41, 0x01, 0x00, 0x07, 0x00, 0x00}));
  sent.push_back(NextRequest(60));
  EXPECT_EQ(sent, (std::vector<std::string>{"0101\r", "0101\r"}));
  MEN_EnterMenu(33);
  EXPECT_EQ(rcm.rcmSubMenuList.noOfItems, 2) << "no status filter without PID 0x41";
}

TEST_F(VehicleScreens, StatusFilterChosenInTheSettings) {
  MEN_EnterMenu(15);
  MEN_EnterMenu(33);
  EXPECT_TRUE(RowShows(8, "Show Status [all]", true));
  Press(menu.keyOk);
  EXPECT_TRUE(RowShows(8, "Show Status [since", true));
  Press(menu.keyEsc);
  EXPECT_TRUE(RowShows(16, "Monitor Status (DTC)"));
  Press(menu.keyDown);
  Press(menu.keyOk);
  ASSERT_EQ(menu.menMenuId, 31);
  EXPECT_EQ(rcm.rcmSubMenuList.noOfItems, 9) << "MIL, count, ready rows of the 7 monitors";
  ExpectText(lcdFrameBuf, 1, 0, HeaderFont.bytes, "Monitor Status (DTC)");
  EXPECT_TRUE(RowShows(8, "MIL"));
  EXPECT_TRUE(RowShows(8, "ON"));

  // New values are drawn as they come.
  NextRequest(10);
  AnswerObd(CanLines(ENGINE, {0x41, 0x01, 0x03, 0x07, 0x65, 0x21}));
  EXPECT_TRUE(RowShows(8, "OFF"));
}

TEST_F(VehicleScreens, StoredFlagsChangeTheMonitorsShown) {
  MEN_EnterMenu(15);
  MEN_EnterMenu(29);
  const uint8_t all = rcm.rcmSubMenuList.noOfItems;
  Press(menu.keyEsc);
  MEN_EnterMenu(33);
  Press(menu.keyDown);
  EXPECT_TRUE(RowShows(16, "\x0DShow unsupported", true));  // off by default
  Press(menu.keyOk);
  EXPECT_EQ(eepaddr[EEP_SHOW_UNSUPPORTED_MONITORS], 1);
  EXPECT_TRUE(RowShows(16, "\x0EShow unsupported", true));
  Press(menu.keyDown);
  Press(menu.keyOk);
  EXPECT_EQ(eepaddr[EEP_SHOW_AC_MONITOR], 1);
  EXPECT_TRUE(RowShows(24, "\x0EShow A/C", true));
  Press(menu.keyEsc);
  MEN_EnterMenu(29);
  // The engine has 7 of the 10 spark-ignition monitors other than A/C (B 0x07, C 0x65); now
  // the other three and the A/C monitor are listed too.
  EXPECT_EQ(all, 7);
  EXPECT_EQ(rcm.rcmSubMenuList.noOfItems, 11);
  EXPECT_TRUE(RowShows(8, "MIS_SUP"));
  EXPECT_TRUE(RowShows(8, "YES"));
}

}  // namespace
