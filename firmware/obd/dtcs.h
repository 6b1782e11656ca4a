// Trouble codes: the codes each ECU reports for confirmed (0x03), pending (0x07) and permanent
// (0x0A) requests, their five-character names, their descriptions from the generated database,
// the outcome of a clear request (0x04) and the short texts of negative response codes.
#pragma once

#include <stdint.h>

#include "obd/monitors.h"

constexpr uint8_t OBD_DTC_SLOTS = 3;  // service slots: 0x03, 0x07, 0x0A
constexpr uint8_t OBD_MAX_DTCS_PER_SLOT = 16;
constexpr uint8_t OBD_DTC_TXT_SIZE = 6;  // "P0123" and its terminator

struct ObdDtcState {
  // ECU index major, service slot minor; only the first obd_noOfDtcs codes of a slot are valid.
  uint16_t obd_dtcBuf[OBD_MAX_ECUS][OBD_DTC_SLOTS][OBD_MAX_DTCS_PER_SLOT];
  uint8_t obd_noOfDtcs[OBD_MAX_ECUS][OBD_DTC_SLOTS];
};
extern ObdDtcState obdDtc;

constexpr uint8_t OBD_RESP_CODE_TXT_COUNT = 9;
extern const char* const obdRespCodeTxt[OBD_RESP_CODE_TXT_COUNT];

void OBD_InitDtcs();
uint8_t OBD_DtcServiceSlot(uint8_t service);  // 0x07 -> 1, 0x0A -> 2, anything else 0

uint8_t OBD_DecodeDtcRespData(const uint8_t* response, uint8_t length, uint8_t service);
uint8_t OBD_GetNumDtcs(uint8_t ecuIdx, uint8_t service);
uint8_t OBD_GetNumDtcsBySid(uint8_t service);                     // over all registered ECUs
uint16_t OBD_GetDtc(uint8_t ecuIdx, uint8_t service, uint8_t n);  // 0 beyond the stored codes

void OBD_DtcToTxt(char* txt, uint16_t dtc);  // txt holds OBD_DTC_TXT_SIZE bytes
const char* OBD_GetDtcText(uint16_t dtc);    // the description, or "No description available"

uint8_t OBD_DecodeClearDtcRespData(const uint8_t* response, uint8_t length);
const char* OBD_GetErrorCodeShortTxt(uint8_t responseCode);
