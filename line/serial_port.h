// The line to a real module, a second emulator or an OBD program: a serial device (raw 8N1, no
// flow control, reads that never wait), a pseudo-terminal of Padix's own ("/dev/ptmx"), or TCP
// ("tcp:[HOST:]PORT"), each a row of line_kind.h. One line per run, used by one thread at a
// time; every byte that crosses it goes to the traffic log (traffic_log.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

int emu_InitCOM(const char* device, uint32_t baudrate);  // 0, or -1 after a message
int emu_CloseCOM();
int emu_ReadByteCOM(uint8_t* byte);   // 1 when a byte was read
int emu_WriteByteCOM(uint8_t byte);   // flushes unread input first; 1 when written
void emu_FlushCOM();
int emu_IsCOMOpen();
// Waits up to timeoutMs (a negative one: no limit) for input on the port (a wait that ends as
// soon as data arrives, or when the client hangs up); 1 when input is there. With no client on
// a pseudo-terminal of Padix's own it returns once a client has opened it (or after timeoutMs).
// Serving, this is the wait for the client's next request: everything it sent has been answered,
// and a TCP client that has shut its sending side is let go now.
int emu_WaitForCOMInput(int timeoutMs);
// The same while an answer is under way (a wait for the car, that the client's next character
// interrupts): a TCP client that has shut its sending side keeps its connection for the rest of
// the answer.
int emu_WaitForCOMInputMidAnswer(int timeoutMs);
// Reads what is there, at most max bytes, without waiting; the number read.
int emu_ReadCOM(uint8_t* bytes, int max);
// Writes all bytes in order without discarding unread input (an adapter that echoes and can be
// interrupted must keep it). A client that takes nothing for a second, or is gone, loses the rest.
void emu_WriteCOM(const char* bytes, size_t n);
// ATBRD: the line's rate, once what was written has gone out. 1 changed, 0 a line without a
// rate (a pseudo-terminal of Padix's own, TCP), -1 a rate the device cannot take.
int emu_SetCOMBaud(uint32_t baudrate);
// On a pseudo-terminal Padix opened itself (/dev/ptmx): 1 once after its client closed it (what
// either side had not read yet is gone), else 0. A line begun by that client is void.
int emu_TakeCOMHangUp();
// Where a client reaches the line Padix opened for it: `kind` "pty" and the terminal's client
// end ("/dev/pts/N"), or "tcp" and the address listened on ("127.0.0.1:PORT"). False when the
// line is not one a client comes to (a serial device, a TCP connection Padix made itself).
bool emu_COMClientPlace(const char** kind, const char** where);
// Drops the client being served, from any thread. TCP: its connection is shut down (and closed
// once the line notices). A pseudo-terminal of Padix's own: once the client has read what was
// written for it (a second at most), its end is hung up: its reads find the end of the file and
// its writes fail until it closes the terminal and opens it again. Where Padix may not hang a
// terminal up (that takes root), it opens a new pseudo-terminal instead and names it as at start.
void emu_DropCOMClient();
// Told on the line's thread when a client comes to a line Padix serves (true: a TCP connection
// taken in, its own pseudo-terminal opened) and when it leaves (false).
extern std::atomic<void (*)(bool here)> emu_lineClientNotice;
void emu_TellLineClient(bool here);
// Where the client that comes next comes from (a TCP client's address), told before it is.
void emu_NoteLineClientFrom(const char* name);
// The client of a line Padix serves, as last told, for the window's panel: whether one is
// there, for how many seconds, and where from ("" when the line does not say).
bool emu_LineClient(double* seconds, char* from, size_t size);
