// Beeper service: the beeper step of the firmware's tick while the module is not yet
// synchronised, the tone bookkeeping the tick reads, and the detached thread per tone.
#include "controller/controller.h"

// Before the module is synchronised the tick runs only the firmware's beeper step.
void emu_BeepService() { BEEP_TickService(); }

// The tone now playing is the entry just before the one beepCfg points at.
static uint16_t emu_CurrentToneValue() {
  const SND_ENTRY* next = beepCfg.load();
  if (next == nullptr) return 0;
  return next[-1].toneValue;
}

int emu_GetBeepFrequency() {
  uint16_t v = emu_CurrentToneValue();
  if (v == 0) return -1;
  return static_cast<int>(8000000u / (2u * v));
}

int emu_GetBeepCount() { return beepDurationCounter10ms; }

void* emu_BeepThread(void* arg) {
  auto* beep = static_cast<BeepThreadArg*>(arg);
  (void)pthread_setname_np(pthread_self(), "beeper");
  emu_PlayTone(beep->frequencyHz.load(), beep->busyTimeMs.load());
  beep->busyTimeMs = 0;
  return nullptr;
}
