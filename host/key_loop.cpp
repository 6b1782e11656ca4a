// Key loop. A device key is held on the key port until the tick has sampled it four times, so
// the firmware's debouncing sees exactly one press; other keys are operator commands.
#include "host/key_loop.h"

#include <time.h>
#include <unistd.h>

#include "controller/controller.h"
#include "host/lcd_controller.h"
#include "elm327/elm327.h"
#include "module/module.h"
#include "vehicle/vehicle.h"
#include "window/window_api.h"

KeyLoopState keyLoop;

namespace {

struct DeviceKey {
  int keyValue;
  uint8_t line;  // bit of PINA, active low
};
// clang-format off
const DeviceKey DEVICE_KEYS[] = {
    {EMU_KEY_RETURN, emu_GetKeyOk()},  {EMU_KEY_RIGHT, emu_GetKeyOk()},   {'l', emu_GetKeyOk()},
    {EMU_KEY_UP, emu_GetKeyUp()},      {'k', emu_GetKeyUp()},
    {EMU_KEY_DOWN, emu_GetKeyDown()},  {'j', emu_GetKeyDown()},
    {EMU_KEY_ESCAPE, emu_GetKeyEsc()}, {EMU_KEY_LEFT, emu_GetKeyEsc()},   {'h', emu_GetKeyEsc()},
};
// clang-format on

constexpr int KEY_SAMPLES = 4;  // ticks a device key is held
// With nothing typed the loop waits for the next key without a time-out: the tick ends the wait
// when the firmware forces a watchdog reset. Only the way to the Bluetooth bridge, serving from
// start, watches the LCD (and the clock) on the tick's pace.
constexpr int KEY_NO_TIME_OUT = -1;
constexpr int KEY_BRIDGE_WAIT_MS = 10;

uint8_t emu_DeviceKeyLine(int key) {
  for (const DeviceKey& k : DEVICE_KEYS)
    if (k.keyValue == key) return k.line;
  return 0;
}

void emu_HoldDeviceKey(uint8_t line) {
  pthread_mutex_lock(&keyMutex);
  pthread_cleanup_push(emu_UnlockMutexCleanupHandler, &keyMutex);
  PINA &= static_cast<uint8_t>(~line);
  keyServiceCallsCounter = KEY_SAMPLES;
  while (keyServiceCallsCounter > 0 && !tickStopped) pthread_cond_wait(&keyCond, &keyMutex);
  pthread_cleanup_pop(1);
}

void emu_ReleaseDeviceKeys() {
  pthread_mutex_lock(&keyMutex);
  PINA = 0xFF;
  pthread_mutex_unlock(&keyMutex);
}

// Two digits make a number; a third digit starts a new one.
void emu_EnterDigit(int digit) {
  if (keyLoop.lastKeyWasNumber == 0) {
    keyLoop.numberMem = digit;
    keyLoop.lastKeyWasNumber = 1;
  } else {
    keyLoop.numberMem = 10 * keyLoop.numberMem + digit;
    keyLoop.lastKeyWasNumber = 0;
  }
  emu_GtkDrawNumberMem(keyLoop.numberMem, keyLoop.numberMemIsEnabled);
}

void emu_ToggleNumberMemDisplay() {
  keyLoop.numberMemIsEnabled ^= 1;
  emu_GtkDrawNumberMem(keyLoop.numberMem, keyLoop.numberMemIsEnabled);
}

void emu_SetMilOn(uint8_t) { emu_VehicleSetMilState(1); }
void emu_ToggleJitter(uint8_t) { emu_VehicleToggleDataJitter(); }
void emu_NextAnswerNoData(uint8_t) { sendNoData = 1; }
// "CAN ERROR" only exists on CAN; on other protocols the key does nothing, now or later. The
// ELM327 v1.5 personality has a protocol of its own.
void emu_NextAnswerCanError(uint8_t) {
  if (emu_QimIsCanProtocol() || (diagController == EMU_DIAG_ELM327_V15 && emu_ElmIsCanProtocolInUse()))
    sendCanError = 1;
}
void emu_ShowNumberMem(uint8_t) { emu_ToggleNumberMemDisplay(); }

// Operator commands: the letter, what it does with the number memory, and whether it ends a
// number being typed. The setters ignore values outside their ranges.
struct OperatorCommand {
  int key;
  void (*apply)(uint8_t numberMem);
  bool endsNumber;
};
// clang-format off
const OperatorCommand OPERATOR_COMMANDS[] = {
    {'a', emu_VehicleSetNoOfPermanentDtcs,      true},
    {'b', emu_VehicleSetNoOfPid13CylinderBanks, true},
    {'c', emu_VehicleSetNoOfPid1DCylinderBanks, true},
    {'d', emu_VehicleSetNoOfDtcs,               true},
    {'e', emu_VehicleSetNoOfEcus,               true},
    {'m', emu_SetMilOn,                     false},
    {'n', emu_ShowNumberMem,                false},
    {'p', emu_VehicleSetNoOfPendingDtcs,        true},
    {'t', emu_VehicleSetProtocol,           true},
    {'u', emu_QimSetDiagController,         true},
    {'v', emu_ToggleJitter,                 false},
    {'x', emu_VehicleSetObdNegRespCode,         true},
    {'y', emu_NextAnswerNoData,             false},
    {'z', emu_NextAnswerCanError,           false},
};
// clang-format on

void emu_RunOperatorCommand(int key) {
  for (const OperatorCommand& c : OPERATOR_COMMANDS) {
    if (c.key != key) continue;
    c.apply(static_cast<uint8_t>(keyLoop.numberMem));
    if (c.endsNumber) keyLoop.lastKeyWasNumber = 0;
    return;
  }
}

uint64_t emu_NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000u + static_cast<uint64_t>(t.tv_nsec) / 1000000u;
}

// Serving from start, the handheld enters its Bluetooth bridge by itself, as a user would: once
// the firmware has set its module up and the LCD has stood still for a moment, Down moves to
// "Bluetooth Mode" and OK enters it. A key counts as taken when the LCD changes; one that was
// not taken (the main menu was not up yet) is typed again.
constexpr uint64_t BRIDGE_SETTLE_MS = 300;
constexpr uint64_t BRIDGE_KEY_RETRY_MS = 1500;
constexpr int BRIDGE_KEYS[] = {EMU_KEY_DOWN, EMU_KEY_RETURN};
constexpr uint8_t BRIDGE_DONE = sizeof BRIDGE_KEYS / sizeof BRIDGE_KEYS[0];

bool emu_BridgeUnderWay() {
  return padixServe.load() != 0 && keyLoop.bridgeStep < BRIDGE_DONE && emu_FirmwareStoppedForGood() == 0;
}

int emu_BridgeKey() {
  if (!emu_BridgeUnderWay() || syncWithQimIsDone.load() == 0) return 0;
  const uint64_t now = emu_NowMs();
  const uint32_t frames = emu_LcdChangedFrames();
  const bool changed = frames != keyLoop.bridgeFrames;
  if (keyLoop.bridgeQuietSinceMs == 0 || changed) {
    keyLoop.bridgeFrames = frames;
    keyLoop.bridgeQuietSinceMs = now;
  }
  if (keyLoop.bridgeKeySentMs != 0) {
    if (changed) {
      ++keyLoop.bridgeStep;
      keyLoop.bridgeKeySentMs = 0;
    } else if (now - keyLoop.bridgeKeySentMs >= BRIDGE_KEY_RETRY_MS) {
      keyLoop.bridgeKeySentMs = 0;
    }
    return 0;
  }
  if (keyLoop.bridgeStep >= BRIDGE_DONE || now - keyLoop.bridgeQuietSinceMs < BRIDGE_SETTLE_MS) return 0;
  keyLoop.bridgeKeySentMs = now;
  return BRIDGE_KEYS[keyLoop.bridgeStep];
}

}  // namespace

void emu_ResetKeyLoop() { keyLoop = KeyLoopState{}; }

int emu_HandleKeyValue(int key) {
  if (uint8_t line = emu_DeviceKeyLine(key)) {
    emu_HoldDeviceKey(line);
    return 0;
  }
  emu_ReleaseDeviceKeys();
  const int quit = key == EMU_KEY_QUIT ? 1 : 0;
  if (key >= '0' && key <= '9') {
    emu_EnterDigit(key - '0');
  } else {
    emu_RunOperatorCommand(key);
  }
  if (key != 0) usleep(1000);
  return quit;
}

void emu_EndKeyWaitOnWatchdogReset() { emu_GtkEndKeyWait(); }

int emu_ProcessKeyLoop() {
  emu_watchdogResetNotice = emu_EndKeyWaitOnWatchdogReset;
  for (;;) {
    if (WDTCR == 8) return 0;  // the firmware forced a watchdog reset
    int key = emu_GtkGetKey();
    if (key == 0) key = emu_BridgeKey();
    if (emu_HandleKeyValue(key)) return 1;
    if (key == 0) emu_GtkWaitForKey(emu_BridgeUnderWay() ? KEY_BRIDGE_WAIT_MS : KEY_NO_TIME_OUT);
  }
}
