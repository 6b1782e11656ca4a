// A learned car written as a vehicle file and loaded back, for cars unlike the built-in one: the
// file must load whatever addresses the car's ECUs have.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "learn/learned_car.h"
#include "tests/support/scratch_dir.h"
#include "vehicle/vehicle_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One ECU that answers 0100 (PID 01 and 0C supported) and those two PIDs.
EmuLearnedEcu OneEcu(uint8_t sender) {
  EmuLearnedEcu e;
  e.sender = sender;
  e.answers[{0x01, 0x00}] = {{0x41, 0x00, 0x80, 0x10, 0x00, 0x00}};
  e.answers[{0x01, 0x01}] = {{0x41, 0x01, 0x00, 0x07, 0x65, 0x00}};
  e.answers[{0x01, 0x0C}] = {{0x41, 0x0C, 0x0B, 0xB8}};
  return e;
}

// Builds, writes and loads the car; what the loaded file gives otherwise than the car did.
testing::AssertionResult LoadsBackTheSame(const EmuLearnedCar& car) {
  ScratchDir dir;
  const std::string file = dir.path + "/learned.toml";
  auto v = std::make_unique<EmuVehicle>();
  std::string error;
  if (emu_LearnBuildVehicle(car, *v, "learned.csv", &error) != 0) return testing::AssertionFailure() << error;
  (void)emu_LearnPutAndCompare(car, *v);
  if (emu_SaveVehicleFile(file.c_str(), &error) != 0) return testing::AssertionFailure() << error;
  if (emu_LoadVehicleFile(file.c_str(), &error) != 0) return testing::AssertionFailure() << error;
  emu_VehicleLock();
  emu_VehicleAssign(*v, vehicle);
  emu_VehicleUnlock();
  const std::vector<std::string> differ = emu_LearnPutAndCompare(car, *v);
  if (!differ.empty()) return testing::AssertionFailure() << differ.size() << " differ, first " << differ[0];
  return testing::AssertionSuccess();
}

TEST(LearnedCar, LoadsBackWhateverAddressesItsEcusHave) {
  // 11-bit CAN: an engine at 7EA alone, and two ECUs in the other order than the built-in car's.
  EmuLearnedCar can;
  can.protocol = 6;
  can.bus = EmuLearnBus::Can11;
  can.ecus = {OneEcu(0xEA)};
  EXPECT_TRUE(LoadsBackTheSame(can));
  can.ecus = {OneEcu(0xE9), OneEcu(0xE8)};
  EXPECT_TRUE(LoadsBackTheSame(can));
  // The K-line and 29-bit CAN: by their source address.
  EmuLearnedCar kline;
  kline.protocol = 3;
  kline.bus = EmuLearnBus::Serial;
  kline.ecus = {OneEcu(0x18)};
  EXPECT_TRUE(LoadsBackTheSame(kline));
  kline.protocol = 7;
  kline.bus = EmuLearnBus::Can29;
  kline.ecus = {OneEcu(0x18), OneEcu(0x10), OneEcu(0x28)};
  EXPECT_TRUE(LoadsBackTheSame(kline));
}

}  // namespace
