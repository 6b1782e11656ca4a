// The simulated vehicle's tables, their lock, and the answer an ECU puts together from them.
#include "vehicle/vehicle_state.h"

#include <pthread.h>

// Zeroed before any initialiser of the program runs: the setters load the defaults from one of
// their own.
constinit EmuVehicle vehicle{};
std::atomic<uint8_t> vehicleProtocol{0};

namespace {

pthread_mutex_t vehicleMutex = PTHREAD_MUTEX_INITIALIZER;

const std::atomic<uint8_t>& emu_AddressOf(const EmuEcu& ecu, EmuEcuAddressing by) {
  return by == EmuEcuAddressing::Can11 ? ecu.canAddress : ecu.address;
}

}  // namespace

void emu_VehicleLock() { pthread_mutex_lock(&vehicleMutex); }
void emu_VehicleUnlock() { pthread_mutex_unlock(&vehicleMutex); }

uint8_t emu_VehicleEcuAddress(uint8_t ecuIdx, EmuEcuAddressing by) {
  return emu_AddressOf(vehicle.ecu[ecuIdx % EMU_MAX_ECUS], by);
}

int emu_VehicleEcuIndex(const EmuVehicle& v, uint8_t addr, EmuEcuAddressing by) {
  for (uint8_t i = 0; i < EMU_MAX_ECUS; ++i)
    if (emu_AddressOf(v.ecu[i], by) == addr) return i;
  return -1;
}

void EmuEcuAnswer::NewLine() {
  if (noOfLines >= EMU_ANSWER_MAX_LINES) return;  // further bytes join the last line
  lineEnd[noOfLines++] = length;
}

void EmuEcuAnswer::Put(uint8_t byte) {
  if (noOfLines == 0) NewLine();
  if (length >= EMU_ANSWER_MAX_BYTES) return;
  data[length++] = byte;
  lineEnd[noOfLines - 1] = length;
}
