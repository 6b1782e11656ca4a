// The main menu (menu 1): "Start Diagnostics", the bridge modes that the settings switch on,
// "System Information" and "System Settings".
#pragma once

#include "ui/list.h"

extern LIST mmList;
