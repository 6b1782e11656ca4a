// The traffic log (option log=FILE, or log=- for standard error): every line that crosses the
// serial line, whatever kind of line it is, or in emulator mode the handheld's own line to its
// simulated module. One entry a line: the milliseconds since start when its last byte crossed
// the line, who sent it ("tester": the handheld or the OBD program; "module": the interface
// module, simulated or real), and its bytes, those that are not printable as <0D>-style escapes. Each entry is written out at once,
// so a crash loses nothing that was logged. A write that fails (a full disk) stops the log at its
// last whole entry and is said once on standard error; the line is served on.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

enum class EmuSender : uint8_t { Tester, Module };

int emu_OpenTrafficLog(const char* path);  // 0, or -1 after a message
void emu_CloseTrafficLog();                // writes what is pending

// Where a module's entry ends: at its prompt ('>', the default), or for an adapter that sends
// one frame a line and no prompt (the serial CAN adapter) at each carriage return, so that
// every frame is an entry of its own with its time.
void emu_SetTrafficLogModuleEnd(uint8_t end);

// A note between the entries, in the log's comment style with the time: "#   1234.567 text".
// Entries still under way stay so, and follow it.
void emu_LogTrafficNote(const char* text);

extern std::atomic<bool> trafficLogOn;
void emu_LogTrafficBytes(EmuSender from, const uint8_t* bytes, size_t n);
inline void emu_LogTraffic(EmuSender from, const uint8_t* bytes, size_t n) {
  if (trafficLogOn.load(std::memory_order_relaxed) && n > 0) emu_LogTrafficBytes(from, bytes, n);
}
