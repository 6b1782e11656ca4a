// The simulated vehicle: its defaults where a typo would go unnoticed, the operator's setters and
// their limits, the oxygen-sensor bank configurations, supported-PID chaining, data jitter and
// the clearing of codes. Answers are checked as the bytes one ECU contributes, before framing.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "bus/hex.h"
#include "module/module.h"
#include "vehicle/vehicle.h"

namespace {

class Vehicle : public ::testing::Test {
 protected:
  void SetUp() override {
    emu_QimInitState();
    emu_VehicleInit();
    emu_QimSetProtocol(6);
  }
  void TearDown() override {
    emu_QimInitState();
    emu_VehicleInit();
  }

  // One ECU's answer data, a hex string per line (per message on CAN).
  static std::vector<std::string> Data(uint8_t service, uint8_t pid, uint8_t ecu, bool can = true,
                                       uint8_t frame = 0) {
    EmuEcuAnswer answer;
    emu_InitFrameData(service, pid, frame, ecu, can, &answer);
    std::vector<std::string> lines;
    for (uint8_t line = 0; line < answer.noOfLines; ++line) {
      std::string text;
      for (uint8_t i = answer.LineStart(line); i < answer.lineEnd[line]; ++i) {
        text += emu_GetHighNibble(answer.data[i]);
        text += emu_GetLowNibble(answer.data[i]);
      }
      lines.push_back(text);
    }
    return lines;
  }
  static std::string One(uint8_t service, uint8_t pid, uint8_t ecu, bool can = true, uint8_t frame = 0) {
    const std::vector<std::string> lines = Data(service, pid, ecu, can, frame);
    return lines.size() == 1 ? lines[0] : "lines: " + std::to_string(lines.size());
  }
  static bool Supported(uint8_t pid, uint8_t ecu = 0) { return emu_VehicleSupportsPid(1, pid, 0, ecu); }
};

using Lines = std::vector<std::string>;

TEST_F(Vehicle, DefaultsThatAnswersShowAsListed) {
  // PID 01 of every ECU: MIL on with one code, then its own bytes B to D.
  const char* const pid01[EMU_MAX_ECUS] = {"41018107FFFF", "41018101FF00", "41018102AAAA", "4101810455AA",
                                           "4101810EFFFF", "41018108FF00", "4101810DAAAA", "4101810B55AA"};
  for (uint8_t ecu = 0; ecu < EMU_MAX_ECUS; ++ecu) EXPECT_EQ(One(1, 0x01, ecu), pid01[ecu]) << int{ecu};
  EXPECT_EQ(One(1, 0x41, 0), "41410007FFFF");
  EXPECT_EQ(One(1, 0x4F, 0), "414FFFAA5511");
  EXPECT_EQ(One(1, 0x50, 2), "415000000000");
  EXPECT_EQ(One(1, 0x24, 1), "412401100110");
  EXPECT_EQ(One(1, 0x24, 7), "4124AA5555AA");
  EXPECT_EQ(One(1, 0x0C, 4), "410C0855");
  EXPECT_EQ(One(1, 0x0D, 7), "410D80");
  EXPECT_EQ(One(1, 0x13, 3), "4113FF");

  // ECU names keep their zero bytes; the VIN has three in front on non-CAN lines.
  EXPECT_EQ(One(9, 0x0A, 0), "490A01" "45434D00" "2D456E67696E65436F6E74726F6C" "0000");
  EXPECT_EQ(One(9, 0x0A, 3), "490A01" "454143322D456C65634143436F6D704374726C32");
  EXPECT_EQ(Data(9, 0x02, 0, false)[0], "49020100000031");
  EXPECT_EQ(One(9, 0x02, 5), "490201" "31323334353637383930555657454647" "48");

  // ECU 1's calibration ids are dashed part numbers: 4 characters, 6, 1 to 3, then zero bytes.
  const std::string cal = One(9, 0x04, 1).substr(6);
  ASSERT_EQ(cal.size(), 2u * 2 * EMU_CAL_ID_CHARS);
  for (int id = 0; id < 2; ++id) {
    std::string text;
    for (int i = 0; i < EMU_CAL_ID_CHARS; ++i) {
      text += static_cast<char>(std::stoi(cal.substr(32 * id + 2 * i, 2), nullptr, 16));
    }
    EXPECT_TRUE(std::regex_match(text, std::regex("[0-9A-Z]{4}-[0-9A-Z]{6}-[0-9A-Z]{1,3}\\x00*")))
        << id;
  }

  // Verification numbers of ECU n: AB CD EF 12, (34+n) AD 12 67, (01+n) 02 03 04.
  EXPECT_EQ(One(9, 0x06, 1), "490603" "ABCDEF12" "35AD1267" "02020304");
  EXPECT_EQ(One(9, 0x06, 4), "490602" "ABCDEF12" "38AD1267");
  EXPECT_EQ(One(9, 0x06, 0), "490601" "16E062BE");
}

TEST_F(Vehicle, EcuIndexFollowsTheAddressesOfTheProtocolSet) {
  EXPECT_EQ(emu_QimGetEcuIdx(0xE9), 1);
  EXPECT_EQ(emu_QimGetEcuIdx(0xEF), 7);
  EXPECT_EQ(emu_QimGetEcuIdx(0x18), 0);  // a non-CAN address while on CAN
  EXPECT_EQ(emu_QimGetEcuIdx(0x00), 0);
  emu_QimSetProtocol(3);
  EXPECT_EQ(emu_QimGetEcuIdx(0x18), 1);
  EXPECT_EQ(emu_QimGetEcuIdx(0x11), 2);
  EXPECT_EQ(emu_QimGetEcuIdx(0x16), 7);
  EXPECT_EQ(emu_QimGetEcuIdx(0xE9), 0);
}

// The one-ECU setters act on the ECU the module's filter picks among the addresses of the protocol
// set, ECU 1 when none has the address; a negative response goes to that ECU alone, or to every
// ECU without a filter.
TEST_F(Vehicle, SettersActOnTheEcuTheFilterPicksOnTheProtocolSet) {
  emu_VehicleSetNoOfEcus(3);
  emu_QimSetEcuFilter(0xE9);
  emu_VehicleSetNoOfPendingDtcs(4);
  emu_VehicleSetMilState(0);
  EXPECT_EQ(vehicle.ecu[1].noOfPendingDtcs, 4);
  EXPECT_EQ(vehicle.ecu[1].milState, 0);
  EXPECT_EQ(vehicle.ecu[0].milState, 1);
  emu_VehicleSetObdNegRespCode(22);
  EXPECT_EQ(vehicle.ecu[1].negRespCode, 22);
  EXPECT_EQ(vehicle.ecu[0].negRespCode, 0);

  emu_QimSetProtocol(3);  // E9 is no K-line address
  emu_VehicleSetNoOfPermanentDtcs(6);
  EXPECT_EQ(vehicle.ecu[0].noOfPermanentDtcs, 6);
  EXPECT_EQ(vehicle.ecu[1].noOfPermanentDtcs, 1);
  emu_VehicleSetObdNegRespCode(22);
  EXPECT_EQ(vehicle.ecu[0].negRespCode, 22) << "a filter set names one ECU even when no ECU has its address";
  EXPECT_EQ(vehicle.ecu[2].negRespCode, 0);

  emu_QimSetEcuFilter(0x11);
  emu_VehicleSetNoOfDtcs(9);
  EXPECT_EQ(vehicle.ecu[2].noOfDtcs, 9);
  emu_QimSetEcuFilter(0);
  emu_VehicleSetObdNegRespCode(10);
  for (uint8_t i = 0; i < 3; ++i) EXPECT_EQ(vehicle.ecu[i].negRespCode, 10) << int{i};
  EXPECT_EQ(vehicle.ecu[3].negRespCode, 0) << "an ECU that does not answer";
}

TEST_F(Vehicle, DtcCountSettersKeepMilAndClearedFlagConsistent) {
  EmuEcu& ecu0 = vehicle.ecu[0];
  emu_VehicleSetNoOfDtcs(40);
  EXPECT_EQ(ecu0.noOfDtcs, 16);
  emu_VehicleSetNoOfPendingDtcs(17);
  EXPECT_EQ(ecu0.noOfPendingDtcs, 16);
  emu_VehicleSetNoOfPermanentDtcs(255);
  EXPECT_EQ(ecu0.noOfPermanentDtcs, 16);

  // No confirmed codes: MIL off; cleared only once no pending code is left either.
  emu_VehicleSetNoOfDtcs(0);
  EXPECT_EQ(ecu0.milState, 0);
  EXPECT_EQ(ecu0.dtcsCleared, 0);
  emu_VehicleSetNoOfPendingDtcs(0);
  EXPECT_EQ(ecu0.dtcsCleared, 1);
  EXPECT_EQ(One(1, 0x01, 0), "41010007FFFF");

  emu_VehicleSetNoOfPendingDtcs(2);
  EXPECT_EQ(ecu0.dtcsCleared, 0);
  emu_VehicleSetNoOfPendingDtcs(0);
  EXPECT_EQ(ecu0.dtcsCleared, 1);

  // Switching the MIL on needs a confirmed code; it also ends the cleared state.
  emu_VehicleSetMilState(1);
  EXPECT_EQ(ecu0.noOfDtcs, 1);
  EXPECT_EQ(ecu0.dtcsCleared, 0);
  EXPECT_EQ(One(1, 0x01, 0), "41018107FFFF");
  emu_VehicleSetNoOfDtcs(5);
  emu_VehicleSetMilState(0);
  EXPECT_EQ(One(1, 0x01, 0), "41010507FFFF");
  emu_VehicleSetMilState(1);
  EXPECT_EQ(ecu0.noOfDtcs, 5);

  emu_VehicleSetNoOfEcus(0);
  emu_VehicleSetNoOfEcus(9);
  EXPECT_EQ(vehicle.maxEcu, 2);
  emu_VehicleSetNoOfEcus(8);
  EXPECT_EQ(vehicle.maxEcu, 8);

  EXPECT_EQ(vehicle.ecu[1].noOfDtcs, 1);  // all of this acted on ECU 0 only
  EXPECT_EQ(vehicle.ecu[1].noOfPendingDtcs, 1);
}

TEST_F(Vehicle, SettersActOnTheFilteredEcu) {
  emu_QimSetEcuFilter(0xEA);
  emu_VehicleSetNoOfDtcs(7);
  emu_VehicleSetNoOfPermanentDtcs(3);
  emu_VehicleSetMilState(0);
  EXPECT_EQ(vehicle.ecu[2].noOfDtcs, 7);
  EXPECT_EQ(vehicle.ecu[2].noOfPermanentDtcs, 3);
  EXPECT_EQ(vehicle.ecu[2].milState, 0);
  EXPECT_EQ(vehicle.ecu[0].noOfDtcs, 1);

  emu_QimSetEcuFilter(0x42);  // nobody's address: the first ECU
  emu_VehicleSetNoOfPendingDtcs(4);
  EXPECT_EQ(vehicle.ecu[0].noOfPendingDtcs, 4);
}

TEST_F(Vehicle, NegativeResponseCodeTogglesOnTheEcusThatAnswer) {
  emu_VehicleSetObdNegRespCode(22);
  EXPECT_EQ(vehicle.ecu[0].negRespCode, 22);
  EXPECT_EQ(vehicle.ecu[1].negRespCode, 22);
  EXPECT_EQ(vehicle.ecu[2].negRespCode, 0);  // beyond the two ECUs that answer
  EXPECT_EQ(One(4, 0, 0), "7F0422");
  EXPECT_EQ(One(9, 0x06, 1, false), "7F0922");
  EXPECT_EQ(One(9, 0x04, 0), "490401" "4142433144454632474849334A4B4C34");  // other services answer

  emu_VehicleSetObdNegRespCode(78);  // another code replaces it
  EXPECT_EQ(One(4, 0, 1), "7F0478");
  emu_VehicleSetObdNegRespCode(78);  // the same code again switches it off
  EXPECT_EQ(vehicle.ecu[0].negRespCode, 0);
  EXPECT_EQ(One(4, 0, 0), "44");

  for (uint8_t bad : {1, 9, 13, 20, 23, 79, 0x22, 255}) emu_VehicleSetObdNegRespCode(bad);
  EXPECT_EQ(vehicle.ecu[0].negRespCode, 0);

  emu_QimSetEcuFilter(0xEB);
  emu_VehicleSetObdNegRespCode(11);
  EXPECT_EQ(vehicle.ecu[3].negRespCode, 11);
  EXPECT_EQ(vehicle.ecu[0].negRespCode, 0);
  emu_VehicleSetObdNegRespCode(0);
  EXPECT_EQ(vehicle.ecu[3].negRespCode, 0);
}

TEST_F(Vehicle, CommandLineCodesFillTheFirstEcu) {
  emu_QimSetEcuFilter(0xE9);  // the command line's codes belong to ECU 0 whatever is selected
  emu_VehicleSetNoOfDtcs(0);
  for (uint16_t i = 0; i < 17; ++i) emu_VehicleSetConfirmedDtc(static_cast<uint16_t>(0x4100 + i));
  EXPECT_EQ(emu_VehicleGetNoOfConfirmedDtcs(), 16);
  EXPECT_EQ(emu_VehicleGetConfirmedDtc(15), 0x410F);
  EXPECT_EQ(emu_VehicleGetConfirmedDtc(16), 0);
  EXPECT_EQ(vehicle.ecu[0].noOfDtcs, 16);
  EXPECT_EQ(vehicle.ecu[0].confirmedDtc[0], 0x4100);
  EXPECT_EQ(vehicle.ecu[1].noOfDtcs, 0);
  EXPECT_EQ(Data(3, 0, 0, false).back(), "43410F00000000");
}

TEST_F(Vehicle, OxygenSensorBankConfigurations) {
  auto sensors = [](uint8_t ecu) {
    std::string marks;
    for (uint8_t pid = 0x11; pid <= 0x20; ++pid) marks += emu_VehicleSupportsPid(1, pid, 0, ecu) ? '1' : '0';
    return marks;  // PIDs 11 .. 20
  };
  // ECU 1 supports none of 11-1F by default and 20: the untouched bits stay.
  emu_VehicleSetNoOfPid13CylinderBanks(1);
  EXPECT_EQ(sensors(0), "1111111000010111");  // 1D gone, 18-1B off, 1C 1E 1F 20 kept
  EXPECT_EQ(sensors(1), "0011111000000001");
  EXPECT_EQ(One(1, 0x13, 5), "41130F");
  emu_VehicleSetNoOfPid13CylinderBanks(2);
  EXPECT_EQ(sensors(0), "1111111111110111");
  EXPECT_EQ(One(1, 0x13, 5), "4113FF");

  const char* const pid1D[4] = {"1101100000011111", "1101111000011111", "1101111110011111",
                                "1101111111111111"};
  const char* const locations[4] = {"03", "0F", "3F", "FF"};
  for (uint8_t banks = 1; banks <= 4; ++banks) {
    emu_VehicleSetNoOfPid1DCylinderBanks(banks);
    EXPECT_EQ(sensors(0), pid1D[banks - 1]) << int{banks};
    EXPECT_EQ(One(1, 0x1D, 7), std::string("411D") + locations[banks - 1]);
  }
  for (uint8_t ignored : {0, 5, 255}) {
    emu_VehicleSetNoOfPid1DCylinderBanks(ignored);
    EXPECT_EQ(sensors(0), pid1D[3]) << int{ignored};
  }
  for (uint8_t ignored : {0, 3}) {
    emu_VehicleSetNoOfPid13CylinderBanks(ignored);
    EXPECT_EQ(sensors(0), pid1D[3]) << int{ignored};
  }
}

TEST_F(Vehicle, MoreThanTwoBanksWidensPids06To09And55To58) {
  EXPECT_FALSE(emu_VehicleHasMoreThan2Banks());  // ECU 0 locates its sensors by PID 13
  EXPECT_EQ(One(1, 0x06, 0), "410601");
  emu_VehicleSetNoOfPid1DCylinderBanks(2);  // banks 1 and 2 only
  EXPECT_FALSE(emu_VehicleHasMoreThan2Banks());
  emu_VehicleSetNoOfPid1DCylinderBanks(3);
  EXPECT_TRUE(emu_VehicleHasMoreThan2Banks());
  EXPECT_EQ(One(1, 0x06, 0), "41060110");
  EXPECT_EQ(One(2, 0x58, 1, true, 3), "425803AA55");
  EXPECT_EQ(One(1, 0x0C, 0), "410C0110");  // two-byte PIDs are two bytes anyway

  // An earlier ECU that locates by PID 13 decides: no more than two banks.
  vehicle.ecu[0].supPids[2] = 0xFF;
  EXPECT_FALSE(emu_VehicleHasMoreThan2Banks());
}

TEST_F(Vehicle, SupportMapsChainAndFreezeFramesUseTheirRow) {
  EXPECT_EQ(One(1, 0x00, 1), "4100B7800001");
  EXPECT_EQ(One(1, 0x40, 1), "41407FFCFFFE");
  EXPECT_FALSE(Supported(0x60, 1));  // PID 40's map ends without "60 supported"
  EXPECT_TRUE(Supported(0x60, 3));
  EXPECT_EQ(One(1, 0x60, 3), "416000010000");
  EXPECT_TRUE(Supported(0x70, 0));
  EXPECT_FALSE(Supported(0x80, 0));

  // A break lower in the chain empties the maps above it even when they are marked.
  vehicle.ecu[0].supPids[3] = 0xF6;  // PID 20 no longer supported
  EXPECT_TRUE(Supported(0x40, 0));
  EXPECT_EQ(One(1, 0x40, 0), "414000000000");
  EXPECT_FALSE(Supported(0x20, 0));

  // Service 02 reads the freeze-frame map of row (frame + ECU index) mod 8.
  EXPECT_EQ(One(2, 0x00, 0, true, 0), "420000FF0FDFF7");
  EXPECT_EQ(One(2, 0x00, 0, true, 1), "42000177800001");
  EXPECT_EQ(One(2, 0x00, 7, true, 2), "42000277800001");  // row 1
  EXPECT_EQ(One(2, 0x20, 2, true, 0), "42200002030451");
  EXPECT_TRUE(emu_VehicleSupportsPid(2, 0x09, 0, 1));
  EXPECT_FALSE(emu_VehicleSupportsPid(2, 0x09, 0, 0));
  EXPECT_FALSE(emu_VehicleSupportsPid(2, 0x09, 7, 1));  // row 0 again

  // PID 02 names the confirmed code that stored the frame, when there is one.
  emu_VehicleSetNoOfDtcs(3);
  EXPECT_EQ(One(2, 0x02, 0, true, 2), "4202020102");
  EXPECT_EQ(One(2, 0x02, 0, true, 3), "4202030000");
}

TEST_F(Vehicle, JitterReplacesLiveValuesWithARunningCounter) {
  emu_VehicleToggleDataJitter();
  EXPECT_EQ(One(1, 0x0C, 0), "410C0000");
  EXPECT_EQ(One(1, 0x0C, 0), "410C0001");
  EXPECT_EQ(One(1, 0x0C, 0), "410C0002");
  EXPECT_EQ(One(1, 0x0D, 0), "410D03");  // one-byte PIDs: the low byte
  EXPECT_EQ(One(1, 0x24, 1), "412400000004");
  EXPECT_EQ(One(1, 0x06, 0), "410605");  // one byte with up to two banks
  // Never jittered: PID 01, 13/1D, 41, 4F, 50, the support maps, freeze frames.
  EXPECT_EQ(One(1, 0x01, 0), "41018107FFFF");
  EXPECT_EQ(One(1, 0x13, 0), "4113FF");
  EXPECT_EQ(One(1, 0x41, 0), "41410007FFFF");
  EXPECT_EQ(One(1, 0x4F, 0), "414FFFAA5511");
  EXPECT_EQ(One(1, 0x00, 0), "4100FFFFFFF7");
  EXPECT_EQ(One(2, 0x0C, 0, true, 0), "420C000110");
  // PID 70 keeps its support byte and counts through the other nine.
  EXPECT_EQ(One(1, 0x70, 0), "41703F060708090A0B0C0D0E");
  EXPECT_EQ(Data(1, 0x70, 0, false), (Lines{"41703F0F101112", "41701314151617"}));

  vehicle.dataJitter = 0x12345;
  EXPECT_EQ(One(1, 0x0C, 0), "410C2345");

  emu_VehicleToggleDataJitter();
  EXPECT_EQ(vehicle.dataJitter, 0u);
  EXPECT_EQ(One(1, 0x0C, 0), "410C0110");
  emu_VehicleToggleDataJitter();
  EXPECT_EQ(One(1, 0x0C, 0), "410C0000");  // counts from zero again
}

TEST_F(Vehicle, IptJitterMovesOncePerRequestAndStays) {
  EXPECT_EQ(Data(9, 0x08, 0, false)[0], "49080101C91030");
  emu_VehicleToggleDataJitter();
  EXPECT_EQ(Data(9, 0x08, 0, false), (Lines{"49080101CA1030", "490802033D01C9", "490803035B01C9",
                                            "490804040201C9", "490805023201C9", "4908060C6301C9",
                                            "49080700010000", "4908080001000D", "49080905E601C9",
                                            "49080A05BB01C9"}));
  // On CAN only the answer's first counter; each ECU keeps its own count.
  EXPECT_EQ(One(9, 0x0B, 0).substr(0, 14), "490B1401CB1030");
  EXPECT_EQ(One(9, 0x08, 1).substr(0, 14), "4908100002000A");
  emu_VehicleToggleDataJitter();  // off: the offset stays
  EXPECT_EQ(One(9, 0x08, 0).substr(0, 14), "49081401CB1030");
  // A counter at its top wraps.
  EXPECT_EQ(One(9, 0x08, 1).substr(6, 4), "0002");
  vehicle.ecu[1].iptCounter[0] = 0xFFFF;
  EXPECT_EQ(One(9, 0x08, 1).substr(6, 4), "0000");
}

TEST_F(Vehicle, ClearingCodesOnCanKeepsThemAsPermanentCodes) {
  emu_VehicleSetNoOfDtcs(3);
  emu_VehicleClearCodes(0, true);
  const EmuEcu& ecu0 = vehicle.ecu[0];
  EXPECT_EQ(ecu0.milState, 0);
  EXPECT_EQ(ecu0.noOfDtcs, 0);
  EXPECT_EQ(ecu0.noOfPendingDtcs, 0);
  EXPECT_EQ(ecu0.dtcsCleared, 1);
  EXPECT_EQ(One(0x0A, 0, 0), "4A03010001010102");
  EXPECT_EQ(One(3, 0, 0), "4300");

  // On the other protocols the permanent list is left as it was.
  emu_VehicleClearCodes(1, false);
  EXPECT_EQ(vehicle.ecu[1].noOfPermanentDtcs, 1);
  EXPECT_EQ(One(0x0A, 0, 1), "4A010100");
  EXPECT_EQ(vehicle.ecu[1].noOfDtcs, 0);

  // While cleared, pending slots go out empty.
  vehicle.ecu[0].noOfPendingDtcs = 2;
  EXPECT_EQ(One(7, 0, 0), "470200000000");
  EXPECT_EQ(One(7, 0, 0, false), "47000000000000");
}

}  // namespace
