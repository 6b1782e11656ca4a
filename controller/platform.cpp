// Controller library services for the firmware: EEPROM access, delays, program-memory copies,
// and the locked bus hand-overs, which run with the firmware thread's cancellation disabled.
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <string.h>
#include <unistd.h>

#include "controller/controller.h"

uint8_t __eerd_byte_can128(uint16_t addr) { return addr < EEPROM_SIZE ? eepaddr[addr] : 0xFF; }

void __eewr_byte_can128(uint16_t addr, uint8_t value) {
  if (addr < EEPROM_SIZE) eepaddr[addr] = value;
}

void _delay_ms(double ms) {
  if (ms > 0) usleep(static_cast<useconds_t>(ms * 1000.0));
}

char* strcpy_P(char* dst, const char* src) { return strcpy(dst, src); }

static void emu_LockWithoutCancel(pthread_mutex_t* mutex) {
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
  pthread_mutex_lock(mutex);
}

static void emu_UnlockAndAllowCancel(pthread_mutex_t* mutex) {
  pthread_mutex_unlock(mutex);
  pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr);
}

void MCU_LockQim() { emu_LockWithoutCancel(&qimMutex); }
void MCU_UnlockQim() { emu_UnlockAndAllowCancel(&qimMutex); }
void MCU_LockLcd() { emu_LockWithoutCancel(&lcdMutex); }
void MCU_UnlockLcd() { emu_UnlockAndAllowCancel(&lcdMutex); }
// The firmware thread is cancelled asynchronously, so its idle wait must not sit in a
// user-space lock: it waits in poll() on an event counter that the host's threads bump.
// Made once per run, before the first firmware thread starts.
static int firmwareEventFd = -1;
static int usartTxEventFd = -1;  // the firmware has bytes to send, or switched its USART off

void emu_InitFirmwareWake() {
  if (firmwareEventFd < 0) firmwareEventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (usartTxEventFd < 0) usartTxEventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

static void emu_SignalEvent(int fd) {
  uint64_t one = 1;
  if (fd >= 0) (void)!write(fd, &one, sizeof one);
}

// Waits until the event was signalled (and consumes it) or the time is up.
static void emu_WaitForEvent(int fd, int timeoutMs) {
  if (fd < 0) {
    usleep(1000);
    return;
  }
  struct pollfd p = {fd, POLLIN, 0};
  if (poll(&p, 1, timeoutMs) > 0) {
    uint64_t count;
    (void)!read(fd, &count, sizeof count);
  }
}

void MCU_UsartTxStarted() { emu_SignalEvent(usartTxEventFd); }
void MCU_UsartSwitchedOff() { emu_SignalEvent(usartTxEventFd); }
void emu_WaitForFirmwareTx(int timeoutMs) { emu_WaitForEvent(usartTxEventFd, timeoutMs); }


void emu_WakeFirmware() { emu_SignalEvent(firmwareEventFd); }
// The tick wakes the firmware every 10 ms; a time-out of the same length would race it and wake
// the firmware a second time in many periods, since the tick's period is 10 ms plus its work.
constexpr int IDLE_WAIT_LIMIT_MS = 20;
void MCU_IdleWait() { emu_WaitForEvent(firmwareEventFd, IDLE_WAIT_LIMIT_MS); }
