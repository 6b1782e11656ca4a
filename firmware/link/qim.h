// Module driver: resets and initialises the interface module and parses its answers.
#pragma once

#include <stdint.h>

typedef uint8_t (*QIM_RX_FCT)(uint8_t ch);
extern QIM_RX_FCT QIM_ProcessRxData;  // the receive state in force; returns a response code

void QIM_InitState();
uint8_t QIM_ResetInit();  // 1 when the module answered and is initialised
uint8_t QIM_Init();
