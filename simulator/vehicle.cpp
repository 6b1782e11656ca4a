// The simulated vehicle's trouble codes given on the command line.
#include "simulator/vehicle.h"

namespace {
uint16_t confirmedDtcs[EMU_MAX_CONFIRMED_DTCS];
uint8_t noOfConfirmedDtcs = 0;
}  // namespace

void emu_QimSetConfirmedDtc(uint16_t dtc) {
  if (noOfConfirmedDtcs < EMU_MAX_CONFIRMED_DTCS) confirmedDtcs[noOfConfirmedDtcs++] = dtc;
}

uint8_t emu_QimGetNoOfConfirmedDtcs() { return noOfConfirmedDtcs; }

uint16_t emu_QimGetConfirmedDtc(uint8_t index) {
  return index < noOfConfirmedDtcs ? confirmedDtcs[index] : 0;
}
