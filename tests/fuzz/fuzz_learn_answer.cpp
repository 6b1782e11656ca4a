// Fuzz target: what an adapter prints while a car is learned. The first byte chooses the bus
// (11-bit CAN, 29-bit CAN, J1850 / K-line) and splits the rest into answers to the requests
// learning asks; each is read into messages and taken to its ECUs, the car is built from them and
// compared with what it answers. Whatever the adapter printed, every message stays within its
// bounds, no more than eight ECUs are taken, and building never fails but on a full table.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "learn/adapter_answer.h"
#include "learn/learned_car.h"
#include "bus/iso_tp.h"
#include "vehicle/vehicle.h"
#include "tests/fuzz/fuzz_files.h"

namespace {

// The requests whose answers the building reads, each by its own rules.
const std::vector<std::vector<uint8_t>> REQUESTS = {
    {0x01, 0x00}, {0x01, 0x01}, {0x01, 0x0C}, {0x01, 0x70}, {0x01, 0x20}, {0x02, 0x00, 0x00}, {0x02, 0x0C, 0x00},
    {0x03},       {0x07},       {0x0A},       {0x06, 0x01}, {0x06, 0x21}, {0x09, 0x00},       {0x09, 0x02},
    {0x09, 0x04}, {0x09, 0x06}, {0x09, 0x07}, {0x09, 0x08}, {0x09, 0x0A}, {0x09, 0x0C},       {0x22, 0xF1, 0x90},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const EmuLearnBus BUSES[] = {EmuLearnBus::Can11, EmuLearnBus::Can29, EmuLearnBus::Serial};
  static const uint8_t PROTOCOLS[] = {6, 7, 3};
  const uint8_t which = data[0] % 3;
  EmuLearnedCar car;
  car.bus = BUSES[which];
  car.protocol = PROTOCOLS[which];
  car.tableRequests.push_back({0x22, 0xF1, 0x90});
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t at = 0;
  for (size_t r = 0; at <= text.size(); ++r) {
    // Answers are separated by '>', as the prompt ends each.
    size_t end = text.find('>', at);
    if (end == std::string::npos) end = text.size();
    const std::vector<EmuLearnMessage> messages = emu_LearnReadAnswer(text.data() + at, end - at, car.bus);
    if (messages.size() > EMU_LEARN_MAX_MESSAGES) Fail("more messages than the bound", std::to_string(messages.size()));
    for (const EmuLearnMessage& m : messages)
      if (m.bytes.empty() || m.bytes.size() > EMU_ISOTP_MAX_MESSAGE) Fail("a message out of its bounds", "");
    car.Take(REQUESTS[r % REQUESTS.size()], messages, true);
    // Readings of a value that moves, as learning takes them.
    for (EmuLearnedEcu& e : car.ecus)
      if (const auto* got = e.Answer({0x01, 0x0C}); got != nullptr && !got->empty() && (*got)[0].size() > 2)
        e.samples[0x0C].push_back({static_cast<uint32_t>(r), std::vector<uint8_t>((*got)[0].begin() + 2, (*got)[0].end())});
    at = end + 1;
  }
  if (car.ecus.size() > EMU_MAX_ECUS) Fail("more than eight ECUs", std::to_string(car.ecus.size()));
  emu_VehicleInit();
  auto v = std::make_unique<EmuVehicle>();
  std::string error;
  if (emu_LearnBuildVehicle(car, *v, "learned.csv", &error) != 0 && error.find("table") == std::string::npos &&
      error.find("bytes, more than") == std::string::npos && error.find("pool") == std::string::npos)
    Fail("the car was not built", error);
  (void)emu_LearnPutAndCompare(car, *v);
  return 0;
}
