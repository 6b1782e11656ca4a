// The kinds of line Padix knows, one row each: what the line does for every call of the serial
// port's interface (serial_port.h). The row is chosen once, when the line opens, from the
// device's name (the first row whose `names` takes it, in serial_port.cpp); the traffic log and
// which side is ours stay above the rows. A new kind of line is one file holding its row, its
// entry in that table and its name here.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct EmuLineKind {
  bool (*names)(const char* device);  // whether the device's name is one of this kind
  // Opens the line at baudrate (where the kind has one); `serve` is set in simulator mode, where
  // Padix is the module and waits for its client. 0, or -1 after a message on standard error.
  int (*open)(const char* device, uint32_t baudrate, bool serve);
  void (*close)();
  int (*isOpen)();
  int (*readByte)(uint8_t* byte);        // 1 when a byte was read
  int (*read)(uint8_t* bytes, int max);  // what is there now, at most max bytes; never waits
  int (*writeByte)(uint8_t byte);        // unread input is thrown away first; 1 when written
  void (*write)(const char* bytes, size_t n);  // keeps unread input
  void (*flush)();
  int (*wait)(int timeoutMs);  // between requests; 1 when input is there
  // The rest may be left out (nullptr): the line then waits mid-answer as between requests, has
  // no client that comes and goes (nothing to hang up, drop or name), and what is written to it
  // always reaches its other side.
  int (*waitMidAnswer)(int timeoutMs);
  int (*takeHangUp)();
  bool (*clientPlace)(const char** kind, const char** where);
  void (*dropClient)();                  // from any thread
  int (*connected)();                    // 1 while somebody is on the other side
  // The line's rate changed to baudrate once what was written has gone out (ATBRD): 1 changed,
  // -1 a rate the line cannot take (it keeps its rate). Left out: a line without a rate.
  int (*setBaud)(uint32_t baudrate);
};

extern const EmuLineKind emu_serialDeviceLine;  // a real serial device (terminal.cpp)
extern const EmuLineKind emu_ownTerminalLine;   // "/dev/ptmx": a pseudo-terminal of Padix's own
extern const EmuLineKind emu_tcpLine;           // "tcp:[HOST:]PORT"
