// Operator keys: the two-digit number memory and the letters that apply it to the simulated
// vehicle and module.
#include "host/key_loop.h"

#include <gtest/gtest.h>

#include "controller/controller.h"
#include "module/module.h"
#include "vehicle/vehicle.h"

namespace {

class OperatorKeys : public testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&keyMutex, nullptr);
    emu_ResetKeyLoop();
    emu_VehicleInit();
    emu_QimInitState();
    sendNoData = 0;
    sendCanError = 0;
  }
  void TearDown() override { pthread_mutex_destroy(&keyMutex); }
  void Type(const char* keys) {
    for (const char* k = keys; *k != '\0'; ++k) EXPECT_EQ(emu_HandleKeyValue(*k), 0) << *k;
  }
};

TEST_F(OperatorKeys, TwoDigitsMakeANumberAndAThirdStartsANewOne) {
  Type("3e");
  EXPECT_EQ(vehicle.maxEcu.load(), 3);
  Type("12d");
  EXPECT_EQ(keyLoop.numberMem, 12);
  Type("123d");
  EXPECT_EQ(keyLoop.numberMem, 3) << "the third digit started a new number";
  Type("5ed");
  EXPECT_EQ(vehicle.maxEcu.load(), 5) << "the same number applies to several letters";
  Type("9e");
  EXPECT_EQ(vehicle.maxEcu.load(), 5) << "nine ECUs are refused by the vehicle";
}

TEST_F(OperatorKeys, LettersThatDoNotEndANumberLetTheSecondDigitFollow) {
  Type("4m2");
  EXPECT_EQ(keyLoop.numberMem, 42) << "m keeps the number being typed";
  Type("4e2");
  EXPECT_EQ(keyLoop.numberMem, 2) << "e ended the number";
}

TEST_F(OperatorKeys, OneShotAnswersAndTheCanOnlyError) {
  emu_QimSetProtocol(3);  // ISO 9141-2
  Type("z");
  EXPECT_EQ(sendCanError.load(), 0) << "no CAN error on a K-line protocol";
  emu_QimSetProtocol(6);
  EXPECT_EQ(sendCanError.load(), 0) << "and none later either";
  Type("zy");
  EXPECT_EQ(sendCanError.load(), 1);
  EXPECT_EQ(sendNoData.load(), 1);
}

// On the serial CAN adapter there is no answer text to replace: y keeps the ECUs silent at the
// next request, z puts an error frame on the bus; both are on CAN whatever the module's protocol.
TEST_F(OperatorKeys, OnTheSerialCanAdapterTheOneShotsHappenOnTheBus) {
  emu_CarClearCanCues();
  serialCanServed = 1;
  emu_QimSetProtocol(3);
  Type("y");
  EXPECT_TRUE(emu_CarTakeCanCue(EmuCanCue::SilentRequest));
  EXPECT_FALSE(emu_CarTakeCanCue(EmuCanCue::ErrorFrame));
  Type("z");
  EXPECT_TRUE(emu_CarTakeCanCue(EmuCanCue::ErrorFrame));
  EXPECT_FALSE(emu_CarTakeCanCue(EmuCanCue::ErrorFrame)) << "once";
  EXPECT_EQ(sendNoData.load(), 0);
  EXPECT_EQ(sendCanError.load(), 0);
  serialCanServed = 0;
}

TEST_F(OperatorKeys, NumberMemoryShowsZeroBeforeAnyDigitAndQuitEndsTheLoop) {
  Type("n");
  EXPECT_EQ(keyLoop.numberMemIsEnabled, 1);
  EXPECT_EQ(keyLoop.numberMem, 0);
  EXPECT_EQ(emu_HandleKeyValue('q'), 1);
  EXPECT_EQ(emu_HandleKeyValue(0), 0) << "nothing typed: keys released, loop goes on";
  EXPECT_EQ(PINA, 0xFF);
}

}  // namespace
