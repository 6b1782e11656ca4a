// The serial CAN adapter: Padix's car on a CAN bus behind a USB-CAN adapter that speaks the
// "S6 / O / t7DF8..." text protocol, for tools that run their own ISO 15765-2 transport and
// OBD on top. The client's commands are answered CR or BEL; the car's ECUs answer the frames it
// sends (slcan_bus.h). Not emulated: the SJA1000 register layout of the acceptance filter (the
// code and mask compare the identifier itself), the adapters' own flash settings, CAN FD.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Where the adapter reads and writes: the serial line in the running emulator, a
// pseudo-terminal in tests.
struct EmuSlcanPort {
  int (*read)(uint8_t* bytes, int max);       // what is there now, never waits; 0: nothing
  void (*write)(const char* text, size_t n);  // all of it, in order
  // 1 once after the client left or another took its place. None: a line whose client stays.
  int (*takeHangUp)() = nullptr;
};

// The status flags (F): what the adapter's CAN controller reports. Reading them clears them.
constexpr uint8_t EMU_SLCAN_FLAG_RX_FULL = 0x01;
constexpr uint8_t EMU_SLCAN_FLAG_ERROR_WARNING = 0x04;
constexpr uint8_t EMU_SLCAN_FLAG_ERROR_PASSIVE = 0x20;
constexpr uint8_t EMU_SLCAN_FLAG_BUS_ERROR = 0x80;

// The answers to V, v and N.
constexpr const char* EMU_SLCAN_VERSION = "V1013";
constexpr const char* EMU_SLCAN_FIRMWARE = "v1013";
constexpr const char* EMU_SLCAN_SERIAL = "NA123";

// Back to power-up: channel closed, 500 kbit/s, no time stamps, every identifier accepted, no
// transfer under way.
void emu_SlcanInit();
void emu_SlcanSetPort(const EmuSlcanPort* port);
// Takes what the port holds and answers every command it completes (a half-sent command is kept
// for the next call); the frames the ECUs answer go out as they are sent on the bus.
// With an open channel, the ECUs' periodic frames that are due go out after the answers.
void emu_SlcanServeInput();
// How long the line may wait for the client before the next periodic frame is due (then
// emu_SlcanServeInput sends it); -1 when none will be.
int emu_SlcanWaitMs();
// Real timing (timing=real): frames take their time on the bus, ECUs their answer time.
void emu_SlcanSetRealTiming(bool on);

// The clock the bus's time-outs and the time stamps read, and the pause between frames a
// separation time asks for; the monotonic clock and nanosleep unless set (tests step them).
struct EmuSlcanClock {
  uint64_t (*nowUs)();
  void (*pauseUs)(uint32_t us);
};
void emu_SlcanSetClock(const EmuSlcanClock* clock);  // nullptr: the real one
