// Beeper driver: six sounds played by the 10 ms tick through the timer 3 tone generator.
#pragma once

#include <stdint.h>

enum : uint8_t {
  SND_CLICK = 0,
  SND_ERROR = 1,
  SND_CONNECT = 2,
  SND_OK = 3,
  SND_CLEAR_DTC = 4,
  SND_CLEAR_DTC_OK = 5,
};

void BEEP_InitState();
void BEEP_Init();
void BEEP_PlaySound(uint8_t number);
void BEEP_ToggleState();
uint8_t BEEP_GetState();
uint8_t BEEP_IsPlaying();
void BEEP_TickService();  // the beeper step of the 10 ms interrupt
