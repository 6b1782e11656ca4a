// Fuzz target: the command line. The input is split at zero bytes into arguments.
#include <stdio.h>

#include <string>
#include <vector>

#include "host/cmdline.h"
#include "vehicle/vehicle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FILE* quiet = freopen("/dev/null", "w", stdout);
  (void)quiet;
  std::vector<std::string> args{"padix"};
  std::string arg;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(arg);
      arg.clear();
    } else {
      arg.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(arg);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  emu_VehicleInit();
  EmuSettings settings;
  (void)emu_ProcessCmdLine(static_cast<int>(args.size()), argv.data(), &settings);
  return 0;
}
