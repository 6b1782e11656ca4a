// A serial line over TCP, given as "tcp:[HOST:]PORT" wherever a serial device is accepted. In
// simulator mode Padix listens there (127.0.0.1 unless another address is named) and serves one
// client at a time, as a Wi-Fi adapter does: a second connection is closed at once. In OBD2
// software mode it connects to the adapter (or another Padix) there. Used through the serial
// port's interface (serial_port.h) only.
#pragma once

#include <stddef.h>
#include <stdint.h>

bool emu_IsTcpDevice(const char* device);

// Listens (serve = true) or connects; 0, or -1 after a message on standard error.
int emu_TcpOpen(const char* device, bool serve);
void emu_TcpClose();

int emu_TcpRead(uint8_t* bytes, int max);  // what is there now, never waits
// Queues bytes for the peer; the queue goes out at a prompt (serving) or at a carriage return
// (connected as the tester), when it is full, and before any wait for input.
void emu_TcpQueue(const char* bytes, size_t n);
void emu_TcpSendQueued();
bool emu_TcpNothingQueued();
void emu_TcpDiscardInput();
// Waits up to timeoutMs for input, taking in (or turning away) clients meanwhile; 1 when input
// is there. Between requests (not midAnswer) a client that has shut its sending side has had all
// its answers, and its connection is closed first.
int emu_TcpWait(int timeoutMs, bool midAnswer);
// 1 once after the client left or a new one came: what the last one half sent is void.
int emu_TcpTakeHangUp();
int emu_TcpConnected();  // a client (or the adapter) is on the line
// Where clients connect while Padix listens, the port actually bound ("127.0.0.1:PORT" for
// tcp:0); "" otherwise.
const char* emu_TcpListenName();
// Serving: the client's connection is shut down; the line then finds it gone. Any thread.
void emu_TcpDropPeer();
