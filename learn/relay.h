// Standing between: padix-headless serves a client on its line (a pseudo-terminal of its own,
// TCP) and passes every byte on to a real ELM327-type adapter on another device (relay=DEVICE),
// the adapter's bytes back unchanged, so the client talks to the real adapter and car as if
// directly. The traffic log records both sides (the client as tester, the adapter as module), so
// that `import` of the log gives the client's session as answers. With a vehicle file, what the
// file's car answers is answered here and only the rest goes on to the real adapter.
#pragma once

#include <stdint.h>

#include <atomic>

// Opens the adapter's device: a serial device or terminal (raw, at baudrate) or tcp:HOST:PORT.
// The descriptor, or -1 after a message on standard error.
int emu_RelayOpenAdapter(const char* device, uint32_t baudrate);

// Relays between the run's open line and the adapter until `ending` is set or "quit" comes on
// standard input; 0, or -1 after a message (the adapter's device cannot be opened or is gone).
// `answerKnown`: every line the client completes is also read by an ELM327 v1.5 of Padix's own
// serving the running vehicle, so that it keeps the real adapter's settings; an OBD request its
// car answers with data is answered by it, the rest (AT commands always) goes on to the adapter.
// Lines then go on once their carriage return came, not character by character.
int emu_RelayLine(const char* device, uint32_t baudrate, const std::atomic<bool>& ending, bool answerKnown);
