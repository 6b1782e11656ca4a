// A terminal as the line: the descriptor of a serial device or of the master of Padix's own
// pseudo-terminal, raw 8N1 without flow control, with reads that never wait. What both terminal
// rows (a serial device, and "/dev/ptmx" in own_terminal.cpp) share; one terminal per run.
#pragma once

#include <poll.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>
#include <termios.h>

int emu_TerminalFd();  // -1 while no terminal is open
// The terminal speed of a baud rate the command line takes (9600 for any other).
speed_t emu_TerminalSpeed(uint32_t baudrate);
// Opens the device; 0, or -1 after a message.
int emu_TerminalOpen(const char* device);
// Sets the open terminal up: `fileFlags` for its descriptor, the line raw at baudrate (listed
// rates, else 9600), the settings it had kept for the close. 0, or -1 after a message with the
// terminal closed (emu_TerminalFail).
int emu_TerminalSetUp(uint32_t baudrate, int fileFlags);
int emu_TerminalFail(const char* prefix);  // says why (errno), closes the terminal; -1
void emu_TerminalClose();                  // the old settings back
void emu_ReportErrno(const char* prefix);

// A read of what is there (read(2)'s result and errno); input that came is noted as the
// client's latest.
ssize_t emu_TerminalRead(uint8_t* bytes, size_t max);
void emu_TerminalInputCame();  // input was taken from elsewhere (bytes kept aside)
int emu_TerminalWriteByte(uint8_t byte);
// Writes all bytes; a client that takes nothing for a second loses the rest. True when the
// other side hung up meanwhile.
bool emu_TerminalWrite(const char* bytes, size_t n);
void emu_TerminalFlush();
// poll(2) on the terminal (and whatever else is given): a client that has just sent is looked
// at a moment before the thread sleeps.
int emu_TerminalPoll(struct pollfd* p, nfds_t n, int timeoutMs);
// Nobody is on the other side: a pause instead of a wait, timeoutMs (a negative one: a short one).
void emu_TerminalPause(int timeoutMs);
