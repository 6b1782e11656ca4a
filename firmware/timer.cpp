// The 10 ms interrupt routine. The host calls it with the key lock held; the main loop only
// reads and clears the bytes it shares with it.
#include "timer.h"

#include "beep.h"
#include "mcu.h"

KeyDebounceState keyDebounce;
std::atomic<uint8_t> gblTimer10msUpdate{0};

void TIMER_InitState() {
  keyDebounce.keyState = 0;
  keyDebounce.ct0 = 0xFF;
  keyDebounce.ct1 = 0xFF;
  keyDebounce.keyPressed = 0;
  keyDebounce.keyRepeated = 0;
  keyDebounce.rpt = 0;
  gblTimer10msUpdate = 0;
}

void __vector_9() {
  BEEP_TickService();

  // A line changes its debounced state after differing from it for four ticks in a row.
  KeyDebounceState& k = keyDebounce;
  uint8_t raw = static_cast<uint8_t>(~PINA);
  uint8_t i = k.keyState ^ raw;
  k.ct0 = static_cast<uint8_t>(~(k.ct0 & i));
  k.ct1 = static_cast<uint8_t>(k.ct0 ^ (k.ct1 & i));
  i = static_cast<uint8_t>(i & k.ct0 & k.ct1);
  k.keyState = k.keyState ^ i;
  k.keyPressed = k.keyPressed | (k.keyState & i);

  if ((k.keyState & KEY_REPEAT_MASK) == 0) k.rpt = KEY_REPEAT_START;
  if (--k.rpt == 0) {
    k.rpt = KEY_REPEAT_NEXT;
    k.keyRepeated = k.keyRepeated | (k.keyState & KEY_REPEAT_MASK);
  }

  gblTimer10msUpdate = 1;
}
