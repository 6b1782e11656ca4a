// The operator's menu of the window: loading and saving vehicle files, and the operator commands
// of the keys (key_loop.cpp) with their current values, so that nobody needs to know the letters.
#pragma once

#include "window/window_api.h"

int emu_DescribeOperatorMenu(EmuMenuEntry* entries, int max);
void emu_ActivateOperatorMenu(int index, int value, const char* path, char* message, int size);
