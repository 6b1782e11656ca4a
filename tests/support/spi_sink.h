// A stand-in for the LCD controller's side of the SPI bus in firmware unit tests: it takes
// every byte the firmware sends, so drawing routines that send the display at once can run.
#pragma once

#include <atomic>
#include <thread>

#include "firmware/mcu.h"

// Plays the LCD controller's side of the SPI bus: takes every byte the firmware sends.
class SpiSink {
 public:
  SpiSink() {
    SPSR = 0x80;  // idle: the previous byte was taken
    thread_ = std::thread([this] {
      while (!stop_) {
        if ((SPSR & 0x80) == 0) {
          (void)SPDR;
          ++bytes_;
          SPSR |= 0x80;
        } else {
          std::this_thread::yield();
        }
      }
    });
  }
  ~SpiSink() {
    stop_ = true;
    thread_.join();
  }
  int Bytes() const { return bytes_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> bytes_{0};
  std::thread thread_;
};

constexpr int FULL_UPDATE_BYTES = 8 * 3 + 1056;
