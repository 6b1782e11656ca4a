// The ECUs of one data reading: their addresses in the order they first answered (up to eight)
// and the active one, whose data the screens show. Every other OBD table is kept per ECU by the
// index this registry gives.
#pragma once

#include <stdint.h>

constexpr uint8_t OBD_MAX_ECUS = 8;

struct ObdEcuState {
  uint8_t obd_ecuAddr[OBD_MAX_ECUS];  // in the order first seen; 0 = free slot
  uint8_t obd_noOfEcus;
  uint8_t obd_activeEcuIdx;
};
extern ObdEcuState obdEcu;

void OBD_InitEcuAddr();  // power-on and the start of a reading: no ECU known
void OBD_SetEcuAddr(uint8_t addr);
uint8_t OBD_SetActiveEcuAddr(uint8_t addr);  // 1 when the address is known
void OBD_SetActiveEcuIdx(uint8_t idx);
uint8_t OBD_GetActiveEcuIdx();
uint8_t OBD_GetNumEcus();
uint8_t OBD_GetActiveEcuAddr();
uint8_t OBD_GetEcuAddr(uint8_t idx);  // 0 past the known ECUs
uint8_t OBD_GetEcuIdx(uint8_t addr);  // 0 (the first) for an unknown address
