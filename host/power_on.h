// Start-up, the power-on / teardown / restart cycle, and the end of a run.
#pragma once

#include <stdint.h>

// The whole program: returns 0 after a normal quit, 1 after one in a run where a command typed
// to the window failed, -1 after a failed start.
int emu_Main(int argc, char** argv);

// One power-on of the device: -1 when a thread or lock call failed (message printed),
// otherwise the key loop's result (0 restart, 1 quit).
int emu_PowerOnCycle();

// Sends the OBD2 software mode module initialisation: "ATZ", then each command (with its
// carriage return). 0, or -1 after a message.
int emu_InitObdModule(const char* const* commands, int count);

// Test hook: the power-on call with this index (0 = the first lock created) fails with EAGAIN
// instead of being made. -1 (default): every call is made.
extern int emu_powerOnFailingCall;

// Test hook: the body of the module thread started at power-on (default emu_QimThread). A test
// puts a stand-in here, for example a module that ticks but never answers, and restores it.
extern void* (*emu_powerOnQimThreadBody)(void*);
