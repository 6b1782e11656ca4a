// Connecting and reading data, driven on the test's thread: the firmware's request timer and
// answer handling are played as its main loop plays them, and every line it sends is answered
// by the simulated module in-process. Covers the protocol list, the scans, the reading plan with
// its skip rules and ECU choice, the error boxes, the diagnostics menu and its info screens.
#include "firmware/screens/connect.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "firmware/beep.h"
#include "firmware/eeprom.h"
#include "firmware/link/dispatcher.h"
#include "firmware/link/qim.h"
#include "firmware/mcu.h"
#include "firmware/obd/dtcs.h"
#include "firmware/obd/monitors.h"
#include "firmware/obd/pids.h"
#include "firmware/obd/reading.h"
#include "firmware/screens/screens.h"
#include "firmware/ui/fonts.h"
#include "firmware/ui/gui.h"
#include "firmware/ui/lcd.h"
#include "firmware/ui/menu.h"
#include "firmware/usart.h"
#include "controller/controller.h"
#include "module/module.h"
#include "vehicle/vehicle.h"
#include "tests/support/screen_text.h"

namespace {

const uint8_t* const SYS = SystemFont.bytes;
const uint8_t* const HDR = HeaderFont.bytes;

// Takes every byte the firmware sends to the LCD controller (error boxes are sent at once).
class SpiSink {
 public:
  SpiSink() {
    SPSR = 0x80;
    thread_ = std::thread([this] {
      while (!stop_) {
        if ((SPSR & 0x80) == 0) {
          (void)SPDR;
          SPSR |= 0x80;
        } else {
          std::this_thread::yield();
        }
      }
    });
  }
  ~SpiSink() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct SentLine {
  std::string line;
  int waitTicks;  // request timer that ran out before it went; 0 when sent on an answer
};

class Connect : public testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&qimMutex, nullptr);
    tarnic_InitVars();
    for (uint8_t i = 0; i < EEP_SETTINGS_SIZE; ++i) eepaddr[i] = EEP_INIT_DATA[i];
    BEEP_Init();
    UCSR0B = 0x98;  // the module answers into the firmware's receive ring
    emu_QimInitState();
    emu_VehicleInit();
    ate1Enabled = 0, atl1Enabled = 0, atof1Enabled = 1;  // as after the start-up dialogue
  }
  void TearDown() override {
    UCSR0B = 0;
    pthread_mutex_destroy(&qimMutex);
  }

  static std::string TakeSentLine() {
    std::string s;
    while ((UCSR0B & 0x20) != 0) {
      const uint8_t b = emu_TakeByteFromFirmware();
      if ((UCSR0B & 0x20) != 0) s += static_cast<char>(b);
    }
    if (!s.empty() && s.back() == '\r') s.pop_back();
    return s;
  }

  // The main loop's part until `untilMenu` is entered or nothing is pending any more.
  void Run(uint8_t untilMenu, const std::function<void(const std::string&)>& onSend = nullptr) {
    int waited = 0;
    for (int sends = 0; sends < 200 && menu.menMenuId != untilMenu;) {
      const std::string line = TakeSentLine();
      if (line.empty()) {
        if (gblCounter10ms == 0) return;
        waited += gblCounter10ms;
        gblCounter10ms = 0;
        DRH_TimerExpiredEvent();
        continue;
      }
      log_.push_back({line, waited});
      waited = 0;
      ++sends;
      if (onSend) onSend(line);
      emu_SendResponse(line.c_str());
      for (uint8_t c; (c = USART_ReadChar()) != 255;) {
        const uint8_t code = QIM_ProcessRxData(c);
        if (code != 0) DRH_QimRxEvent(code);
      }
    }
  }

  // The selection list with the cursor on `protocol`, then OK: the scan starts.
  void ChooseProtocol(uint8_t protocol) {
    MEN_EnterMenu(MENU_SELECT_PROTOCOL);
    for (uint8_t i = 0; i < SPM_NUM_PROTOCOLS; ++i) {
      if (sps.spmListProtocol[i] == protocol) LIST_SetCursor(&sps.spmList, i);
    }
    SPM_KeyPressEventOk();
    ASSERT_EQ(menu.menMenuId, MENU_SCAN_PROTOCOL);
  }

  void ConnectAndRead(uint8_t vehicleProtocol, uint8_t chosen) {
    emu_VehicleSetProtocol(vehicleProtocol);
    ChooseProtocol(chosen);
    Run(MENU_DIAGNOSTICS);
    ASSERT_EQ(menu.menMenuId, MENU_DIAGNOSTICS);
  }

  std::vector<std::string> Lines(size_t from = 0) const {
    std::vector<std::string> v;
    for (size_t i = from; i < log_.size(); ++i) v.push_back(log_[i].line);
    return v;
  }
  int WaitBefore(const std::string& line) const {
    for (const SentLine& s : log_) {
      if (s.line == line) return s.waitTicks;
    }
    return -1;
  }
  size_t IndexOf(const std::string& line) const {
    for (size_t i = 0; i < log_.size(); ++i) {
      if (log_[i].line == line) return i;
    }
    return log_.size();
  }

  // The display shows exactly what `draw` would draw on a cleared screen.
  static bool ShowsSameAs(const std::function<void()>& draw) {
    uint8_t shown[LCD_FRAME_SIZE];
    memcpy(shown, lcdFrameBuf, sizeof shown);
    LCD_ClearDisplay();
    draw();
    const bool same = memcmp(shown, lcdFrameBuf, sizeof shown) == 0;
    memcpy(lcdFrameBuf, shown, sizeof shown);
    return same;
  }

  SpiSink lcd_;
  std::vector<SentLine> log_;
};

// --- Protocol selection ----------------------------------------------------------------------

TEST_F(Connect, SelectionListPutsTheLastProtocolFirstAndSavesOnlyAChange) {
  eepaddr[EEP_LAST_PROTOCOL] = 6;
  MEN_EnterMenu(MENU_SELECT_PROTOCOL);
  const std::vector<int> expected = {6, 0, 7, 8, 9, 3, 4, 5, 2, 1};
  EXPECT_EQ(std::vector<int>(sps.spmListProtocol, sps.spmListProtocol + 10), expected);
  ExpectText(lcdFrameBuf, 1, 0, HDR, "SELECT PROTOCOL");
  ExpectText(lcdFrameBuf, 1, 8, SYS, "CAN 11\x09" "bit Id, 500\x09kbps", true);
  ExpectText(lcdFrameBuf, 1, 16, SYS, "Automatic Protocol Scan");

  // OK on the first entry leaves the setting alone, even with another value stored meanwhile.
  eepaddr[EEP_LAST_PROTOCOL] = 2;
  SPM_KeyPressEventOk();
  EXPECT_EQ(eepaddr[EEP_LAST_PROTOCOL], 2);

  MEN_EnterMenu(MENU_SELECT_PROTOCOL);  // 2 first: VPWM
  LIST_SetCursor(&sps.spmList, 7);          // 2, 0, 6, 7, 8, 9, 3, [4]
  SPM_KeyPressEventOk();
  EXPECT_EQ(eepaddr[EEP_LAST_PROTOCOL], 4);
  EXPECT_EQ(menu.menMenuId, MENU_SCAN_PROTOCOL);

  eepaddr[EEP_SAVE_LAST_PROTOCOL] = 0;
  MEN_EnterMenu(MENU_SELECT_PROTOCOL);
  LIST_SetCursor(&sps.spmList, 9);
  SPM_KeyPressEventOk();
  EXPECT_EQ(eepaddr[EEP_LAST_PROTOCOL], 4) << "saving switched off";

  eepaddr[EEP_LAST_PROTOCOL] = 10;  // out of range: automatic first, table order
  MEN_EnterMenu(MENU_SELECT_PROTOCOL);
  EXPECT_EQ(sps.spmListProtocol[0], 0);
  EXPECT_EQ(sps.spmListProtocol[1], 6);
}

// --- Protocol scan -----------------------------------------------------------------------------

TEST_F(Connect, AutomaticScanFindsACan11Vehicle) {
  emu_VehicleSetProtocol(6);
  ChooseProtocol(0);
  Run(MENU_READING_DATA);
  const std::vector<std::string> expected = {"ATP1", "0100", "ATP2",  "0100", "ATP5", "0100",
                                             "ATKW2", "ATP3", "0100", "ATP6",  "0100", "ATN"};
  EXPECT_EQ(Lines(), expected);
  // Pauses after each failed step: 0.4 s, 0.4 s, 2.6 s after fast init, 3.8 s after slow init.
  EXPECT_EQ(WaitBefore("ATP1"), 10);
  EXPECT_EQ(WaitBefore("ATP2"), 40);
  EXPECT_EQ(WaitBefore("ATP5"), 40);
  EXPECT_EQ(WaitBefore("ATKW2"), 260);
  EXPECT_EQ(WaitBefore("ATP3"), 10);
  EXPECT_EQ(WaitBefore("ATP6"), 380);
  EXPECT_EQ(menu.menMenuId, MENU_READING_DATA);
  EXPECT_EQ(qimProtocol, 0x26);
}

TEST_F(Connect, ConnectSoundAndTheScanScreen) {
  emu_VehicleSetProtocol(8);
  ChooseProtocol(8);
  // Seen while the module is asked for its protocol: connected, bar full for the first try.
  bool checked = false;
  Run(MENU_READING_DATA, [&](const std::string& line) {
    if (line != "ATN") return;
    checked = true;
    EXPECT_EQ(beepCfg.load(), SND_DATA[SND_CONNECT]);
    ExpectText(lcdFrameBuf, 1, 0, HDR, "CONNECT");
    ExpectText(lcdFrameBuf, 10, 24, SYS, "CAN 11\x09" "bit Id, 250\x09kbps");
    EXPECT_EQ(lcdFrameBuf[2 * LCD_WIDTH + 12 + 17] & 0x01, 1) << "1 of 6: 18 pixels of bar";
    EXPECT_EQ(lcdFrameBuf[2 * LCD_WIDTH + 12 + 18] & 0x01, 0);
  });
  EXPECT_TRUE(checked);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"ATP8", "0100", "ATN"}));
}

TEST_F(Connect, KLineConnectionsReadTheKeyBytes) {
  emu_VehicleSetProtocol(5);
  ChooseProtocol(5);
  Run(MENU_READING_DATA);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"ATP5", "0100", "ATN", "ATK"}));
  EXPECT_EQ(qimProtocol, 0x15);
  EXPECT_EQ(qim.qimKeyByte2, 0x8F);
  EXPECT_EQ(qim.qimKeyByte1, 0xE9);

  // ISO 9141-2 is initialised with "ATKW1" first.
  log_.clear();
  emu_VehicleSetProtocol(3);
  ChooseProtocol(3);
  Run(MENU_READING_DATA);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"ATKW1", "ATP3", "0100", "ATN", "ATK"}));
  EXPECT_EQ(qimProtocol, 0x13);
}

TEST_F(Connect, SingleProtocolTriesThreeTimesThenGivesUp) {
  emu_VehicleSetProtocol(6);
  ChooseProtocol(7);
  Run(MENU_READING_DATA);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"ATP7", "0100", "ATP7", "0100", "ATP7", "0100"}));
  EXPECT_EQ(WaitBefore("ATP7"), 10);
  EXPECT_EQ(log_[2].waitTicks, 100) << "1 s between tries";
  EXPECT_EQ(menu.menMenuId, MENU_SCAN_PROTOCOL);
  EXPECT_EQ(gblCounter10ms, 0) << "nothing more is sent";
  EXPECT_EQ(beepCfg.load(), SND_DATA[SND_ERROR]);
  EXPECT_TRUE(ShowsSameAs([] { GUI_DrawErrMsg(36); })) << "No protocol found";
}

TEST_F(Connect, KLineInitRefusedEndsASingleScanButNotTheAutomaticOne) {
  // A module that does not know "ATKW": the single K-line scan stops at once.
  eepaddr[EEP_SAVE_LAST_PROTOCOL] = 0;
  MEN_EnterMenu(MENU_SELECT_PROTOCOL);
  LIST_SetCursor(&sps.spmList, 6);  // KWP2000 5 baud
  SPM_KeyPressEventOk();
  DRH_TimerExpiredEvent();  // not through the timer: sends "ATKW1" now
  EXPECT_EQ(TakeSentLine(), "ATKW1");
  DRH_QimRxEvent(QIM_RESP_REJECTED);
  EXPECT_TRUE(ShowsSameAs([] { GUI_DrawErrMsg(36); }));

  // The automatic scan steps over the marker and the slow init after it.
  MEN_EnterMenu(MENU_SELECT_PROTOCOL);
  SPM_KeyPressEventOk();
  sps.spsScanTabIdx = 6;  // the "ATKW2" marker
  DRH_TimerExpiredEvent();
  EXPECT_EQ(TakeSentLine(), "ATKW2");
  DRH_QimRxEvent(QIM_RESP_REJECTED);
  EXPECT_EQ(sps.spsScanTabIdx, 9);
  gblCounter10ms = 0;
  DRH_TimerExpiredEvent();
  EXPECT_EQ(TakeSentLine(), "ATP6");
}

// --- Reading data ------------------------------------------------------------------------------

TEST_F(Connect, ReadingPlanOnCanSkipsWhatNoEcuSupports) {
  emu_VehicleSetProtocol(6);
  ChooseProtocol(6);
  Run(MENU_READING_DATA);
  const size_t start = log_.size();
  bool fullBar = false;
  Run(MENU_DIAGNOSTICS, [&](const std::string& line) {
    if (line == "ATSFE8") {
      ExpectText(lcdFrameBuf, 1, 0, HDR, "READING DATA");
      fullBar = (lcdFrameBuf[2 * LCD_WIDTH + 12 + 107] & 0x01) != 0;
    }
  });
  // The default vehicle: no PIDs 0x80 and up, no PID 0x1D; ECU E8 reports PID 0x13.
  const std::vector<std::string> expected = {"ATSF00", "0100", "0120", "0140", "0160", "0101",
                                             "0113",   "014F", "0150", "03",   "07",   "0A",
                                             "0900",   "090A", "ATSFE8"};
  EXPECT_EQ(Lines(start), expected);
  EXPECT_TRUE(fullBar) << "the bar reaches its end although requests were skipped";
  EXPECT_EQ(OBD_GetNumEcus(), 2);
  EXPECT_EQ(OBD_GetEcuAddr(0), 0xE8);
  EXPECT_EQ(OBD_GetEcuAddr(1), 0xE9);
  EXPECT_EQ(OBD_GetActiveEcuAddr(), 0xE8);
  // What the reading stored: support bitmaps, location PID, trouble codes of all three kinds.
  EXPECT_EQ(obdPid.obd_supPids[1][0], vehicle.ecu[1].supPids[0].load());
  EXPECT_EQ(obdPid.obd_o2SensorLocPid[0], 0x13);
  EXPECT_EQ(OBD_GetNumDtcs(0, 0x03), vehicle.ecu[0].noOfDtcs.load());
  EXPECT_EQ(OBD_GetNumDtcs(1, 0x0A), vehicle.ecu[1].noOfPermanentDtcs.load());
  EXPECT_NE(OBD_GetNumDataItems(), 0);
}

TEST_F(Connect, ReadingPlanOffCanNeverAsksForPermanentCodes) {
  ConnectAndRead(3, 3);
  EXPECT_EQ(IndexOf("0A"), log_.size());
  EXPECT_LT(IndexOf("07"), IndexOf("0900"));
  EXPECT_EQ(log_.back().line, "ATSF10");
  EXPECT_EQ(qimProtocol & 0x0F, 3);
}

TEST_F(Connect, ReloadKeepsTheActiveEcu) {
  ConnectAndRead(6, 6);
  OBD_SetActiveEcuIdx(1);  // as "Change ECU" leaves it
  MEN_EnterMenu(MENU_READING_DATA);
  EXPECT_TRUE(rds.rdsIsReload);
  log_.clear();
  Run(MENU_DIAGNOSTICS);
  EXPECT_EQ(Lines().front(), "ATSF00");
  EXPECT_EQ(log_.back().line, "ATSFE9");
  EXPECT_EQ(OBD_GetActiveEcuAddr(), 0xE9);

  // Esc does not break off a reload.
  MEN_EnterMenu(MENU_READING_DATA);
  RDS_KeyPressEventEsc();
  EXPECT_EQ(menu.menMenuId, MENU_READING_DATA);
}

TEST_F(Connect, EcuChoiceEngineFirstThenMostDataItems) {
  auto setUp = [](std::vector<std::vector<uint8_t>> bitmaps) {
    OBD_Init();
    OBD_SetActiveSid(1);
    for (uint8_t i = 0; i < bitmaps.size(); ++i) {
      OBD_SetEcuAddr(static_cast<uint8_t>(0x10 + i));
      memcpy(obdPid.obd_supPids[i], bitmaps[i].data(), bitmaps[i].size());
    }
  };
  rds.rdsIsReload = 0;
  // ECU 2 reports PID 0x1D (byte 3, bit 3): it is the engine ECU, though ECU 0 has more items.
  setUp({{0xFF, 0xFF, 0x00, 0x00}, {0x80}, {0x80, 0x00, 0x00, 0x08}});
  EXPECT_EQ(RDS_ChooseEcuIdx(), 2);
  // No location PID: the most data items; the first of equals.
  setUp({{0x18}, {0x1C}, {0x0E}});  // 2, 3, 3 PIDs of one item each
  EXPECT_EQ(RDS_ChooseEcuIdx(), 1);
  // A reload keeps the ECU that was active while it still answers, else chooses afresh.
  rds.rdsIsReload = 1;
  rds.rdsEcuAddr = 0x12;
  EXPECT_EQ(RDS_ChooseEcuIdx(), 2);
  rds.rdsEcuAddr = 0x33;
  EXPECT_EQ(RDS_ChooseEcuIdx(), 1);
}

TEST_F(Connect, NoDataAndTooManyEcusStopTheReading) {
  emu_VehicleSetProtocol(6);
  ChooseProtocol(6);
  Run(MENU_READING_DATA);
  sendNoData = 1;  // "OK" to ATSF00 is never replaced: 0100 gets "NO DATA"
  Run(MENU_DIAGNOSTICS);
  EXPECT_EQ(log_.back().line, "0100");
  EXPECT_EQ(menu.menMenuId, MENU_READING_DATA);
  EXPECT_EQ(beepCfg.load(), SND_DATA[SND_ERROR]);
  EXPECT_TRUE(ShowsSameAs([] { GUI_DrawErrMsg(37); })) << "No data received";
  RDS_KeyPressEventEsc();
  EXPECT_EQ(menu.menMenuId, MENU_MAIN) << "after a connection Esc leaves";

  // Nine frames in the answer to 0100.
  menu.menPrevMenuId = MENU_SCAN_PROTOCOL;
  menu.menMenuId = MENU_READING_DATA;
  RDS_EnterMenu();
  rds.rdsReqTabIdx = 1;
  qim.qimNoOfFrames = 9;
  drh.drhReqState = DRH_WAIT_ANSWER;
  DRH_QimRxEvent(QIM_RESP_OBD_DATA);
  EXPECT_TRUE(ShowsSameAs([] { GUI_DrawErrMsg(38); })) << "Too many ECUs";
  EXPECT_EQ(OBD_GetNumEcus(), 0);
}

// --- Diagnostics menu and its screens --------------------------------------------------------

TEST_F(Connect, DiagnosticsMenuItemsAndTheSummaryColumn) {
  ConnectAndRead(6, 6);
  ExpectText(lcdFrameBuf, 1, 0, HDR, "DIAGNOSTICS MENU");
  const char* const items[] = {"Current Data",         "Trouble Codes", "I/M Readiness",
                               "Vehicle/ECU Info",     "Protocol Information",
                               "Change ECU",           "Reload OBD Data"};
  EXPECT_EQ(dm.dmList.noOfItems, 7);
  for (uint8_t i = 0; i < 7; ++i) ExpectText(lcdFrameBuf, 1, GUI_RowY(i), SYS, items[i], i == 0);
  int dtcs = 0;
  for (int e = 0; e < 2; ++e) {
    dtcs += vehicle.ecu[e].noOfDtcs + vehicle.ecu[e].noOfPendingDtcs +
            vehicle.ecu[e].noOfPermanentDtcs;
  }
  ExpectText(lcdFrameBuf, 104, 20, HDR, ("DTC:" + std::to_string(dtcs)).c_str());
  ExpectText(lcdFrameBuf, 103, 27, HDR, "E1&2:E8");

  // Back from one of its screens the cursor stays; another ECU starts at the top again.
  LIST_SetCursor(&dm.dmList, 4);
  SPKF_KeyPressEventOk();
  EXPECT_EQ(menu.menMenuId, 17);
  SPKF_KeyPressEventEsc();
  EXPECT_EQ(menu.menMenuId, MENU_DIAGNOSTICS);
  EXPECT_EQ(dm.dmList.cursor, 4);
  OBD_SetActiveEcuIdx(1);
  MEN_EnterMenu(MENU_DIAGNOSTICS);
  EXPECT_EQ(dm.dmList.cursor, 0);
  ExpectText(lcdFrameBuf, 103, 27, HDR, "E2&2:E9");

  // One ECU without PID 0x01 and without vehicle information: four items.
  OBD_Init();
  OBD_SetEcuAddr(0x10);
  obdPid.obd_supPids[0][0] = 0x7F;
  MEN_EnterMenu(MENU_DIAGNOSTICS);
  EXPECT_EQ(dm.dmList.noOfItems, 4);
  EXPECT_EQ(GUI_GetTxtId(2), 10) << "Protocol Information";
  EXPECT_EQ(GUI_GetTxtId(3), 12) << "Reload OBD Data";
}

TEST_F(Connect, ProtocolInformationShowsKeyBytesOnTheKLine) {
  ConnectAndRead(3, 3);  // ISO 9141-2: key bytes 94 94
  MEN_EnterMenu(17);
  Run(0xFF);
  EXPECT_EQ(log_.back().line, "ATDP");
  ExpectText(lcdFrameBuf, 1, 0, HDR, "Protocol Information");
  ExpectText(lcdFrameBuf, 1, 8, SYS, "ISO 9141-2");
  ExpectText(lcdFrameBuf, 1, 16, SYS, "Key bytes:");
  ExpectText(lcdFrameBuf, 1, 24, SYS, "P2min\x09=\x09" "0ms");
  ExpectText(lcdFrameBuf, 1, 32, SYS, "Header size:\x09" "3");

  qim.qimKeyByte1 = 0xEA;
  MEN_EnterMenu(17);
  Run(0xFF);
  ExpectText(lcdFrameBuf, 1, 24, SYS, "P2min\x09=\x09" "25ms");
  ExpectText(lcdFrameBuf, 1, 32, SYS, "Header size:\x09" "4");

  // On CAN there are no key bytes.
  log_.clear();
  ConnectAndRead(6, 6);
  MEN_EnterMenu(17);
  Run(0xFF);
  EXPECT_TRUE(ShowsSameAs([] {
    GUI_DrawTitleEcu("Protocol Information", 0xE8);
    GUI_DrawProtocolInfoScreen("ISO 15765-4, CAN (11/500)", 0, 0, 0, 0, 0);
    GUI_DrawMenuChangeIndicator();
  }));
}

TEST_F(Connect, SupportedPidsAndInfoTypesFollowOneAnotherWithOk) {
  ConnectAndRead(3, 3);  // off CAN the info types come unfiltered
  uint8_t sid01[32] = {}, info[4] = {};
  for (int i = 0; i < 32; ++i) sid01[i] = vehicle.ecu[0].supPids[i];
  for (int i = 0; i < 4; ++i) info[i] = vehicle.ecu[0].supInfoTypes[i];

  MEN_EnterMenu(18);
  EXPECT_TRUE(ShowsSameAs([&] { GUI_DrawSupPids(142, 0x10, sid01); }));
  SPKF_KeyPressEventOk2();
  EXPECT_EQ(menu.menMenuId, 19);
  const uint8_t none[32] = {};
  EXPECT_TRUE(ShowsSameAs([&] { GUI_DrawSupPids(143, 0x10, none); })) << "no freeze frame read";
  SPKF_KeyPressEventOk2();
  EXPECT_TRUE(ShowsSameAs([&] { GUI_DrawSupInfoTypes(0x10, info); }));
  SPKF_KeyPressEventOk2();
  EXPECT_EQ(menu.menMenuId, MENU_DIAGNOSTICS);
  EXPECT_EQ(OBD_GetActiveSid(), 1);
  EXPECT_TRUE(log_.back().line == "ATSF10") << "these screens send nothing";
}

}  // namespace
