// The ECU list as the trouble code store sees it: ECUs registered in the order their answers
// first arrive (at most 8, address 0 = free slot) and the active one, whose codes are stored.
// Stand-in: dtc_ecu_list.cpp keeps the list until the module for ECUs, monitors and info types
// takes these functions over; then both files go and dtcs.cpp includes that module's header.
#pragma once

#include <stdint.h>

constexpr uint8_t OBD_MAX_ECUS = 8;

void OBD_InitEcuAddr();                      // no ECUs, ECU 0 active
void OBD_SetEcuAddr(uint8_t addr);           // register; a ninth address is dropped
uint8_t OBD_SetActiveEcuAddr(uint8_t addr);  // 1 when registered (and now active), else 0
void OBD_SetActiveEcuIdx(uint8_t idx);       // ignored unless below the ECU count
uint8_t OBD_GetActiveEcuAddr();
uint8_t OBD_GetEcuAddr(uint8_t idx);  // 0 for a free slot or an index of 8 or more
uint8_t OBD_GetEcuIdx(uint8_t addr);  // 0 when the address is not registered
