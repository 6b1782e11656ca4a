// Answers to OBD requests from the simulated vehicle, framed as the module prints them.
#pragma once

#include <stdint.h>

// Answers one OBD request line (service, PID or info type, freeze-frame number; 0 when absent).
void emu_QimSendObdResponse(uint8_t service, uint8_t pid, uint8_t frame);
