// Faults on the serial line, as the vehicle's [faults] table sets them (vehicle_faults.h): an
// answer cut in pieces with pauses between them, a silence before it, line noise before or
// inside it, a share of OBD answers replaced by one of the adapter's errors, and the client
// dropped after so many lines, so long after it came, or at once. Draws (errors, noise, where
// the noise goes) come from one generator started from faults.seed, so that the same seed and
// the same requests give the same bytes. Used by the line's owner, one thread (the module's);
// the drop from any ("faults.drop_now" of a load or a set drops through it).
#pragma once

#include <stddef.h>
#include <stdint.h>

// How the line drops its client; callable from any thread. None set: a drop does nothing.
void emu_LineFaultsSetDrop(void (*drop)());

// Back to the start: the generator from its seed, no client counted (the adapter's power-up).
void emu_LineFaultsRestart();

// ---------------------------------------------------------------------------------------------
// The client

// A new client (or none): its lines are counted and its clock runs from its first byte. An
// answer cut short by the last one's leaving is over.
void emu_LineFaultsNewClient();
// A byte came from the client.
void emu_LineFaultsInput();
// A wait for input of timeoutMs (negative: no limit) cut short where the client's drop time
// (faults.drop_at) comes first.
int emu_LineFaultsWaitMs(int timeoutMs);
// The client's time is up (faults.drop_at): true once, and the caller drops the client.
bool emu_LineFaultsDropDue();
// Drops the client through the line (emu_LineFaultsSetDrop).
void emu_LineFaultsDrop();

// ---------------------------------------------------------------------------------------------
// One answer: from the client's carriage return to the prompt after it.

// The answer begins; `flush` writes what came before it (the echo) apart from it when the line
// misbehaves.
void emu_LineFaultsAnswerBegins(void (*flush)());
// The answer has been given: true when it was the client's last (faults.drop_after), the caller
// then writes it out and drops the client.
bool emu_LineFaultsAnswerEnds();
// Writes text through `write` as the faults make it: the echo as it is; the answer after the
// stall, with noise before and inside it, in pieces. Every answer ends with its prompt.
void emu_LineFaultsWrite(void (*write)(const char* text, size_t n), const char* text, size_t n);

// Whether this OBD answer is replaced by an error (an armed one first, then faults.error_rate):
// -1 when not, else an index into EMU_FAULT_ERROR_TEXTS drawn from faults.errors.
int emu_LineFaultsDrawError();

// ---------------------------------------------------------------------------------------------
// One-shot faults, armed from any thread (the window's test bench) and spent by the next answer
// they fit: the next OBD answer replaced by this error (an index into EMU_FAULT_ERROR_TEXTS; -1
// disarms), the next answer of any line held back this long first (0 disarms), or never given
// (no answer and no prompt: the client waits in vain, and its next line is answered again). They
// are no setting of the car: never saved, and a new car keeps them armed.
void emu_LineFaultsArmError(int error);
void emu_LineFaultsArmStall(uint32_t ms);
void emu_LineFaultsArmSilence(bool silent);
// What is armed and not spent yet.
struct EmuArmedFaults {
  int error = -1;        // none
  uint32_t stallMs = 0;  // none
  bool silent = false;
};
EmuArmedFaults emu_LineFaultsArmed();
