// Sound output of the beeper. Without a sound system the tone is silent and takes no time.
#include "host/controller.h"

void emu_PlayTone(int frequencyHz, int durationMs) {}
