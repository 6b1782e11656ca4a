// The ECUs' diagnostic server byte for byte through the ELM327 v1.5, on 11-bit and 29-bit CAN:
// sessions and their time-out, security access with its attempts and delay, data identifiers
// that change the running car, trouble codes with status bits and snapshots, routines, and the
// order in which the request/answer table and the server answer. ECU 0 carries the server of
// tests/simulator/uds_ecu.h; the server's clock is the test's, so time passes only as the test
// says. Expected bytes: ECU 0's VIN 1234567890XYZABCD and RPM 01 10 (the default car).
#include <utility>

#include "tests/simulator/elm_adapter.h"
#include "tests/simulator/uds_ecu.h"
#include "vehicle/uds_server.h"

namespace {

using namespace elm_test;
using namespace uds_test;

uint64_t fakeNowMs = 1000;
uint64_t FakeClock() { return fakeNowMs; }

class UdsServer : public ElmAdapter {
 protected:
  void SetUp() override {
    ElmAdapter::SetUp();
    fakeNowMs = 1000;
    emu_udsClock = FakeClock;
    PutEngineServer(0);
    // Two confirmed codes with the lamp on, one pending, no permanent one.
    emu_VehicleLock();
    EmuEcu& e = vehicle.ecu[0];
    e.noOfDtcs = 2;
    e.noOfPendingDtcs = 1;
    e.noOfPermanentDtcs = 0;
    e.milState = 1;
    emu_VehicleUnlock();
    Quiet();
  }
  void TearDown() override {
    emu_udsClock = saved_;
    ElmAdapter::TearDown();
  }

  // One request to ECU 0 on 11-bit CAN, headers off.
  void Physical11() {
    ExpectOk("ATSP6");
    ExpectOk("ATSH 7E0");
  }

  void After(uint64_t ms) { fakeNowMs += ms; }

  uint64_t (*saved_)() = emu_udsClock;
};

std::string One(const std::string& hex) { return Lines({hex}); }

// ---------------------------------------------------------------------------------------------
// Sessions, security, DIDs, reset

TEST_F(UdsServer, UnlockWriteReadResetOn11BitCan) {
  Physical11();
  // In the default session the coding byte cannot be written, and security access is not served.
  EXPECT_EQ(Ask("22 0100"), One("62 01 00 05 "));
  EXPECT_EQ(Ask("2E 0100 07"), One("7F 2E 22 "));
  EXPECT_EQ(Ask("2701"), One("7F 27 7F "));
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  EXPECT_EQ(Ask("2E 0100 07"), One("7F 2E 33 "));
  EXPECT_EQ(Ask("2702 EDCB"), One("7F 27 24 "));  // a key before its seed
  EXPECT_EQ(Ask("2701"), One("67 01 12 34 "));
  EXPECT_EQ(Ask("2702 EDCB"), One("67 02 "));  // 1234 XOR FFFF
  EXPECT_EQ(Ask("2701"), One("67 01 00 00 "));  // unlocked: a zero seed
  EXPECT_EQ(Ask("2E 0100"), One("7F 2E 13 "));
  EXPECT_EQ(Ask("2E 0100 0708"), One("7F 2E 13 "));
  EXPECT_EQ(Ask("2E 0100 07"), One("6E 01 00 "));
  EXPECT_EQ(Ask("22 0100"), One("62 01 00 07 "));
  EXPECT_EQ(Ask("22 0200"), One("62 02 00 AB CD "));  // readable once unlocked
  // The VIN over several frames, and several DIDs in one request (an unknown one left out).
  EXPECT_EQ(Ask("22 F190"), Lines({"014 ", "0: 62 F1 90 31 32 33 ", "1: 34 35 36 37 38 39 30 ",
                                   "2: 58 59 5A 41 42 43 44 "}));
  EXPECT_EQ(Ask("22 0100 1234 F40C"), Lines({"008 ", "0: 62 01 00 07 F4 0C ", "1: 01 10 00 00 00 00 00 "}));
  EXPECT_EQ(Ask("22 1234"), One("7F 22 31 "));
  EXPECT_EQ(Ask("22 01"), One("7F 22 13 "));
  EXPECT_EQ(Ask("2E 1234 00"), One("7F 2E 31 "));
  // Reset: back to the default session, locked; the written byte stays.
  EXPECT_EQ(Ask("1101"), One("51 01 "));
  EXPECT_EQ(Ask("22 0200"), One("7F 22 33 "));
  EXPECT_EQ(Ask("22 0100"), One("62 01 00 07 "));
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  EXPECT_EQ(Ask("2E 0100 09"), One("7F 2E 33 "));
  // Resets other than the hard one only outside the default session; others not at all.
  EXPECT_EQ(Ask("1103"), One("51 03 "));
  EXPECT_EQ(Ask("1102"), One("7F 11 7E "));
  EXPECT_EQ(Ask("1104"), One("7F 11 12 "));
  EXPECT_EQ(Ask("1004"), One("7F 10 12 "));
  EXPECT_EQ(Ask("10"), One("7F 10 13 "));
}

TEST_F(UdsServer, UnlockWriteReadResetOn29BitCanWithHeaders) {
  ExpectOk("ATSP7");
  ExpectOk("ATH1");
  ExpectOk("ATSH DA10F1");
  const std::string from = "18 DA F1 10 ";
  EXPECT_EQ(Ask("1003"), One(from + "06 50 03 00 32 01 F4 00 "));
  EXPECT_EQ(Ask("2701"), One(from + "04 67 01 12 34 00 00 00 "));
  EXPECT_EQ(Ask("2702 EDCB"), One(from + "02 67 02 00 00 00 00 00 "));
  EXPECT_EQ(Ask("2E 0100 07"), One(from + "03 6E 01 00 00 00 00 00 "));
  EXPECT_EQ(Ask("22 0100"), One(from + "04 62 01 00 07 00 00 00 "));
  EXPECT_EQ(Ask("1101"), One(from + "02 51 01 00 00 00 00 00 "));
  EXPECT_EQ(Ask("2E 0100 08"), One(from + "03 7F 2E 22 00 00 00 00 "));
  // The other ECU has no server and stays silent.
  ExpectOk("ATSH DA18F1");
  EXPECT_EQ(Ask("1003"), One("NO DATA"));
}

// Automatic formatting off: the client frames its requests itself, a long one as a first frame
// that the ECU answers with its flow control, then consecutive frames; answers come as frames.
TEST_F(UdsServer, ARequestOverSevenBytesInTheClientsOwnFrames) {
  Physical11();
  ExpectOk("ATCAF0");
  EXPECT_EQ(Ask("02 1003"), One("06 50 03 00 32 01 F4 00 "));
  EXPECT_EQ(Ask("02 2701 00000000 00"), One("04 67 01 12 34 00 00 00 "));  // filled to 8 bytes
  EXPECT_EQ(Ask("04 2702 EDCB"), One("02 67 02 00 00 00 00 00 "));
  // A new VIN (PDX1234567890ABCD): 2E F1 90 and 17 bytes, 20 in all.
  const char* first = "10 14 2E F190 504458";
  const char* second = "21 31323334353637";
  const char* third = "22 38393041424344";
  EXPECT_EQ(Ask(first), One("30 00 00 00 00 00 00 00 "));
  EXPECT_EQ(Ask(second), One("NO DATA"));  // the message is not whole yet: nothing answers
  EXPECT_EQ(Ask(third), One("03 6E F1 90 00 00 00 00 "));
  EXPECT_EQ(Ask("03 22 F190"), Lines({"10 14 62 F1 90 50 44 58 ", "21 31 32 33 34 35 36 37 ",
                                      "22 38 39 30 41 42 43 44 "}));
  // A frame out of turn loses the message; a consecutive frame with none under way is no request.
  EXPECT_EQ(Ask(first), One("30 00 00 00 00 00 00 00 "));
  EXPECT_EQ(Ask(third), One("NO DATA"));
  EXPECT_EQ(Ask(second), One("NO DATA"));
  // A consecutive frame sent to another ECU than the first frame was.
  ExpectOk("ATH1");
  EXPECT_EQ(Ask(first), One("7E8 30 00 00 00 00 00 00 00 "));
  ExpectOk("ATSH 7E1");
  EXPECT_EQ(Ask(second), One("NO DATA"));
  ExpectOk("ATSH 7E0");
  EXPECT_EQ(Ask(second), One("NO DATA"));
  // A message longer than the ECU takes is refused with an overflow; a functional request must
  // fit one frame, so no ECU answers a first frame there.
  EXPECT_EQ(Ask("11 00 2E F190 504458"), One("7E8 32 00 00 00 00 00 00 00 "));
  ExpectOk("ATSH 7DF");
  EXPECT_EQ(Ask(first), One("NO DATA"));
  // Two bytes are the request itself, as with automatic formatting.
  ExpectOk("ATH0");
  EXPECT_EQ(Ask("0902"), Lines({"10 14 49 02 01 50 44 58 ", "21 31 32 33 34 35 36 37 ", "22 38 39 30 41 42 43 44 ",
                                "10 14 49 02 01 41 42 43 ", "21 44 45 46 47 48 4A 4B ", "22 4C 4D 4E 50 52 53 54 "}));
  // On 29-bit CAN the flow control comes from the ECU's own identifier.
  ExpectOk("ATSP7");
  ExpectOk("ATH1");
  ExpectOk("ATSH DA10F1");
  EXPECT_EQ(Ask("10 0A 2E 0100 000000"), One("18 DA F1 10 30 00 00 00 00 00 00 00 "));
  EXPECT_EQ(Ask("21 00000000"), One("18 DA F1 10 03 7F 2E 13 00 00 00 00 "));
}

// On the K-line (ISO 14230, fast init) the server answers the services such an ECU serves, asked
// at its own address; an answer longer than a message's 7 bytes is refused as too long.
TEST_F(UdsServer, OnTheKLineTheServerAnswersWhatFitsAMessage) {
  ExpectOk("ATSP5");
  ExpectOk("ATSH 8110F1");
  EXPECT_EQ(Ask("1003"), Lines({"BUS INIT: ...OK", "50 03 00 32 01 F4 "}));
  EXPECT_EQ(Ask("2701"), One("67 01 12 34 "));
  EXPECT_EQ(Ask("2702 0000"), One("7F 27 35 "));
  EXPECT_EQ(Ask("2701"), One("67 01 12 34 "));
  EXPECT_EQ(Ask("2702 EDCB"), One("67 02 "));
  EXPECT_EQ(Ask("2E 0100 07"), One("6E 01 00 "));
  EXPECT_EQ(Ask("22 0100"), One("62 01 00 07 "));
  EXPECT_EQ(Ask("22 F190"), One("7F 22 14 "));
  EXPECT_EQ(Ask("1901 FF"), One("59 01 FF 01 00 03 "));
  EXPECT_EQ(Ask("1902 04"), One("59 02 FF 02 30 00 27 "));
  EXPECT_EQ(Ask("1902 FF"), One("7F 19 14 "));
  EXPECT_EQ(Ask("3101 0203"), One("71 01 02 03 "));
  EXPECT_EQ(Ask("3E00"), One("7E 00 "));
  EXPECT_EQ(Ask("2801 01"), One("7F 28 11 "));  // no communication control on the K-line
  ExpectOk("ATH1");
  EXPECT_EQ(Ask("1101"), One(Hex({0x82, 0xF1, 0x10, 0x51, 0x01, 0xD5})));
  ExpectOk("ATH0");
  EXPECT_EQ(Ask("22 0200"), One("7F 22 33 "));  // locked again
  // Asked at the functional address, it answers only what may be asked of every ECU.
  ExpectOk("ATSH C133F1");
  EXPECT_EQ(Ask("3E00"), One("7E 00 "));
  EXPECT_EQ(Ask("2701"), One("NO DATA"));
}

TEST_F(UdsServer, ALiveDidFollowsTheCarAndAWriteChangesIt) {
  Physical11();
  EXPECT_EQ(Ask("22 F40C"), One("62 F4 0C 01 10 "));
  EXPECT_EQ(Ask("2E F40C 0FA0"), One("7F 2E 22 "));
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  EXPECT_EQ(Ask("2E F40C 0FA0"), One("6E F4 0C "));
  EXPECT_EQ(Ask("22 F40C"), One("62 F4 0C 0F A0 "));
  EXPECT_EQ(Ask("010C"), One("41 0C 0F A0 "));
}

TEST_F(UdsServer, SecurityAttemptsDelayAndEachSeedRule) {
  Physical11();
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  // Two wrong keys are invalid; the third locks the level out; a seed is refused until the
  // delay has passed, then the right key opens it.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Ask("2701"), One("67 01 12 34 "));
    EXPECT_EQ(Ask("2702 0000"), One("7F 27 35 "));
  }
  EXPECT_EQ(Ask("2702 EDCB"), One("7F 27 24 "));  // the seed served one key only
  EXPECT_EQ(Ask("2701"), One("67 01 12 34 "));
  EXPECT_EQ(Ask("2702 0000"), One("7F 27 36 "));
  After(4000);
  EXPECT_EQ(Ask("3E00"), One("7E 00 "));
  After(4000);
  EXPECT_EQ(Ask("2701"), One("7F 27 37 "));
  After(1999);
  EXPECT_EQ(Ask("2701"), One("7F 27 37 "));
  After(1);
  EXPECT_EQ(Ask("2701"), One("67 01 12 34 "));
  EXPECT_EQ(Ask("2702 EDCB"), One("67 02 "));
  // The attempts start over: two wrong keys on another level are not yet too many.
  EXPECT_EQ(Ask("2703"), One("67 03 10 00 00 00 "));  // a counter
  EXPECT_EQ(Ask("2704 00000000"), One("7F 27 35 "));
  EXPECT_EQ(Ask("2703"), One("67 03 10 00 00 01 "));
  EXPECT_EQ(Ask("2704 11010102"), One("67 04 "));  // seed + 01010101
  EXPECT_EQ(Ask("2705"), One("67 05 56 78 "));
  EXPECT_EQ(Ask("2706 9ABD"), One("7F 27 35 "));
  EXPECT_EQ(Ask("2705"), One("67 05 56 78 "));
  EXPECT_EQ(Ask("2706 9ABC"), One("67 06 "));  // from the table
  EXPECT_EQ(Ask("2706 9ABC 00"), One("7F 27 24 "));
  EXPECT_EQ(Ask("2705"), One("67 05 00 00 "));
  EXPECT_EQ(Ask("2706 9ABC"), One("7F 27 24 "));  // a zero seed awaits no key
  EXPECT_EQ(Ask("2705 00"), One("7F 27 13 "));
  EXPECT_EQ(Ask("2707"), One("7F 27 12 "));
}

// A reset starts the count of wrong keys over, but a level locked out waits out its delay.
TEST_F(UdsServer, AResetCountsWrongKeysAnewButKeepsTheDelay) {
  Physical11();
  const auto wrongKey = [this](const char* answer) {
    EXPECT_EQ(Ask("2701"), One("67 01 12 34 "));
    EXPECT_EQ(Ask("2702 0000"), One(answer));
  };
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  wrongKey("7F 27 35 ");
  wrongKey("7F 27 35 ");
  EXPECT_EQ(Ask("1101"), One("51 01 "));
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  wrongKey("7F 27 35 ");
  wrongKey("7F 27 35 ");
  wrongKey("7F 27 36 ");
  EXPECT_EQ(Ask("1101"), One("51 01 "));
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  EXPECT_EQ(Ask("2701"), One("7F 27 37 "));
  After(10000);  // the session has timed out meanwhile
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  wrongKey("7F 27 35 ");
}

TEST_F(UdsServer, SessionFallsBackAfterFiveSecondsOfSilence) {
  Physical11();
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  EXPECT_EQ(Ask("2701"), One("67 01 12 34 "));
  EXPECT_EQ(Ask("2702 EDCB"), One("67 02 "));
  // Tester present keeps the session, the answer suppressed or not; so does any request.
  After(4999);
  EXPECT_EQ(Ask("3E00"), One("7E 00 "));
  After(4999);
  EXPECT_EQ(Ask("3E80"), One("NO DATA"));
  After(4999);
  EXPECT_EQ(Ask("2E 0100 07"), One("6E 01 00 "));
  // Five seconds without a request: the default session, locked.
  After(5000);
  EXPECT_EQ(Ask("2E 0100 08"), One("7F 2E 22 "));
  EXPECT_EQ(Ask("2701"), One("7F 27 7F "));
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  EXPECT_EQ(Ask("2E 0100 08"), One("7F 2E 33 "));
  // The default session has nothing to fall back from.
  EXPECT_EQ(Ask("1001"), One("50 01 00 32 01 F4 "));
  After(60000);
  EXPECT_EQ(Ask("22 0100"), One("62 01 00 07 "));
}

// ---------------------------------------------------------------------------------------------
// Trouble codes

TEST_F(UdsServer, ReadCodesBySubFunction) {
  Physical11();
  // 0100 and 0101 confirmed with the lamp on (AB), 0230 pending (27).
  EXPECT_EQ(Ask("1901 FF"), One("59 01 FF 01 00 03 "));
  EXPECT_EQ(Ask("1901 04"), One("59 01 FF 01 00 01 "));
  EXPECT_EQ(Ask("1901 80"), One("59 01 FF 01 00 02 "));
  EXPECT_EQ(Ask("1902 FF"), Lines({"00F ", "0: 59 02 FF 01 00 00 ", "1: AB 01 01 00 AB 02 30 ",
                                   "2: 00 27 00 00 00 00 00 "}));
  EXPECT_EQ(Ask("1902 04"), One("59 02 FF 02 30 00 27 "));
  EXPECT_EQ(Ask("1902 40"), One("59 02 FF "));
  EXPECT_EQ(Ask("190A"), Lines({"00F ", "0: 59 0A FF 01 00 00 ", "1: AB 01 01 00 AB 02 30 ",
                                "2: 00 27 00 00 00 00 00 "}));
  EXPECT_EQ(Ask("1906 010000 01"), Lines({"008 ", "0: 59 06 01 00 00 AB ", "1: 01 01 00 00 00 00 00 "}));
  EXPECT_EQ(Ask("1906 010000 02"), One("7F 19 31 "));
  EXPECT_EQ(Ask("1906 099900 01"), One("7F 19 31 "));
  EXPECT_EQ(Ask("1905"), One("7F 19 12 "));
  EXPECT_EQ(Ask("1902"), One("7F 19 13 "));
  // Clearing: the confirmed codes stay as permanent ones (confirmed, no longer failing).
  EXPECT_EQ(Ask("14 0999 00"), One("7F 14 31 "));
  EXPECT_EQ(Ask("14 FFFF"), One("7F 14 13 "));
  EXPECT_EQ(Ask("14 FFFFFF"), One("54 "));
  EXPECT_EQ(Ask("1902 FF"), Lines({"00B ", "0: 59 02 FF 01 00 00 ", "1: 08 01 01 00 08 00 00 "}));
  EXPECT_EQ(Ask("03"), One("43 00 "));
}

TEST_F(UdsServer, SnapshotIsTheFreezeFrameAsDids) {
  // The freeze frame holds PIDs 0C and 0D only: the snapshot is those two as F40C and F40D.
  emu_VehicleLock();
  uint8_t* row = vehicle.ecu[0].supPidsSid02;
  for (uint8_t i = 0; i < EMU_SUP_PID_BYTES; ++i) row[i] = 0;
  row[emu_PidByte(0x02)] |= emu_PidMask(0x02);
  row[emu_PidByte(0x0C)] |= emu_PidMask(0x0C);
  row[emu_PidByte(0x0D)] |= emu_PidMask(0x0D);
  emu_VehicleUnlock();
  EmuEcuAnswer rpm, speed;
  emu_InitFrameData(0x02, 0x0C, 0, 0, true, &rpm);    // 42 0C 00 A B
  emu_InitFrameData(0x02, 0x0D, 0, 0, true, &speed);  // 42 0D 00 A
  ASSERT_EQ(rpm.length, 5);
  ASSERT_EQ(speed.length, 4);
  Physical11();
  const std::string snapshot = Hex({0x59, 0x04, 0x01, 0x00, 0x00, 0xAB, 0x01, 0x02, 0xF4, 0x0C, rpm.data[3],
                                    rpm.data[4], 0xF4, 0x0D, speed.data[3]});
  // Fifteen bytes over three frames, as above.
  const std::string all = snapshot;
  EXPECT_EQ(Ask("1904 010000 01"),
            Lines({"00F ", "0: " + all.substr(0, 18), "1: " + all.substr(18, 21), "2: " + all.substr(39) + "00 00 00 00 00 "}));
  EXPECT_EQ(Ask("1904 010000 FF"),
            Lines({"00F ", "0: " + all.substr(0, 18), "1: " + all.substr(18, 21), "2: " + all.substr(39) + "00 00 00 00 00 "}));
  // A code that stored no freeze frame has no record; a code the ECU does not have is refused.
  EXPECT_EQ(Ask("1904 010100 01"), One("59 04 01 01 00 AB "));
  EXPECT_EQ(Ask("1904 099900 01"), One("7F 19 31 "));
}

// ---------------------------------------------------------------------------------------------
// Routines, communication control, DTC setting

TEST_F(UdsServer, RoutinesRunAndFinish) {
  Physical11();
  EXPECT_EQ(Ask("3101 0203"), One("7F 31 7F "));
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  EXPECT_EQ(Ask("3103 0203"), One("7F 31 24 "));  // results before a start
  EXPECT_EQ(Ask("3102 0203"), One("7F 31 24 "));
  EXPECT_EQ(Ask("3101 0203"), One("71 01 02 03 "));
  EXPECT_EQ(Ask("3101 0203"), One("7F 31 24 "));  // already running
  After(999);
  EXPECT_EQ(Ask("3103 0203"), One("71 03 02 03 01 "));
  After(1);
  EXPECT_EQ(Ask("3103 0203"), One("71 03 02 03 02 "));
  EXPECT_EQ(Ask("3102 0203"), One("7F 31 24 "));
  // Stopped while it runs.
  EXPECT_EQ(Ask("3101 0203"), One("71 01 02 03 "));
  EXPECT_EQ(Ask("3102 0203"), One("71 02 02 03 "));
  EXPECT_EQ(Ask("3103 0203"), One("71 03 02 03 03 "));
  // One that needs the level unlocked, done at once with its results.
  EXPECT_EQ(Ask("3101 FF00"), One("7F 31 33 "));
  EXPECT_EQ(Ask("2701"), One("67 01 12 34 "));
  EXPECT_EQ(Ask("2702 EDCB"), One("67 02 "));
  EXPECT_EQ(Ask("3101 FF00"), One("71 01 FF 00 "));
  EXPECT_EQ(Ask("3103 FF00"), One("71 03 FF 00 02 AA 55 "));
  EXPECT_EQ(Ask("3101 1234"), One("7F 31 31 "));
  EXPECT_EQ(Ask("3104 FF00"), One("7F 31 12 "));
  EXPECT_EQ(Ask("3101 FF"), One("7F 31 13 "));
}

TEST_F(UdsServer, CommunicationControlAndDtcSettingOnlyInTheExtendedSession) {
  Physical11();
  EXPECT_EQ(Ask("2803 01"), One("7F 28 7F "));
  EXPECT_EQ(Ask("8502"), One("7F 85 7F "));
  EXPECT_EQ(Ask("1002"), One("50 02 00 32 01 F4 "));
  EXPECT_EQ(Ask("8502"), One("7F 85 7F "));
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  EXPECT_EQ(Ask("2803 01"), One("68 03 "));
  EXPECT_EQ(Ask("2800 01"), One("68 00 "));
  EXPECT_EQ(Ask("2883 01"), One("NO DATA"));  // answer suppressed
  EXPECT_EQ(Ask("2804 01"), One("7F 28 12 "));
  EXPECT_EQ(Ask("2800 09"), One("7F 28 31 "));
  EXPECT_EQ(Ask("8502"), One("C5 02 "));
  EXPECT_EQ(Ask("8501"), One("C5 01 "));
  EXPECT_EQ(Ask("8503"), One("7F 85 12 "));
  // Negative answers are not suppressed.
  EXPECT_EQ(Ask("8583"), One("7F 85 12 "));
}

// ---------------------------------------------------------------------------------------------
// Where the server stands among the car's answers

TEST_F(UdsServer, SlowDidAnswersPendingThenTheData) {
  Physical11();
  EXPECT_EQ(Ask("22 0300"), Lines({"7F 22 78 ", "62 03 00 42 "}));
}

TEST_F(UdsServer, TableEntriesAroundTheServerAndServicesItDoesNotServe) {
  Physical11();
  EXPECT_EQ(Ask("23 00 10 00 01"), One("7F 23 11 "));
  EXPECT_EQ(Ask("0100"), One("41 00 FF FF FF F7 "));  // the car's own answer first
  // An exact entry overrides the server; a wildcard entry comes after it.
  auto add = [](std::vector<uint8_t> request, bool wildcard, std::vector<uint8_t> answer) {
    EmuTableEntry e{};
    e.ecuIdx = 0;
    e.wildcard = wildcard ? 1 : 0;
    e.requestLength = static_cast<uint8_t>(request.size());
    for (size_t i = 0; i < request.size(); ++i) e.request[i] = request[i];
    const char* error = nullptr;
    emu_VehicleLock();
    const bool added = emu_TableAdd(vehicle, e, {answer.data(), static_cast<uint8_t>(answer.size()), 0}, {nullptr, 0, 0},
                                    &error);
    emu_VehicleUnlock();
    ASSERT_TRUE(added) << error;
  };
  add({0x22, 0x01, 0x00}, false, {0x62, 0x01, 0x00, 0x99});
  add({0x22}, true, {0x62, 0xEE, 0xEE});
  add({0x23}, true, {0x63, 0x11});
  EXPECT_EQ(Ask("22 0100"), One("62 01 00 99 "));
  EXPECT_EQ(Ask("22 0300"), Lines({"7F 22 78 ", "62 03 00 42 "}));
  EXPECT_EQ(Ask("22 1234"), One("7F 22 31 "));
  EXPECT_EQ(Ask("23 00 10 00 01"), One("63 11 "));
}

TEST_F(UdsServer, FunctionalRequestsReachOnlyTheServicesThatAllowThem) {
  ExpectOk("ATSP6");
  ExpectOk("ATH1");
  // At 7DF (and with no header set) ECU 0 answers a session change; ECU 1 has no server.
  EXPECT_EQ(Ask("1003"), One("7E8 06 50 03 00 32 01 F4 00 "));
  ExpectOk("ATSH 7DF");
  EXPECT_EQ(Ask("3E00"), One("7E8 02 7E 00 00 00 00 00 00 "));
  // Security access and writes only at the ECU's own address; what it lacks is not refused.
  EXPECT_EQ(Ask("2701"), One("NO DATA"));
  EXPECT_EQ(Ask("2E 0100 07"), One("NO DATA"));
  EXPECT_EQ(Ask("22 1234"), One("NO DATA"));
  EXPECT_EQ(Ask("23 00 10 00 01"), One("NO DATA"));
  EXPECT_EQ(Ask("22 0100"), One("7E8 04 62 01 00 05 00 00 00 "));
  ExpectOk("ATSH 7E0");
  EXPECT_EQ(Ask("2701"), One("7E8 04 67 01 12 34 00 00 00 "));
}

TEST_F(UdsServer, AnEcuWithoutItsServerAnswersAsBefore) {
  emu_VehicleInit();  // the default car: no server anywhere
  Physical11();
  for (const char* request : {"1003", "3E00", "2701", "22F190", "1902FF", "14FFFFFF", "3101FF00", "23001000"})
    EXPECT_EQ(Ask(request), One("NO DATA")) << request;
  EXPECT_EQ(emu_UdsStatus(0).session, EMU_UDS_SESSION_DEFAULT);
}

TEST_F(UdsServer, StatusShowsTheSessionAndTheLock) {
  Physical11();
  EXPECT_EQ(emu_UdsStatus(0).session, EMU_UDS_SESSION_DEFAULT);
  EXPECT_EQ(Ask("1003"), One("50 03 00 32 01 F4 "));
  EXPECT_EQ(Ask("2701"), One("67 01 12 34 "));
  EXPECT_EQ(Ask("2702 EDCB"), One("67 02 "));
  EXPECT_EQ(emu_UdsStatus(0).session, EMU_UDS_SESSION_EXTENDED);
  EXPECT_EQ(emu_UdsStatus(0).unlockedLevel, 1);
  // A car put in anew starts its servers over.
  emu_VehicleInit();
  EXPECT_EQ(emu_UdsStatus(0).session, EMU_UDS_SESSION_DEFAULT);
  EXPECT_EQ(emu_UdsStatus(0).unlockedLevel, 0);
}

}  // namespace
