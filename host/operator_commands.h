// The operator's commands, in one table: what a key of the number memory does (key_loop.cpp) and
// what the window's right-click menu offers (its text, its choices with the value now, loading
// and saving vehicle files), each command once, whichever way it is given. A command that does
// not apply now (the next answer's "CAN ERROR" off CAN) does nothing, by key or by menu.
#pragma once

#include <stdint.h>

#include "window/window_api.h"

// A key typed with the number memory as it stands: returns 1 when the key is an operator command
// that takes the number (a digit typed next starts a new one), 0 otherwise (not an operator
// command, or one that leaves the number alone).
int emu_RunOperatorKey(int key, uint8_t numberMem);

// The window's menu (window_api.h): its entries with their values now, and the one chosen.
int emu_DescribeOperatorMenu(EmuMenuEntry* entries, int max);
void emu_ActivateOperatorMenu(int index, int value, const char* path, char* message, int size);
