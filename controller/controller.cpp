// The emulated controller's register file, EEPROM, power-on locks and the 10 ms tick.
// The tick is a sleeping host thread, not a timer: its period is 10 ms plus its own work.
#include "controller/controller.h"

#include "line/traffic_log.h"

#include <string.h>
#include <unistd.h>

uint8_t regaddr[255];
uint8_t eepaddr[EEPROM_SIZE];

pthread_mutex_t keyMutex;
pthread_cond_t keyCond;
pthread_mutex_t qimMutex;
pthread_mutex_t lcdMutex;
pthread_cond_t lcdCond;
pthread_attr_t beepThreadAttr;
pthread_t counterThread, qimThread, lcdThread, tarnicThread, beepThread;
std::atomic<uint8_t> tarnicThreadWasCreated{0};
std::atomic<uint8_t> syncWithQimIsDone{0};
int keyServiceCallsCounter = 0;
bool tickStopped = false;
BeepThreadArg beepThreadArg;
EmuMode padixMode = EmuMode::Emulator;
std::atomic<void (*)()> emu_watchdogResetNotice{nullptr};
std::atomic<uint8_t> padixServe{0};

namespace {
bool eepromMarkerCleared = false;
}

EmuMode emu_GetPadixMode() { return padixMode; }

void emu_UnlockMutexCleanupHandler(void* mutex) {
  if (mutex != nullptr) pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex));
}

void emu_InitTarnicVars() {
  emu_InitFirmwareWake();
  tarnic_InitVars();
  beepDurationCounter10ms = 0;
  gblTimer10msUpdate = 0;
  qimProtocol = 0;
  // The first power-on of a run finds no valid settings, so the firmware writes its defaults.
  if (!eepromMarkerCleared) {
    eepaddr[0] = 0;
    eepromMarkerCleared = true;
  }
}

void emu_SetTimerUpdate(uint8_t value) {
  gblTimer10msUpdate = value;
  if (value != 0) emu_WakeFirmware();
}
uint8_t emu_GetTimerUpdate() { return gblTimer10msUpdate; }

uint8_t emu_BaudrateToUBRR0(uint32_t baud) {
  if (baud == 0) return 0;
  return static_cast<uint8_t>(8000000u / (8u * baud) - 1u);
}

uint8_t emu_FirmwareStoppedForGood() {
  return padixMode == EmuMode::Simulator && syncWithQimIsDone.load() != 0 && tarnicThreadWasCreated.load() == 0 ? 1 : 0;
}

void* emu_CounterThread(void*) {
  for (;;) {
    usleep(10000);
    // The tick serves the firmware only (its 10 ms flag, key sampling, the beeper it drives):
    // once simulator mode has stopped it, the tick stops too, until the power-on ends.
    if (emu_FirmwareStoppedForGood() != 0) {
      pthread_mutex_lock(&keyMutex);
      tickStopped = true;  // a key held now is sampled by nobody: its hold ends
      pthread_cond_signal(&keyCond);
      pthread_mutex_unlock(&keyMutex);
      for (;;) pause();
    }
    pthread_mutex_lock(&keyMutex);
    pthread_cleanup_push(emu_UnlockMutexCleanupHandler, &keyMutex);
    if (syncWithQimIsDone.load()) {
      __vector_9();
      emu_WakeFirmware();  // the 10 ms flag ends the firmware's idle wait
    } else {
      emu_BeepService();  // the start-up sound plays before keys and the 10 ms flag work
    }
    if (keyServiceCallsCounter > 0) {
      --keyServiceCallsCounter;
      if (keyServiceCallsCounter == 0) pthread_cond_signal(&keyCond);
    }
    pthread_cleanup_pop(1);

    if (WDTCR == 8) {
      if (void (*notice)() = emu_watchdogResetNotice.load()) notice();
    }
    if (OCR3A != 0 && beepThreadArg.busyTimeMs.load() == 0) {
      OCR3A = 0;
      beepThreadArg.frequencyHz = emu_GetBeepFrequency();
      beepThreadArg.busyTimeMs = emu_GetBeepCount() * 10;
      if (pthread_create(&beepThread, &beepThreadAttr, emu_BeepThread, &beepThreadArg) != 0) {
        beepThreadArg.busyTimeMs = 0;  // no tone this time; the next one may get a thread
      }
    }
  }
  return nullptr;
}

void* emu_TarnicThread(void*) {
  pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
  tarnic_main();
  return nullptr;
}

void emu_GiveByteToFirmware(uint8_t byte) {
  pthread_mutex_lock(&qimMutex);
  UDR0_RX = byte;
  __vector_21();
  pthread_mutex_unlock(&qimMutex);
  emu_WakeFirmware();
  // In emulator mode the handheld's line to its simulated module is the one that is logged.
  if (padixMode == EmuMode::Emulator) emu_LogTraffic(EmuSender::Module, &byte, 1);
}

uint8_t emu_FirmwareHasQueuedBytes() {
  pthread_mutex_lock(&qimMutex);
  const uint8_t queued = USART_TxPending();
  pthread_mutex_unlock(&qimMutex);
  return queued;
}

uint8_t emu_TakeByteFromFirmware() {
  pthread_mutex_lock(&qimMutex);
  __vector_22();
  uint8_t byte = UDR0;
  pthread_mutex_unlock(&qimMutex);
  // A byte taken as the firmware switched its "bytes to send" signal off is stale.
  if (padixMode == EmuMode::Emulator && (UCSR0B & 0x20) != 0) emu_LogTraffic(EmuSender::Tester, &byte, 1);
  return byte;
}
