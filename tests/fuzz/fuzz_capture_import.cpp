// Fuzz target: captured sessions (traffic logs and terminal transcripts) imported into the
// vehicle's request/answer tables. Whatever the input, the import must not fail unsafely; what it
// takes must save as a vehicle file that loads back and saves to the same text, and every entry
// it made must answer its own request on CAN and the K-line.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "vehicle/capture_import.h"
#include "module/module.h"
#include "module/obd_answer.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"
#include "tests/fuzz/fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dir = ScratchFolder("capture");
  const std::string log = dir + "/session.log", saved = dir + "/saved.toml", again = dir + "/again.toml";
  WriteFile(log, data, size);
  emu_QimInitState();
  emu_VehicleInit();
  std::string report;
  const int taken = emu_ImportCapture(log.c_str(), &report);
  if (taken < 0) {
    if (report.find(": ") == std::string::npos) Fail("a refused capture without its reason", report);
    return 0;
  }
  if (static_cast<unsigned>(taken) < vehicle.table.noOfEntries) Fail("more entries than answers taken", report);
  std::string error;
  if (emu_SaveVehicleFile(saved.c_str(), &error) != 0) Fail("not saved", error);
  if (emu_LoadVehicleFile(saved.c_str(), &error) != 0) Fail("the saved file does not load", error + "\n" + ReadFile(saved));
  if (emu_SaveVehicleFile(again.c_str(), &error) != 0) Fail("not saved again", error);
  if (ReadFile(saved) != ReadFile(again)) Fail("saved twice, two different files", ReadFile(saved));
  emu_VehicleSetNoOfEcus(EMU_MAX_ECUS);
  for (uint8_t protocol : {6, 5}) {
    emu_QimSetProtocol(protocol);
    for (uint16_t i = 0; i < vehicle.table.noOfEntries; ++i) {
      const EmuTableEntry& e = vehicle.table.entry[i];
      EmuEcuAnswer answer;
      if (!emu_TableAnswer(e.request, e.requestLength, e.ecuIdx, protocol == 6, &answer))
        Fail("an entry that does not answer its request", report);
      char text[EMU_OBD_ANSWER_BUF_SIZE];
      (void)emu_BuildObdAnswer(e.request[0], e.requestLength > 1 ? e.request[1] : 0, 0, text, e.request,
                               e.requestLength);
    }
  }
  return 0;
}
