// Trouble code description database: 34 groups of codes that share letter, first digit and third
// character (the code's high byte), each with a key table of the codes' low bytes and the
// parallel table of texts. The tables themselves are generated (dtc_texts.cpp).
#pragma once

#include <stdint.h>

struct ObdDtcTextGroup {
  uint8_t group;             // high byte shared by the group's codes, e.g. 0x01 for P01xx
  uint16_t count;            // codes with a text; a whole group is 256
  const uint8_t* keys;       // low bytes, strictly ascending
  const char* const* texts;  // texts[i] describes the code group:keys[i]
};

constexpr uint8_t OBD_DTC_TEXT_GROUP_COUNT = 34;
extern const ObdDtcTextGroup obdDtcTextGroups[OBD_DTC_TEXT_GROUP_COUNT];

// Groups ascending by their high byte, keys strictly ascending within each group.
constexpr bool OBD_DtcTextGroupsValid(const ObdDtcTextGroup (&groups)[OBD_DTC_TEXT_GROUP_COUNT]) {
  for (uint8_t g = 0; g < OBD_DTC_TEXT_GROUP_COUNT; ++g) {
    if (g > 0 && groups[g].group <= groups[g - 1].group) return false;
    if (groups[g].count > 256) return false;
    if (groups[g].count > 0 && (groups[g].keys == nullptr || groups[g].texts == nullptr)) {
      return false;
    }
    for (uint16_t i = 1; i < groups[g].count; ++i) {
      if (groups[g].keys[i] <= groups[g].keys[i - 1]) return false;
    }
  }
  return true;
}
