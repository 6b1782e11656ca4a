// The PID catalogue's constant tables: the 126 data items in PID order, their short and long
// names, the units and the enumerated value texts. Codes below 0x20 are the fonts' glyphs:
// 0x0A the degree sign, 0x0B the "-1" exponent of revolutions per minute.
#include "obd/pids.h"

namespace {

constexpr OBD_SCALING_FCT CNT = OBD_DecodePidScalingCnt;
constexpr OBD_SCALING_FCT SPEED = OBD_DecodePidScalingSpeed;
constexpr OBD_SCALING_FCT RPM = OBD_DecodePidScalingRpm;
constexpr OBD_SCALING_FCT TEMP1 = OBD_DecodePidScalingTemp1;
constexpr OBD_SCALING_FCT TEMP2 = OBD_DecodePidScalingTemp2;
constexpr OBD_SCALING_FCT PCT1 = OBD_DecodePidScalingPercentage1;
constexpr OBD_SCALING_FCT PCT2 = OBD_DecodePidScalingPercentage2;
constexpr OBD_SCALING_FCT PCT3 = OBD_DecodePidScalingPercentage3;
constexpr OBD_SCALING_FCT PRESS1 = OBD_DecodePidScalingPressure1;
constexpr OBD_SCALING_FCT PRESS2 = OBD_DecodePidScalingPressure2;
constexpr OBD_SCALING_FCT PRESS3 = OBD_DecodePidScalingPressure3;
constexpr OBD_SCALING_FCT PRESS4 = OBD_DecodePidScalingPressure4;
constexpr OBD_SCALING_FCT PRESS5 = OBD_DecodePidScalingPressure5;
constexpr OBD_SCALING_FCT PRESS6 = OBD_DecodePidScalingPressure6;
constexpr OBD_SCALING_FCT PRESS7 = OBD_DecodePidScalingPressure7;
constexpr OBD_SCALING_FCT PRESS8 = OBD_DecodePidScalingPressure8;
constexpr OBD_SCALING_FCT PRESS9 = OBD_DecodePidScalingPressure9;
constexpr OBD_SCALING_FCT VOLT1 = OBD_DecodePidScalingVoltage1;
constexpr OBD_SCALING_FCT VOLT2 = OBD_DecodePidScalingVoltage2;
constexpr OBD_SCALING_FCT VOLT3 = OBD_DecodePidScalingVoltage3;
constexpr OBD_SCALING_FCT CURR = OBD_DecodePidScalingCurrent;
constexpr OBD_SCALING_FCT LAMBDA = OBD_DecodePidScalingLambda;
constexpr OBD_SCALING_FCT MAF = OBD_DecodePidScalingAirFlowRate;
constexpr OBD_SCALING_FCT IGN = OBD_DecodePidScalingIgnTiming;
constexpr OBD_SCALING_FCT INJ = OBD_DecodePidScalingInjTiming;
constexpr OBD_SCALING_FCT FRATE = OBD_DecodePidScalingFuelRate;
constexpr OBD_SCALING_FCT TIME1 = OBD_DecodePidScalingTime1;
constexpr OBD_SCALING_FCT TIME2 = OBD_DecodePidScalingTime2;
constexpr OBD_SCALING_FCT DIST = OBD_DecodePidScalingDistance;
constexpr OBD_SCALING_FCT FSYS = OBD_DecodePidScalingFuelSys;
constexpr OBD_SCALING_FCT AIRST = OBD_DecodePidScalingSecondaryAirStat;
constexpr OBD_SCALING_FCT PTO = OBD_DecodePidScalingPtoStat;
constexpr OBD_SCALING_FCT OBDREQ = OBD_DecodePidScalingSupObdRequirements;
constexpr OBD_SCALING_FCT FTYPE = OBD_DecodePidScalingFuelType;
constexpr OBD_SCALING_FCT EMISREQ = OBD_DecodePidScalingSupEmisRequirements;
constexpr OBD_SCALING_FCT BPSTAT = OBD_DecodePidScalingBoostPressureControlStatus;

}  // namespace

// The oxygen-sensor PIDs carry the names of the PID 0x13 layout; with PID 0x1D the names of
// PIDs 0x16..0x1B (and their wide-range and current counterparts) are two text ids further on.
// clang-format off
constexpr OBD_DATA_ITEM obd_dataItem[OBD_NUM_DATA_ITEMS] = {
    // pid  item txt len scaling
    {0x03, 1,   0,  1, FSYS},     // FUELSYS1
    {0x03, 2,   1,  2, FSYS},     // FUELSYS2
    {0x04, 1,   2,  1, PCT2},     // LOAD_PCT
    {0x05, 1,   3,  1, TEMP1},    // ECT
    {0x06, 1,   4,  1, PCT1},     // SHRTFT1
    {0x06, 2,   5,  2, PCT1},     // SHRTFT3
    {0x07, 1,   6,  1, PCT1},     // LONGFT1
    {0x07, 2,   7,  2, PCT1},     // LONGFT3
    {0x08, 1,   8,  1, PCT1},     // SHRTFT2
    {0x08, 2,   9,  2, PCT1},     // SHRTFT4
    {0x09, 1,  10,  1, PCT1},     // LONGFT2
    {0x09, 2,  11,  2, PCT1},     // LONGFT4
    {0x0A, 1,  12,  1, PRESS7},   // FP
    {0x0B, 1,  13,  1, PRESS6},   // MAP
    {0x0C, 1,  14,  2, RPM},      // RPM
    {0x0D, 1,  15,  1, SPEED},    // VSS
    {0x0E, 1,  16,  1, IGN},      // SPARKADV
    {0x0F, 1,  17,  1, TEMP1},    // IAT
    {0x10, 1,  18,  2, MAF},      // MAF
    {0x11, 1,  19,  1, PCT2},     // TP
    {0x12, 1,  20,  1, AIRST},    // AIR_STAT
    {0x14, 1,  21,  1, VOLT1},    // O2S11
    {0x14, 2,  33,  2, PCT1},     // SHRTFT11
    {0x15, 1,  22,  1, VOLT1},    // O2S12
    {0x15, 2,  34,  2, PCT1},     // SHRTFT12
    {0x16, 1,  23,  1, VOLT1},    // O2S13
    {0x16, 2,  35,  2, PCT1},     // SHRTFT13
    {0x17, 1,  24,  1, VOLT1},    // O2S14
    {0x17, 2,  36,  2, PCT1},     // SHRTFT14
    {0x18, 1,  25,  1, VOLT1},    // O2S21
    {0x18, 2,  37,  2, PCT1},     // SHRTFT21
    {0x19, 1,  26,  1, VOLT1},    // O2S22
    {0x19, 2,  38,  2, PCT1},     // SHRTFT22
    {0x1A, 1,  29,  1, VOLT1},    // O2S23
    {0x1A, 2,  41,  2, PCT1},     // SHRTFT23
    {0x1B, 1,  30,  1, VOLT1},    // O2S24
    {0x1B, 2,  42,  2, PCT1},     // SHRTFT24
    {0x1C, 1,  45,  1, OBDREQ},   // OBDSUP
    {0x1E, 1,  46,  1, PTO},      // PTO_STAT
    {0x1F, 1,  47,  2, TIME1},    // RUNTM
    {0x21, 1,  48,  2, DIST},     // MIL_DIST
    {0x22, 1,  49,  2, PRESS4},   // FP
    {0x23, 1,  50,  2, PRESS8},   // FRP
    {0x24, 1,  51,  2, LAMBDA},   // LAMBDA11
    {0x24, 2,  21,  4, VOLT2},    // O2S11
    {0x25, 1,  52,  2, LAMBDA},   // LAMBDA12
    {0x25, 2,  22,  4, VOLT2},    // O2S12
    {0x26, 1,  53,  2, LAMBDA},   // LAMBDA13
    {0x26, 2,  23,  4, VOLT2},    // O2S13
    {0x27, 1,  54,  2, LAMBDA},   // LAMBDA14
    {0x27, 2,  24,  4, VOLT2},    // O2S14
    {0x28, 1,  55,  2, LAMBDA},   // LAMBDA21
    {0x28, 2,  25,  4, VOLT2},    // O2S21
    {0x29, 1,  56,  2, LAMBDA},   // LAMBDA22
    {0x29, 2,  26,  4, VOLT2},    // O2S22
    {0x2A, 1,  59,  2, LAMBDA},   // LAMBDA23
    {0x2A, 2,  29,  4, VOLT2},    // O2S23
    {0x2B, 1,  60,  2, LAMBDA},   // LAMBDA24
    {0x2B, 2,  30,  4, VOLT2},    // O2S24
    {0x2C, 1,  63,  1, PCT2},     // EGR_PCT
    {0x2D, 1,  64,  1, PCT1},     // EGR_ERR
    {0x2E, 1,  65,  1, PCT2},     // EVAP_PCT
    {0x2F, 1,  66,  1, PCT2},     // FLI
    {0x30, 1,  67,  1, CNT},      // WARM_UPS
    {0x31, 1,  68,  2, DIST},     // CLR_DIST
    {0x32, 1,  69,  2, PRESS1},   // EVAP_VP
    {0x33, 1,  70,  1, PRESS5},   // BARO
    {0x34, 1,  51,  2, LAMBDA},   // LAMBDA11
    {0x34, 2,  71,  4, CURR},     // O2S11
    {0x35, 1,  52,  2, LAMBDA},   // LAMBDA12
    {0x35, 2,  72,  4, CURR},     // O2S12
    {0x36, 1,  53,  2, LAMBDA},   // LAMBDA13
    {0x36, 2,  73,  4, CURR},     // O2S13
    {0x37, 1,  54,  2, LAMBDA},   // LAMBDA14
    {0x37, 2,  74,  4, CURR},     // O2S14
    {0x38, 1,  55,  2, LAMBDA},   // LAMBDA21
    {0x38, 2,  75,  4, CURR},     // O2S21
    {0x39, 1,  56,  2, LAMBDA},   // LAMBDA22
    {0x39, 2,  76,  4, CURR},     // O2S22
    {0x3A, 1,  59,  2, LAMBDA},   // LAMBDA23
    {0x3A, 2,  79,  4, CURR},     // O2S23
    {0x3B, 1,  60,  2, LAMBDA},   // LAMBDA24
    {0x3B, 2,  80,  4, CURR},     // O2S24
    {0x3C, 1,  83,  2, TEMP2},    // CATEMP11
    {0x3D, 1,  84,  2, TEMP2},    // CATEMP21
    {0x3E, 1,  85,  2, TEMP2},    // CATEMP12
    {0x3F, 1,  86,  2, TEMP2},    // CATEMP22
    {0x42, 1,  87,  2, VOLT3},    // VPWR
    {0x43, 1,  88,  2, PCT3},     // LOAD_ABS
    {0x44, 1,  89,  2, LAMBDA},   // LAMBDA
    {0x45, 1,  90,  1, PCT2},     // TP_R
    {0x46, 1,  91,  1, TEMP1},    // AAT
    {0x47, 1,  92,  1, PCT2},     // TP_B
    {0x48, 1,  93,  1, PCT2},     // TP_C
    {0x49, 1,  94,  1, PCT2},     // APP_D
    {0x4A, 1,  95,  1, PCT2},     // APP_E
    {0x4B, 1,  96,  1, PCT2},     // APP_F
    {0x4C, 1,  97,  1, PCT2},     // TAC_PCT
    {0x4D, 1,  98,  2, TIME2},    // MIL_TIME
    {0x4E, 1,  99,  2, TIME2},    // CLR_TIME
    {0x51, 1, 100,  1, FTYPE},    // FUEL_TYP
    {0x52, 1, 101,  1, PCT2},     // ALCH_PCT
    {0x53, 1, 102,  2, PRESS3},   // EVAP_VPA
    {0x54, 1,  69,  2, PRESS2},   // EVAP_VP: same name as PID 0x32, wider range
    {0x55, 1, 103,  1, PCT1},     // STSO2FT1
    {0x55, 2, 104,  2, PCT1},     // STSO2FT3
    {0x56, 1, 105,  1, PCT1},     // LGSOFT1
    {0x56, 2, 106,  2, PCT1},     // LGSOFT3
    {0x57, 1, 107,  1, PCT1},     // STSO2FT2
    {0x57, 2, 108,  2, PCT1},     // STSO2FT4
    {0x58, 1, 109,  1, PCT1},     // LGSOFT2
    {0x58, 2, 110,  2, PCT1},     // LGSOFT4
    {0x59, 1, 111,  2, PRESS8},   // FRP
    {0x5A, 1, 112,  1, PCT2},     // APP_R
    {0x5B, 1, 113,  1, PCT2},     // BAT_PWR
    {0x5C, 1, 114,  1, TEMP1},    // EOT
    {0x5D, 1, 115,  2, INJ},      // FUEL_TIMING
    {0x5E, 1, 116,  2, FRATE},    // FUEL_RATE
    {0x5F, 1, 117,  1, EMISREQ},  // EMIS_SUP
    {0x70, 1, 118,  3, PRESS9},   // BP_A_CMD
    {0x70, 2, 119,  5, PRESS9},   // BP_A_ACT
    {0x70, 3, 120,  7, PRESS9},   // BP_B_CMD
    {0x70, 4, 121,  9, PRESS9},   // BP_B_ACT
    {0x70, 5, 122, 10, BPSTAT},   // BP_A_STAT
    {0x70, 6, 123, 10, BPSTAT},   // BP_B_STAT
    {0x8D, 1, 124,  1, PCT2},     // TP_G
};

// Twelve oxygen-sensor positions in text id order: the PID 0x13 layout uses the first six and
// positions 9 and 10, the PID 0x1D layout the first two and positions 5 to 12.
#define OBD_O2_POSITIONS(pre, post) \
  pre "11" post, pre "12" post, pre "13" post, pre "14" post, pre "21" post, pre "22" post, \
  pre "31" post, pre "32" post, pre "23" post, pre "24" post, pre "41" post, pre "42" post
#define OBD_O2_LONG(pre) \
  pre " (B1-S1)", pre " (B1-S2)", pre " (B1-S3)", pre " (B1-S4)", pre " (B2-S1)", pre " (B2-S2)", \
  pre " (B3-S1)", pre " (B3-S2)", pre " (B2-S3)", pre " (B2-S4)", pre " (B4-S1)", pre " (B4-S2)"

constexpr const char* obdPidShortTxt[OBD_NUM_PID_TXT] = {
    /*   0 */ "FUELSYS1", "FUELSYS2", "LOAD_PCT", "ECT",
    /*   4 */ "SHRTFT1", "SHRTFT3", "LONGFT1", "LONGFT3", "SHRTFT2", "SHRTFT4", "LONGFT2", "LONGFT4",
    /*  12 */ "FP", "MAP", "RPM", "VSS", "SPARKADV", "IAT", "MAF", "TP", "AIR_STAT",
    /*  21 */ OBD_O2_POSITIONS("O2S", ""),
    /*  33 */ OBD_O2_POSITIONS("SHRTFT", ""),
    /*  45 */ "OBDSUP", "PTO_STAT", "RUNTM", "MIL_DIST", "FP", "FRP",
    /*  51 */ OBD_O2_POSITIONS("LAMBDA", ""),
    /*  63 */ "EGR_PCT", "EGR_ERR", "EVAP_PCT", "FLI", "WARM_UPS", "CLR_DIST", "EVAP_VP", "BARO",
    /*  71 */ OBD_O2_POSITIONS("O2S", ""),
    /*  83 */ "CATEMP11", "CATEMP21", "CATEMP12", "CATEMP22",
    /*  87 */ "VPWR", "LOAD_ABS", "LAMBDA", "TP_R", "AAT", "TP_B", "TP_C", "APP_D", "APP_E",
    /*  96 */ "APP_F", "TAC_PCT", "MIL_TIME", "CLR_TIME", "FUEL_TYP", "ALCH_PCT", "EVAP_VPA",
    /* 103 */ "STSO2FT1", "STSO2FT3", "LGSOFT1", "LGSOFT3", "STSO2FT2", "STSO2FT4", "LGSOFT2",
    /* 110 */ "LGSOFT4", "FRP", "APP_R", "BAT_PWR", "EOT", "FUEL_TIMING", "FUEL_RATE", "EMIS_SUP",
    /* 118 */ "BP_A_CMD", "BP_A_ACT", "BP_B_CMD", "BP_B_ACT", "BP_A_STAT", "BP_B_STAT",
    /* 124 */ "TP_G",
};

// What the single-item screen shows under the value: the standard's descriptions, shortened.
constexpr const char* obdPidLongTxt[OBD_NUM_PID_TXT] = {
    /*   0 */ "Fuel system 1 status",
    /*   1 */ "Fuel system 2 status",
    /*   2 */ "Calculated load value",
    /*   3 */ "Engine coolant temperature",
    /*   4 */ "Short term fuel trim Bank 1",
    /*   5 */ "Short term fuel trim Bank 3",
    /*   6 */ "Long term fuel trim Bank 1",
    /*   7 */ "Long term fuel trim Bank 3",
    /*   8 */ "Short term fuel trim Bank 2",
    /*   9 */ "Short term fuel trim Bank 4",
    /*  10 */ "Long term fuel trim Bank 2",
    /*  11 */ "Long term fuel trim Bank 4",
    /*  12 */ "Fuel pressure",
    /*  13 */ "Intake manifold abs. pressure",
    /*  14 */ "Engine RPM",
    /*  15 */ "Vehicle speed sensor",
    /*  16 */ "Ignition timing adv. (cyl. 1)",
    /*  17 */ "Intake air temperature",
    /*  18 */ "Air flow rate from MAF sensor",
    /*  19 */ "Absolute throttle position",
    /*  20 */ "Commanded secondary air status",
    /*  21 */ OBD_O2_LONG("Oxygen sens. voltage"),
    /*  33 */ OBD_O2_LONG("Short term fuel trim"),
    /*  45 */ "OBD requirements of vehicle",
    /*  46 */ "Power take off (PTO) status",
    /*  47 */ "Time since engine start",
    /*  48 */ "Distance while MIL activated",
    /*  49 */ "Fuel rail pressure rel. vacuum",
    /*  50 */ "Fuel rail pressure (diesel/GDI)",
    /*  51 */ OBD_O2_LONG("Equivalence ratio"),
    /*  63 */ "Commanded EGR",
    /*  64 */ "EGR error",
    /*  65 */ "Commanded evaporative purge",
    /*  66 */ "Fuel level input",
    /*  67 */ "Warm-ups since DTCs cleared",
    /*  68 */ "Distance since DTCs cleared",
    /*  69 */ "Evap. system vapor pressure",
    /*  70 */ "Barometric pressure",
    /*  71 */ OBD_O2_LONG("Oxygen sens. current"),
    /*  83 */ "Catalyst temperature (B1-S1)",
    /*  84 */ "Catalyst temperature (B2-S1)",
    /*  85 */ "Catalyst temperature (B1-S2)",
    /*  86 */ "Catalyst temperature (B2-S2)",
    /*  87 */ "Control module voltage",
    /*  88 */ "Absolute load value",
    /*  89 */ "Commanded equivalence ratio",
    /*  90 */ "Relative throttle position",
    /*  91 */ "Ambient air temperature",
    /*  92 */ "Absolute throttle position B",
    /*  93 */ "Absolute throttle position C",
    /*  94 */ "Accelerator pedal position D",
    /*  95 */ "Accelerator pedal position E",
    /*  96 */ "Accelerator pedal position F",
    /*  97 */ "Commanded throttle actuator",
    /*  98 */ "Eng. run time while MIL on",
    /*  99 */ "Eng. run time since DTCs clrd",
    /* 100 */ "Type of fuel currently used",
    /* 101 */ "Alcohol fuel percentage",
    /* 102 */ "Abs. evap. system vapor press.",
    /* 103 */ "Short term sec. O2 trim Bank 1",
    /* 104 */ "Short term sec. O2 trim Bank 3",
    /* 105 */ "Long term sec. O2 trim Bank 1",
    /* 106 */ "Long term sec. O2 trim Bank 3",
    /* 107 */ "Short term sec. O2 trim Bank 2",
    /* 108 */ "Short term sec. O2 trim Bank 4",
    /* 109 */ "Long term sec. O2 trim Bank 2",
    /* 110 */ "Long term sec. O2 trim Bank 4",
    /* 111 */ "Fuel rail pressure (absolute)",
    /* 112 */ "Rel. accelerator pedal position",
    /* 113 */ "Hybrid battery remaining charge",
    /* 114 */ "Engine oil temperature",
    /* 115 */ "Fuel injection timing",
    /* 116 */ "Engine fuel rate",
    /* 117 */ "Emission requirements of veh.",
    /* 118 */ "Commanded boost pressure A",
    /* 119 */ "Boost pressure sensor A",
    /* 120 */ "Commanded boost pressure B",
    /* 121 */ "Boost pressure sensor B",
    /* 122 */ "Boost pressure A control status",
    /* 123 */ "Boost pressure B control status",
    /* 124 */ "Absolute throttle position G",
};

#undef OBD_O2_POSITIONS
#undef OBD_O2_LONG

constexpr const char* obdUnitTxt[OBD_NUM_UNITS] = {
    /*  0 */ "",
    /*  1 */ "Pa",
    /*  2 */ "kPa",
    /*  3 */ "min" "\x0B",
    /*  4 */ "km/h",
    /*  5 */ "km",
    /*  6 */ "g/s",
    /*  7 */ "L/h",
    /*  8 */ "hrs",
    /*  9 */ "h",
    /* 10 */ "min",
    /* 11 */ "sec.",
    /* 12 */ "%",
    /* 13 */ "\x0A" "C",
    /* 14 */ "V",
    /* 15 */ "mA",
    /* 16 */ "\x0A",
};

constexpr const char* obdPidDataTxt[OBD_NUM_DATA_TXT] = {
    /*   0 */ "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15",
    /*  16 */ "16", ">16", "n/a", "OFF", "ON", "NO", "YES", "N/A",
    /*  24 */ "OL", "CL", "OL-Drive", "OL-Fault", "CL-Fault",
    /*  29 */ "UPS", "DNS", "DIAG", "-",
    /*  33 */ "O2S11", "O2S12", "O2S13", "O2S14", "O2S21", "O2S22", "O2S23", "O2S24",
    /*  41 */ "OBD II", "OBD", "OBD OBDII", "OBD I", "No OBD", "EOBD", "EOBD OBDII", "EOBD OBD",
    /*  49 */ "EOBD OBD OBDII", "JOBD", "JOBD OBDII", "JOBD EOBD", "JOBD EOBD OBDII",
    /*  54 */ "EMD", "EMD+", "HD OBD-C", "HD OBD", "WWH OBD",
    /*  59 */ "HD EOBD-I", "HD EOBD-I N", "HD EOBD-II", "HD EOBD-II N",
    /*  63 */ "OBDBr-1", "OBDBr-2", "KOBD", "IOBD I", "IOBD II", "HD EOBD-VI",
    /*  69 */ "O2S11", "O2S12", "O2S21", "O2S22", "O2S31", "O2S32", "O2S41", "O2S42",
    /*  77 */ "NONE", "GAS", "METH", "ETH", "DSL", "LPG", "CNG", "PROP", "ELEC",
    /*  86 */ "BI_GAS", "BI_METH", "BI_ETH", "BI_LPG", "BI_CNG", "BI_PROP", "BI_ELEC", "BI_MIX",
    /*  94 */ "HYB_GAS", "HYB_ETH", "HYB_DSL", "HYB_ELEC", "HYB_MIX", "HYB_REG", "BI_DSL",
    /* 101 */ "EURO IV B1", "EURO V B2", "EURO C",
    /* 104 */ "BP_A_OL", "BP_A_CL", "BP_A_FAULT", "BP_B_OL", "BP_B_CL", "BP_B_FAULT",
};
// clang-format on

// ---------------------------------------------------------------------------------------------
// Table invariants, checked while compiling.

namespace {

constexpr uint8_t TxtLen(const char* s) {
  uint8_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

// Items in PID order, numbered 1, 2, ... within their PID, every row filled.
constexpr bool ItemsInOrder() {
  for (uint8_t i = 0; i < OBD_NUM_DATA_ITEMS; ++i) {
    const OBD_DATA_ITEM& d = obd_dataItem[i];
    if (d.dataLen == 0 || d.txtId >= OBD_NUM_PID_TXT) return false;
    if (i == 0) {
      if (d.item != 1) return false;
    } else {
      const OBD_DATA_ITEM& p = obd_dataItem[i - 1];
      if (d.pid == p.pid ? d.item != p.item + 1 : (d.pid < p.pid || d.item != 1)) return false;
    }
  }
  return true;
}

// Every name is reached: by an item directly, or two ids on in the PID 0x1D layout.
constexpr bool EveryTxtIdUsed() {
  for (uint8_t t = 0; t < OBD_NUM_PID_TXT; ++t) {
    bool used = false;
    for (const OBD_DATA_ITEM& d : obd_dataItem) {
      if (d.txtId == t || (OBD_PidHasO2Layout(d.pid) && d.txtId + 2 == t)) used = true;
    }
    if (!used) return false;
  }
  return true;
}

constexpr bool NamesFit() {
  for (uint8_t t = 0; t < OBD_NUM_PID_TXT; ++t) {
    if (obdPidShortTxt[t] == nullptr || obdPidLongTxt[t] == nullptr) return false;
    if (TxtLen(obdPidShortTxt[t]) == 0 || TxtLen(obdPidShortTxt[t]) > OBD_PID_SHORT_TXT_MAX)
      return false;
    if (TxtLen(obdPidLongTxt[t]) == 0 || TxtLen(obdPidLongTxt[t]) > OBD_PID_LONG_TXT_MAX)
      return false;
  }
  return true;
}

constexpr bool AllPresent(const char* const* t, uint8_t n) {
  for (uint8_t i = 0; i < n; ++i)
    if (t[i] == nullptr || TxtLen(t[i]) >= OBD_VALUE_TXT_SIZE) return false;
  return true;
}

}  // namespace

static_assert(obd_dataItem[OBD_NUM_DATA_ITEMS - 1].pid == 0x8D);
static_assert(ItemsInOrder());
static_assert(EveryTxtIdUsed());
static_assert(NamesFit());
static_assert(AllPresent(obdUnitTxt + 1, OBD_NUM_UNITS - 1));
static_assert(AllPresent(obdPidDataTxt, OBD_NUM_DATA_TXT));
