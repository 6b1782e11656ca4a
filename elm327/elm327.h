// The ELM327 v1.5 personality: the adapter that third-party OBD programs (phone apps, scan tools,
// OBD libraries) are written for, serving a client on the serial line. It owns its line reading
// (echo, spaces and case ignored, repeat, interruption), its settings, the protocol search and
// the answer formats; the vehicle and the data of its answers are the simulator's.
// Not emulated: the bus monitor commands (ATMA, ATMR, ATMT), programmable parameters, baud rate
// switching (ATBRD), low-power mode.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr size_t EMU_ELM_LINE_MAX = 128;  // the chip's input buffer; a longer line answers "?"

// Where the adapter reads and writes: the serial line in the running emulator, a pseudo-terminal
// in tests.
struct EmuElmPort {
  int (*read)(uint8_t* bytes, int max);       // what is there now, never waits; 0: nothing
  void (*write)(const char* text, size_t n);  // all of it, in order
  int (*waitForInput)(int timeoutMs);         // 1 as soon as input is there, 0 after the time
  // 1 once after the client left or another took its place: what was read before belongs to the
  // client that left. None: a line whose client never changes.
  int (*takeHangUp)() = nullptr;
};

// Back to the state after power-up: defaults, automatic protocol, nothing connected, no client
// line. The protocol tried first by a search is CAN 11/500, as on most cars.
void emu_ElmInit();
void emu_ElmSetPort(const EmuElmPort* port);

// Real timing: answers take the time a real adapter and car take (serial byte time at this baud
// rate, the car's answer delay, the time-out after the last answer, the protocol search, the
// K-line initialisations). Off by default: answers come as fast as they are built.
void emu_ElmSetRealTiming(bool on, uint32_t baudrate);
bool emu_ElmRealTiming();

// Takes what the port holds and answers every line it completes; returns when the input is used
// up (a half-typed line is kept for the next call).
void emu_ElmServeInput();
// The client closed the line: its half-typed line and whatever it sent unread are void. The
// adapter's settings stay, as a real one's do while it keeps its power. A port that reports its
// hang-ups (takeHangUp) says so itself, between requests or during one: a request under way for
// a client that left ends without another word.
void emu_ElmClientLeft();
// The client is dropped (faults.drop_after, faults.drop_at): what was written for it goes out,
// the line hangs it up, and the next client starts as on a fresh line.
void emu_ElmHangUpClient();

// The protocol the adapter is connected on (0: none yet), and whether it is a CAN protocol; read
// by the operator keys on another thread.
uint8_t emu_ElmConnectedProtocol();
uint8_t emu_ElmIsCanProtocolInUse();
