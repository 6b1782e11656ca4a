// The window's operator menu as the host describes and carries it out: current values shown,
// choices applied through the same setters as the keys (including the negative response code,
// whose setter toggles), and files loaded with their errors handed back for the window to show.
#include "host/operator_commands.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "adapter/line_faults.h"
#include "controller/controller.h"
#include "host/key_loop.h"
#include "host/panel_sources.h"
#include "module/module.h"
#include "tests/simulator/elm_adapter.h"
#include "tests/simulator/uds_ecu.h"
#include "vehicle/vehicle.h"

namespace {

class OperatorMenu : public testing::Test {
 protected:
  void SetUp() override {
    emu_QimInitState();
    emu_VehicleInit();
    n_ = emu_DescribeOperatorMenu(entries_, 32);
  }
  void TearDown() override {
    emu_QimInitState();
    emu_VehicleInit();
  }

  int Entry(const std::string& label) {
    for (int i = 0; i < n_; ++i)
      if (label == entries_[i].label) return i;
    ADD_FAILURE() << "no entry " << label;
    return -1;
  }
  int Current(const std::string& label) {
    emu_DescribeOperatorMenu(entries_, 32);
    return entries_[Entry(label)].current;
  }
  std::string Choose(const std::string& label, int value, const char* path = "") {
    char message[512];
    emu_ActivateOperatorMenu(Entry(label), value, path, message, sizeof message);
    return message;
  }

  EmuMenuEntry entries_[32];
  int n_ = 0;
};

TEST_F(OperatorMenu, ShowsTheValuesNowAndAppliesChoices) {
  EXPECT_EQ(entries_[0].file, EmuMenuFile::OpenFile);
  EXPECT_EQ(entries_[1].file, EmuMenuFile::SaveFile);
  EXPECT_EQ(Current("ECUs"), 2);
  EXPECT_EQ(Choose("ECUs", 5), "");
  EXPECT_EQ(vehicle.maxEcu, 5);
  EXPECT_EQ(Current("ECUs"), 5);

  EXPECT_EQ(Current("Confirmed trouble codes"), 1);
  Choose("Confirmed trouble codes", 0);
  EXPECT_EQ(Current("Malfunction lamp"), 0) << "no codes: the lamp goes out, as with the key";
  Choose("Malfunction lamp", 1);
  EXPECT_EQ(Current("Confirmed trouble codes"), 1);

  Choose("Protocol of the car", 7);
  EXPECT_EQ(vehicleProtocol, 7);
  Choose("Module personality", EMU_DIAG_ELM327_V15);
  EXPECT_EQ(diagController, EMU_DIAG_ELM327_V15);

  // The code is set for every answering ECU; choosing it again keeps it, None clears it.
  const int negative = Entry("Negative response");
  EXPECT_EQ(entries_[negative].current, 0);
  Choose("Negative response", 5);  // 22
  Choose("Negative response", 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(vehicle.ecu[i].negRespCode, 22) << i;
  Choose("Negative response", 3);  // 12 instead
  EXPECT_EQ(vehicle.ecu[0].negRespCode, 12);
  Choose("Negative response", 0);
  EXPECT_EQ(vehicle.ecu[0].negRespCode, 0);

  Choose("Data jitter", 1);
  Choose("Data jitter", 1);
  EXPECT_EQ(vehicle.dataJitterIsEnabled, 1) << "on stays on";
  Choose("Data jitter", 0);
  EXPECT_EQ(vehicle.dataJitterIsEnabled, 0);

  Choose("Next answer: NO DATA", 0);
  EXPECT_EQ(sendNoData, 1);
}

// The protocol and negative response choices are labelled from the bus tables, with the texts
// the window has always shown, one label a choice and the current one found among them.
TEST_F(OperatorMenu, ProtocolAndNegativeResponseChoicesKeepTheirLabels) {
  auto labels = [&](const std::string& row) {
    const EmuMenuEntry& e = entries_[Entry(row)];
    std::vector<std::string> out;
    for (int i = 0; i < e.noOfChoices; ++i) out.push_back(e.choiceLabels[i]);
    return out;
  };
  EXPECT_EQ(labels("Protocol of the car"),
            (std::vector<std::string>{"Any", "1 SAE J1850 PWM", "2 SAE J1850 VPWM", "3 ISO 9141-2",
                                      "4 ISO 14230-4 KWP (5-baud init)", "5 ISO 14230-4 KWP (fast init)",
                                      "6 ISO 15765-4 CAN (11 bit, 500 kbit/s)", "7 ISO 15765-4 CAN (29 bit, 500 kbit/s)",
                                      "8 ISO 15765-4 CAN (11 bit, 250 kbit/s)", "9 ISO 15765-4 CAN (29 bit, 250 kbit/s)"}));
  EXPECT_EQ(labels("Negative response"),
            (std::vector<std::string>{"None", "10 general reject", "11 service not supported",
                                      "12 sub-function not supported", "21 busy, repeat request",
                                      "22 conditions not correct", "78 response pending"}));
  Choose("Negative response", 6);
  EXPECT_EQ(vehicle.ecu[0].negRespCode, 78);
  EXPECT_EQ(Current("Negative response"), 6);
}

// The two oxygen sensor layouts exclude each other: the entry of the layout the car has shows its
// banks, the other one none (its first choice marked would be a layout the car does not have).
TEST_F(OperatorMenu, OxygenSensorLayoutsShowTheBanksOfTheLayoutInUseOnly) {
  const int pid13 = Current("Oxygen sensor banks (PID 13)"), pid1D = Current("Oxygen sensor banks (PID 1D)");
  EXPECT_TRUE((pid13 == -1) != (pid1D == -1)) << pid13 << " " << pid1D;
  Choose("Oxygen sensor banks (PID 1D)", 3);
  EXPECT_EQ(Current("Oxygen sensor banks (PID 1D)"), 3);
  EXPECT_EQ(Current("Oxygen sensor banks (PID 13)"), -1);
  Choose("Oxygen sensor banks (PID 13)", 2);
  EXPECT_EQ(Current("Oxygen sensor banks (PID 13)"), 2);
  EXPECT_EQ(Current("Oxygen sensor banks (PID 1D)"), -1);
  Choose("Oxygen sensor banks (PID 13)", 1);
  EXPECT_EQ(Current("Oxygen sensor banks (PID 13)"), 1);
  // A layout of a vehicle file's own is neither's choice.
  vehicle.ecu[0].dataPid13or1D = 0x35;
  EXPECT_EQ(Current("Oxygen sensor banks (PID 13)"), -1);
  EXPECT_EQ(Current("Oxygen sensor banks (PID 1D)"), -1);
}

// The panel's "take these answers into the car": traffic-log text, as selected in its view, taken
// as "import" takes a log file, through a file of its own that is gone again afterwards.
TEST_F(OperatorMenu, PanelTakesSelectedTrafficIntoTheCar) {
  char dir[] = "/tmp/padix-import-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const char* tmpBefore = getenv("TMPDIR");
  const std::string keep = tmpBefore != nullptr ? tmpBefore : "";
  setenv("TMPDIR", dir, 1);
  char message[512];
  const char* selected =
      "     812.004 tester 0105<0D>\n"
      "     812.051 module 41 05 99 <0D><0D>>";
  EXPECT_EQ(PANEL_LINE_SOURCE.importText(selected, message, sizeof message), 1) << message;
  EXPECT_NE(message[0], '\0') << "nothing said of what was taken";
  // An answer longer than a table entry holds: nothing taken, and the error said.
  const std::string tooLong = "     1.000 tester 0105<0D>\n     1.020 module 41 05 " + std::string(3000, '9') + " <0D>>";
  EXPECT_EQ(PANEL_LINE_SOURCE.importText(tooLong.c_str(), message, sizeof message), -1);
  EXPECT_NE(std::string(message).find(":"), std::string::npos) << message;
  EXPECT_EQ(rmdir(dir), 0) << "the import's file was left behind";
  if (tmpBefore != nullptr) setenv("TMPDIR", keep.c_str(), 1); else unsetenv("TMPDIR");
}

// The faults on cue are set through their names, as "set" does, and shown as they are now.
int menuDrops = 0;
TEST_F(OperatorMenu, FaultsOnCueAreChosenAndShown) {
  EXPECT_EQ(Current("Ignition"), 1);
  Choose("Ignition", 0);
  EXPECT_EQ(emu_FaultsNow().ignition, 0);
  EXPECT_EQ(Current("Ignition"), 0);
  EXPECT_EQ(Current("Battery"), 3);  // 12.6 V
  Choose("Battery", 1);
  EXPECT_EQ(vehicle.batteryDeciVolts, 118);

  emu_QimSetEcuFilter(0x18);  // the second ECU selected
  Choose("Selected ECU silent", 1);
  Choose("Selected ECU response pending", 3);
  EXPECT_EQ(emu_FaultsNow().ecu[1].silent, 1);
  EXPECT_EQ(emu_FaultsNow().ecu[1].responsePendingMs, 1000u);
  EXPECT_EQ(emu_FaultsNow().ecu[0].silent, 0);
  EXPECT_EQ(Current("Selected ECU silent"), 1);
  EXPECT_EQ(Current("Selected ECU answers late"), 0);

  EXPECT_EQ(Current("Adapter errors"), 0);
  Choose("Adapter errors", 2);
  EXPECT_EQ(emu_FaultsNow().errorRate, 0.1);
  EXPECT_EQ(Current("Adapter errors"), 2);
  Choose("Answers in pieces", 2);
  EXPECT_EQ(emu_FaultsNow().chunk, 4);
  EXPECT_EQ(emu_FaultsNow().chunkPauseMs, 50u);
  EXPECT_EQ(Current("Answers in pieces"), 2);
  Choose("Line noise", 2);
  EXPECT_EQ(emu_FaultsNow().garbageInside, 8);
  Choose("Line noise", 1);
  EXPECT_EQ(emu_FaultsNow().garbageInside, 0);
  EXPECT_EQ(Current("Line noise"), 1);
  Choose("Silence before answers", 2);
  EXPECT_EQ(Current("Silence before answers"), 2);

  emu_LineFaultsSetDrop([] { ++menuDrops; });
  Choose("Drop the client now", 0);
  EXPECT_EQ(menuDrops, 1);
  emu_LineFaultsSetDrop(nullptr);
}

TEST_F(OperatorMenu, LoadsAndSavesVehicleFilesAndHandsBackWhatWentWrong) {
  char dir[] = "/tmp/padix-menu-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string good = std::string(dir) + "/good.toml", bad = std::string(dir) + "/bad.toml";
  FILE* f = fopen(bad.c_str(), "w");
  fputs("ecus = 3\n[ecu.1]\nrmp = 900\n", f);
  fclose(f);
  EXPECT_EQ(Choose("Load vehicle...", 0, bad.c_str()), bad + ":3:1: unknown key 'rmp'");
  EXPECT_EQ(vehicle.maxEcu, 2) << "a bad file changes nothing";

  Choose("ECUs", 3);
  EXPECT_EQ(Choose("Save vehicle...", 0, good.c_str()), "");
  emu_VehicleInit();
  EXPECT_EQ(Choose("Load vehicle...", 0, good.c_str()), "");
  EXPECT_EQ(vehicle.maxEcu, 3);
  EXPECT_NE(Choose("Save vehicle...", 0, "/nonexistent-folder/car.toml"), "");
  unlink(good.c_str());
  unlink(bad.c_str());
  rmdir(dir);
}

// The ELM327 v1.5 serves its client on a protocol of its own, found or set there, whatever the
// handheld's module was set to: the next answer's "CAN ERROR" is armed while either is on CAN,
// the same whether the operator types `z` or chooses it in the menu, and the client then gets it.
class OperatorCommandsOnTheElm : public elm_test::ElmAdapter {
 protected:
  void SetUp() override {
    ElmAdapter::SetUp();
    pthread_mutex_init(&keyMutex, nullptr);
    emu_ResetKeyLoop();
    sendCanError = 0;
    sendNoData = 0;
  }
  void TearDown() override {
    sendCanError = 0;
    pthread_mutex_destroy(&keyMutex);
    ElmAdapter::TearDown();
  }
  static void ByMenu() {
    EmuMenuEntry entries[32];
    const int n = emu_DescribeOperatorMenu(entries, 32);
    for (int i = 0; i < n; ++i) {
      if (std::string(entries[i].label) != "Next answer: CAN ERROR") continue;
      char message[512];
      emu_ActivateOperatorMenu(i, 0, "", message, sizeof message);
      return;
    }
    ADD_FAILURE() << "no CAN ERROR in the menu";
  }
  static void ByKey() { EXPECT_EQ(emu_HandleKeyValue('z'), 0); }
};

TEST_F(OperatorCommandsOnTheElm, CanErrorIsArmedByKeyAndMenuAlikeWhileTheClientIsOnCan) {
  Quiet();
  emu_QimSetDiagController(EMU_DIAG_ELM327_V15);
  emu_QimSetProtocol(3);  // the handheld's module on the K-line
  const std::string rpm = elm_test::Lines({"41 0C 01 10 "});
  for (auto way : {ByKey, ByMenu}) {
    ExpectOk("ATSP3");
    Ask("010C");  // connects
    ASSERT_EQ(emu_ElmConnectedProtocol(), 3);
    way();
    EXPECT_EQ(sendCanError.load(), 0) << "nobody on CAN";
    ExpectOk("ATSP6");
    ASSERT_EQ(Ask("010C"), rpm);
    way();
    EXPECT_EQ(sendCanError.load(), 1) << "the client on CAN";
    EXPECT_EQ(Ask("010C"), elm_test::Lines({"CAN ERROR"}));
    EXPECT_EQ(Ask("010C"), rpm) << "once only";
  }
}


// The menu shows the session and lock of the ECU the client last asked through its server, as
// the client's requests leave them.
TEST_F(OperatorCommandsOnTheElm, TheDiagnosticSessionEntryFollowsTheAskedEcu) {
  Quiet();
  uds_test::PutEngineServer(0);
  uds_test::PutEngineServer(1);
  const auto shown = [] {
    EmuMenuEntry entries[32];
    const int n = emu_DescribeOperatorMenu(entries, 32);
    for (int i = 0; i < n; ++i)
      if (std::string(entries[i].label).rfind("ECU ", 0) == 0) return std::string(entries[i].label);
    return std::string("no entry");
  };
  EXPECT_EQ(shown(), "ECU 7E0: default, locked");
  ExpectOk("ATSP6");
  ExpectOk("ATSH 7E1");
  EXPECT_EQ(Ask("1003"), elm_test::Lines({"50 03 00 32 01 F4 "}));
  EXPECT_EQ(shown(), "ECU 7E1: extended, locked");
  ExpectOk("ATSH 7E0");
  EXPECT_EQ(Ask("1003"), elm_test::Lines({"50 03 00 32 01 F4 "}));
  EXPECT_EQ(Ask("2701"), elm_test::Lines({"67 01 12 34 "}));
  EXPECT_EQ(Ask("2702EDCB"), elm_test::Lines({"67 02 "}));
  EXPECT_EQ(shown(), "ECU 7E0: extended, level 1 unlocked");
  EXPECT_EQ(Ask("1101"), elm_test::Lines({"51 01 "}));
  EXPECT_EQ(shown(), "ECU 7E0: default, locked");
  ExpectOk("ATSP7");
  ExpectOk("ATSH DA18F1");
  emu_VehicleSetProtocol(7);
  EXPECT_EQ(Ask("1003"), elm_test::Lines({"50 03 00 32 01 F4 "}));
  EXPECT_EQ(shown(), "ECU 18DA18F1: extended, locked");
}

}  // namespace
