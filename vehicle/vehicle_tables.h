// The vehicle's default tables (vehicle_tables.cpp): what each ECU holds at program start, and
// which table a service 01/02 PID is answered from.
#pragma once

#include <stdint.h>

#include "vehicle/vehicle_state.h"

// Default tables of one ECU, as the vehicle is at program start (vehicle_tables.cpp).
struct EmuEcuDefaults {
  uint8_t supPids[14];  // bytes 14..31 are 00
  uint8_t supPidsSid02[14];
  uint16_t confirmedDtc[EMU_MAX_DTCS];
  uint16_t pendingDtc[EMU_MAX_DTCS];  // the permanent list starts as a copy
  uint8_t dataPid01[4];               // also PID 41
  uint8_t dataPid4F[4];
  uint8_t dataPid50[4];
  uint8_t dataPid70[EMU_PID70_BYTES];
  uint8_t genericData1;
  uint8_t genericData2[2];
  uint8_t genericData4[4];
  uint8_t supInfoTypes[4];
  char vin[17 + 1];
  uint8_t noOfCalIds;
  char calId[EMU_MAX_CAL_IDS][EMU_CAL_ID_CHARS + 1];
  uint8_t noOfCvns;
  uint8_t cvn[EMU_MAX_CVNS][EMU_CVN_BYTES];
  uint8_t noOfIptCounters;
  uint16_t iptCounter[EMU_MAX_IPT_COUNTERS];
  char ecuName[EMU_ECU_NAME_BYTES + 1];
};
extern const EmuEcuDefaults EMU_ECU_DEFAULTS[EMU_MAX_ECUS];
// An ECU's plain data as at program start: its row of EMU_ECU_DEFAULTS laid out (the permanent
// codes and PID 41 start as copies of the pending codes and PID 01), its test results, no values
// of its own, no motions.
void emu_EcuDefaultData(uint8_t ecuIdx, EmuEcuData* data);

// What a service 01/02 PID reports, and from which table.
enum class EmuPidClass : uint8_t {
  None,        // not a PID this vehicle knows
  SupportMap,  // 00, 20, ... E0: four bytes of the supported-PID map
  Pid01,       // MIL and DTC count, then dataPid01
  Pid02,       // the trouble code that stored the freeze frame
  Generic1,
  Generic2,
  Generic4,
  Banks,  // two bytes when the vehicle has more than two banks, else one
  Pid13or1D,
  Pid41,
  Pid4F,
  Pid50,
  Pid70,  // ten bytes, answered over several lines
};
EmuPidClass emu_GetPidClass(uint8_t pid);
