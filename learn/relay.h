// Standing between: padix-headless serves a client on its line (a pseudo-terminal of its own,
// TCP) and passes every byte on to a real ELM327-type adapter on another device (relay=DEVICE),
// the adapter's bytes back unchanged, so the client talks to the real adapter and car as if
// directly. The traffic log records both sides (the client as tester, the adapter as module), so
// that `import` of the log gives the client's session as answers. Not done: answering from a
// vehicle file what it knows.
#pragma once

#include <stdint.h>

#include <atomic>

// Opens the adapter's device: a serial device or terminal (raw, at baudrate) or tcp:HOST:PORT.
// The descriptor, or -1 after a message on standard error.
int emu_RelayOpenAdapter(const char* device, uint32_t baudrate);

// Relays between the run's open line and the adapter until `ending` is set or "quit" comes on
// standard input; 0, or -1 after a message (the adapter's device cannot be opened or is gone).
int emu_RelayLine(const char* device, uint32_t baudrate, const std::atomic<bool>& ending);
