// The car's CAN bus as the serial CAN adapter sees it: the tester's frame goes onto the bus,
// each ECU of the vehicle takes what is addressed to it (functional 7DF / 18DB33F1, physical
// 7E0+i / 18DAxxF1) and answers through ISO 15765-2 from its own identifier (7E8+i / 18DAF1xx):
// flow control for a multi-frame request, a multi-frame answer that waits for the tester's flow
// control and keeps to its block size and separation time, the time-outs of both (1000 ms),
// frames filled to 8 bytes. The car is on its protocol's bit rate and identifier length only.
#pragma once

#include <stdint.h>

#include "slcan/slcan_reader.h"

constexpr uint32_t EMU_ISOTP_TIMEOUT_US = 1000000;  // N_Bs and N_Cr
constexpr uint8_t EMU_CAN_FILL = 0x00;              // what the ECUs fill their frames with
constexpr uint8_t EMU_SLCAN_REQUEST_MAX = 255;      // the longest request an ECU takes

struct EmuCanBusHooks {
  void (*frameOut)(const EmuCanFrame& frame);  // a frame an ECU put on the bus
  uint64_t (*nowUs)();
  void (*pauseUs)(uint32_t us);  // the separation time between two consecutive frames
};

void emu_CanBusInit(const EmuCanBusHooks* hooks);  // no transfer under way
// Real timing: every frame takes its time on the bus (about 125 bits at the bit rate, 150 with a
// 29-bit identifier), and an ECU answers after the car's answer delay and its own (faults). Off
// by default: frames come as fast as they are built.
void emu_CanBusSetRealTiming(bool on);
uint32_t emu_CanFrameUs(bool extended, uint32_t bitRate);
// The tester sends the frame at bitRate: false when no node acknowledged it (nothing on the bus
// at that rate, the ignition off), which the tester's controller counts as an error.
bool emu_CanBusSend(const EmuCanFrame& frame, uint32_t bitRate);
// Whether the car's nodes are on the bus at this bit rate (its own periodic frames come only then).
bool emu_CanBusCarAt(uint32_t bitRate);
