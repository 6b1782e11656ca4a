// Fuzz target: vehicle files and their traces. The input is split at its first zero byte: what
// comes before is the vehicle file, what comes after the trace, written as drive.csv beside it
// (a folder of this process's own under /tmp), which the vehicle file may name. A file that is
// refused must say why; one that loads must save to a file that loads back and saves to the same
// text, and its car must answer every service 01 and 02 PID, every info type, every service 06
// ID and every request of its request/answer tables on CAN and the K-line. A file's timeline is
// held meanwhile (its events would change the car between the two saves) and ended after.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "module/module.h"
#include "module/obd_answer.h"
#include "vehicle/timeline.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"
#include "tests/fuzz/fuzz_files.h"

namespace {

void AnswerEverything() {
  emu_VehicleSetNoOfEcus(EMU_MAX_ECUS);
  char answer[EMU_OBD_ANSWER_BUF_SIZE];
  for (uint8_t protocol : {6, 5}) {
    emu_QimSetProtocol(protocol);
    for (unsigned pid = 0; pid < 256; ++pid) {
      if (!emu_RequestIsKnown(1, static_cast<uint8_t>(pid))) continue;
      (void)emu_BuildObdAnswer(1, static_cast<uint8_t>(pid), 0, answer);
      (void)emu_BuildObdAnswer(2, static_cast<uint8_t>(pid), 1, answer);
    }
    for (uint8_t type = 0; type <= 0x0B; ++type) (void)emu_BuildObdAnswer(9, type, 0, answer);
    for (unsigned id = 0; id < 256; ++id) (void)emu_BuildObdAnswer(6, static_cast<uint8_t>(id), 0, answer);
    // Every table entry's request, and one byte more (what a wildcard entry takes).
    for (uint16_t i = 0; i < vehicle.table.noOfEntries; ++i) {
      const EmuTableEntry& e = vehicle.table.entry[i];
      uint8_t request[EMU_TABLE_MAX_REQUEST + 1];
      memcpy(request, e.request, e.requestLength);
      request[e.requestLength] = 0x5A;
      for (uint8_t n : {e.requestLength, static_cast<uint8_t>(e.requestLength + 1)}) {
        if (n == 0 || n > EMU_TABLE_MAX_REQUEST) continue;
        (void)emu_BuildObdAnswer(request[0], n > 1 ? request[1] : 0, 0, answer, request, n);
      }
    }
    for (uint8_t service : {0x03, 0x07, 0x0A}) (void)emu_BuildObdAnswer(service, 0, 0, answer);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dir = ScratchFolder("vehicle");
  const std::string vehicleFile = dir + "/vehicle.toml", trace = dir + "/drive.csv";
  const std::string saved = dir + "/saved.toml", again = dir + "/again.toml";
  const uint8_t* zero = static_cast<const uint8_t*>(memchr(data, 0, size));
  const size_t vehicleSize = zero != nullptr ? static_cast<size_t>(zero - data) : size;
  WriteFile(vehicleFile, data, vehicleSize);
  if (zero != nullptr) {
    WriteFile(trace, zero + 1, size - vehicleSize - 1);
  } else {
    unlink(trace.c_str());
  }
  unlink(saved.c_str());
  unlink(again.c_str());

  emu_QimInitState();
  emu_VehicleInit();
  std::string error;
  EmuTimelineHold hold;
  struct EndTimeline {
    ~EndTimeline() { emu_TimelineReplace({}); }
  } endTimeline;
  if (emu_LoadVehicleFile(vehicleFile.c_str(), &error) != 0) {
    if (error.find(": ") == std::string::npos) Fail("a refused file without its reason", error);
    return 0;
  }
  if (emu_SaveVehicleFile(saved.c_str(), &error) != 0) Fail("not saved", error);
  if (emu_LoadVehicleFile(saved.c_str(), &error) != 0) Fail("the saved file does not load", error);
  if (emu_SaveVehicleFile(again.c_str(), &error) != 0) Fail("not saved again", error);
  const std::string first = ReadFile(saved);
  if (first != ReadFile(again)) Fail("saved twice, two different files", first);
  AnswerEverything();
  return 0;
}
