// Monitor lists and their filters, ECU names, info type decoding and performance tracking counters.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "firmware/obd/monitors.h"
#include "firmware/obd/pids.h"
#include "firmware/obd/reading.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A service 09 answer: header bytes, then the characters of `text`.
Bytes WithText(Bytes head, const char* text) {
  for (const char* c = text; *c != 0; ++c) head.push_back(static_cast<uint8_t>(*c));
  return head;
}

class Monitors : public testing::Test {
 protected:
  void SetUp() override {
    OBD_InitState();
    OBD_InitMonitorsState();
    OBD_Init();
    OBD_SetEcuAddr(0x10);
  }

  uint8_t Sid01(uint8_t pid, Bytes data) {
    Bytes resp{0x41, pid};
    resp.insert(resp.end(), data.begin(), data.end());
    return OBD_DecodeSid01RespDataByPid(resp.data(), static_cast<uint8_t>(resp.size()), pid);
  }
  // The active ECU supports PID 0x01 and, if asked, PID 0x41.
  void Supports(bool pid41) {
    Sid01(0x00, {0x80, 0x00, 0x00, 0x01});
    Sid01(0x20, {0x00, 0x00, 0x00, pid41 ? uint8_t{0x01} : uint8_t{0x00}});
    Sid01(0x40, {pid41 ? uint8_t{0x80} : uint8_t{0x00}, 0x00, 0x00, 0x00});
  }

  // The listed rows as "NAME=VALUE", space-separated.
  static std::string SupportedList() {
    std::string s;
    for (uint8_t n = 0; n < OBD_GetNumMonitors(); ++n) {
      s += s.empty() ? "" : " ";
      s += obdMonShortTxt[OBD_GetMonitorTxtId(n)];
      s += "=";
      s += obdPidDataTxt[OBD_GetMonitorSupDataTxtId(n)];
    }
    return s;
  }
  static std::string StatusList() {
    std::string s;
    for (uint8_t n = 0; n < OBD_GetNumMonitorStatuses(); ++n) {
      s += s.empty() ? "" : " ";
      s += obdMonShortTxt[OBD_GetMonitorStatusTxtId(n)];
      s += "=";
      s += obdPidDataTxt[OBD_GetMonitorStatusDataTxtId(n)];
    }
    return s;
  }

  // A spark-ignition engine: catalyst, evaporative system, oxygen sensor and heater supported;
  // catalyst not ready. This cycle: misfire enabled but not complete, catalyst and evaporative
  // system enabled, evaporative system not complete.
  void SparkEngine() {
    Supports(true);
    Sid01(0x01, {0x00, 0x07, 0x65, 0x01});
    Sid01(0x41, {0x00, 0x11, 0x05, 0x04});
  }
};

// ---------------------------------------------------------------------------------------------
// ECU names

TEST_F(Monitors, EcuNameSplitsIntoAcronymAndName) {
  OBD_SetEcuAddr(0x18);
  OBD_SetActiveEcuIdx(1);
  const char* name = "ECM1-EngineControl12";
  Bytes resp = WithText({0x49, 0x0A, 0x01}, name);
  uint8_t out[OBD_INFO_TYPE_OUT_SIZE] = {};
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(resp.data(), 23, 0x0A, out), 1);
  char shortName[OBD_ECU_SHORT_NAME_SIZE], longName[OBD_ECU_LONG_NAME_SIZE];
  OBD_GetEcuShortName(shortName, 1);
  OBD_GetEcuLongName(longName, 1);
  EXPECT_STREQ(shortName, "ECM1");
  EXPECT_STREQ(longName, "EngineControl12");
  OBD_GetEcuShortName(shortName, 0);
  EXPECT_STREQ(shortName, "") << "the other ECU has no name";
  OBD_GetEcuLongName(longName, 8);
  EXPECT_STREQ(longName, "");

  resp.pop_back();
  resp[3] = 'X';
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(resp.data(), 22, 0x0A, out), 0) << "name cut short";
  OBD_GetEcuShortName(shortName, 1);
  EXPECT_STREQ(shortName, "ECM1");
}

// ---------------------------------------------------------------------------------------------
// MIL, trouble code count and monitor lists

TEST_F(Monitors, MilAndTroubleCodeCount) {
  Supports(false);
  Sid01(0x01, {0x83, 0x00, 0x00, 0x00});
  EXPECT_EQ(StatusList().substr(0, 19), "MIL=ON DTC_CNT=3 MI");
  EXPECT_EQ(OBD_GetMilStatus(), 1);
  Sid01(0x01, {0x15, 0x00, 0x00, 0x00});
  EXPECT_EQ(StatusList().substr(0, 22), "MIL=OFF DTC_CNT=>16 MI");
  Sid01(0x01, {0x10, 0x00, 0x00, 0x00});
  EXPECT_EQ(StatusList().substr(0, 21), "MIL=OFF DTC_CNT=16 MI");
  EXPECT_EQ(OBD_GetMilStatus(), 0);

  // Any registered ECU with its lamp on lights the MIL.
  OBD_SetEcuAddr(0x18);
  OBD_SetActiveEcuIdx(1);
  Sid01(0x01, {0x81, 0x00, 0x00, 0x00});
  OBD_SetActiveEcuIdx(0);
  EXPECT_EQ(OBD_GetMilStatus(), 1);
  const uint8_t lampOn[4] = {0x80, 0, 0, 0};
  OBD_InitPids();
  OBD_SetMonitorStatusSinceDtcsCleared(lampOn, 5);
  EXPECT_EQ(OBD_GetMilStatus(), 0) << "slot 5 holds no registered ECU";
}

TEST_F(Monitors, SupportedMonitorsOfASparkIgnitionEngine) {
  SparkEngine();
  EXPECT_EQ(SupportedList(),
            "MIS_SUP=YES FUEL_SUP=YES CCM_SUP=YES CAT_SUP=YES HCAT_SUP=NO EVAP_SUP=YES "
            "AIR_SUP=NO O2S_SUP=YES HTR_SUP=YES EGR_SUP=NO");
  OBD_SetFlagShowAcrfMonitor(1);
  EXPECT_EQ(OBD_GetNumMonitors(), 11);
  EXPECT_EQ(obdMonShortTxt[OBD_GetMonitorTxtId(7)], std::string("ACRF_SUP"));
  OBD_SetFlagShowUnsupMonitors(0);
  EXPECT_EQ(SupportedList(),
            "MIS_SUP=YES FUEL_SUP=YES CCM_SUP=YES CAT_SUP=YES EVAP_SUP=YES O2S_SUP=YES "
            "HTR_SUP=YES");
  EXPECT_EQ(OBD_GetMonitorIdx(3), 3);
  EXPECT_EQ(OBD_GetMonitorIdx(4), 7) << "the fifth listed record is the evaporative system";
  EXPECT_EQ(OBD_GetMonitorIdx(7), 0) << "beyond the list";
  EXPECT_EQ(OBD_GetMonitorTxtId(7), 0);
}

TEST_F(Monitors, SupportedMonitorsOfACompressionIgnitionEngine) {
  Supports(false);
  Sid01(0x01, {0x00, 0x0F, 0xDB, 0x00});
  EXPECT_EQ(SupportedList(),
            "MIS_SUP=YES FUEL_SUP=YES CCM_SUP=YES HCCATSUP=YES NCAT_SUP=YES BP_SUP=YES "
            "EGS_SUP=NO PM_SUP=YES EGR_SUP=YES");
  OBD_SetFlagShowAcrfMonitor(1);
  EXPECT_EQ(OBD_GetNumMonitors(), 10);
  EXPECT_EQ(obdPidDataTxt[OBD_GetMonitorSupDataTxtId(6)], std::string("YES")) << "A/C bit 4";
}

TEST_F(Monitors, StatusRowsOfASparkIgnitionEngine) {
  SparkEngine();
  EXPECT_EQ(StatusList(),
            "MIL=OFF DTC_CNT=0 "
            "MIS_RDY=YES MIS_ENA=YES MIS_CMPL=NO "
            "FUEL_RDY=YES FUEL_ENA=NO FUELCMPL=YES "
            "CCM_RDY=YES CCM_ENA=NO CCM_CMPL=YES "
            "CAT_RDY=NO CAT_ENA=YES CAT_CMPL=YES "
            "HCAT_RDY=N/A HCAT_ENA=N/A HCATCMPL=N/A "
            "EVAP_RDY=YES EVAP_ENA=YES EVAPCMPL=NO "
            "AIR_RDY=N/A AIR_ENA=N/A AIR_CMPL=N/A "
            "O2S_RDY=YES O2S_ENA=NO O2S_CMPL=YES "
            "HTR_RDY=YES HTR_ENA=NO HTR_CMPL=YES "
            "EGR_RDY=N/A EGR_ENA=N/A EGR_CMPL=N/A");

  OBD_SetFlagShowUnsupMonitors(0);
  EXPECT_EQ(OBD_GetNumMonitorStatuses(), 23);
  EXPECT_EQ(StatusList().find("N/A"), std::string::npos);
  EXPECT_EQ(OBD_GetMonitorStatusTxtId(23), 0) << "beyond the list";
  EXPECT_EQ(OBD_GetMonitorStatusDataTxtId(23), 0);
}

TEST_F(Monitors, StatusRowsOfACompressionIgnitionEngine) {
  Supports(true);
  Sid01(0x01, {0x00, 0x0F, 0x0B, 0x08});  // NMHC, NOx/SCR and boost supported, boost not ready
  Sid01(0x41, {0x00, 0x00, 0x02, 0x00});
  const std::string rows = StatusList();
  EXPECT_NE(rows.find("HCCATRDY=YES HCCATENA=NO HCCATCMP=YES"), std::string::npos) << rows;
  EXPECT_NE(rows.find("NCAT_RDY=YES NCAT_ENA=YES NCATCMPL=YES"), std::string::npos) << rows;
  EXPECT_NE(rows.find("BP_RDY=NO BP_ENA=NO BP_CMPL=YES"), std::string::npos) << rows;
  for (const char* spark : {" CAT_", "HCAT", "EVAP", "AIR_", "O2S_", "HTR_"})
    EXPECT_EQ(rows.find(spark), std::string::npos) << spark;
  for (const char* compr : {"HCCAT", "NCAT", "BP_", "EGS_", "PM_", "EGR_"})
    EXPECT_NE(rows.find(compr), std::string::npos) << compr;
}

TEST_F(Monitors, AirConditioningMonitorOnlyWhenAsked) {
  Supports(true);
  Sid01(0x01, {0x00, 0x07, 0x10, 0x10});
  Sid01(0x41, {0x00, 0x00, 0x10, 0x00});
  EXPECT_EQ(SupportedList().find("ACRF"), std::string::npos);
  EXPECT_EQ(StatusList().find("ACRF"), std::string::npos);
  OBD_SetFlagShowAcrfMonitor(1);
  EXPECT_NE(SupportedList().find("ACRF_SUP=YES"), std::string::npos);
  EXPECT_NE(StatusList().find("ACRF_RDY=NO ACRF_ENA=YES ACRFCMPL=YES"), std::string::npos);
}

TEST_F(Monitors, StatusFilterSelectsThePid) {
  SparkEngine();
  OBD_SetFlagShowUnsupMonitors(0);
  OBD_SetMonitorStatusFilter(1);
  EXPECT_EQ(StatusList(),
            "MIL=OFF DTC_CNT=0 MIS_RDY=YES FUEL_RDY=YES CCM_RDY=YES CAT_RDY=NO EVAP_RDY=YES "
            "O2S_RDY=YES HTR_RDY=YES");
  OBD_SetMonitorStatusFilter(2);
  EXPECT_EQ(StatusList(),
            "MIS_ENA=YES MIS_CMPL=NO FUEL_ENA=NO FUELCMPL=YES CCM_ENA=NO CCM_CMPL=YES "
            "CAT_ENA=YES CAT_CMPL=YES EVAP_ENA=YES EVAPCMPL=NO O2S_ENA=NO O2S_CMPL=YES "
            "HTR_ENA=NO HTR_CMPL=YES");
  OBD_SetMonitorStatusFilter(3);
  EXPECT_EQ(OBD_GetMonitorStatusFilter(), 2) << "only filters 0 to 2";

  // Without PID 0x41 the drive-cycle filter keeps the PID 0x01 rows, and its own rows vanish.
  Supports(false);
  const std::string withoutCycle = StatusList();
  OBD_SetMonitorStatusFilter(1);
  EXPECT_EQ(StatusList(), withoutCycle);
  OBD_SetMonitorStatusFilter(0);
  EXPECT_EQ(StatusList(), withoutCycle);
  EXPECT_EQ(withoutCycle.find("_ENA"), std::string::npos);
  EXPECT_NE(withoutCycle.find("MIL=OFF"), std::string::npos);

  Sid01(0x00, {0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(OBD_GetNumMonitorStatuses(), 0) << "no PID 0x01: nothing to show";
}

TEST_F(Monitors, RowsAreTheActiveEcus) {
  SparkEngine();
  OBD_SetEcuAddr(0x18);
  OBD_SetActiveEcuIdx(1);
  EXPECT_EQ(OBD_GetNumMonitorStatuses(), 0);
  EXPECT_EQ(SupportedList(),
            "MIS_SUP=NO FUEL_SUP=NO CCM_SUP=NO CAT_SUP=NO HCAT_SUP=NO EVAP_SUP=NO AIR_SUP=NO "
            "O2S_SUP=NO HTR_SUP=NO EGR_SUP=NO");
}

// ---------------------------------------------------------------------------------------------
// Info types

TEST_F(Monitors, InfoTypeSupportBits) {
  const Bytes resp = {0x49, 0x00, 0x55, 0x40, 0x00, 0x01};
  uint8_t out[OBD_INFO_TYPE_OUT_SIZE];
  ASSERT_EQ(OBD_DecodeInfoTypeRespData(resp.data(), 6, 0x00, out), 1);
  std::vector<int> supported;
  for (int t = 0; t <= 0x40; ++t)
    if (OBD_InfoTypeIsSupported(static_cast<uint8_t>(t), 0)) supported.push_back(t);
  EXPECT_EQ(supported, (std::vector<int>{0x00, 0x02, 0x04, 0x06, 0x08, 0x0A, 0x20}));
  EXPECT_EQ(OBD_InfoTypeIsSupported(0x02, 1), 0) << "other ECU";
  EXPECT_EQ(OBD_InfoTypeIsSupported(0x02, 8), 0);
  EXPECT_EQ(OBD_GetSupportedInfoTypes(1), 0x40);
  EXPECT_EQ(OBD_GetSupportedInfoTypes(4), 0);
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(resp.data(), 5, 0x00, out), 0) << "short bitmap";
}

TEST_F(Monitors, VehicleIdentificationNumber) {
  const char* vin = "WVWZZZ1KZAW123456";
  const Bytes resp = WithText({0x49, 0x02, 0x01}, vin);
  uint8_t out[OBD_INFO_TYPE_OUT_SIZE];
  memset(out, 0xAA, sizeof out);
  ASSERT_EQ(OBD_DecodeInfoTypeRespData(resp.data(), 20, 0x02, out), 1);
  EXPECT_STREQ(reinterpret_cast<char*>(out), vin);
  EXPECT_EQ(out[18], 0xAA);
  const Bytes cut(resp.begin(), resp.end() - 1);
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(cut.data(), 19, 0x02, out), 0);
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(resp.data(), 20, 0x04, out), 0) << "not the wanted type";
}

TEST_F(Monitors, CalibrationIdsAndVerificationNumbersTakeWholeItems) {
  Bytes cal = {0x49, 0x04, 0x03};
  for (int i = 0; i < 48; ++i) cal.push_back(static_cast<uint8_t>('A' + i % 26));
  uint8_t out[OBD_INFO_TYPE_OUT_SIZE + 4];
  auto decode = [&](const Bytes& r, uint8_t type) {
    memset(out, 0xEE, sizeof out);
    return OBD_DecodeInfoTypeRespData(r.data(), static_cast<uint8_t>(r.size()), type, out);
  };
  EXPECT_EQ(decode(cal, 0x04), 1);
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(0, memcmp(out + 1, cal.data() + 3, 48));
  EXPECT_EQ(out[OBD_INFO_TYPE_OUT_SIZE], 0xEE) << "nothing beyond three ids";

  cal[2] = 9;
  EXPECT_EQ(decode(cal, 0x04), 1);
  EXPECT_EQ(out[0], 3) << "at most three";
  const Bytes twoAndABit(cal.begin(), cal.begin() + 40);
  EXPECT_EQ(decode(twoAndABit, 0x04), 1);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[33], 0xEE);
  const Bytes none = {0x49, 0x04, 0x00};
  EXPECT_EQ(decode(none, 0x04), 1);
  EXPECT_EQ(out[0], 0);

  const Bytes cvn = {0x49, 0x06, 0x02, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  EXPECT_EQ(decode(cvn, 0x06), 1);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[8], 0xF0);
  EXPECT_EQ(out[9], 0xEE);
  const Bytes cvnCut(cvn.begin(), cvn.end() - 1);
  EXPECT_EQ(decode(cvnCut, 0x06), 1);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[5], 0xEE);
}

TEST_F(Monitors, MessageCountsAndNegativeAnswers) {
  uint8_t out[OBD_INFO_TYPE_OUT_SIZE] = {};
  for (uint8_t type : {0x03, 0x05, 0x07}) {
    const Bytes resp = {0x49, type, 0x05};
    EXPECT_EQ(OBD_DecodeInfoTypeRespData(resp.data(), 3, type, out), 0);
    EXPECT_EQ(out[0], 5);
  }
  const Bytes other = {0x49, 0x0C, 0x01, 0x00};
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(other.data(), 4, 0x0C, out), 0);

  const Bytes pending = {0x7F, 0x09, 0x78};
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(pending.data(), 3, 0x06, out), 0x78);
  const Bytes codeOne = {0x7F, 0x09, 0x01};
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(codeOne.data(), 3, 0x06, out), 0)
      << "must not read as decoded";
  const Bytes noCode = {0x7F, 0x09};
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(noCode.data(), 2, 0x06, out), 0);
  const Bytes otherService = {0x7F, 0x01, 0x12};
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(otherService.data(), 3, 0x06, out), 0);
  EXPECT_EQ(OBD_DecodeInfoTypeRespData(nullptr, 0, 0x02, out), 0);
}

// ---------------------------------------------------------------------------------------------
// Performance tracking

Bytes IptAnswer(uint8_t type, uint8_t count, uint8_t pairs) {
  Bytes r = {0x49, type, count};
  for (uint8_t i = 0; i < pairs; ++i) {
    r.push_back(i);
    r.push_back(static_cast<uint8_t>(0x10 + i));
  }
  return r;
}

TEST_F(Monitors, TrackingCountersNeedSixteenAndAllTheirBytes) {
  uint8_t out[OBD_INFO_TYPE_OUT_SIZE];
  auto decode = [&](const Bytes& r, uint8_t type) {
    return OBD_DecodeInfoTypeRespData(r.data(), static_cast<uint8_t>(r.size()), type, out);
  };
  EXPECT_EQ(decode(IptAnswer(0x08, 15, 15), 0x08), 0) << "fewer than 16 counters";
  EXPECT_EQ(OBD_GetNumIptCounters(), 0);
  Bytes sixteen = IptAnswer(0x08, 16, 16);
  EXPECT_EQ(decode(sixteen, 0x08), 1);
  EXPECT_EQ(OBD_GetNumIptCounters(), 16);
  sixteen.pop_back();
  EXPECT_EQ(decode(sixteen, 0x08), 0) << "last counter cut in half";

  EXPECT_EQ(decode(IptAnswer(0x08, 24, 24), 0x08), 1);
  EXPECT_EQ(OBD_GetNumIptCounters(), 20);
  EXPECT_EQ(decode(IptAnswer(0x0B, 24, 24), 0x0B), 1);
  EXPECT_EQ(OBD_GetNumIptCounters(), 18);
  EXPECT_EQ(obdMon.obd_iptCounter[17], 0x1121) << "high byte first";

  char txt[OBD_VALUE_TXT_SIZE] = "old";
  OBD_GetIptCounterStr(txt, 1);
  EXPECT_STREQ(txt, "273");
  obdMon.obd_iptCounter[0] = 65535;
  OBD_GetIptCounterStr(txt, 0);
  EXPECT_STREQ(txt, "65535");
  OBD_GetIptCounterStr(txt, 18);
  EXPECT_STREQ(txt, "") << "no such counter";
}

TEST_F(Monitors, TrackingCounterNamesByPosition) {
  auto names = [](const uint8_t* ids, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += std::string(i ? " " : "") + obdIptShortTxt[ids[i]];
    return s;
  };
  EXPECT_EQ(names(obd_iptSparkIgnTxtId, OBD_NUM_IPT_SPARK),
            "OBDCOND IGNCNTR CATCOMP1 CATCOND1 CATCOMP2 CATCOND2 O2SCOMP1 O2SCOND1 O2SCOMP2 "
            "O2SCOND2 EGRCOMP EGRCOND AIRCOMP AIRCOND EVAPCOMP EVAPCOND SO2SCOMP1 SO2SCOND1 "
            "SO2SCOMP2 SO2SCOND2");
  EXPECT_EQ(names(obd_iptComprIgnTxtId, OBD_NUM_IPT_COMPR),
            "OBDCOND IGNCNTR HCCATCOMP HCCATCOND NCATCOMP NCATCOND NADSCOMP NADSCOND PMCOMP "
            "PMCOND EGSCOMP EGSCOND EGRCOMP EGRCOND BPCOMP BPCOND FUELCOMP FUELCOND");
  EXPECT_STREQ(obdIptLongTxt[obd_iptComprIgnTxtId[7]],
               "NOx adsorber monitor conditions encountered counts");
  EXPECT_STREQ(obdIptLongTxt[obd_iptSparkIgnTxtId[19]],
               "Secondary O2 sensor monitor conditions encountered counts bank 2");
}

// Random answers of every length and type, each in a buffer of exactly its length: under the
// address sanitizer a read past the answer fails the test; writes stay in the output.
TEST_F(Monitors, ArbitraryAnswersStayInsideTheirBuffers) {
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    const uint8_t len = static_cast<uint8_t>(rng() % 52);
    const uint8_t type = static_cast<uint8_t>(rng() % 0x0D);
    std::vector<uint8_t> resp(len);
    for (auto& b : resp) b = static_cast<uint8_t>(rng());
    if (len > 0 && rng() % 4 != 0) resp[0] = rng() % 8 ? 0x49 : 0x7F;
    if (len > 1 && rng() % 4 != 0) resp[1] = resp[0] == 0x7F ? 0x09 : type;
    uint8_t out[OBD_INFO_TYPE_OUT_SIZE + 8];
    memset(out, 0xC3, sizeof out);
    OBD_DecodeInfoTypeRespData(len ? resp.data() : nullptr, len, type, out);
    for (size_t i = OBD_INFO_TYPE_OUT_SIZE; i < sizeof out; ++i) ASSERT_EQ(out[i], 0xC3);
    ASSERT_LE(OBD_GetNumIptCounters(), OBD_MAX_IPT_COUNTERS);
  }
}

}  // namespace
