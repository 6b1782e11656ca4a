// The diagnostic screens against the simulated vehicle, one power-on per screen family, driven
// through the keys: current data, trouble codes with freeze frames and clearing, vehicle
// information and readiness. Every screen is waited for by pixels the firmware's own fonts
// draw (rendered before power-on); what it shows is checked on copies of the display once the
// firmware has stopped, since only then can the test draw with its fonts again.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "firmware/eeprom.h"
#include "firmware/obd/dtcs.h"
#include "firmware/obd/pids.h"
#include "firmware/ui/fonts.h"
#include "firmware/ui/gui.h"
#include "firmware/ui/lcd.h"
#include "firmware/ui/texts.h"
#include "controller/controller.h"
#include "module/module.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"
#include "tests/support/emulator_session.h"
#include "tests/support/screen_text.h"
#include "tests/support/wait_for.h"
#include "window/window_api.h"

namespace {

const uint8_t* const SYS = SystemFont.bytes;
const uint8_t* const HDR = HeaderFont.bytes;

struct Shot {
  uint8_t mem[LCD_FRAME_SIZE];
};

// A title's text (left part of the title bar), the ECU or protocol at its right not included.
ScreenPart Title(uint8_t txtId) { return RenderText(1, 0, HDR, txt[txtId]); }

// The same rectangle anywhere along its rows: for centred texts.
bool ShownAtAnyX(const ScreenPart& part, const uint8_t* mem) {
  ScreenPart moved = part;
  for (int dx = -part.x; part.x + dx + part.width <= LCD_WIDTH; ++dx) {
    moved.x = part.x + dx;
    moved.mem.fill(0);
    for (int j = part.y; j < part.y + part.height; ++j) {
      for (int i = part.x; i < part.x + part.width; ++i) {
        if ((part.mem[(j / 8) * LCD_WIDTH + i] >> (j % 8)) & 1)
          moved.mem[(j / 8) * LCD_WIDTH + i + dx] |= static_cast<uint8_t>(1 << (j % 8));
      }
    }
    if (moved.ShownIn(mem)) return true;
  }
  return false;
}

// Where `text` stands in row y, or -1; for checks after the firmware has stopped.
int FindText(const uint8_t* mem, uint8_t y, const uint8_t* font, const char* text,
             bool inverse = false) {
  for (int x = 0; x < LCD_WIDTH; ++x) {
    if (ShowsText(mem, static_cast<uint8_t>(x), y, font, text, inverse)) return x;
  }
  return -1;
}

std::string Dump(const uint8_t* mem) { return ScreenRect(mem, 0, 0, LCD_WIDTH, LCD_HEIGHT); }

#define EXPECT_ROW_TEXT(shot, y, font, text) \
  EXPECT_GE(FindText((shot).mem, (y), (font), (text)), 0) << (text) << "\n" << Dump((shot).mem)

// Row `row` of a menu list is under the cursor bar.
bool CursorBarOn(const uint8_t* mem, int row) { return mem[(row + 1) * LCD_WIDTH] == 0xFF; }

class ScreensE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    emu_QimInitState();
    emu_VehicleInit();
    tarnic_InitVars();
    syncWithQimIsDone = 0;
    mainMenu_ = RenderTitle(txt[TXT_MAIN_MENU]);
    selectProtocol_ = RenderTitle(txt[100]);
    diagnostics_ = Title(115);
  }

  // Power-on, and through "Start Diagnostics" to the diagnostics menu of a vehicle answering
  // on `protocol`, which is stored as used last so that it heads the protocol list.
  void Connect(uint8_t protocol) {
    emu_VehicleSetProtocol(protocol);
    device_ = std::make_unique<EmulatorSession>();
    ASSERT_TRUE(WaitFor([] { return syncWithQimIsDone.load() != 0; }, 10000));
    eepaddr[EEP_LAST_PROTOCOL] = protocol;  // the first power-on of a run wrote the defaults
    ASSERT_TRUE(device_->WaitForTitle(mainMenu_)) << device_->Screen();
    device_->Type(EMU_KEY_RETURN);
    ASSERT_TRUE(device_->WaitForTitle(selectProtocol_)) << device_->Screen();
    device_->Type(EMU_KEY_RETURN);
    ASSERT_TRUE(device_->WaitForPart(diagnostics_, 15000)) << device_->Screen();
  }

  // OK on list item `row` of the menu shown, from wherever its cursor bar is, until `title`.
  void Open(int row, const ScreenPart& title, bool centred = false) {
    int at = -1;
    ASSERT_TRUE(device_->WaitForScreen([&](const uint8_t* m) {
      for (int r = 0; r < 7 && at < 0; ++r)
        if (CursorBarOn(m, r)) at = r;
      return at >= 0;
    })) << device_->Screen();
    while (at != row) {
      device_->Type(row > at ? EMU_KEY_DOWN : EMU_KEY_UP);
      at += row > at ? 1 : -1;
      ASSERT_TRUE(device_->WaitForScreen([&](const uint8_t* m) { return CursorBarOn(m, at); },
                                         3000))
          << device_->Screen();
    }
    device_->Type(EMU_KEY_RETURN);
    ASSERT_TRUE(device_->WaitForScreen([&](const uint8_t* m) {
      return centred ? ShownAtAnyX(title, m) : title.ShownIn(m);
    })) << device_->Screen();
  }
  // Down, one key at a time, until one of `parts` shows (at most `maxKeys` keys); its index.
  int DownUntil(const std::vector<ScreenPart>& parts, int maxKeys, int keyWaitMs = 400) {
    int found = -1;
    for (int i = 0; i < maxKeys && found < 0; ++i) {
      device_->Type(EMU_KEY_DOWN);
      device_->WaitForScreen(
          [&](const uint8_t* m) {
            for (size_t p = 0; p < parts.size() && found < 0; ++p)
              if (parts[p].ShownIn(m)) found = static_cast<int>(p);
            return found >= 0;
          },
          keyWaitMs);
    }
    EXPECT_GE(found, 0) << device_->Screen();
    return found;
  }
  void Back(const ScreenPart& title) {
    device_->Type(EMU_KEY_ESCAPE);
    ASSERT_TRUE(device_->WaitForPart(title)) << device_->Screen();
  }
  // Waits until `shows` holds and keeps that display for the checks after Quit.
  void Capture(Shot* shot, const std::function<bool(const uint8_t*)>& shows,
               int timeoutMs = 5000) {
    ASSERT_TRUE(device_->WaitForScreen(shows, timeoutMs, shot->mem)) << Dump(shot->mem);
  }
  void CapturePart(Shot* shot, const ScreenPart& part, int timeoutMs = 5000) {
    Capture(shot, [&](const uint8_t* m) { return part.ShownIn(m); }, timeoutMs);
  }
  void CaptureText(Shot* shot, const ScreenPart& text, int timeoutMs = 5000) {
    Capture(shot, [&](const uint8_t* m) { return ShownAtAnyX(text, m); }, timeoutMs);
  }
  void Quit() { ASSERT_EQ(device_->Quit(), 1); }

  TitleRows mainMenu_, selectProtocol_;
  ScreenPart diagnostics_;
  std::unique_ptr<EmulatorSession> device_;
};

// The value field of data list row `row`: value, 1 pixel, unit.
ScreenPart ListValue(uint8_t row, const char* value, const char* unit) {
  return RenderPart(74, GUI_RowY(row), 58, 8, [&] { GUI_DrawListData(row, value, unit); });
}
// The value fields of a data list row are the same on both displays.
bool SameValueField(const uint8_t* a, const uint8_t* b, uint8_t row) {
  const int page = GUI_RowY(row) / 8;  // rows lie on display pages
  return memcmp(a + page * LCD_WIDTH + 74, b + page * LCD_WIDTH + 74, 58) == 0;
}
const uint8_t BLANK[LCD_FRAME_SIZE] = {};

// A data list row's cursor triangle and PID (hex digits have glyphs of their own).
ScreenPart CursorAndPid(uint8_t row, uint8_t pid) {
  return RenderPart(4, GUI_RowY(row), 14, 8, [&] {
    FNT_SetSystemFont();
    LCD_DrawText("\x07", 4, GUI_RowY(row));
    LCD_DrawHexByte(pid);
  });
}
// The ECU at the right of a title bar.
ScreenPart TitleEcu(uint8_t ecuAddr) {
  return RenderPart(96, 0, 36, 5, [&] { GUI_DrawTitleEcu("", ecuAddr); });
}

TEST_F(ScreensE2e, CurrentDataDecodesRefreshesRecoversAndKeepsTheCursorPerEcu) {
  // ECU E8's engine speed (PID 0C) is some rows down; its two bytes 01 10 are 272 / 4 rpm.
  const ScreenPart title = Title(6);
  std::vector<ScreenPart> rpmValues, rpmCursors;
  for (uint8_t r = 0; r < 7; ++r) {
    rpmValues.push_back(ListValue(r, "68", obdUnitTxt[OBD_UNIT_RPM]));
    rpmCursors.push_back(CursorAndPid(r, 0x0C));
  }
  const ScreenPart rpmTitle = RenderText(1, 0, HDR, "RPM");
  std::vector<ScreenPart> noData;
  for (uint8_t r = 0; r < 7; ++r)
    noData.push_back(RenderPart(74, GUI_RowY(r), 58, 8, [&] { GUI_DrawListDataById(r, TXT_NO_DATA); }));
  const ScreenPart selectEcu = Title(153);
  const ScreenPart ecuE8 = TitleEcu(0xE8), ecuE9 = TitleEcu(0xE9);
  const ScreenPart firstRow = CursorAndPid(0, 0x03);
  const ScreenPart placeholder =
      RenderPart(74, 8, 58, 8, [] { GUI_DrawListDataById(0, TXT_PLACEHOLDER_DOTS); });
  const ScreenPart singlePid = RenderPart(70, 0, 30, 5, [] {
    FNT_SetHeaderFont();
    LCD_DrawText(txt[49], 70, 0);
    LCD_SetPosXY(87, 0);
    LCD_DrawHexByte(0x0C);
  });
  ASSERT_NO_FATAL_FAILURE(Connect(6));

  ASSERT_NO_FATAL_FAILURE(Open(0, title));
  const int found = DownUntil(rpmCursors, 14);
  ASSERT_GE(found, 0);
  const uint8_t rpmRow = static_cast<uint8_t>(found);
  const ScreenPart& rpm = rpmValues[rpmRow];
  Shot list, single, jitter1, jitter2, noDataShot, recovered, again, otherEcu, backToE8;
  ASSERT_NO_FATAL_FAILURE(CapturePart(&list, rpm));
  device_->Type(EMU_KEY_RETURN);
  ASSERT_NO_FATAL_FAILURE(CapturePart(&single, rpmTitle));
  ASSERT_NO_FATAL_FAILURE(Capture(&single, [](const uint8_t* m) {
    for (int x = 0; x < LCD_WIDTH; ++x)  // the large value replaces the placeholder
      if (m[2 * LCD_WIDTH + x] != 0) return true;
    return false;
  }));
  ASSERT_NO_FATAL_FAILURE(Back(title));

  // Jitter on: the simulator's values move with every answer, and the row follows.
  emu_VehicleToggleDataJitter();
  ASSERT_NO_FATAL_FAILURE(Capture(&jitter1, [&](const uint8_t* m) {
    return !rpm.ShownIn(m) && !ShownAtAnyX(noData[rpmRow], m) &&
           !SameValueField(m, BLANK, rpmRow);
  }));
  ASSERT_NO_FATAL_FAILURE(Capture(&jitter2, [&](const uint8_t* m) {
    return !SameValueField(m, jitter1.mem, rpmRow) && !noData[rpmRow].ShownIn(m);
  }));
  emu_VehicleToggleDataJitter();
  ASSERT_NO_FATAL_FAILURE(CapturePart(&recovered, rpm));

  // One answer lost: its rows say so until the next round reads them again.
  int lostRow = -1;
  sendNoData = 1;
  ASSERT_NO_FATAL_FAILURE(Capture(&noDataShot, [&](const uint8_t* m) {
    for (int r = 0; r < 7; ++r)
      if (noData[r].ShownIn(m)) return lostRow = r, true;
    return false;
  }));
  ASSERT_NO_FATAL_FAILURE(Capture(&recovered, [&](const uint8_t* m) {
    for (const ScreenPart& p : noData)
      if (p.ShownIn(m)) return false;
    return rpm.ShownIn(m);
  }));

  // Back in the list of the same ECU the cursor is where it was; another ECU starts at the top,
  // and so does E8's list when E8 is chosen again, since only the ECU last shown keeps it.
  ASSERT_NO_FATAL_FAILURE(Back(diagnostics_));
  device_->Type(EMU_KEY_RETURN);
  ASSERT_NO_FATAL_FAILURE(CapturePart(&again, rpm));
  ASSERT_NO_FATAL_FAILURE(Back(diagnostics_));
  for (int ecu : {1, 0}) {
    ASSERT_NO_FATAL_FAILURE(Open(5, selectEcu));
    device_->Type(ecu == 1 ? EMU_KEY_DOWN : EMU_KEY_UP);
    ASSERT_TRUE(device_->WaitForScreen([&](const uint8_t* m) { return CursorBarOn(m, ecu); }))
        << device_->Screen();
    device_->Type(EMU_KEY_RETURN);
    ASSERT_TRUE(device_->WaitForPart(diagnostics_)) << device_->Screen();
    ASSERT_TRUE(device_->WaitForScreen([](const uint8_t* m) { return CursorBarOn(m, 0); }));
    device_->Type(EMU_KEY_RETURN);
    ASSERT_TRUE(device_->WaitForPart(title)) << device_->Screen();
    Shot& shot = ecu == 1 ? otherEcu : backToE8;
    // The first row is read: no placeholder left in it.
    ASSERT_NO_FATAL_FAILURE(Capture(&shot, [&](const uint8_t* m) {
      return !SameValueField(m, BLANK, 0) && !placeholder.ShownIn(m);
    }));
    ASSERT_NO_FATAL_FAILURE(Back(diagnostics_));
  }
  ASSERT_NO_FATAL_FAILURE(Quit());

  const uint8_t cursorY = GUI_RowY(rpmRow);
  for (const Shot* s : {&list, &again}) {
    EXPECT_TRUE(rpmCursors[rpmRow].ShownIn(s->mem)) << Dump(s->mem);
    EXPECT_ROW_TEXT(*s, cursorY, SYS, "RPM");
  }
  EXPECT_TRUE(singlePid.ShownIn(single.mem)) << Dump(single.mem);
  EXPECT_ROW_TEXT(single, 24, SYS, "Engine RPM");
  EXPECT_ROW_TEXT(noDataShot, GUI_RowY(static_cast<uint8_t>(lostRow)), SYS, txt[TXT_NO_DATA]);
  EXPECT_TRUE(ecuE9.ShownIn(otherEcu.mem)) << Dump(otherEcu.mem);
  EXPECT_TRUE(ShowsText(otherEcu.mem, 4, GUI_RowY(0), SYS, "\x07")) << Dump(otherEcu.mem);
  EXPECT_TRUE(ecuE8.ShownIn(backToE8.mem)) << Dump(backToE8.mem);
  EXPECT_TRUE(firstRow.ShownIn(backToE8.mem)) << Dump(backToE8.mem);
}

}  // namespace

namespace {

// A whole list row as the firmware draws an ECU's refusal or silence after clearing.
ScreenPart ErrorCodeLine(uint8_t ecuAddr, uint8_t code, uint8_t row) {
  return RenderPart(0, GUI_RowY(row), LCD_WIDTH, 8,
                    [&] { GUI_DrawErrorCodeLine(ecuAddr, code, row); });
}

// A car described in a vehicle file reaches the screens: the petrol example's engine speed, given
// in rpm, is what the current data list shows, and a value set while the car runs replaces it.
TEST_F(ScreensE2e, VehicleFileValuesReachTheCurrentData) {
  const std::string example = std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/tests/")) +
                              "/examples/vehicles/petrol_can.toml";
  std::string error;
  ASSERT_EQ(emu_LoadVehicleFile(example.c_str(), &error), 0) << error;
  std::vector<ScreenPart> rpm780, rpm2500, rpmCursors;
  for (uint8_t r = 0; r < 7; ++r) {
    rpm780.push_back(ListValue(r, "780", obdUnitTxt[OBD_UNIT_RPM]));
    rpm2500.push_back(ListValue(r, "2500", obdUnitTxt[OBD_UNIT_RPM]));
    rpmCursors.push_back(CursorAndPid(r, 0x0C));
  }
  ASSERT_NO_FATAL_FAILURE(Connect(6));
  ASSERT_NO_FATAL_FAILURE(Open(0, Title(6)));
  const int row = DownUntil(rpmCursors, 14);
  ASSERT_GE(row, 0);
  Shot loaded, changed;
  ASSERT_NO_FATAL_FAILURE(CapturePart(&loaded, rpm780[static_cast<size_t>(row)]));
  ASSERT_EQ(emu_SetVehicleValue("ecu.1.rpm", "2500", &error), 0) << error;
  ASSERT_NO_FATAL_FAILURE(CapturePart(&changed, rpm2500[static_cast<size_t>(row)]));
  Quit();
}

TEST_F(ScreensE2e, TroubleCodesFreezeFramesAndClearing) {
  const ScreenPart tcm = Title(117), summary = Title(118), selectFrame = Title(130),
                   frameList = Title(53), checkResponses = Title(129);
  const ScreenPart single = RenderText(1, 0, HDR, "P0100");
  const ScreenPart frameDtc = RenderText(84, 16, SYS, "P0100");
  const ScreenPart frameNoDtc = RenderText(84, 16, SYS, txt[TXT_NO_DATA]);
  const ScreenPart ask = RenderText(7, 6, SYS, txt[123]);
  const ScreenPart cleared = RenderText(7, 6, SYS, txt[126]);
  const ScreenPart incomplete = RenderText(7, 6, SYS, txt[127]);
  const ScreenPart reloading = RenderText(7, 18, SYS, txt[128]);
  const ScreenPart noResponseE9 = ErrorCodeLine(0xE9, 255, 1);
  const ScreenPart refusedE8 = ErrorCodeLine(0xE8, 0x22, 0);
  std::vector<ScreenPart> placeholders;
  for (uint8_t r = 0; r < 7; ++r)
    placeholders.push_back(
        RenderPart(74, GUI_RowY(r), 58, 8, [&] { GUI_DrawListDataById(r, TXT_PLACEHOLDER_DOTS); }));
  ASSERT_NO_FATAL_FAILURE(Connect(6));

  // The summary, and the first code alone with its description.
  Shot summaryShot, singleShot, frame0, frame255, frameBack, listShot, silent, refused,
      incompleteShot, clearedShot, afterClear, reloadingShot;
  ASSERT_NO_FATAL_FAILURE(Open(1, tcm));
  ASSERT_NO_FATAL_FAILURE(Open(0, summary));
  ASSERT_NO_FATAL_FAILURE(Capture(&summaryShot, [](const uint8_t* m) { return CursorBarOn(m, 0); }));
  device_->Type(EMU_KEY_RETURN);
  ASSERT_NO_FATAL_FAILURE(CapturePart(&singleShot, single));
  ASSERT_NO_FATAL_FAILURE(Back(summary));
  ASSERT_NO_FATAL_FAILURE(Back(tcm));

  // Freeze frames: frame 0 holds ECU E8's first confirmed code; below 0 comes 255, which holds
  // none; the list of frame 0 is read once and then left alone.
  ASSERT_NO_FATAL_FAILURE(Open(2, selectFrame));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&frame0, frameDtc));
  device_->Type(EMU_KEY_DOWN);
  ASSERT_NO_FATAL_FAILURE(CapturePart(&frame255, frameNoDtc));
  device_->Type(EMU_KEY_UP);
  ASSERT_NO_FATAL_FAILURE(CapturePart(&frameBack, frameDtc));
  device_->Type(EMU_KEY_RETURN);
  ASSERT_TRUE(device_->WaitForPart(frameList)) << device_->Screen();
  ASSERT_NO_FATAL_FAILURE(Capture(
      &listShot,
      [&](const uint8_t* m) {
        for (uint8_t r = 0; r < 7; ++r)
          if (placeholders[r].ShownIn(m) || SameValueField(m, BLANK, r)) return false;
        return true;
      },
      8000));
  sendNoData = 1;  // stays armed while nothing is asked
  EXPECT_FALSE(WaitFor([] { return sendNoData.load() == 0; }, 1500)) << "the frame is read again";
  sendNoData = 0;
  ASSERT_NO_FATAL_FAILURE(Back(selectFrame));
  ASSERT_NO_FATAL_FAILURE(Back(tcm));

  // E8 refuses (conditions not correct), E9 clears: the refusal is listed, OK admits the
  // incomplete erase, and the data are read again.
  emu_VehicleSetObdNegRespCode(22);  // the module listens to E8: only E8 refuses
  ASSERT_NO_FATAL_FAILURE(Open(1, ask, true));
  device_->Type(EMU_KEY_RETURN);
  ASSERT_TRUE(device_->WaitForPart(checkResponses, 5000)) << device_->Screen();
  ASSERT_NO_FATAL_FAILURE(CapturePart(&refused, refusedE8));
  device_->Type(EMU_KEY_RETURN);
  ASSERT_NO_FATAL_FAILURE(CaptureText(&incompleteShot, incomplete));
  ASSERT_NO_FATAL_FAILURE(CaptureText(&reloadingShot, reloading));
  ASSERT_TRUE(device_->WaitForPart(diagnostics_, 10000)) << device_->Screen();

  // Now both clear.
  emu_VehicleSetObdNegRespCode(22);
  ASSERT_NO_FATAL_FAILURE(Open(1, tcm));
  ASSERT_NO_FATAL_FAILURE(Open(1, ask, true));
  device_->Type(EMU_KEY_RETURN);
  ASSERT_NO_FATAL_FAILURE(CaptureText(&clearedShot, cleared));
  ASSERT_NO_FATAL_FAILURE(CaptureText(&reloadingShot, reloading));
  ASSERT_TRUE(device_->WaitForPart(diagnostics_, 10000)) << device_->Screen();
  ASSERT_NO_FATAL_FAILURE(Open(1, tcm));
  ASSERT_NO_FATAL_FAILURE(Open(0, summary));
  ASSERT_NO_FATAL_FAILURE(Capture(&afterClear, [](const uint8_t* m) { return CursorBarOn(m, 0); }));
  ASSERT_NO_FATAL_FAILURE(Back(tcm));

  // Clearing while no ECU answers: both are listed, and Esc goes back.
  ASSERT_NO_FATAL_FAILURE(Open(1, ask, true));
  sendNoData = 1;  // the filter's "OK" is never replaced: the clear request gets "NO DATA"
  device_->Type(EMU_KEY_RETURN);
  ASSERT_TRUE(device_->WaitForPart(checkResponses)) << device_->Screen();
  ASSERT_NO_FATAL_FAILURE(CapturePart(&silent, noResponseE9));
  ASSERT_NO_FATAL_FAILURE(Back(tcm));  // the filter is set back on E8 first

  ASSERT_NO_FATAL_FAILURE(Quit());

  // Each ECU's confirmed code, then its pending one, with the ECU; then the permanent ones.
  EXPECT_TRUE(ShowsText(summaryShot.mem, 1, 8, SYS, "P0100", true)) << Dump(summaryShot.mem);
  EXPECT_TRUE(ShowsText(summaryShot.mem, 35, 8, SYS, txt[119], true));
  EXPECT_TRUE(ShowsText(summaryShot.mem, 1, 16, SYS, "P0230"));
  EXPECT_TRUE(ShowsText(summaryShot.mem, 35, 16, SYS, txt[120]));
  EXPECT_ROW_TEXT(singleShot, 0, HDR, "CONFIRMED");
  EXPECT_TRUE(ShowsText(singleShot.mem, 1, 8, SYS, "Mass or Volume Air Flow")) << Dump(singleShot.mem);
  EXPECT_TRUE(ShowsText(singleShot.mem, 1, 16, SYS, "Sensor \"A\" Circuit"));

  EXPECT_GE(FindText(frame255.mem, 16, SYS, "255", true), 0) << Dump(frame255.mem);
  EXPECT_GE(FindText(frame0.mem, 16, SYS, "0", true), 0) << Dump(frame0.mem);
  EXPECT_ROW_TEXT(listShot, 0, HDR, "P0100");

  EXPECT_TRUE(ErrorCodeLine(0xE8, 255, 0).ShownIn(silent.mem)) << Dump(silent.mem);
  EXPECT_TRUE(refusedE8.ShownIn(refused.mem));
  EXPECT_FALSE(ShowsText(refused.mem, 1, 16, SYS, "ECU")) << "E9 cleared: " << Dump(refused.mem);
  // After clearing, confirmed and pending codes are gone; on CAN the confirmed ones stay as
  // permanent codes.
  EXPECT_TRUE(ShowsText(afterClear.mem, 35, 8, SYS, txt[121], true)) << Dump(afterClear.mem);
  EXPECT_LT(FindText(afterClear.mem, 16, SYS, txt[119]), 0);
}

}  // namespace

namespace {

// The verification number rows as drawn for `count` numbers of 4 bytes.
ScreenPart CvnRows(const uint8_t* cvn, uint8_t count) {
  return RenderPart(0, 8, LCD_WIDTH, 8 * count, [&] { GUI_DrawCvn(cvn, count); });
}

TEST_F(ScreensE2e, VehicleInformationAndReadiness) {
  const ScreenPart vim = Title(145), vin = Title(146), cal = Title(147), cvn = Title(148),
                   ipt08 = Title(149), ecuName = Title(25), o2 = Title(27);
  const ScreenPart readiness = Title(131), supMonitors = Title(16), status = Title(17),
                   statusDtc = Title(18), statusCycle = Title(132), settings = Title(20);
  const uint8_t e8Cvn[4] = {0x16, 0xE0, 0x62, 0xBE};
  const ScreenPart cvnRow = CvnRows(e8Cvn, 1);
  const ScreenPart vinText = RenderText(1, 8, SYS, "VIN:");
  const ScreenPart calText = RenderText(1, 8, SYS, "CALID1:");
  const ScreenPart waiting = RenderText(0, 16, SYS, txt[48]);
  const ScreenPart noData = RenderText(0, 16, SYS, txt[TXT_NO_DATA]);
  const ScreenPart firstCounter = RenderText(74, 8, SYS, "457");  // OBDCOND 0x1C9
  const ScreenPart acronym = RenderText(1, 8, SYS, txt[54]);
  const ScreenPart o2Pid13 = RenderText(1, 8, SYS, txt[151]);
  const ScreenPart yes = RenderText(74, 8, SYS, "YES");
  const ScreenPart on = RenderText(74, 8, SYS, "ON");
  ASSERT_NO_FATAL_FAILURE(Connect(6));

  Shot vinShot, calShot, waitShot, pendingEnd, cvnShot, iptShot, nameShot, o2Shot;
  ASSERT_NO_FATAL_FAILURE(Open(3, vim));
  ASSERT_NO_FATAL_FAILURE(Open(0, vin));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&vinShot, vinText));
  ASSERT_NO_FATAL_FAILURE(Back(vim));
  ASSERT_NO_FATAL_FAILURE(Open(1, cal));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&calShot, calText));

  // E8 answers "response pending" (78) to the verification numbers and then nothing: the
  // screen says it waits, and gives up after the wait with "No data".
  emu_VehicleSetObdNegRespCode(78);  // the module listens to E8 only
  device_->Type(EMU_KEY_DOWN);   // from the calibration ids straight to the numbers
  ASSERT_TRUE(device_->WaitForPart(cvn)) << device_->Screen();
  ASSERT_NO_FATAL_FAILURE(CaptureText(&waitShot, waiting));
  ASSERT_NO_FATAL_FAILURE(CaptureText(&pendingEnd, noData, 5000));
  emu_VehicleSetObdNegRespCode(78);
  ASSERT_NO_FATAL_FAILURE(Back(vim));
  ASSERT_NO_FATAL_FAILURE(Open(2, cvn));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&cvnShot, cvnRow));
  ASSERT_NO_FATAL_FAILURE(Back(vim));
  ASSERT_NO_FATAL_FAILURE(Open(3, ipt08));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&iptShot, firstCounter));
  ASSERT_NO_FATAL_FAILURE(Back(vim));
  ASSERT_NO_FATAL_FAILURE(Open(4, ecuName));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&nameShot, acronym));
  ASSERT_NO_FATAL_FAILURE(Back(vim));
  ASSERT_NO_FATAL_FAILURE(Open(6, o2));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&o2Shot, o2Pid13));
  ASSERT_NO_FATAL_FAILURE(Back(vim));
  ASSERT_NO_FATAL_FAILURE(Back(diagnostics_));

  // Readiness: supported monitors, the monitor status under each of the three filters, which
  // the settings step through, and a stored display flag.
  Shot supShot, statusAll, statusSince, statusThis, filterSince, menuSince, unsupOn;
  ASSERT_NO_FATAL_FAILURE(Open(2, readiness));
  ASSERT_NO_FATAL_FAILURE(Open(0, supMonitors));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&supShot, yes));
  ASSERT_NO_FATAL_FAILURE(Back(readiness));
  ASSERT_NO_FATAL_FAILURE(Open(1, status));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&statusAll, on));
  ASSERT_NO_FATAL_FAILURE(Back(readiness));
  ASSERT_NO_FATAL_FAILURE(Open(2, settings));
  ASSERT_TRUE(device_->TypeAndWaitForChange(EMU_KEY_RETURN));  // [all] -> [since DTCs cleared]
  device_->Display(filterSince.mem);
  ASSERT_NO_FATAL_FAILURE(Back(readiness));
  device_->Display(menuSince.mem);
  ASSERT_NO_FATAL_FAILURE(Open(1, statusDtc));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&statusSince, on));
  ASSERT_NO_FATAL_FAILURE(Back(readiness));
  ASSERT_NO_FATAL_FAILURE(Open(2, settings));
  ASSERT_TRUE(device_->TypeAndWaitForChange(EMU_KEY_RETURN));  // -> [this Cycle]
  ASSERT_NO_FATAL_FAILURE(Back(readiness));
  ASSERT_NO_FATAL_FAILURE(Open(1, statusCycle));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&statusThis, yes));
  ASSERT_NO_FATAL_FAILURE(Back(readiness));
  ASSERT_NO_FATAL_FAILURE(Open(2, settings));
  ASSERT_TRUE(device_->WaitForScreen([](const uint8_t* m) { return CursorBarOn(m, 0); }));
  device_->Type(EMU_KEY_DOWN);
  ASSERT_TRUE(device_->WaitForScreen([](const uint8_t* m) { return CursorBarOn(m, 1); }));
  ASSERT_TRUE(device_->TypeAndWaitForChange(EMU_KEY_RETURN));
  device_->Display(unsupOn.mem);
  EXPECT_EQ(eepaddr[EEP_SHOW_UNSUPPORTED_MONITORS], 1) << "stored at once";
  ASSERT_NO_FATAL_FAILURE(Quit());

  EXPECT_ROW_TEXT(vinShot, 8, SYS, "1234567890XYZABCD");
  EXPECT_ROW_TEXT(calShot, 8, SYS, "ABC1DEF2GHI3JKL4");
  EXPECT_ROW_TEXT(waitShot, 8, SYS, txt[47]);  // "Neg. response:" and the code
  EXPECT_TRUE(cvnRow.ShownIn(cvnShot.mem)) << Dump(cvnShot.mem);
  EXPECT_ROW_TEXT(iptShot, 8, SYS, "OBDCOND");
  EXPECT_ROW_TEXT(iptShot, 16, SYS, "4144");  // IGNCNTR 0x1030
  EXPECT_ROW_TEXT(nameShot, 8, SYS, "ECM");
  EXPECT_ROW_TEXT(nameShot, 16, SYS, "EngineControl");
  EXPECT_ROW_TEXT(o2Shot, 16, SYS, "O2S11");
  EXPECT_ROW_TEXT(o2Shot, 24, SYS, "O2S24");

  EXPECT_ROW_TEXT(supShot, 8, SYS, "MIS_SUP");
  // The MIL belongs to the status since the codes were cleared; this drive cycle's status
  // starts with the monitors it enables.
  for (const Shot* s : {&statusAll, &statusSince}) EXPECT_ROW_TEXT(*s, 8, SYS, "MIL");
  EXPECT_ROW_TEXT(statusThis, 8, SYS, "MIS_ENA");
  // "Show Status [since DTCs cleared]" is wider than the display; its start must show.
  EXPECT_TRUE(ShowsText(filterSince.mem, 1, 8, SYS, "Show Status [since", true))
      << Dump(filterSince.mem);
  EXPECT_TRUE(ShowsText(menuSince.mem, 1, 16, SYS, txt[18])) << Dump(menuSince.mem);
  EXPECT_TRUE(ShowsText(unsupOn.mem, 1, 16, SYS, txt[135], true)) << Dump(unsupOn.mem);
}

// On ISO 9141-2 an ECU still computing its verification numbers stays silent: "NO DATA" makes
// the screen wait and ask again, and the repeated request brings the numbers.
TEST_F(ScreensE2e, VerificationNumbersAfterNoDataOnIso9141) {
  const ScreenPart vim = Title(145), cvn = Title(148);
  const uint8_t e8Cvn[4] = {0x16, 0xE0, 0x62, 0xBE};
  const ScreenPart cvnRow = CvnRows(e8Cvn, 1);
  const ScreenPart waiting = RenderText(0, 16, SYS, txt[48]);
  ASSERT_NO_FATAL_FAILURE(Connect(3));
  ASSERT_NO_FATAL_FAILURE(Open(3, vim));
  sendNoData = 1;  // the menu asks nothing: the next answer is the first one to the request
  ASSERT_NO_FATAL_FAILURE(Open(2, cvn));
  Shot waitShot, cvnShot;
  ASSERT_NO_FATAL_FAILURE(CaptureText(&waitShot, waiting));
  ASSERT_NO_FATAL_FAILURE(CapturePart(&cvnShot, cvnRow, 3000));
  ASSERT_NO_FATAL_FAILURE(Quit());
}

}  // namespace
