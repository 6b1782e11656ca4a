// The LCD bus between the firmware's driver and the LCD controller as a power-on leaves it: the
// controller's lock and signal made, the firmware's variables set, the SPI bus idle and empty.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>

#include "firmware/ui/lcd.h"
#include "controller/controller.h"
#include "controller/spi_bus.h"

class LcdBusFixture : public testing::Test {
 protected:
  void SetUp() override {
    pthread_mutex_init(&lcdMutex, nullptr);
    pthread_cond_init(&lcdCond, nullptr);
    tarnic_InitVars();
    SPSR = 0;
    emu_SpiResetBus();
  }
  void TearDown() override {
    pthread_cond_destroy(&lcdCond);
    pthread_mutex_destroy(&lcdMutex);
  }
};
