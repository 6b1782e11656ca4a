// The command line: padix [<device>] [<baudrate>] [options], its usage text and the mode.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "window/window_api.h"

enum EmuModuleInit : uint8_t { EMU_INIT_NONE = 0, EMU_INIT_QIM = 1, EMU_INIT_TBX = 2, EMU_INIT_ELM = 3 };

struct EmuSettings {
  const char* device = nullptr;  // the argument itself; its presence selects mode 1 or 2
  uint32_t baudrate = 9600;
  uint8_t noSync = 0;
  uint8_t moduleInit = EMU_INIT_NONE;
  uint8_t serve = 0;       // simulator mode, serving from start
  uint8_t realTiming = 0;  // the ELM327 v1.5 personality answers in a real adapter's time
  const char* trafficLog = nullptr;  // log=FILE (or "-" for standard error)
  const char* vehicleFile = nullptr;  // vehicle=FILE
  const char* ptyLink = nullptr;
  const char* learnFile = nullptr;      // learn=FILE: read the car on the device into FILE, then quit
  const char* learnRequests = nullptr;  // learn.requests=FILE: extra requests to learn
  const char* relayDevice = nullptr;    // relay=DEVICE: the real adapter the served client reaches  // link=PATH: a symbolic link to the pseudo-terminal opened
  EmuWindowFlags window = {0, 0, 0};
};

extern const char* const EMU_VERSION;  // "Padix V" and the project version, as "Padix V2.81"
const char* emu_GetBuildDate();        // as "Jan  8 2017"
const char* emu_GetBuildTime();        // as "00:58:00"

// Fills the settings and sets the mode; 0 to proceed, -1 after the usage text was printed (on
// standard output; a word refused, such as an unknown option, is first named in a line on
// standard error), 1 after the version line was printed (the run ends there, successfully).
int emu_ProcessCmdLine(int argc, char** argv, EmuSettings* settings);
void emu_PrintUsage(FILE* out);
