// Readiness monitors, info types and performance tracking counters of every ECU. The monitor
// rows are decoded from the active ECU's PID 0x01 and 0x41 answers and filtered by its ignition type and
// the display settings; service 0x09 answers are checked against their length before any copy.
#include "obd/monitors.h"

#include <string.h>

ObdMonState obdMon;

// ---------------------------------------------------------------------------------------------
// Tables

// clang-format off
#define OBD_MON_LONG(name) \
  name " monitoring supported", name " monitoring ready", name " monitoring enabled", \
  name " monitoring completed"

constexpr const char* obdMonShortTxt[OBD_NUM_MON_TXT] = {
    /*  0 */ "DTC_CNT",  "MIL",
    /*  2 */ "MIS_SUP",  "MIS_RDY",  "MIS_ENA",  "MIS_CMPL",
    /*  6 */ "FUEL_SUP", "FUEL_RDY", "FUEL_ENA", "FUELCMPL",
    /* 10 */ "CCM_SUP",  "CCM_RDY",  "CCM_ENA",  "CCM_CMPL",
    /* 14 */ "ACRF_SUP", "ACRF_RDY", "ACRF_ENA", "ACRFCMPL",
    /* 18 */ "EGR_SUP",  "EGR_RDY",  "EGR_ENA",  "EGR_CMPL",
    /* 22 */ "CAT_SUP",  "CAT_RDY",  "CAT_ENA",  "CAT_CMPL",
    /* 26 */ "HCAT_SUP", "HCAT_RDY", "HCAT_ENA", "HCATCMPL",
    /* 30 */ "EVAP_SUP", "EVAP_RDY", "EVAP_ENA", "EVAPCMPL",
    /* 34 */ "AIR_SUP",  "AIR_RDY",  "AIR_ENA",  "AIR_CMPL",
    /* 38 */ "O2S_SUP",  "O2S_RDY",  "O2S_ENA",  "O2S_CMPL",
    /* 42 */ "HTR_SUP",  "HTR_RDY",  "HTR_ENA",  "HTR_CMPL",
    /* 46 */ "HCCATSUP", "HCCATRDY", "HCCATENA", "HCCATCMP",
    /* 50 */ "NCAT_SUP", "NCAT_RDY", "NCAT_ENA", "NCATCMPL",
    /* 54 */ "BP_SUP",   "BP_RDY",   "BP_ENA",   "BP_CMPL",
    /* 58 */ "EGS_SUP",  "EGS_RDY",  "EGS_ENA",  "EGS_CMPL",
    /* 62 */ "PM_SUP",   "PM_RDY",   "PM_ENA",   "PM_CMPL",
};

constexpr const char* obdMonLongTxt[OBD_NUM_MON_TXT] = {
    /*  0 */ "# of DTCs stored in this ECU",
    /*  1 */ "Malfunction indicator lamp (MIL) status",
    /*  2 */ OBD_MON_LONG("Misfire"),
    /*  6 */ OBD_MON_LONG("Fuel system"),
    /* 10 */ OBD_MON_LONG("Comprehensive component"),
    /* 14 */ OBD_MON_LONG("A/C system refrigerant"),
    /* 18 */ OBD_MON_LONG("EGR and/or VVT system"),
    /* 22 */ OBD_MON_LONG("Catalyst"),
    /* 26 */ OBD_MON_LONG("Heated catalyst"),
    /* 30 */ OBD_MON_LONG("Evaporative system"),
    /* 34 */ OBD_MON_LONG("Secondary air system"),
    /* 38 */ OBD_MON_LONG("Oxygen sensor"),
    /* 42 */ OBD_MON_LONG("Oxygen sensor heater"),
    /* 46 */ OBD_MON_LONG("NMHC catalyst"),
    /* 50 */ OBD_MON_LONG("NOx/SCR aftertreatment"),
    /* 54 */ OBD_MON_LONG("Boost pressure system"),
    /* 58 */ OBD_MON_LONG("Exhaust gas sensor"),
    /* 62 */ OBD_MON_LONG("PM filter"),
};
#undef OBD_MON_LONG

// Where the PID 0x01 answer says a monitor is supported: byte B bits 0-2 for the continuous
// monitors, byte C bit k for the others, whose meaning depends on the ignition type (byte B
// bit 3).
constexpr OBD_SUP_MONITOR obd_supportedMonitors[OBD_NUM_SUP_MONITORS] = {
    // txt byte bit ignition
    {  2, 1, 0, OBD_IGN_BOTH  },  // misfire
    {  6, 1, 1, OBD_IGN_BOTH  },  // fuel system
    { 10, 1, 2, OBD_IGN_BOTH  },  // comprehensive component
    { 22, 2, 0, OBD_IGN_SPARK },  // catalyst
    { 46, 2, 0, OBD_IGN_COMPR },  // NMHC catalyst
    { 26, 2, 1, OBD_IGN_SPARK },  // heated catalyst
    { 50, 2, 1, OBD_IGN_COMPR },  // NOx/SCR aftertreatment
    { 30, 2, 2, OBD_IGN_SPARK },  // evaporative system
    { 34, 2, 3, OBD_IGN_SPARK },  // secondary air
    { 54, 2, 3, OBD_IGN_COMPR },  // boost pressure
    { 14, 2, 4, OBD_IGN_BOTH  },  // A/C refrigerant
    { 38, 2, 5, OBD_IGN_SPARK },  // oxygen sensor
    { 58, 2, 5, OBD_IGN_COMPR },  // exhaust gas sensor
    { 42, 2, 6, OBD_IGN_SPARK },  // oxygen sensor heater
    { 62, 2, 6, OBD_IGN_COMPR },  // PM filter
    { 18, 2, 7, OBD_IGN_BOTH  },  // EGR/VVT
};

namespace {
constexpr OBD_MON_DECODE_FCT MIL = OBD_DecodeMonitorMil;
constexpr OBD_MON_DECODE_FCT CNT = OBD_DecodeMonitorDtcCnt;
constexpr OBD_MON_DECODE_FCT RDY = OBD_DecodeMonitorReady;
constexpr OBD_MON_DECODE_FCT ENA = OBD_DecodeMonitorEnabled;
constexpr OBD_MON_DECODE_FCT CMP = OBD_DecodeMonitorCompleted;
constexpr uint8_t B = 1, C = 2, D = 3;
constexpr uint8_t SP = OBD_IGN_SPARK, CI = OBD_IGN_COMPR, BOTH = OBD_IGN_BOTH;
}  // namespace

// Per monitor: ready (PID 0x01, set bit = not complete since the codes were cleared), enabled
// and completed in this drive cycle (PID 0x41), in the order of obd_supportedMonitors.
constexpr OBD_MONITOR_DATA obd_monitorData[OBD_NUM_MONITOR_STATUS] = {
    // txt pid  byte bit  ign       decode
    {  1, 0x01, 0,    7,  BOTH, {}, MIL },
    {  0, 0x01, 0, 0x7F,  BOTH, {}, CNT },
    {  3, 0x01, B,    4,  BOTH, {}, RDY }, {  4, 0x41, B, 0, BOTH, {}, ENA }, {  5, 0x41, B, 4, BOTH, {}, CMP },
    {  7, 0x01, B,    5,  BOTH, {}, RDY }, {  8, 0x41, B, 1, BOTH, {}, ENA }, {  9, 0x41, B, 5, BOTH, {}, CMP },
    { 11, 0x01, B,    6,  BOTH, {}, RDY }, { 12, 0x41, B, 2, BOTH, {}, ENA }, { 13, 0x41, B, 6, BOTH, {}, CMP },
    { 23, 0x01, D,    0,  SP,   {}, RDY }, { 24, 0x41, C, 0, SP,   {}, ENA }, { 25, 0x41, D, 0, SP,   {}, CMP },
    { 47, 0x01, D,    0,  CI,   {}, RDY }, { 48, 0x41, C, 0, CI,   {}, ENA }, { 49, 0x41, D, 0, CI,   {}, CMP },
    { 27, 0x01, D,    1,  SP,   {}, RDY }, { 28, 0x41, C, 1, SP,   {}, ENA }, { 29, 0x41, D, 1, SP,   {}, CMP },
    { 51, 0x01, D,    1,  CI,   {}, RDY }, { 52, 0x41, C, 1, CI,   {}, ENA }, { 53, 0x41, D, 1, CI,   {}, CMP },
    { 31, 0x01, D,    2,  SP,   {}, RDY }, { 32, 0x41, C, 2, SP,   {}, ENA }, { 33, 0x41, D, 2, SP,   {}, CMP },
    { 35, 0x01, D,    3,  SP,   {}, RDY }, { 36, 0x41, C, 3, SP,   {}, ENA }, { 37, 0x41, D, 3, SP,   {}, CMP },
    { 55, 0x01, D,    3,  CI,   {}, RDY }, { 56, 0x41, C, 3, CI,   {}, ENA }, { 57, 0x41, D, 3, CI,   {}, CMP },
    { 15, 0x01, D,    4,  BOTH, {}, RDY }, { 16, 0x41, C, 4, BOTH, {}, ENA }, { 17, 0x41, D, 4, BOTH, {}, CMP },
    { 39, 0x01, D,    5,  SP,   {}, RDY }, { 40, 0x41, C, 5, SP,   {}, ENA }, { 41, 0x41, D, 5, SP,   {}, CMP },
    { 59, 0x01, D,    5,  CI,   {}, RDY }, { 60, 0x41, C, 5, CI,   {}, ENA }, { 61, 0x41, D, 5, CI,   {}, CMP },
    { 43, 0x01, D,    6,  SP,   {}, RDY }, { 44, 0x41, C, 6, SP,   {}, ENA }, { 45, 0x41, D, 6, SP,   {}, CMP },
    { 63, 0x01, D,    6,  CI,   {}, RDY }, { 64, 0x41, C, 6, CI,   {}, ENA }, { 65, 0x41, D, 6, CI,   {}, CMP },
    { 19, 0x01, D,    7,  BOTH, {}, RDY }, { 20, 0x41, C, 7, BOTH, {}, ENA }, { 21, 0x41, D, 7, BOTH, {}, CMP },
};

constexpr const char* obdIptShortTxt[OBD_NUM_IPT_TXT] = {
    /*  0 */ "OBDCOND",   "IGNCNTR",
    /*  2 */ "CATCOMP1",  "CATCOND1",  "CATCOMP2",  "CATCOND2",
    /*  6 */ "O2SCOMP1",  "O2SCOND1",  "O2SCOMP2",  "O2SCOND2",
    /* 10 */ "EGRCOMP",   "EGRCOND",   "AIRCOMP",   "AIRCOND",   "EVAPCOMP",  "EVAPCOND",
    /* 16 */ "SO2SCOMP1", "SO2SCOND1", "SO2SCOMP2", "SO2SCOND2",
    /* 20 */ "HCCATCOMP", "HCCATCOND", "NCATCOMP",  "NCATCOND",  "NADSCOMP",  "NADSCOND",
    /* 26 */ "PMCOMP",    "PMCOND",    "EGSCOMP",   "EGSCOND",   "BPCOMP",    "BPCOND",
    /* 32 */ "FUELCOMP",  "FUELCOND",
};

constexpr const char* obdIptLongTxt[OBD_NUM_IPT_TXT] = {
    /*  0 */ "OBD monitoring conditions encountered counts",
    /*  1 */ "Ignition cycle counter",
    /*  2 */ "Catalyst monitor completion counts bank 1",
    /*  3 */ "Catalyst monitor conditions encountered counts bank 1",
    /*  4 */ "Catalyst monitor completion counts bank 2",
    /*  5 */ "Catalyst monitor conditions encountered counts bank 2",
    /*  6 */ "O2 sensor monitor completion counts bank 1",
    /*  7 */ "O2 sensor monitor conditions encountered counts bank 1",
    /*  8 */ "O2 sensor monitor completion counts bank 2",
    /*  9 */ "O2 sensor monitor conditions encountered counts bank 2",
    /* 10 */ "EGR and/or VVT monitor completion counts",
    /* 11 */ "EGR and/or VVT monitor conditions encountered counts",
    /* 12 */ "Secondary air monitor completion counts",
    /* 13 */ "Secondary air monitor conditions encountered counts",
    /* 14 */ "EVAP monitor completion counts",
    /* 15 */ "EVAP monitor conditions encountered counts",
    /* 16 */ "Secondary O2 sensor monitor completion counts bank 1",
    /* 17 */ "Secondary O2 sensor monitor conditions encountered counts bank 1",
    /* 18 */ "Secondary O2 sensor monitor completion counts bank 2",
    /* 19 */ "Secondary O2 sensor monitor conditions encountered counts bank 2",
    /* 20 */ "NMHC catalyst monitor completion counts",
    /* 21 */ "NMHC catalyst monitor conditions encountered counts",
    /* 22 */ "NOx/SCR catalyst monitor completion counts",
    /* 23 */ "NOx/SCR catalyst monitor conditions encountered counts",
    /* 24 */ "NOx adsorber monitor completion counts",
    /* 25 */ "NOx adsorber monitor conditions encountered counts",
    /* 26 */ "PM filter monitor completion counts",
    /* 27 */ "PM filter monitor conditions encountered counts",
    /* 28 */ "Exhaust gas sensor monitor completion counts",
    /* 29 */ "Exhaust gas sensor monitor conditions encountered counts",
    /* 30 */ "Boost pressure monitor completion counts",
    /* 31 */ "Boost pressure monitor conditions encountered counts",
    /* 32 */ "Fuel monitor completion counts",
    /* 33 */ "Fuel monitor conditions encountered counts",
};

// The counters in the order an ECU sends them.
constexpr uint8_t obd_iptSparkIgnTxtId[OBD_NUM_IPT_SPARK] = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
};
constexpr uint8_t obd_iptComprIgnTxtId[OBD_NUM_IPT_COMPR] = {
    0, 1, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 10, 11, 30, 31, 32, 33,
};
// clang-format on

namespace {

constexpr bool AllNamed(const char* const* t, uint8_t n) {
  for (uint8_t i = 0; i < n; ++i)
    if (t[i] == nullptr || t[i][0] == 0) return false;
  return true;
}

// Each monitor's three status rows follow its supported-monitor record: ready at the PID 0x01
// position of its completion bit, enabled at its support bit, completed at the completion bit.
constexpr bool RowsMatchMonitors() {
  const OBD_MONITOR_DATA& mil = obd_monitorData[0];
  const OBD_MONITOR_DATA& cnt = obd_monitorData[1];
  if (mil.txtId != OBD_MTXT_MIL || mil.decodeFct != MIL || cnt.txtId != OBD_MTXT_DTC_CNT ||
      cnt.decodeFct != CNT)
    return false;
  for (uint8_t m = 0; m < OBD_NUM_SUP_MONITORS; ++m) {
    const OBD_SUP_MONITOR& s = obd_supportedMonitors[m];
    const OBD_MONITOR_DATA& r = obd_monitorData[2 + 3 * m];
    const OBD_MONITOR_DATA& e = obd_monitorData[3 + 3 * m];
    const OBD_MONITOR_DATA& c = obd_monitorData[4 + 3 * m];
    const uint8_t doneByte = s.byteIdx == B ? B : D;
    const uint8_t doneBit = s.byteIdx == B ? s.bit + 4 : s.bit;
    if (r.txtId != s.txtId + 1 || e.txtId != s.txtId + 2 || c.txtId != s.txtId + 3) return false;
    if (r.pid != 0x01 || e.pid != 0x41 || c.pid != 0x41) return false;
    if (r.decodeFct != RDY || e.decodeFct != ENA || c.decodeFct != CMP) return false;
    if (e.byteIdx != s.byteIdx || e.bit != s.bit) return false;
    if (r.byteIdx != doneByte || r.bit != doneBit || c.byteIdx != doneByte || c.bit != doneBit)
      return false;
    if (r.ignMask != s.ignMask || e.ignMask != s.ignMask || c.ignMask != s.ignMask) return false;
  }
  return true;
}

// Each monitor name is used once: the 16 records take every fourth id from 2.
constexpr bool MonitorTxtIdsDistinct() {
  for (uint8_t i = 0; i < OBD_NUM_SUP_MONITORS; ++i) {
    if ((obd_supportedMonitors[i].txtId - 2) % 4 != 0) return false;
    for (uint8_t j = 0; j < i; ++j)
      if (obd_supportedMonitors[i].txtId == obd_supportedMonitors[j].txtId) return false;
  }
  return true;
}

constexpr bool IptIdsValid() {
  for (uint8_t id : obd_iptSparkIgnTxtId)
    if (id >= OBD_NUM_IPT_TXT) return false;
  for (uint8_t id : obd_iptComprIgnTxtId)
    if (id >= OBD_NUM_IPT_TXT) return false;
  return true;
}

}  // namespace

static_assert(AllNamed(obdMonShortTxt, OBD_NUM_MON_TXT));
static_assert(AllNamed(obdMonLongTxt, OBD_NUM_MON_TXT));
static_assert(AllNamed(obdIptShortTxt, OBD_NUM_IPT_TXT));
static_assert(AllNamed(obdIptLongTxt, OBD_NUM_IPT_TXT));
static_assert(2 + 3 * OBD_NUM_SUP_MONITORS == OBD_NUM_MONITOR_STATUS);
static_assert(RowsMatchMonitors());
static_assert(MonitorTxtIdsDistinct());
static_assert(IptIdsValid());
static_assert(obd_iptComprIgnTxtId[OBD_NUM_IPT_COMPR - 1] == OBD_NUM_IPT_TXT - 1);

// ---------------------------------------------------------------------------------------------
// State

void OBD_InitMonitorsState() {
  memset(&obdMon, 0, sizeof(obdMon));
  obdMon.obd_showUnsupMonitors = 1;
  obdMon.obd_showAcrfMonitor = 0;
  obdMon.obd_showMonitorStatusFilter = 0;
}

// ---------------------------------------------------------------------------------------------
// ECU names

// The stored name is "ACRO-Name of the ECU": acronym in characters 0-3, a separator, the name
// in characters 5-19.
void OBD_GetEcuShortName(char* txt, uint8_t idx) {
  txt[0] = 0;
  if (idx >= OBD_MAX_ECUS) return;
  memcpy(txt, obdMon.obd_ecuName[idx], OBD_ECU_SHORT_NAME_SIZE - 1);
  txt[OBD_ECU_SHORT_NAME_SIZE - 1] = 0;
}

void OBD_GetEcuLongName(char* txt, uint8_t idx) {
  txt[0] = 0;
  if (idx >= OBD_MAX_ECUS) return;
  memcpy(txt, obdMon.obd_ecuName[idx] + OBD_ECU_SHORT_NAME_SIZE, OBD_ECU_LONG_NAME_SIZE - 1);
  txt[OBD_ECU_LONG_NAME_SIZE - 1] = 0;
}

// ---------------------------------------------------------------------------------------------
// Monitors

namespace {

const uint8_t* StatusSinceClear() {
  return obdPid.obd_monitorStatusSinceDtcsClrd[OBD_GetActiveEcuIdx()];
}
const uint8_t* StatusThisCycle() {
  return obdPid.obd_monitorStatusCurrentCycle[OBD_GetActiveEcuIdx()];
}

uint8_t StatusBit(const uint8_t* status, uint8_t byteIdx, uint8_t bit) {
  return (status[byteIdx & 3] >> (bit & 7)) & 1;
}

uint8_t RowBit(const uint8_t* status, uint8_t row) {
  return StatusBit(status, obd_monitorData[row].byteIdx, obd_monitorData[row].bit);
}

// Compression ignition when byte B bit 3 of the active ECU's PID 0x01 answer is set.
uint8_t IgnitionMask() { return (StatusSinceClear()[1] & 0x08) ? OBD_IGN_COMPR : OBD_IGN_SPARK; }

bool IsAcrfRow(uint8_t txtId) { return txtId > OBD_MTXT_ACRF_SUP && txtId <= OBD_MTXT_ACRF_SUP + 3; }

uint8_t SupValue(uint8_t idx) {
  const OBD_SUP_MONITOR& s = obd_supportedMonitors[idx];
  return StatusBit(StatusSinceClear(), s.byteIdx, s.bit) ? OBD_DTXT_YES : OBD_DTXT_NO;
}

bool MonitorIsListed(uint8_t idx) {
  const OBD_SUP_MONITOR& s = obd_supportedMonitors[idx];
  if ((s.ignMask & IgnitionMask()) == 0) return false;
  if (!obdMon.obd_showUnsupMonitors && SupValue(idx) != OBD_DTXT_YES) return false;
  if (!obdMon.obd_showAcrfMonitor && s.txtId == OBD_MTXT_ACRF_SUP) return false;
  return true;
}

// Index of the n-th listed monitor record, or OBD_NUM_SUP_MONITORS when there are fewer.
uint8_t FindMonitor(uint8_t n) {
  for (uint8_t i = 0; i < OBD_NUM_SUP_MONITORS; ++i) {
    if (!MonitorIsListed(i)) continue;
    if (n-- == 0) return i;
  }
  return OBD_NUM_SUP_MONITORS;
}

bool StatusRowIsListed(uint8_t row) {
  const OBD_MONITOR_DATA& r = obd_monitorData[row];
  const uint8_t ecu = OBD_GetActiveEcuIdx();
  if ((r.ignMask & IgnitionMask()) == 0) return false;
  if (!OBD_Sid01PidIsSupportedByEcu(ecu, r.pid)) return false;
  switch (obdMon.obd_showMonitorStatusFilter) {
    case 1:
      if (r.pid != 0x01) return false;
      break;
    case 2:
      if (r.pid == 0x01 && OBD_Sid01PidIsSupportedByEcu(ecu, 0x41)) return false;
      break;
    default:
      break;
  }
  if (!obdMon.obd_showUnsupMonitors && r.decodeFct(row) == OBD_DTXT_N_A) return false;
  if (!obdMon.obd_showAcrfMonitor && IsAcrfRow(r.txtId)) return false;
  return true;
}

uint8_t FindStatusRow(uint8_t n) {
  for (uint8_t row = 0; row < OBD_NUM_MONITOR_STATUS; ++row) {
    if (!StatusRowIsListed(row)) continue;
    if (n-- == 0) return row;
  }
  return OBD_NUM_MONITOR_STATUS;
}

}  // namespace

uint8_t OBD_GetMilStatus() {
  for (uint8_t i = 0; i < OBD_GetNumEcus() && i < OBD_MAX_ECUS; ++i)
    if (obdPid.obd_monitorStatusSinceDtcsClrd[i][0] & 0x80) return 1;
  return 0;
}

uint8_t OBD_GetNumMonitors() {
  uint8_t n = 0;
  for (uint8_t i = 0; i < OBD_NUM_SUP_MONITORS; ++i) n += MonitorIsListed(i) ? 1 : 0;
  return n;
}

uint8_t OBD_GetMonitorIdx(uint8_t n) {
  const uint8_t i = FindMonitor(n);
  return i < OBD_NUM_SUP_MONITORS ? i : 0;
}

uint8_t OBD_GetMonitorTxtId(uint8_t n) {
  const uint8_t i = FindMonitor(n);
  return i < OBD_NUM_SUP_MONITORS ? obd_supportedMonitors[i].txtId : 0;
}

uint8_t OBD_GetMonitorSupDataTxtId(uint8_t n) {
  const uint8_t i = FindMonitor(n);
  return i < OBD_NUM_SUP_MONITORS ? SupValue(i) : 0;
}

uint8_t OBD_GetNumMonitorStatuses() {
  uint8_t n = 0;
  for (uint8_t row = 0; row < OBD_NUM_MONITOR_STATUS; ++row) n += StatusRowIsListed(row) ? 1 : 0;
  return n;
}

uint8_t OBD_GetMonitorStatusTxtId(uint8_t n) {
  const uint8_t row = FindStatusRow(n);
  return row < OBD_NUM_MONITOR_STATUS ? obd_monitorData[row].txtId : 0;
}

uint8_t OBD_GetMonitorStatusDataTxtId(uint8_t n) {
  const uint8_t row = FindStatusRow(n);
  return row < OBD_NUM_MONITOR_STATUS ? obd_monitorData[row].decodeFct(row) : 0;
}

void OBD_SetFlagShowUnsupMonitors(uint8_t flag) { obdMon.obd_showUnsupMonitors = flag ? 1 : 0; }

void OBD_SetFlagShowAcrfMonitor(uint8_t flag) { obdMon.obd_showAcrfMonitor = flag ? 1 : 0; }

void OBD_SetMonitorStatusFilter(uint8_t filter) {
  if (filter <= 2) obdMon.obd_showMonitorStatusFilter = filter;
}

uint8_t OBD_GetMonitorStatusFilter() { return obdMon.obd_showMonitorStatusFilter; }

// Status row decoders ------------------------------------------------------------------------

uint8_t OBD_DecodeMonitorMil(uint8_t row) {
  return RowBit(StatusSinceClear(), row) ? OBD_DTXT_ON : OBD_DTXT_OFF;
}

uint8_t OBD_DecodeMonitorDtcCnt(uint8_t row) {
  const OBD_MONITOR_DATA& r = obd_monitorData[row];
  const uint8_t count = StatusSinceClear()[r.byteIdx & 3] & r.bit;
  return count <= 16 ? count : static_cast<uint8_t>(OBD_DTXT_GT16);
}

// A set bit means the monitor has not completed since the codes were cleared. A clear bit of a
// non-continuous monitor means "ready" only if the monitor exists (its support bit, which the
// following enabled row names).
uint8_t OBD_DecodeMonitorReady(uint8_t row) {
  const uint8_t* s01 = StatusSinceClear();
  if (RowBit(s01, row)) return OBD_DTXT_NO;
  if (obd_monitorData[row].byteIdx == 1) return OBD_DTXT_YES;
  if (row + 1 >= OBD_NUM_MONITOR_STATUS) return OBD_DTXT_N_A;
  return RowBit(s01, static_cast<uint8_t>(row + 1)) ? OBD_DTXT_YES : OBD_DTXT_N_A;
}

uint8_t OBD_DecodeMonitorEnabled(uint8_t row) {
  if (RowBit(StatusThisCycle(), row)) return OBD_DTXT_YES;
  return RowBit(StatusSinceClear(), row) ? OBD_DTXT_NO : OBD_DTXT_N_A;
}

uint8_t OBD_DecodeMonitorCompleted(uint8_t row) {
  if (RowBit(StatusThisCycle(), row)) return OBD_DTXT_NO;
  if (row == 0) return OBD_DTXT_N_A;
  return RowBit(StatusSinceClear(), static_cast<uint8_t>(row - 1)) ? OBD_DTXT_YES : OBD_DTXT_N_A;
}

// ---------------------------------------------------------------------------------------------
// Info types

void OBD_InitInfoTypes() {
  memset(obdMon.obd_supInfoTypes, 0, sizeof(obdMon.obd_supInfoTypes));
  memset(obdMon.obd_ecuName, 0, sizeof(obdMon.obd_ecuName));
  memset(obdMon.obd_iptCounter, 0, sizeof(obdMon.obd_iptCounter));
  obdMon.obd_noOfIptCounters = 0;
}

uint8_t OBD_InfoTypeIsSupported(uint8_t type, uint8_t ecuIdx) {
  if (type == 0) return 1;
  if (type > 0x20 || ecuIdx >= OBD_MAX_ECUS) return 0;
  return (obdMon.obd_supInfoTypes[ecuIdx][(type - 1) / 8] >> (7 - (type - 1) % 8)) & 1;
}

uint8_t OBD_GetSupportedInfoTypes(uint8_t byteIdx) {
  return byteIdx < 4 ? obdMon.obd_supInfoTypes[OBD_GetActiveEcuIdx()][byteIdx] : 0;
}

namespace {

// Calibration ids and verification numbers: as many whole items as the answer holds, at most
// `maxItems`, after the count byte.
uint8_t CopyItems(const uint8_t* resp, uint8_t len, uint8_t itemLen, uint8_t maxItems,
                  uint8_t* out) {
  uint8_t n = resp[2] < maxItems ? resp[2] : maxItems;
  while (n > 0 && len < itemLen * n + 3) --n;
  out[0] = n;
  memcpy(out + 1, resp + 3, static_cast<size_t>(itemLen) * n);
  return 1;
}

}  // namespace

uint8_t OBD_DecodeInfoTypeRespData(const uint8_t* resp, uint8_t len, uint8_t type, uint8_t* out) {
  if (resp == nullptr || len <= 2) return 0;
  if (resp[0] == 0x7F && resp[1] == 0x09) {
    // A code of 1 would read as "decoded"; no negative response code below 0x10 is assigned.
    return resp[2] == 1 ? 0 : resp[2];
  }
  if (resp[0] != 0x49 || resp[1] != type) return 0;
  switch (type) {
    case 0x00:
      if (len < 6) return 0;
      memcpy(obdMon.obd_supInfoTypes[OBD_GetActiveEcuIdx()], resp + 2, 4);
      return 1;
    case 0x02:
      if (len < 3 + OBD_VIN_LEN) return 0;
      memcpy(out, resp + 3, OBD_VIN_LEN);
      out[OBD_VIN_LEN] = 0;
      return 1;
    case 0x04:
      return CopyItems(resp, len, OBD_CALID_LEN, OBD_MAX_CALIDS, out);
    case 0x06:
      return CopyItems(resp, len, OBD_CVN_LEN, OBD_MAX_CVNS, out);
    case 0x08:
      return OBD_DecodeIptRespData(resp, len, OBD_NUM_IPT_SPARK);
    case 0x0B:
      return OBD_DecodeIptRespData(resp, len, OBD_NUM_IPT_COMPR);
    case 0x0A:
      if (len < 3 + OBD_ECU_NAME_LEN) return 0;
      memcpy(obdMon.obd_ecuName[OBD_GetActiveEcuIdx()], resp + 3, OBD_ECU_NAME_LEN);
      return 1;
    case 0x03:
    case 0x05:
    case 0x07:
      out[0] = resp[2];  // message counts of VIN, CAL ID, CVN: nothing to show
      return 0;
    default:
      return 0;
  }
}

// Counters are 16 bits, high byte first, after the count byte; an answer with fewer than 16
// counters or fewer bytes than its count announces is refused.
uint8_t OBD_DecodeIptRespData(const uint8_t* resp, uint8_t len, uint8_t maxCount) {
  if (resp == nullptr || len <= 2) return 0;
  const uint8_t c = resp[2];
  if (c < 16 || 2 * c + 2 >= len) return 0;
  if (maxCount > OBD_MAX_IPT_COUNTERS) maxCount = OBD_MAX_IPT_COUNTERS;
  const uint8_t n = c < maxCount ? c : maxCount;
  for (uint8_t i = 0; i < n; ++i)
    obdMon.obd_iptCounter[i] = static_cast<uint16_t>((resp[3 + 2 * i] << 8) | resp[4 + 2 * i]);
  obdMon.obd_noOfIptCounters = n;
  return 1;
}

uint8_t OBD_GetNumIptCounters() { return obdMon.obd_noOfIptCounters; }

void OBD_GetIptCounterStr(char* txt, uint8_t position) {
  txt[0] = 0;
  if (position >= obdMon.obd_noOfIptCounters) return;
  OBD_CalcDispVal(txt, obdMon.obd_iptCounter[position], 0, 1, 1, 0);
}
