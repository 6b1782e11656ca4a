// The ECU registry.
#include "obd/ecus.h"

#include <string.h>

ObdEcuState obdEcu;

void OBD_InitEcuAddr() { memset(&obdEcu, 0, sizeof obdEcu); }

// Address 0 marks a free slot, so it cannot be registered.
void OBD_SetEcuAddr(uint8_t addr) {
  if (addr == 0) return;
  for (uint8_t i = 0; i < OBD_MAX_ECUS; ++i) {
    if (obdEcu.obd_ecuAddr[i] == addr) return;
    if (obdEcu.obd_ecuAddr[i] == 0) {
      obdEcu.obd_ecuAddr[i] = addr;
      obdEcu.obd_noOfEcus = static_cast<uint8_t>(i + 1);
      return;
    }
  }
}

uint8_t OBD_SetActiveEcuAddr(uint8_t addr) {
  if (addr == 0) return 0;
  for (uint8_t i = 0; i < obdEcu.obd_noOfEcus; ++i) {
    if (obdEcu.obd_ecuAddr[i] == addr) {
      obdEcu.obd_activeEcuIdx = i;
      return 1;
    }
  }
  return 0;
}

void OBD_SetActiveEcuIdx(uint8_t idx) {
  if (idx < obdEcu.obd_noOfEcus) obdEcu.obd_activeEcuIdx = idx;
}

uint8_t OBD_GetActiveEcuIdx() { return obdEcu.obd_activeEcuIdx; }

uint8_t OBD_GetNumEcus() { return obdEcu.obd_noOfEcus; }

uint8_t OBD_GetActiveEcuAddr() { return obdEcu.obd_ecuAddr[obdEcu.obd_activeEcuIdx]; }

uint8_t OBD_GetEcuAddr(uint8_t idx) { return idx < OBD_MAX_ECUS ? obdEcu.obd_ecuAddr[idx] : 0; }

uint8_t OBD_GetEcuIdx(uint8_t addr) {
  for (uint8_t i = 0; i < obdEcu.obd_noOfEcus; ++i)
    if (addr != 0 && obdEcu.obd_ecuAddr[i] == addr) return i;
  return 0;
}
