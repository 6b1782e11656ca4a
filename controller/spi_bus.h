// The SPI bus between the firmware's LCD driver and the LCD controller. The controller holds a
// buffer of more than one frame: a byte is complete for the firmware (SPSR bit 7) as soon as it
// is in that buffer, and the controller is woken when the firmware releases the chip select or
// the buffer is half full, instead of once per byte. The bytes, their order and the frames stay
// as the firmware sent them. Without a controller holding the buffer (firmware unit tests play
// the controller on the registers), each byte waits in SPDR until it is taken off the register.
#pragma once

#include <stddef.h>
#include <stdint.h>

// More than two full updates (1,080 bytes each); a power of two.
constexpr uint32_t EMU_SPI_BUFFER_SIZE = 4096;

// Power-on: no controller holds the buffer yet, and it is empty. Called while no thread uses it.
void emu_SpiResetBus();
// The controller's side: takes bytes into its buffer from now on (an empty one, unless it
// already did) and signals the bus ready (SPSR bit 7).
void emu_SpiOpenBuffer();
// The controller's side: waits until the firmware has sent bytes and either released the chip
// select or filled half the buffer, and moves at most max of them, in order, into bytes. Returns
// at once with what is there when the buffer is not empty; returns at least one byte. A
// cancellation point.
size_t emu_SpiTakeBytes(uint8_t* bytes, size_t max);
