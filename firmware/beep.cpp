// Beeper driver. A sound is a list of (duration in ticks, tone value) ended by a zero duration;
// the tick steps through it, writing each tone to OCR3A and switching OCR3C on and off.
#include "beep.h"

#include "eeprom.h"
#include "mcu.h"

// clang-format off
static const SND_ENTRY SND_CLICK_DATA[]        = {{2, 2863}, {0, 0}};
static const SND_ENTRY SND_ERROR_DATA[]        = {{16, 2408}, {32, 2272}, {0, 0}};
static const SND_ENTRY SND_CONNECT_DATA[]      = {{16, 2024}, {16, 2702}, {0, 0}};
static const SND_ENTRY SND_OK_DATA[]           = {{10, 2024}, {10, 2551}, {20, 3032}, {0, 0}};
static const SND_ENTRY SND_CLEAR_DTC_DATA[]    = {{10, 2272}, {10, 1804}, {10, 2551}, {20, 1911}, {0, 0}};
static const SND_ENTRY SND_CLEAR_DTC_OK_DATA[] = {{20, 2551}, {40, 3032}, {0, 0}};
// clang-format on

const SND_ENTRY* const SND_DATA[6] = {SND_CLICK_DATA,   SND_ERROR_DATA,     SND_CONNECT_DATA,
                                      SND_OK_DATA,      SND_CLEAR_DTC_DATA, SND_CLEAR_DTC_OK_DATA};

std::atomic<const SND_ENTRY*> beepCfg{nullptr};
std::atomic<uint8_t> beepDurationCounter10ms{0};
static std::atomic<uint8_t> beepDoBeep{0};

void BEEP_InitState() {
  beepCfg = nullptr;
  beepDurationCounter10ms = 0;
  beepDoBeep = 0;
}

void BEEP_Init() { beepDoBeep = EEP_Read(EEP_BEEP); }

// A sound already playing is replaced; the next tick starts the first tone.
void BEEP_PlaySound(uint8_t number) {
  if (beepDoBeep == 0 || number >= 6) return;
  beepCfg = SND_DATA[number];
  beepDurationCounter10ms = 1;
}

void BEEP_ToggleState() { beepDoBeep = beepDoBeep ? 0 : 1; }
uint8_t BEEP_GetState() { return beepDoBeep; }
uint8_t BEEP_IsPlaying() { return beepDurationCounter10ms != 0 ? 1 : 0; }

void BEEP_TickService() {
  if (beepDurationCounter10ms == 0) return;
  if (--beepDurationCounter10ms != 0) return;
  const SND_ENTRY* entry = beepCfg.load();
  if (entry != nullptr && entry->duration10ms != 0) {
    OCR3A = entry->toneValue;
    OCR3C = 1000;
    beepCfg = entry + 1;
    beepDurationCounter10ms = entry->duration10ms;
  } else {
    OCR3C = 0;
  }
}
