// Stand-in ECU list (see dtc_ecu_list.h): registration and the active ECU, nothing more.
#include "firmware/obd/dtc_ecu_list.h"

#include <string.h>

uint8_t obd_ecuAddr[OBD_MAX_ECUS];
uint8_t obd_noOfEcus;
uint8_t obd_activeEcuIdx;

void OBD_InitEcuAddr() {
  memset(obd_ecuAddr, 0, sizeof obd_ecuAddr);
  obd_noOfEcus = 0;
  obd_activeEcuIdx = 0;
}

void OBD_SetEcuAddr(uint8_t addr) {
  for (uint8_t i = 0; i < OBD_MAX_ECUS; ++i) {
    if (obd_ecuAddr[i] == addr) return;
    if (obd_ecuAddr[i] == 0) {
      obd_ecuAddr[i] = addr;
      obd_noOfEcus = static_cast<uint8_t>(i + 1);
      return;
    }
  }
}

uint8_t OBD_SetActiveEcuAddr(uint8_t addr) {
  for (uint8_t i = 0; i < obd_noOfEcus; ++i) {
    if (obd_ecuAddr[i] == addr) {
      obd_activeEcuIdx = i;
      return 1;
    }
  }
  return 0;
}

void OBD_SetActiveEcuIdx(uint8_t idx) {
  if (idx < obd_noOfEcus) obd_activeEcuIdx = idx;
}

uint8_t OBD_GetActiveEcuAddr() { return obd_ecuAddr[obd_activeEcuIdx]; }

uint8_t OBD_GetEcuAddr(uint8_t idx) { return idx < OBD_MAX_ECUS ? obd_ecuAddr[idx] : 0; }

uint8_t OBD_GetEcuIdx(uint8_t addr) {
  for (uint8_t i = 0; i < obd_noOfEcus; ++i) {
    if (obd_ecuAddr[i] == addr) return i;
  }
  return 0;
}
