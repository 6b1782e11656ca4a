// The simulated OBD interface module: its thread and AT command interpreter.
#pragma once

void* emu_QimThread(void*);
