// Firmware power-on and main loop.
#pragma once

#include <stdint.h>

constexpr uint8_t FW_VERSION_MAJOR = 1, FW_VERSION_MINOR = 8, FW_VERSION_PATCH = 0;

void PORT_Init();
void SPI_Init();
