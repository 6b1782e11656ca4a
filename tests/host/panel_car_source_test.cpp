// The test bench panel's car source, without a window: what it reads of the running car changes
// nothing, and what it changes goes through the vehicle file's setter, as "set" does, so that the
// ECUs answer a client with it and a save writes it.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "adapter/line_faults.h"
#include "host/panel_sources.h"
#include "tests/support/wait_for.h"
#include "vehicle/timeline.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"

namespace fs = std::filesystem;

namespace {

const EmuPanelCarSource& source = PANEL_CAR_SOURCE;

class PanelCarSource : public ::testing::Test {
 protected:
  void SetUp() override {
    emu_VehicleInit();
    emu_TimelineReplace({});
    emu_LineFaultsArmError(-1);
    emu_LineFaultsArmStall(0);
    emu_LineFaultsArmSilence(false);
    noOfItems_ = source.items(items_, EMU_PANEL_MAX_ITEMS);
    dir_ = fs::temp_directory_path() / ("padix_panel_car_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    emu_TimelineReplace({});
    emu_LineFaultsArmError(-1);
    emu_LineFaultsArmStall(0);
    emu_LineFaultsArmSilence(false);
    emu_VehicleInit();
    fs::remove_all(dir_);
  }

  int Item(const char* name) const {
    for (int i = 0; i < noOfItems_; ++i)
      if (std::string(items_[i].name) == name) return i;
    ADD_FAILURE() << "no item " << name;
    return 0;
  }
  static EmuPanelCar Car(uint8_t ecuIdx = 0) {
    EmuPanelCar car;
    source.car(ecuIdx, &car);
    return car;
  }
  // The data bytes ECU ecuIdx answers to service 01 with this PID, as text ("0C 35").
  static std::string Answer(uint8_t pid, uint8_t ecuIdx = 0) {
    EmuEcuAnswer answer;
    answer.Clear();
    emu_InitFrameData(0x01, pid, 0, ecuIdx, true, &answer);
    std::string text;
    char byte[4];
    for (uint8_t i = 2; i < answer.length; ++i) {
      snprintf(byte, sizeof byte, "%02X", answer.data[i]);
      text += (i == 2 ? "" : " ") + std::string(byte);
    }
    return text;
  }
  std::string Saved() const {
    const std::string path = (dir_ / "saved.toml").string();
    std::string error;
    EXPECT_EQ(emu_SaveVehicleFile(path.c_str(), &error), 0) << error;
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }
  std::string Load(const std::string& text) const {
    const std::string path = (dir_ / "car.toml").string();
    std::ofstream(path) << text;
    std::string error;
    return emu_LoadVehicleFile(path.c_str(), &error) == 0 ? "" : error;
  }
  static std::string Rows() {
    EmuPanelFaults faults;
    source.faults(&faults);
    std::string rows;
    for (int i = 0; i < faults.noOfRows; ++i) rows += std::string(faults.row[i].what) + " | " + faults.row[i].state + "\n";
    return rows;
  }

  EmuPanelItem items_[EMU_PANEL_MAX_ITEMS];
  int noOfItems_ = 0;
  fs::path dir_;
  char why_[160] = "";
};

TEST_F(PanelCarSource, LiveValuesCarryTheVehicleFilesNamesLimitsAndUnits) {
  struct Expected {
    const char* name;
    double low, high;
    const char* unit;
  };
  for (const Expected& e : {Expected{"rpm", 0, 16383.75, "rpm"}, Expected{"speed", 0, 255, "km/h"},
                            Expected{"coolant", -40, 215, "C"}, Expected{"maf", 0, 655.35, "g/s"},
                            Expected{"throttle", 0, 100, "%"}, Expected{"fuel_level", 0, 100, "%"},
                            Expected{"battery", 0, 25.5, "V"}}) {
    const EmuPanelItem& item = items_[Item(e.name)];
    EXPECT_DOUBLE_EQ(item.low, e.low) << e.name;
    EXPECT_NEAR(item.high, e.high, 1e-9) << e.name;
    EXPECT_STREQ(item.unit, e.unit) << e.name;
    // Each one is a name "set" takes.
    std::string error;
    const std::string name = std::string(e.name) == "battery" ? "battery" : std::string("ecu.1.") + e.name;
    EXPECT_EQ(emu_SetVehicleValue(name.c_str(), "1", &error), 0) << error;
  }
}

TEST_F(PanelCarSource, AValueSetIsWhatTheEcuAnswersAndWhatASaveWrites) {
  ASSERT_EQ(source.setItem(0, Item("rpm"), 2500, why_, sizeof why_), 0) << why_;
  EXPECT_EQ(Answer(0x0C), "27 10");  // 2500 x 4
  EXPECT_DOUBLE_EQ(Car().value[Item("rpm")], 2500);
  // A value between two raw steps is sent as the nearest one, and the save reads back to it.
  ASSERT_EQ(source.setItem(1, Item("coolant"), 87.4, why_, sizeof why_), 0) << why_;
  EXPECT_EQ(Answer(0x05, 1), "7F");  // 87 + 40
  ASSERT_EQ(source.setItem(0, Item("battery"), 11.8, why_, sizeof why_), 0) << why_;
  EXPECT_EQ(vehicle.batteryDeciVolts, 118);
  const std::string saved = Saved();
  EXPECT_NE(saved.find("rpm = 2500\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("coolant = 87\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("battery = 11.8\n"), std::string::npos) << saved;

  // Past the limits: refused with the reason, the car as it was.
  EXPECT_EQ(source.setItem(0, Item("speed"), 300, why_, sizeof why_), -1);
  EXPECT_STREQ(why_, "value out of range for speed");
  EXPECT_EQ(source.setItem(0, EMU_PANEL_MAX_ITEMS, 1, why_, sizeof why_), -1);
  EXPECT_DOUBLE_EQ(Car().value[Item("rpm")], 2500);
}

TEST_F(PanelCarSource, AMovingValueIsReadWithoutBeingMovedAndASetHoldsIt) {
  ASSERT_EQ(Load("[ecu.1]\nspeed = { from = 0, to = 200, wave = \"walk\", period = 1 }\n"
                 "rpm = { from = 800, to = 6000, wave = \"ramp\", period = 0.2 }\n"),
            "");
  const EmuEcu& ecu = vehicle.ecu[0];
  int speed = 0;
  while (speed < ecu.noOfMotions && ecu.motion[speed].pid != 0x0D) ++speed;
  ASSERT_LT(speed, ecu.noOfMotions);
  const uint32_t walk = ecu.motion[speed].walk;
  EmuPanelCar car = Car();
  for (int i = 0; i < 50; ++i) car = Car();
  // A look at a random walk does not step it: only the answers a client asks for do.
  EXPECT_EQ(ecu.motion[speed].walk, walk);
  EXPECT_DOUBLE_EQ(car.value[Item("speed")], walk);
  EXPECT_TRUE(car.moves[Item("speed")]);
  EXPECT_TRUE(car.moves[Item("rpm")]);
  EXPECT_FALSE(car.moves[Item("coolant")]);
  // The ramp is read where it stands now, so reads a while apart differ.
  const double first = Car().value[Item("rpm")];
  EXPECT_TRUE(WaitFor([&] { return Car().value[Item("rpm")] != first; }));

  ASSERT_EQ(source.setItem(0, Item("rpm"), 1000, why_, sizeof why_), 0) << why_;
  car = Car();
  EXPECT_FALSE(car.moves[Item("rpm")]);
  EXPECT_DOUBLE_EQ(car.value[Item("rpm")], 1000);
  EXPECT_EQ(Answer(0x0C), "0F A0");
}

TEST_F(PanelCarSource, CodesAreAddedAndRemovedByKindAndTheLampFollowsItsBox) {
  ASSERT_EQ(source.setItem(0, Item("rpm"), 800, why_, sizeof why_), 0);
  std::string error;
  ASSERT_EQ(emu_SetVehicleValue("ecu.1.dtc.confirmed", "none", &error), 0) << error;
  ASSERT_EQ(emu_SetVehicleValue("ecu.1.dtc.pending", "none", &error), 0) << error;

  ASSERT_EQ(source.addCode(0, 0, " P0301 ", why_, sizeof why_), 0) << why_;
  ASSERT_EQ(source.addCode(0, 0, "C1234", why_, sizeof why_), 0) << why_;
  ASSERT_EQ(source.addCode(0, 1, "P0420", why_, sizeof why_), 0) << why_;
  ASSERT_EQ(source.addCode(0, 0, "p0301", why_, sizeof why_), 0) << why_;  // there already
  EmuPanelCar car = Car();
  ASSERT_EQ(car.noOfCodes[0], 2);
  EXPECT_EQ(car.code[0][0], 0x0301);
  EXPECT_EQ(car.code[0][1], 0x5234);
  ASSERT_EQ(car.noOfCodes[1], 1);
  EXPECT_EQ(car.code[1][0], 0x0420);
  EXPECT_EQ(vehicle.ecu[0].noOfDtcs, 2);  // what service 03 answers with

  // A bad code or a list is refused, the codes as they were.
  EXPECT_EQ(source.addCode(0, 0, "X0301", why_, sizeof why_), -1);
  EXPECT_NE(std::string(why_), "");
  EXPECT_EQ(source.addCode(0, 0, "P0301,P0302", why_, sizeof why_), -1);
  EXPECT_EQ(source.addCode(0, 3, "P0301", why_, sizeof why_), -1);
  EXPECT_EQ(Car().noOfCodes[0], 2);

  ASSERT_EQ(source.removeCode(0, 0, 0x0301, why_, sizeof why_), 0) << why_;
  ASSERT_EQ(source.removeCode(0, 1, 0x0420, why_, sizeof why_), 0) << why_;
  EXPECT_EQ(source.removeCode(0, 1, 0x0420, why_, sizeof why_), 0);  // gone already
  car = Car();
  ASSERT_EQ(car.noOfCodes[0], 1);
  EXPECT_EQ(car.code[0][0], 0x5234);
  EXPECT_EQ(car.noOfCodes[1], 0);

  for (bool on : {true, false, true}) {
    ASSERT_EQ(source.setLamp(1, on, why_, sizeof why_), 0) << why_;
    EXPECT_EQ(Car(1).lamp, on ? 1 : 0);
    EXPECT_EQ(vehicle.ecu[1].milState, on ? 1 : 0);
  }
}

std::atomic<int> drops{0};

TEST_F(PanelCarSource, OneShotFaultsActOnTheNextAnswerOnly) {
  int shots = 0;
  int noData = -1, late = -1, drop = -1;
  for (const char* label; (label = source.oneShot(shots)) != nullptr; ++shots) {
    const std::string l = label;
    if (l == "Next answer NO DATA") noData = shots;
    if (l.find("late") != std::string::npos) late = shots;
    if (l.find("Drop") != std::string::npos) drop = shots;
  }
  ASSERT_GE(noData, 0);
  ASSERT_GE(late, 0);
  ASSERT_GE(drop, 0);
  EXPECT_EQ(source.fireOneShot(shots, why_, sizeof why_), -1);

  EXPECT_EQ(emu_LineFaultsDrawError(), -1);
  ASSERT_EQ(source.fireOneShot(noData, why_, sizeof why_), 0);
  EXPECT_NE(Rows().find("next answer NO DATA | armed"), std::string::npos) << Rows();
  EXPECT_EQ(emu_LineFaultsDrawError(), EMU_FAULT_NO_DATA);
  EXPECT_EQ(emu_LineFaultsDrawError(), -1);
  EXPECT_EQ(Rows(), "");

  ASSERT_EQ(source.fireOneShot(late, why_, sizeof why_), 0);
  EXPECT_NE(Rows().find("next answer 2000 ms late | armed"), std::string::npos) << Rows();
  EXPECT_EQ(emu_LineFaultsArmed().stallMs, 2000u);
  // A new car leaves it armed (it is no setting of the car); every fault off disarms it.
  EXPECT_EQ(Load(""), "");
  EXPECT_EQ(emu_LineFaultsArmed().stallMs, 2000u);
  ASSERT_EQ(source.clearFaults(why_, sizeof why_), 0) << why_;
  EXPECT_EQ(emu_LineFaultsArmed().stallMs, 0u);

  drops = 0;
  emu_LineFaultsSetDrop([] { ++drops; });
  ASSERT_EQ(source.fireOneShot(drop, why_, sizeof why_), 0) << why_;
  EXPECT_EQ(drops, 1);
  emu_LineFaultsSetDrop(nullptr);
}

TEST_F(PanelCarSource, TheListShowsTheFaultsSetAndTheTimelineAndAllGoOffAtOnce) {
  std::string error;
  const char* const settings[][2] = {{"faults.error_rate", "0.25"}, {"faults.errors", "NO DATA,BUS BUSY"},
                                     {"faults.stall", "300"},        {"ecu.2.silent", "true"},
                                     {"ignition", "false"},          {"ecu.1.answer_delay", "150"}};
  for (const auto& [name, value] : settings)
    ASSERT_EQ(emu_SetVehicleValue(name, value, &error), 0) << name << ": " << error;
  EXPECT_EQ(Rows(),
            "faults.stall | 300\n"
            "faults.error_rate | 0.25: NO DATA, BUS BUSY\n"
            "ignition | off\n"
            "ecu.1.answer_delay | 150 ms\n"
            "ecu.2.silent | true\n");

  ASSERT_EQ(source.clearFaults(why_, sizeof why_), 0) << why_;
  EXPECT_EQ(Rows(), "");
  const EmuFaults f = emu_FaultsNow();
  EXPECT_EQ(f.errorRate, 0);
  EXPECT_EQ(f.ignition, 1);
  EXPECT_EQ(f.ecu[1].silent, 0);

  ASSERT_EQ(Load("[[events]]\nat = 0\nset = \"ecu.1.rpm\"\nvalue = 3000\n\n"
                 "[[events]]\nat = 2\nfrom = \"connect\"\ndtc = \"P0301\"\n\n"
                 "[[events]]\nat = 500\nclear_dtcs = true\n\n"
                 "[[events]]\nat = 0.5\nset = \"ecu.1.nothing\"\nvalue = 1\n"),
            "");
  EXPECT_TRUE(WaitFor([] { return Rows().find("| failed") != std::string::npos; })) << Rows();
  EXPECT_EQ(Rows(),
            "at 0s set ecu.1.rpm 3000 | done\n"
            "at 2s of a client dtc P0301 on ECU 1 | waits for a client\n"
            "at 500s clear every ECU's codes | in 500 s\n"
            "at 0.5s set ecu.1.nothing 1 | failed\n");
}

}  // namespace
