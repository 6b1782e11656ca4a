// The ELM327 v1.5 personality: the adapter that third-party OBD programs (phone apps, scan tools,
// OBD libraries) are written for, serving a client on the serial line. It owns its line reading
// (echo, spaces and case ignored, repeat, interruption), its settings, the protocol search and
// the answer formats; the vehicle and the data of its answers are the simulator's.
// What it does not emulate is listed by its command table (emu_ElmCommandRows).
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
  // ATBRD: the line's rate set to baudrate, as it is once what was written has gone out. 1 when it
  // changed, 0 when the line has no rate (a pseudo-terminal, TCP), -1 when it refused it. None:
  // a line without a rate.
  int (*setBaud)(uint32_t baudrate) = nullptr;
};

// A message on the bus as the bus monitor (ATMA, ATMR, ATMT) shows it: on CAN the identifier
// and the frame's 8 bytes; off CAN the three header bytes (in `id`, first byte highest) and the
// data bytes, the check byte added when it is shown.
struct EmuElmBusMessage {
  uint32_t id;
  uint8_t bytes[8];
  uint8_t n;
};
// Messages ECUs send unasked (periodic broadcasts): the source gives the next one due on the
// protocol, false when none is. None by default: the monitor then shows the bus silent.
void emu_ElmSetBroadcastSource(bool (*next)(uint8_t protocol, EmuElmBusMessage* message));

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
uint8_t emu_ElmSearching();  // 1 while an automatic search for the car's protocol runs

// The command table, for the list of what is not emulated: each row's letters after "AT" and
// what the command does here. Fills at most max rows; returns how many there are.
enum class EmuElmEffect : uint8_t {
  Real,      // does what it does on the chip
  NoEffect,  // answered "OK", changes nothing here
  Refused,   // a command of the chip answered "?", as an unknown one
};
struct EmuElmCommandRow {
  const char* name;
  const char* argument;  // "" none, "0/1" the digit (or "10/96"), " hh" hex digits, "..." anything
  EmuElmEffect effect;
};
size_t emu_ElmCommandRows(EmuElmCommandRow* rows, size_t max);
