// PID catalogue: names and layouts, number formatting, every scaling function through the item
// decoder, supported-PID bits, the bank 3/4 rule, item sets and the configuration PIDs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "firmware/obd/monitors.h"
#include "firmware/obd/pids.h"
#include "firmware/obd/reading.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint8_t ItemIdx(uint8_t pid, uint8_t item) {
  for (uint8_t i = 0; i < OBD_NUM_DATA_ITEMS; ++i)
    if (obd_dataItem[i].pid == pid && obd_dataItem[i].item == item) return i;
  ADD_FAILURE() << "no item " << int(pid) << "/" << int(item);
  return 0;
}

struct Value {
  std::string text;
  int unit;
};

class PidCatalogue : public testing::Test {
 protected:
  void SetUp() override {
    OBD_InitState();
    OBD_InitMonitorsState();
    OBD_Init();
    OBD_SetEcuAddr(0x10);
    OBD_SetEcuAddr(0x18);
  }

  // Stores a service 01 configuration answer of the active ECU; the answer is an exact-size
  // buffer so that a read past it shows under the address sanitizer.
  uint8_t Store(uint8_t pid, Bytes data) {
    Bytes resp{static_cast<uint8_t>(0x40 + OBD_GetActiveSid()), pid};
    if (OBD_GetActiveSid() == 2) resp.push_back(obdPid.obd_activeFrameNo);
    resp.insert(resp.end(), data.begin(), data.end());
    return OBD_DecodeSid01RespDataByPid(resp.data(), static_cast<uint8_t>(resp.size()), pid);
  }

  // Decodes item pid/item of a service 01 answer with these data bytes; "<none>" when refused.
  Value Decode(uint8_t pid, uint8_t item, Bytes data) {
    Bytes resp{0x41, pid};
    resp.insert(resp.end(), data.begin(), data.end());
    char txt[OBD_VALUE_TXT_SIZE] = "<none>";
    uint8_t unit = 99;
    OBD_DecodeSid01RespDataByIdx(resp.data(), static_cast<uint8_t>(resp.size()),
                                 ItemIdx(pid, item), txt, &unit);
    return {txt, unit};
  }
  std::string Text(uint8_t pid, uint8_t item, Bytes data) {
    return Decode(pid, item, std::move(data)).text;
  }
  std::string ShortName(uint8_t pid, uint8_t item) {
    return obdPidShortTxt[OBD_GetPidTxtId(ItemIdx(pid, item))];
  }
  std::string LongName(uint8_t pid, uint8_t item) {
    return obdPidLongTxt[OBD_GetPidTxtId(ItemIdx(pid, item))];
  }
};

// ---------------------------------------------------------------------------------------------
// Names

TEST_F(PidCatalogue, ItemsCarryTheirShortNamesInCatalogueOrder) {
  // Every item as PID/item and short name, as the handheld lists them (PID 0x13 layout).
  const char* expected =
      "03/1 FUELSYS1,03/2 FUELSYS2,04/1 LOAD_PCT,05/1 ECT,06/1 SHRTFT1,06/2 SHRTFT3,"
      "07/1 LONGFT1,07/2 LONGFT3,08/1 SHRTFT2,08/2 SHRTFT4,09/1 LONGFT2,09/2 LONGFT4,0A/1 FP,"
      "0B/1 MAP,0C/1 RPM,0D/1 VSS,0E/1 SPARKADV,0F/1 IAT,10/1 MAF,11/1 TP,12/1 AIR_STAT,"
      "14/1 O2S11,14/2 SHRTFT11,15/1 O2S12,15/2 SHRTFT12,16/1 O2S13,16/2 SHRTFT13,17/1 O2S14,"
      "17/2 SHRTFT14,18/1 O2S21,18/2 SHRTFT21,19/1 O2S22,19/2 SHRTFT22,1A/1 O2S23,"
      "1A/2 SHRTFT23,1B/1 O2S24,1B/2 SHRTFT24,1C/1 OBDSUP,1E/1 PTO_STAT,1F/1 RUNTM,"
      "21/1 MIL_DIST,22/1 FP,23/1 FRP,24/1 LAMBDA11,24/2 O2S11,25/1 LAMBDA12,25/2 O2S12,"
      "26/1 LAMBDA13,26/2 O2S13,27/1 LAMBDA14,27/2 O2S14,28/1 LAMBDA21,28/2 O2S21,"
      "29/1 LAMBDA22,29/2 O2S22,2A/1 LAMBDA23,2A/2 O2S23,2B/1 LAMBDA24,2B/2 O2S24,"
      "2C/1 EGR_PCT,2D/1 EGR_ERR,2E/1 EVAP_PCT,2F/1 FLI,30/1 WARM_UPS,31/1 CLR_DIST,"
      "32/1 EVAP_VP,33/1 BARO,34/1 LAMBDA11,34/2 O2S11,35/1 LAMBDA12,35/2 O2S12,"
      "36/1 LAMBDA13,36/2 O2S13,37/1 LAMBDA14,37/2 O2S14,38/1 LAMBDA21,38/2 O2S21,"
      "39/1 LAMBDA22,39/2 O2S22,3A/1 LAMBDA23,3A/2 O2S23,3B/1 LAMBDA24,3B/2 O2S24,"
      "3C/1 CATEMP11,3D/1 CATEMP21,3E/1 CATEMP12,3F/1 CATEMP22,42/1 VPWR,43/1 LOAD_ABS,"
      "44/1 LAMBDA,45/1 TP_R,46/1 AAT,47/1 TP_B,48/1 TP_C,49/1 APP_D,4A/1 APP_E,4B/1 APP_F,"
      "4C/1 TAC_PCT,4D/1 MIL_TIME,4E/1 CLR_TIME,51/1 FUEL_TYP,52/1 ALCH_PCT,53/1 EVAP_VPA,"
      "54/1 EVAP_VP,55/1 STSO2FT1,55/2 STSO2FT3,56/1 LGSOFT1,56/2 LGSOFT3,57/1 STSO2FT2,"
      "57/2 STSO2FT4,58/1 LGSOFT2,58/2 LGSOFT4,59/1 FRP,5A/1 APP_R,5B/1 BAT_PWR,5C/1 EOT,"
      "5D/1 FUEL_TIMING,5E/1 FUEL_RATE,5F/1 EMIS_SUP,70/1 BP_A_CMD,70/2 BP_A_ACT,"
      "70/3 BP_B_CMD,70/4 BP_B_ACT,70/5 BP_A_STAT,70/6 BP_B_STAT,8D/1 TP_G";
  std::ostringstream seen;
  for (uint8_t i = 0; i < OBD_NUM_DATA_ITEMS; ++i) {
    char head[8];
    snprintf(head, sizeof head, "%02X/%d ", obd_dataItem[i].pid, obd_dataItem[i].item);
    seen << (i ? "," : "") << head << obdPidShortTxt[OBD_GetPidTxtId(i)];
  }
  EXPECT_EQ(seen.str(), expected);
}

TEST_F(PidCatalogue, EveryNameFitsItsField) {
  for (int t = 0; t < OBD_NUM_PID_TXT; ++t) {
    SCOPED_TRACE(testing::Message() << "text id " << t << " \"" << obdPidLongTxt[t] << "\"");
    EXPECT_GE(strlen(obdPidShortTxt[t]), 2u);
    EXPECT_LE(strlen(obdPidShortTxt[t]), 11u);
    EXPECT_GE(strlen(obdPidLongTxt[t]), 9u);
    EXPECT_LE(strlen(obdPidLongTxt[t]), 31u);
  }
}

TEST_F(PidCatalogue, LongNamesAreTheShortenedDescriptions) {
  EXPECT_EQ(LongName(0x0C, 1), "Engine RPM");
  EXPECT_EQ(LongName(0x04, 1), "Calculated load value");
  EXPECT_EQ(LongName(0x24, 1), "Equivalence ratio (B1-S1)");
  EXPECT_EQ(LongName(0x4E, 1), "Eng. run time since DTCs clrd");
  EXPECT_EQ(LongName(0x5A, 1), "Rel. accelerator pedal position");
  EXPECT_EQ(LongName(0x2B, 2), "Oxygen sens. voltage (B2-S4)") << "wide-range sensor voltage";
  EXPECT_EQ(LongName(0x3A, 2), "Oxygen sens. current (B2-S3)");
}

TEST_F(PidCatalogue, OxygenSensorNamesFollowTheLocationPid) {
  const char* layout13[] = {"O2S11", "O2S12", "O2S13", "O2S14",
                            "O2S21", "O2S22", "O2S23", "O2S24"};
  const char* layout1D[] = {"O2S11", "O2S12", "O2S21", "O2S22",
                            "O2S31", "O2S32", "O2S41", "O2S42"};
  ASSERT_EQ(Store(0x13, {0x33}), 1);
  for (int s = 0; s < 8; ++s) {
    const uint8_t pid = static_cast<uint8_t>(0x14 + s);
    EXPECT_EQ(ShortName(pid, 1), layout13[s]);
    EXPECT_EQ(ShortName(static_cast<uint8_t>(pid + 0x10), 2), layout13[s]);
  }
  EXPECT_EQ(LongName(0x1B, 1), "Oxygen sens. voltage (B2-S4)");

  ASSERT_EQ(Store(0x1D, {0x33}), 1);
  for (int s = 0; s < 8; ++s) {
    const uint8_t pid = static_cast<uint8_t>(0x14 + s);
    EXPECT_EQ(ShortName(pid, 1), layout1D[s]);
    EXPECT_EQ(ShortName(static_cast<uint8_t>(pid + 0x20), 2), layout1D[s]);
  }
  EXPECT_EQ(ShortName(0x16, 2), "SHRTFT21");
  EXPECT_EQ(ShortName(0x2A, 1), "LAMBDA41");
  EXPECT_EQ(LongName(0x1B, 1), "Oxygen sens. voltage (B4-S2)");
  EXPECT_EQ(LongName(0x38, 2), "Oxygen sens. current (B3-S1)");
  EXPECT_EQ(ShortName(0x0C, 1), "RPM") << "other PIDs keep their names";

  OBD_SetActiveEcuIdx(1);
  EXPECT_EQ(ShortName(0x16, 1), "O2S13") << "the layout is the active ECU's";
}

TEST_F(PidCatalogue, LocationScreenTextsPerBit) {
  char txt[OBD_VALUE_TXT_SIZE];
  auto loc = [&](uint8_t data, uint8_t bit) {
    OBD_DecodePidScalingO2SensorLoc(txt, data, bit);
    return std::string(txt);
  };
  EXPECT_EQ(loc(0xFF, 4), "-") << "no location PID answered";
  Store(0x13, {0x11});
  EXPECT_EQ(OBD_GetO2SensorLocPid(), 0x13);
  EXPECT_EQ(OBD_GetO2SensorLocData(), 0x11);
  EXPECT_EQ(loc(0x11, 0), "O2S11");
  EXPECT_EQ(loc(0x11, 4), "O2S21");
  EXPECT_EQ(loc(0x11, 5), "-");
  Store(0x1D, {0xF0});
  EXPECT_EQ(loc(0xF0, 4), "O2S31");
  EXPECT_EQ(loc(0xF0, 7), "O2S42");
  EXPECT_EQ(loc(0xF0, 3), "-");
  for (uint8_t bit = 8; bit < 40; ++bit) EXPECT_EQ(loc(0xFF, bit), "-") << "bit " << int(bit);
}

TEST_F(PidCatalogue, UnitsUseTheFontGlyphs) {
  EXPECT_STREQ(obdUnitTxt[OBD_UNIT_RPM], "min\x0B");
  EXPECT_STREQ(obdUnitTxt[OBD_UNIT_DEG_C], "\x0A" "C");
  EXPECT_STREQ(obdUnitTxt[OBD_UNIT_DEG], "\x0A");
}

// ---------------------------------------------------------------------------------------------
// Number formatting

TEST(CalcDispVal, RoundsHalfUpAtTheLastShownDecimal) {
  char txt[OBD_CALC_TXT_SIZE];
  auto fmt = [&](uint16_t raw, uint16_t off, uint16_t mul, uint16_t div, uint8_t dec) {
    OBD_CalcDispVal(txt, raw, off, mul, div, dec);
    return std::string(txt);
  };
  EXPECT_EQ(fmt(1, 0, 1, 8, 2), "0.13") << "0.125";
  EXPECT_EQ(fmt(1, 0, 1, 8, 1), "0.1");
  EXPECT_EQ(fmt(3, 0, 1, 8, 0), "0") << "0.375";
  EXPECT_EQ(fmt(4, 0, 1, 8, 0), "1") << "0.5 rounds up";
  EXPECT_EQ(fmt(199, 0, 1, 100, 1), "2.0") << "carry into the integer part";
  EXPECT_EQ(fmt(1, 0, 1, 100, 3), "0.010") << "fraction keeps its leading zeros";
  EXPECT_EQ(fmt(10, 40, 1, 1, 0), "-30");
  EXPECT_EQ(fmt(39, 40, 1, 2, 1), "-0.5");
  EXPECT_EQ(fmt(200, 0, 255, 255, 1), "200.0") << "equal factors scale nothing";
  EXPECT_EQ(fmt(7, 0, 3, 1, 0), "21");
  EXPECT_EQ(fmt(65535, 0, 65535, 1, 0), "4294836225") << "largest product";
  EXPECT_EQ(fmt(0, 0, 1, 0, 2), "0.00") << "divisor 0 divides nothing";
}

TEST(CalcDispVal, SixDecimalsWithASixteenBitDivisorDoNotOverflow) {
  char txt[OBD_CALC_TXT_SIZE];
  OBD_CalcDispVal(txt, 65534, 0, 1, 65535, 6);
  EXPECT_STREQ(txt, "0.999985");
  OBD_CalcDispVal(txt, 1, 0, 1, 65535, 6);
  EXPECT_STREQ(txt, "0.000015");
  OBD_CalcDispVal(txt, 0, 65535, 65535, 1, 6);
  EXPECT_STREQ(txt, "-4294836225.000000") << "longest text: the whole buffer";
}

TEST(CalcDispVal, MoreThanSixDecimalsLeavesTheTextAlone) {
  char txt[OBD_CALC_TXT_SIZE] = "keep";
  OBD_CalcDispVal(txt, 5, 0, 1, 10, 7);
  EXPECT_STREQ(txt, "keep");
}

// ---------------------------------------------------------------------------------------------
// Scaling

// One or more cases per scaling function, at the ends of its range and where it rounds.
TEST_F(PidCatalogue, ScalingFunctionsWithoutReportedMaxima) {
  struct Case {
    uint8_t pid, item;
    Bytes data;
    const char* text;
    int unit;
  };
  const Case cases[] = {
      {0x0C, 1, {0x1A, 0xF8}, "1726", OBD_UNIT_RPM},
      {0x0C, 1, {0x00, 0x02}, "1", OBD_UNIT_RPM},  // half a revolution rounds up
      {0x05, 1, {0x28}, "0", OBD_UNIT_DEG_C},
      {0x05, 1, {0x00}, "-40", OBD_UNIT_DEG_C},
      {0x3C, 1, {0x00, 0x00}, "-40", OBD_UNIT_DEG_C},
      {0x3C, 1, {0x01, 0x95}, "1", OBD_UNIT_DEG_C},  // 0.5
      {0x3F, 1, {0xFF, 0xFF}, "6514", OBD_UNIT_DEG_C},
      {0x0E, 1, {0x7F}, "-0.5", OBD_UNIT_DEG},
      {0x0E, 1, {0x80}, "0.0", OBD_UNIT_DEG},
      {0x5D, 1, {0x00, 0x00}, "-210.00", OBD_UNIT_DEG},
      {0x5D, 1, {0xFF, 0xFF}, "301.99", OBD_UNIT_DEG},
      {0x5E, 1, {0xFF, 0xFF}, "3276.75", OBD_UNIT_LH},
      {0x0D, 1, {0xFF}, "255", OBD_UNIT_KMH},
      {0x30, 1, {0x07}, "7", OBD_UNIT_NONE},
      {0x1F, 1, {0x01, 0x00}, "256", OBD_UNIT_SEC},
      {0x4D, 1, {0xFF, 0xFF}, "65535", OBD_UNIT_MIN},
      {0x31, 1, {0x00, 0x01}, "1", OBD_UNIT_KM},
      {0x06, 1, {0x80}, "0.0", OBD_UNIT_PERCENT},
      {0x06, 1, {0x00}, "-100.0", OBD_UNIT_PERCENT},
      {0x06, 1, {0xFF}, "99.2", OBD_UNIT_PERCENT},
      {0x06, 2, {0x80, 0x00}, "-100.0", OBD_UNIT_PERCENT},  // bank 3 is byte B
      {0x14, 2, {0x00, 0xFF}, "99.2", OBD_UNIT_PERCENT},    // sensor trim is byte B
      {0x04, 1, {0xFF}, "100.0", OBD_UNIT_PERCENT},
      {0x04, 1, {0x80}, "50.2", OBD_UNIT_PERCENT},
      {0x43, 1, {0xFF, 0xFF}, "25700.0", OBD_UNIT_PERCENT},
      {0x32, 1, {0x00, 0x00}, "-8192.0", OBD_UNIT_PA},
      {0x32, 1, {0x80, 0x01}, "0.3", OBD_UNIT_PA},  // 0.25
      {0x32, 1, {0x7F, 0xFF}, "-0.3", OBD_UNIT_PA},
      {0x54, 1, {0x00, 0x00}, "-32768", OBD_UNIT_PA},
      {0x54, 1, {0xFF, 0xFF}, "32767", OBD_UNIT_PA},
      {0x53, 1, {0xFF, 0xFF}, "327.675", OBD_UNIT_KPA},
      {0x22, 1, {0xFF, 0xFF}, "5178.0", OBD_UNIT_KPA},
      {0x22, 1, {0x80, 0x00}, "2589.0", OBD_UNIT_KPA},
      {0x33, 1, {101}, "101", OBD_UNIT_KPA},
      {0x0A, 1, {0xFF}, "765", OBD_UNIT_KPA},
      {0x23, 1, {0xFF, 0xFF}, "655350", OBD_UNIT_KPA},
      {0x0B, 1, {0x64}, "100.0", OBD_UNIT_KPA},
      {0x14, 1, {0xFF, 0x80}, "1.275", OBD_UNIT_V},
      {0x24, 2, {0, 0, 0xFF, 0xFF}, "8.000", OBD_UNIT_V},
      {0x24, 2, {0, 0, 0x80, 0x00}, "4.000", OBD_UNIT_V},
      {0x42, 1, {0x30, 0x39}, "12.35", OBD_UNIT_V},  // 12345 mV
      {0x34, 2, {0, 0, 0x80, 0x00}, "0.00", OBD_UNIT_MA},
      {0x34, 2, {0, 0, 0x00, 0x00}, "-128.00", OBD_UNIT_MA},
      {0x34, 2, {0, 0, 0xFF, 0xFF}, "128.00", OBD_UNIT_MA},  // 127.996 carries
      {0x44, 1, {0xFF, 0xFF}, "2.000", OBD_UNIT_NONE},
      {0x44, 1, {0xFF, 0xFE}, "2.000", OBD_UNIT_NONE},  // 1.99997 carries
      {0x24, 1, {0x80, 0x00}, "1.000", OBD_UNIT_NONE},
      {0x10, 1, {0xFF, 0xFF}, "655.35", OBD_UNIT_GS},
      {0x03, 1, {0x03, 0x00}, "n/a", OBD_UNIT_NONE},
      {0x03, 1, {0x02, 0x00}, "CL", OBD_UNIT_NONE},
      {0x03, 2, {0x02, 0x10}, "CL-Fault", OBD_UNIT_NONE},
      {0x03, 2, {0x02, 0x04}, "OL-Drive", OBD_UNIT_NONE},
      {0x12, 1, {0x08}, "DIAG", OBD_UNIT_NONE},
      {0x12, 1, {0x04}, "OFF", OBD_UNIT_NONE},
      {0x12, 1, {0x03}, "n/a", OBD_UNIT_NONE},
      {0x1E, 1, {0xFE}, "OFF", OBD_UNIT_NONE},
      {0x1E, 1, {0x01}, "ON", OBD_UNIT_NONE},
      {0x51, 1, {0}, "NONE", OBD_UNIT_NONE},
      {0x51, 1, {16}, "BI_MIX", OBD_UNIT_NONE},
      {0x51, 1, {23}, "BI_DSL", OBD_UNIT_NONE},
      {0x51, 1, {24}, "n/a", OBD_UNIT_NONE},
      {0x5F, 1, {15}, "EURO V B2", OBD_UNIT_NONE},
      {0x5F, 1, {13}, "n/a", OBD_UNIT_NONE},
      // Boost control states: turbo A in J bits 0-1 if A bit 2, turbo B in J bits 2-3 if A bit 5
      {0x70, 5, {0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}, "BP_A_OL", OBD_UNIT_NONE},
      {0x70, 5, {0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0x0E}, "BP_A_CL", OBD_UNIT_NONE},
      {0x70, 5, {0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0x03}, "BP_A_FAULT", OBD_UNIT_NONE},
      {0x70, 5, {0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0x00}, "n/a", OBD_UNIT_NONE},
      {0x70, 5, {0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}, "n/a", OBD_UNIT_NONE},
      {0x70, 6, {0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0x04}, "BP_B_OL", OBD_UNIT_NONE},
      {0x70, 6, {0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0x0B}, "BP_B_CL", OBD_UNIT_NONE},
      {0x70, 6, {0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0x0C}, "BP_B_FAULT", OBD_UNIT_NONE},
      {0x70, 6, {0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0x0C}, "n/a", OBD_UNIT_NONE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.pid) << "/" << int(c.item));
    const Value v = Decode(c.pid, c.item, c.data);
    EXPECT_EQ(v.text, c.text);
    EXPECT_EQ(v.unit, c.unit);
  }
}

TEST_F(PidCatalogue, ObdRequirementsSkipUnassignedValues) {
  const std::pair<uint8_t, const char*> obdReq[] = {
      {0, "n/a"},        {1, "OBD II"},   {13, "JOBD EOBD OBDII"}, {14, "EURO IV B1"},
      {16, "EURO C"},    {17, "EMD"},     {21, "WWH OBD"},         {22, "n/a"},
      {23, "HD EOBD-I"}, {26, "HD EOBD-II N"}, {27, "n/a"},       {28, "OBDBr-1"},
      {33, "HD EOBD-VI"}, {34, "n/a"},    {255, "n/a"}};
  for (const auto& [a, text] : obdReq) EXPECT_EQ(Text(0x1C, 1, {a}), text) << int(a);
}

// The full scales of PIDs 0x4F and 0x50 belong to the ECU that reported them.
TEST_F(PidCatalogue, ReportedMaximaRescaleTheirItems) {
  ASSERT_EQ(Store(0x4F, {4, 5, 20, 30}), 1);
  ASSERT_EQ(Store(0x50, {100, 0, 0, 0}), 1);
  EXPECT_EQ(Text(0x44, 1, {0xFF, 0xFF}), "4.000");
  EXPECT_EQ(Text(0x2B, 2, {0, 0, 0xFF, 0xFF}), "5.000");
  EXPECT_EQ(Text(0x3B, 2, {0, 0, 0xFF, 0xFF}), "20.00");
  EXPECT_EQ(Text(0x0B, 1, {0xFF}), "300.0");
  EXPECT_EQ(Text(0x0B, 1, {0x80}), "150.6");
  EXPECT_EQ(Text(0x10, 1, {0xFF, 0xFF}), "1000.00");
  EXPECT_EQ(Text(0x10, 1, {0x80, 0x00}), "500.01");
  EXPECT_EQ(Text(0x14, 1, {0xFF}), "1.275") << "narrow-band sensors have no maximum";
  OBD_SetActiveEcuIdx(1);
  EXPECT_EQ(Text(0x0B, 1, {0xFF}), "255.0");
  EXPECT_EQ(Text(0x44, 1, {0xFF, 0xFF}), "2.000");
}

TEST_F(PidCatalogue, BoostPressuresNeedTheirSupportBits) {
  Bytes d = {0x1B, 0x10, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x00, 0x00};
  EXPECT_EQ(Decode(0x70, 1, d).text, "128.00");
  EXPECT_EQ(Decode(0x70, 1, d).unit, OBD_UNIT_KPA);
  EXPECT_EQ(Text(0x70, 2, d), "2048.00");
  EXPECT_EQ(Text(0x70, 3, d), "0.00");
  EXPECT_EQ(Text(0x70, 4, d), "1024.02");
  for (int item = 1; item <= 4; ++item) {
    d[0] = static_cast<uint8_t>(0x1B & ~(item <= 2 ? 1 << (item - 1) : 1 << item));
    EXPECT_EQ(Decode(0x70, static_cast<uint8_t>(item), d).text, "n/a") << item;
    EXPECT_EQ(Decode(0x70, static_cast<uint8_t>(item), d).unit, OBD_UNIT_NONE) << item;
  }
}

// ---------------------------------------------------------------------------------------------
// Answers that do not belong to the item

TEST_F(PidCatalogue, ForeignOrShortAnswersDecodeNothing) {
  char txt[OBD_VALUE_TXT_SIZE] = "old";
  uint8_t unit = 77;
  const uint8_t rpm = ItemIdx(0x0C, 1);
  const Bytes wrongPid = {0x41, 0x0D, 0x1A, 0xF8};
  EXPECT_EQ(OBD_DecodeSid01RespDataByIdx(wrongPid.data(), 4, rpm, txt, &unit), 0);
  const Bytes wrongSid = {0x42, 0x0C, 0x1A, 0xF8};
  EXPECT_EQ(OBD_DecodeSid01RespDataByIdx(wrongSid.data(), 4, rpm, txt, &unit), 0);
  const Bytes shortRpm = {0x41, 0x0C, 0x1A};
  EXPECT_EQ(OBD_DecodeSid01RespDataByIdx(shortRpm.data(), 3, rpm, txt, &unit), 0);
  const Bytes onlyHeader = {0x41};
  EXPECT_EQ(OBD_DecodeSid01RespDataByIdx(onlyHeader.data(), 1, rpm, txt, &unit), 0);
  EXPECT_EQ(OBD_DecodeSid01RespDataByIdx(wrongPid.data(), 4, OBD_NUM_DATA_ITEMS, txt, &unit), 0);
  EXPECT_STREQ(txt, "old");
  EXPECT_EQ(unit, 77);

  // Two-bank engines answer PID 0x06 with byte A only: bank 3 is refused, bank 1 decodes.
  EXPECT_EQ(Text(0x06, 2, {0x80}), "<none>");
  EXPECT_EQ(Text(0x06, 1, {0x80}), "0.0");
  EXPECT_EQ(Text(0x70, 5, {0x04, 0, 0, 0, 0, 0, 0, 0, 0}), "<none>") << "byte J missing";
}

TEST_F(PidCatalogue, FreezeFrameAnswersMustCarryTheActiveFrame) {
  char txt[OBD_VALUE_TXT_SIZE] = "";
  uint8_t unit = 0;
  OBD_SetActiveFrameNo(2);
  const Bytes frame2 = {0x42, 0x0C, 0x02, 0x1A, 0xF8};
  EXPECT_EQ(OBD_DecodeSid02RespDataByIdx(frame2.data(), 5, ItemIdx(0x0C, 1), txt, &unit), 1);
  EXPECT_STREQ(txt, "1726");
  EXPECT_EQ(unit, OBD_UNIT_RPM);
  OBD_SetActiveFrameNo(0);
  EXPECT_EQ(OBD_DecodeSid02RespDataByIdx(frame2.data(), 5, ItemIdx(0x0C, 1), txt, &unit), 0);
  const Bytes live = {0x41, 0x0C, 0x1A, 0xF8};
  EXPECT_EQ(OBD_DecodeSid02RespDataByIdx(live.data(), 4, ItemIdx(0x0C, 1), txt, &unit), 0);
}

TEST_F(PidCatalogue, EveryValueFitsTheTextBuffer) {
  std::mt19937 rng(7);
  for (uint8_t max : {0, 255}) {
    Store(0x4F, {max, max, max, max});
    Store(0x50, {max});
    for (int round = 0; round < 200; ++round) {
      Bytes data(10);
      for (auto& b : data) b = round == 0 ? 0x00 : round == 1 ? 0xFF : static_cast<uint8_t>(rng());
      Bytes resp{0x41, 0};
      resp.insert(resp.end(), data.begin(), data.end());
      for (uint8_t i = 0; i < OBD_NUM_DATA_ITEMS; ++i) {
        resp[1] = obd_dataItem[i].pid;
        char txt[64];
        memset(txt, 'x', sizeof txt);
        uint8_t unit = 0;
        ASSERT_EQ(OBD_DecodeSid01RespDataByIdx(resp.data(), 12, i, txt, &unit), 1);
        ASSERT_LT(strlen(txt), OBD_VALUE_TXT_SIZE) << "item " << int(i) << ": " << txt;
        ASSERT_LT(unit, OBD_NUM_UNITS);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Supported PIDs, data items and configuration answers

TEST_F(PidCatalogue, SupportBitsCountFromTheTopBitOfEachByte) {
  EXPECT_EQ(OBD_PidIsSupported(0x00), 1) << "always";
  EXPECT_EQ(OBD_PidIsSupported(0x01), 0);
  ASSERT_EQ(Store(0x00, {0x80, 0x00, 0x00, 0x01}), 1);
  EXPECT_EQ(OBD_PidIsSupported(0x01), 1);
  EXPECT_EQ(OBD_PidIsSupported(0x02), 0);
  EXPECT_EQ(OBD_PidIsSupported(0x20), 1);
  EXPECT_EQ(OBD_PidIsSupported(0x21), 0);
  ASSERT_EQ(Store(0x20, {0x80, 0x00, 0x00, 0x00}), 1);
  EXPECT_EQ(OBD_PidIsSupported(0x21), 1);
  EXPECT_EQ(OBD_GetSupportedPids(4), 0x80);
  ASSERT_EQ(Store(0xE0, {0x00, 0x00, 0x00, 0x02}), 1);
  EXPECT_EQ(OBD_PidIsSupported(0xFF), 1) << "the last PID is bit 1 of byte 31";
  EXPECT_EQ(OBD_PidIsSupported(0xFE), 0);
  EXPECT_EQ(OBD_GetSupportedPids(31), 0x02);
  EXPECT_EQ(OBD_GetSupportedPids(32), 0);

  OBD_SetActiveEcuIdx(1);
  EXPECT_EQ(OBD_PidIsSupported(0x01), 0) << "each ECU has its own bitmap";
  OBD_SetActiveEcuIdx(0);

  OBD_SetActiveSid(2);
  EXPECT_EQ(OBD_PidIsSupported(0x01), 0) << "freeze frames have their own bitmap";
  EXPECT_EQ(OBD_PidIsSupported(0x00), 1);
  Store(0x00, {0x40, 0, 0, 0});
  EXPECT_EQ(OBD_PidIsSupported(0x02), 1);
  OBD_ResetSid02SupPids();
  EXPECT_EQ(OBD_PidIsSupported(0x02), 0);
  OBD_SetActiveSid(3);
  EXPECT_EQ(OBD_GetActiveSid(), 2) << "only services 1 and 2";
}

TEST_F(PidCatalogue, ConfigurationAnswersAreStoredForTheActiveEcu) {
  OBD_SetActiveEcuIdx(1);
  EXPECT_EQ(Store(0x4F, {1, 2, 3, 4}), 1);
  EXPECT_EQ(Store(0x50, {5, 0, 0, 0}), 1);
  EXPECT_EQ(obdPid.obd_scalingLambdaPidData[1], 1);
  EXPECT_EQ(obdPid.obd_scalingVoltagePidData[1], 2);
  EXPECT_EQ(obdPid.obd_scalingCurrentPidData[1], 3);
  EXPECT_EQ(obdPid.obd_scalingMapPidData[1], 4);
  EXPECT_EQ(obdPid.obd_scalingMafPidData[1], 5);
  EXPECT_EQ(obdPid.obd_scalingMapPidData[0], 0);

  EXPECT_EQ(Store(0x41, {0x00, 0x07, 0x65, 0x21}), 1);
  EXPECT_EQ(obdPid.obd_monitorStatusCurrentCycle[1][3], 0x21);

  EXPECT_EQ(Store(0x0C, {0x1A, 0xF8}), 0) << "a data PID stores nothing";
  EXPECT_EQ(Store(0x4F, {1, 2, 3}), 0) << "short answer";
  EXPECT_EQ(Store(0x00, {0xFF, 0xFF}), 0) << "short answer";
  EXPECT_EQ(OBD_PidIsSupported(0x01), 0);
  const Bytes wrongPid = {0x41, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(OBD_DecodeSid01RespDataByPid(wrongPid.data(), 6, 0x20), 0);

  OBD_SetActiveSid(2);
  OBD_SetActiveFrameNo(1);
  EXPECT_EQ(Store(0x02, {0x01, 0x23}), 1);
  EXPECT_EQ(OBD_GetFreezeFrameDtc(), 0x0123);
  const Bytes otherFrame = {0x42, 0x02, 0x00, 0x04, 0x20};
  EXPECT_EQ(OBD_DecodeSid01RespDataByPid(otherFrame.data(), 5, 0x02), 0);
  EXPECT_EQ(OBD_GetFreezeFrameDtc(), 0x0123);
}

TEST_F(PidCatalogue, BankThreeAndFourTrimsNeedAFourBankLayout) {
  Store(0x00, {0x03, 0x00, 0x00, 0x00});  // PIDs 0x07, 0x08
  const uint8_t ltft3 = ItemIdx(0x07, 2), stft2 = ItemIdx(0x08, 1);
  EXPECT_EQ(OBD_DataItemIsSupported(stft2), 1);
  EXPECT_EQ(OBD_DataItemIsSupported(ltft3), 0) << "no layout known";
  EXPECT_EQ(OBD_DataItemIsSupported(ItemIdx(0x06, 1)), 0) << "PID not supported";

  OBD_SetActiveEcuIdx(1);
  Store(0x1D, {0x0F});
  OBD_SetActiveEcuIdx(0);
  EXPECT_EQ(OBD_DataItemIsSupported(ltft3), 0) << "PID 0x1D with banks 1 and 2 only";
  OBD_SetEcuAddr(0x11);
  OBD_SetActiveEcuIdx(2);
  Store(0x1D, {0x10});
  OBD_SetActiveEcuIdx(0);
  EXPECT_EQ(OBD_DataItemIsSupported(ltft3), 1) << "a later ECU reports bank 3";

  Store(0x13, {0xFF});
  EXPECT_EQ(OBD_DataItemIsSupported(ltft3), 0) << "the first ECU's PID 0x13 decides";
  EXPECT_EQ(OBD_DataItemIsSupported(stft2), 1);
}

TEST_F(PidCatalogue, ItemSetsCountAndStepThroughSupportedItems) {
  // PIDs 0x03, 0x0C, 0x14 and 0x70: items 0, 1, 14, 21, 22, and the six of 0x70.
  Store(0x00, {0x20, 0x10, 0x10, 0x00});
  Store(0x60, {0x00, 0x01, 0x00, 0x00});
  EXPECT_EQ(OBD_GetNumDataItems(), 11);
  OBD_InitSupDataItems();
  std::vector<int> items;
  for (uint8_t n = 0; n < 11; ++n) items.push_back(OBD_GetNextDataItem(0, n));
  const uint8_t bp = ItemIdx(0x70, 1);
  EXPECT_EQ(items, (std::vector<int>{0, 1, 14, 21, 22, bp, bp + 1, bp + 2, bp + 3, bp + 4,
                                     bp + 5}));
  EXPECT_EQ(OBD_GetNextDataItem(2, 0), 14) << "from an unsupported start";
  EXPECT_EQ(OBD_GetNextDataItem(14, 1), 21);
  EXPECT_EQ(OBD_GetNextDataItem(0, 50), bp + 5) << "too few: the last one found";
  EXPECT_EQ(OBD_GetNextDataItem(bp + 6, 0), bp + 6) << "none: the start";

  OBD_SetActiveSid(2);
  EXPECT_EQ(OBD_GetNextDataItem(0, 0), 0) << "the freeze-frame set is still empty";
  Store(0x00, {0x00, 0x10, 0x00, 0x00});
  OBD_InitSupDataItems();
  EXPECT_EQ(OBD_GetNextDataItem(0, 0), 14);
  OBD_SetActiveSid(1);
  EXPECT_EQ(OBD_GetNextDataItem(0, 0), 0) << "switching back selects the live-data set";
}

TEST_F(PidCatalogue, ReadingStartForgetsThePreviousVehicle) {
  Store(0x00, {0xFF, 0xFF, 0xFF, 0xFF});
  Store(0x1D, {0xF0});
  Store(0x4F, {9, 9, 9, 9});
  OBD_InitSupDataItems();
  OBD_SetActiveSid(2);
  OBD_Init();
  EXPECT_EQ(OBD_GetActiveSid(), 1);
  EXPECT_EQ(OBD_GetNumEcus(), 0);
  EXPECT_EQ(OBD_PidIsSupported(0x01), 0);
  EXPECT_EQ(OBD_GetO2SensorLocPid(), 0);
  EXPECT_EQ(OBD_GetO2SensorLocData(), 0xFF);
  EXPECT_EQ(obdPid.obd_scalingMapPidData[0], 0);
  EXPECT_EQ(OBD_GetNextDataItem(0, 0), 0);
  EXPECT_EQ(obdPid.obd_supDataItemsSid01[0], 0);
}

}  // namespace
