// Trouble code storage, names and descriptions. The description lookup picks the generated group
// by the code's high byte (letter, first digit, third character) and the text by its low byte.
#include "obd/dtcs.h"

#include <string.h>

#include "obd/dtc_texts.h"

ObdDtcState obdDtc;

// clang-format off
const char* const obdRespCodeTxt[OBD_RESP_CODE_TXT_COUNT] = {
    "OK",       // 0
    "GR",       // 1 general reject
    "SNS",      // 2 service not supported
    "SFNSIF",   // 3 sub-function not supported, invalid format
    "BRR",      // 4 busy, repeat request
    "CNCORSE",  // 5 conditions not correct or request sequence error
    "RCR-RP",   // 6 request correctly received, response pending
    "UNKNOWN",  // 7 never returned
    "INVALID",  // 8 any code without a text of its own
};

struct ObdRespCodeTxtIdx {
  uint8_t code;
  uint8_t txtIdx;
};
constexpr ObdRespCodeTxtIdx OBD_RESP_CODE_TXT_IDX[] = {
    {0x10, 1},
    {0x11, 2},
    {0x12, 3},
    {0x21, 4},
    {0x22, 5},
    {0x44, 0},
    {0x78, 6},
};
// clang-format on
constexpr uint8_t OBD_RESP_CODE_INVALID_TXT_IDX = 8;

static const char OBD_NO_DTC_DESCRIPTION[] = "No description available";

void OBD_InitDtcs() { memset(&obdDtc, 0, sizeof obdDtc); }

uint8_t OBD_DtcServiceSlot(uint8_t service) {
  if (service == 0x07) return 1;
  if (service == 0x0A) return 2;
  return 0;
}

// The answer is the reassembled one: service byte, code count (not trusted: the stored count is
// what was found), then the codes. Filler codes 0000 take no place, so they are overwritten.
uint8_t OBD_DecodeDtcRespData(const uint8_t* response, uint8_t length, uint8_t service) {
  if (length == 0 || response[0] != static_cast<uint8_t>(service + 0x40)) return 0;
  uint8_t ecuIdx = OBD_GetEcuIdx(OBD_GetActiveEcuAddr());
  if (ecuIdx >= OBD_MAX_ECUS) return 0;
  uint8_t slot = OBD_DtcServiceSlot(service);
  uint16_t* codes = obdDtc.obd_dtcBuf[ecuIdx][slot];
  uint8_t& count = obdDtc.obd_noOfDtcs[ecuIdx][slot];
  for (uint8_t i = 2; i + 1 < length && count < OBD_MAX_DTCS_PER_SLOT; i += 2) {
    codes[count] = static_cast<uint16_t>((response[i] << 8) | response[i + 1]);
    if (codes[count] != 0) ++count;
  }
  return 1;
}

uint8_t OBD_GetNumDtcs(uint8_t ecuIdx, uint8_t service) {
  if (ecuIdx >= OBD_MAX_ECUS) return 0;
  return obdDtc.obd_noOfDtcs[ecuIdx][OBD_DtcServiceSlot(service)];
}

// ECUs are registered into the first free slot and never removed, so the registered ones are
// the leading non-zero addresses.
uint8_t OBD_GetNumDtcsBySid(uint8_t service) {
  uint8_t sum = 0;
  for (uint8_t ecuIdx = 0; ecuIdx < OBD_MAX_ECUS && OBD_GetEcuAddr(ecuIdx) != 0; ++ecuIdx) {
    sum = static_cast<uint8_t>(sum + OBD_GetNumDtcs(ecuIdx, service));
  }
  return sum;
}

uint16_t OBD_GetDtc(uint8_t ecuIdx, uint8_t service, uint8_t n) {
  if (n >= OBD_GetNumDtcs(ecuIdx, service)) return 0;
  return obdDtc.obd_dtcBuf[ecuIdx][OBD_DtcServiceSlot(service)][n];
}

void OBD_DtcToTxt(char* txt, uint16_t dtc) {
  static const char LETTER[4] = {'P', 'C', 'B', 'U'};
  static const char HEX[] = "0123456789ABCDEF";
  txt[0] = LETTER[dtc >> 14];
  txt[1] = static_cast<char>('0' + ((dtc >> 12) & 0x03));
  txt[2] = HEX[(dtc >> 8) & 0x0F];
  txt[3] = HEX[(dtc >> 4) & 0x0F];
  txt[4] = HEX[dtc & 0x0F];
  txt[5] = '\0';
}

const char* OBD_GetDtcText(uint16_t dtc) {
  const uint8_t group = static_cast<uint8_t>(dtc >> 8);
  const uint8_t key = static_cast<uint8_t>(dtc & 0xFF);
  for (const ObdDtcTextGroup& g : obdDtcTextGroups) {
    if (g.group != group) continue;
    for (uint16_t i = g.count; i-- > 0;) {
      if (g.keys[i] == key) return g.texts[i];
    }
    break;
  }
  return OBD_NO_DTC_DESCRIPTION;
}

uint8_t OBD_DecodeClearDtcRespData(const uint8_t* response, uint8_t length) {
  if (length == 0) return 0;
  if (response[0] == 0x44) return 0x44;
  // A negative answer without its code byte is no answer to the clear request.
  if (length >= 3 && response[0] == 0x7F && response[1] == 0x04) return response[2];
  return 0;
}

const char* OBD_GetErrorCodeShortTxt(uint8_t responseCode) {
  for (const ObdRespCodeTxtIdx& entry : OBD_RESP_CODE_TXT_IDX) {
    if (entry.code == responseCode) return obdRespCodeTxt[entry.txtIdx];
  }
  return obdRespCodeTxt[OBD_RESP_CODE_INVALID_TXT_IDX];
}
