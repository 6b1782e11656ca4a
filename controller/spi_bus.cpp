// SPI bus to the LCD controller: the buffer between the firmware thread (the only sender) and
// the LCD thread (the only taker). The buffer's indices are atomic, so a byte crosses without a
// lock; lcdMutex guards only the wake-up flag of the controller's wait on lcdCond. The firmware
// thread is cancelled asynchronously: it holds lcdMutex only with cancellation disabled.
#include "controller/spi_bus.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>

#include "controller/controller.h"

static_assert((EMU_SPI_BUFFER_SIZE & (EMU_SPI_BUFFER_SIZE - 1)) == 0, "the indices wrap round");
static_assert(EMU_SPI_BUFFER_SIZE / 2 >= 1080, "a full update wakes the controller only once");

namespace {

constexpr uint8_t SPSR_SPIF = 0x80;  // transfer complete

uint8_t buffer[EMU_SPI_BUFFER_SIZE];
std::atomic<uint32_t> bytesSent{0};   // written by the firmware thread only
std::atomic<uint32_t> bytesTaken{0};  // written by the controller only
std::atomic<uint8_t> bufferHeld{0};   // a controller takes bytes into the buffer
bool controllerToWake = false;        // lcdMutex

// Firmware thread only: the byte in SPDR found the buffer full and waits for room.
bool byteWaitsForRoom = false;

// Firmware thread.
void emu_SpiWakeController() {
  int oldState;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
  pthread_mutex_lock(&lcdMutex);
  controllerToWake = true;
  pthread_mutex_unlock(&lcdMutex);
  pthread_cond_signal(&lcdCond);
  pthread_setcancelstate(oldState, nullptr);
}

// Firmware thread: the byte in SPDR into the buffer, unless it is full.
bool emu_SpiPutByte() {
  const uint32_t sent = bytesSent.load(std::memory_order_relaxed);
  const uint32_t filled = sent - bytesTaken.load(std::memory_order_acquire);
  if (filled >= EMU_SPI_BUFFER_SIZE) return false;
  buffer[sent % EMU_SPI_BUFFER_SIZE] = SPDR;
  bytesSent.store(sent + 1, std::memory_order_release);
  SPSR |= SPSR_SPIF;
  if (filled + 1 == EMU_SPI_BUFFER_SIZE / 2) emu_SpiWakeController();
  return true;
}

}  // namespace

void emu_SpiResetBus() {
  bufferHeld = 0;
  bytesSent = 0;
  bytesTaken = 0;
  controllerToWake = false;
  byteWaitsForRoom = false;
}

void emu_SpiOpenBuffer() {
  pthread_mutex_lock(&lcdMutex);
  if (bufferHeld.load() == 0) {
    bytesTaken.store(bytesSent.load());
    controllerToWake = false;
    bufferHeld.store(1);
  }
  SPSR |= SPSR_SPIF;
  pthread_mutex_unlock(&lcdMutex);
}

size_t emu_SpiTakeBytes(uint8_t* bytes, size_t max) {
  for (;;) {
    const uint32_t taken = bytesTaken.load(std::memory_order_relaxed);
    const uint32_t waiting = bytesSent.load(std::memory_order_acquire) - taken;
    if (waiting > 0 && max > 0) {
      const size_t n = waiting < max ? waiting : max;
      for (size_t i = 0; i < n; ++i) bytes[i] = buffer[(taken + i) % EMU_SPI_BUFFER_SIZE];
      bytesTaken.store(taken + static_cast<uint32_t>(n), std::memory_order_release);
      return n;
    }
    pthread_mutex_lock(&lcdMutex);
    pthread_cleanup_push(emu_UnlockMutexCleanupHandler, &lcdMutex);
    while (!controllerToWake) pthread_cond_wait(&lcdCond, &lcdMutex);
    controllerToWake = false;
    pthread_cleanup_pop(1);
  }
}

// The firmware has stored a byte in SPDR and cleared SPSR bit 7.
void MCU_SignalLcd() {
  if (bufferHeld.load(std::memory_order_acquire) == 0) return;  // taken off the register
  byteWaitsForRoom = !emu_SpiPutByte();
  if (byteWaitsForRoom) emu_SpiWakeController();
}

void MCU_LcdChipSelectReleased() {
  if (bufferHeld.load(std::memory_order_acquire) != 0) emu_SpiWakeController();
}

// A buffer with room completes the byte at once. Taken off the register, the controller answers
// within a microsecond when it runs on another core: polling briefly before yielding keeps the
// byte's time low there, and the number of polls adapts for when both threads share a core.
constexpr int SPI_MIN_POLLS = 32;
constexpr int SPI_MAX_POLLS = 2048;

void MCU_WaitSpiDone() {
  while (byteWaitsForRoom) {
    sched_yield();
    byteWaitsForRoom = !emu_SpiPutByte();
  }
  static int polls = SPI_MAX_POLLS;  // only the firmware thread sends SPI bytes
  for (int poll = 0; poll < polls; ++poll) {
    if ((SPSR & SPSR_SPIF) != 0) {
      if (polls < SPI_MAX_POLLS) polls *= 2;
      return;
    }
  }
  if (polls > SPI_MIN_POLLS) polls /= 2;
  while ((SPSR & SPSR_SPIF) == 0) sched_yield();
}
