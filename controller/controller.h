// Host side of the emulated controller: the power-on locks and threads, the 10 ms tick, the
// beeper service, the EEPROM store and the byte channel to the firmware's USART. These are the
// services that both the power-on code and the module simulator use.
#pragma once

#include <pthread.h>
#include <stdint.h>

#include <atomic>

#include "firmware/mcu.h"

// Locks created and destroyed at every power-on. No thread holds two of them at once.
extern pthread_mutex_t keyMutex;  // key lines, tick, keyServiceCallsCounter
extern pthread_cond_t keyCond;
extern pthread_mutex_t qimMutex;  // the firmware's USART rings
extern pthread_mutex_t lcdMutex;  // the SPI byte hand-over
extern pthread_cond_t lcdCond;
extern pthread_attr_t beepThreadAttr;

extern pthread_t counterThread, qimThread, lcdThread, tarnicThread, beepThread;
extern std::atomic<uint8_t> tarnicThreadWasCreated;
extern std::atomic<uint8_t> syncWithQimIsDone;  // the firmware finished the module set-up
extern int keyServiceCallsCounter;              // ticks the key loop still waits for (keyMutex)
extern bool tickStopped;                        // the tick has stopped for the run (keyMutex)

struct BeepThreadArg {
  std::atomic<int32_t> frequencyHz;
  std::atomic<int32_t> busyTimeMs;  // 0: the beeper is free
};
extern BeepThreadArg beepThreadArg;

constexpr uint32_t EEPROM_SIZE = 65535;
extern uint8_t eepaddr[EEPROM_SIZE];

// Mode of the run, set once by the command line. Emulator: the handheld with its simulated module,
// no line. OBD2 software: the handheld as the tester of a module (or another emulator, or an
// adapter) on the line. Simulator: Padix is the module, serving a tester on the line.
enum class EmuMode : uint8_t { Emulator, Obd2Software, Simulator };
extern EmuMode padixMode;
EmuMode emu_GetPadixMode();
// Simulator mode serving from start: the serial client is answered as soon as the firmware has
// set its module up, and the handheld enters its Bluetooth bridge by itself. Set once by the
// command line.
extern std::atomic<uint8_t> padixServe;

// Called by the tick while the firmware has forced a watchdog reset (WDTCR 8), outside its lock:
// the key loop sets it to end its wait for keys and power the device on again.
extern std::atomic<void (*)()> emu_watchdogResetNotice;
// Simulator mode has stopped the firmware for good (the module serves the line): for the rest of
// the run nothing samples the keys, waits for the tick or can force a restart. 1 or 0.
uint8_t emu_FirmwareStoppedForGood();

// Thread bodies.
void* emu_CounterThread(void*);
void* emu_TarnicThread(void*);
void* emu_BeepThread(void* arg);
void emu_UnlockMutexCleanupHandler(void* mutex);

// Power-on helpers.
void emu_InitTarnicVars();
void emu_SetTimerUpdate(uint8_t value);
uint8_t emu_GetTimerUpdate();
uint8_t emu_BaudrateToUBRR0(uint32_t baud);

// Beeper.
int emu_GetBeepFrequency();
int emu_GetBeepCount();
void emu_BeepService();
// Plays one tone on the host's sound output; returns once it has sounded (or at once when
// there is no sound output).
void emu_PlayTone(int frequencyHz, int durationMs);

// Wakes the firmware's main loop from its idle wait (a byte arrived, the 10 ms flag was set).
void emu_WakeFirmware();
void emu_InitFirmwareWake();
// Waits until the firmware has bytes to send (it enabled its transmit interrupt) or has switched
// its USART off, at most timeoutMs (a negative one: no limit): the module side's poll of UCSR0B
// without idle wake-ups. A cancellation point.
void emu_WaitForFirmwareTx(int timeoutMs);

// Byte channel to the firmware's USART (each call takes qimMutex).
void emu_GiveByteToFirmware(uint8_t byte);
uint8_t emu_TakeByteFromFirmware();  // only meaningful while UCSR0B bit 5 was set
// 1 when the firmware has queued bytes that were not taken yet: it has begun a new line.
uint8_t emu_FirmwareHasQueuedBytes();

// Constants of the device.
constexpr uint8_t emu_GetKeyUp() { return 0x40; }
constexpr uint8_t emu_GetKeyDown() { return 0x80; }
constexpr uint8_t emu_GetKeyOk() { return 0x20; }
constexpr uint8_t emu_GetKeyEsc() { return 0x10; }
constexpr uint8_t emu_GetQimRst() { return 0x80; }
constexpr char emu_GetPrompt() { return '>'; }
constexpr char emu_GetCarriageReturn() { return 13; }
